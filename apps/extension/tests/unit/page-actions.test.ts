import assert from "node:assert/strict";
import { test } from "node:test";
import { findActionBlocks, latestImage } from "../../src/page-actions/blocks.js";
import { checkAction, fetchingCss, firstNumber, isAllowedImageSource, MAX_ELEMENTS } from "../../src/page-actions/validate.js";

const fence = (language: string, body: string) => "```" + language + "\n" + body + "\n```\n";

test("only json fences holding one object with an actions array are action blocks, in order", () => {
  const first = '{"actions":[{"type":"hide","target":{"selector":".ad"}}]}';
  const second = '{"actions":[{"type":"setText","target":{"selector":"h1"},"value":"B"}],"note":1}';
  const answer = [
    "Here you go.\n\n",
    fence("json", first),
    fence("js", first), // another language
    fence("", first), // no language
    fence("json", '{"actions":{"type":"hide"}}'), // actions is not an array
    fence("json", '[{"actions":[]}]'), // an array, not an object
    fence("json", '{"other":[]}'), // no actions
    fence("json", '{"actions":[}'), // broken
    "    " + first + "\n\n", // indented code, not a fence
    "Inline `" + first + "` too.\n\n",
    fence("JSON title", second),
    "~~~json\n" + '{"actions":[]}' + "\n~~~\n",
  ].join("");
  assert.deepEqual(findActionBlocks(answer), [
    { actions: [{ type: "hide", target: { selector: ".ad" } }] },
    { actions: [{ type: "setText", target: { selector: "h1" }, value: "B" }] },
    { actions: [] },
  ]);
  // A fence that the answer never closes still ends at the end of the answer, as it is shown.
  assert.equal(findActionBlocks("Text\n```json\n" + first).length, 1);
  assert.deepEqual(findActionBlocks("No blocks at all."), []);
});

test("the members the examples leave out take the examples' values", () => {
  const cases: [string, unknown, unknown][] = [
    ["hide", { type: "hide", target: { selector: ".ad" } }, { type: "hide", selector: ".ad" }],
    ["setImagePresentation", { type: "setImagePresentation", selector: "main img" }, { type: "setImagePresentation", selector: "main img", borderRadius: "0", includeWrappers: true, maxCount: 200 }],
    ["insertImageCopyButtons", { type: "insertImageCopyButtons", selector: "img" }, { type: "insertImageCopyButtons", selector: "img", label: "Copy Image", maxCount: 30 }],
    ["insertLinkCopyButtons", { type: "insertLinkCopyButtons", selector: "a" }, { type: "insertLinkCopyButtons", selector: "a", label: "Copy Link", maxCount: 30 }],
    ["highlightText", { type: "highlightText", query: "price", selector: "main" }, { type: "highlightText", query: "price", selector: "main", color: "#fff3a3", maxMatches: 50 }],
    ["insertHeadingToc", { type: "insertHeadingToc", selector: "article" }, { type: "insertHeadingToc", selector: "article", title: "Sections", maxDepth: 3 }],
    ["enableReadingMode", { type: "enableReadingMode", selector: "article" }, { type: "enableReadingMode", selector: "article", title: "Reading mode" }],
    [
      "sortList",
      { type: "sortList", containerSelector: ".p", itemSelector: ".p > li", keySelector: ".price" },
      { type: "sortList", containerSelector: ".p", itemSelector: ".p > li", keySelector: ".price", keyType: "text", direction: "asc" },
    ],
    [
      "setImageSource with alt and a reason",
      { type: "setImageSource", target: { selector: "img.hero" }, src: "latestGeneratedImage", alt: "A cat", reason: "asked" },
      { type: "setImageSource", selector: "img.hero", src: "latestGeneratedImage", alt: "A cat", reason: "asked" },
    ],
    ["a huge maxCount is capped", { type: "insertImageCopyButtons", selector: "img", maxCount: 10_000 }, { type: "insertImageCopyButtons", selector: "img", label: "Copy Image", maxCount: MAX_ELEMENTS }],
    ["maxDepth above 6", { type: "insertHeadingToc", selector: "main", maxDepth: 9 }, { type: "insertHeadingToc", selector: "main", title: "Sections", maxDepth: 6 }],
  ];
  for (const [label, input, expected] of cases) {
    const checked = checkAction(input);
    assert.ok(checked.ok, `${label}: ${!checked.ok && checked.error}`);
    assert.deepEqual(checked.action, expected, label);
  }
});

test("an action that fails its check says why, and shows its type and target", () => {
  const cases: [unknown, RegExp][] = [
    [{ type: "hide" }, /"target" is missing/],
    [{ type: "hide", selector: ".ad" }, /"target" is missing/],
    [{ type: "hide", target: ".ad" }, /"target" must be an object/],
    [{ type: "setText", target: { selector: "h1" } }, /"value" is missing/],
    [{ type: "setText", target: { selector: "h1" }, value: 3 }, /"value" must be a string/],
    [{ type: "setStyle", target: { selector: "p" }, value: "red" }, /"property" is missing/],
    [{ type: "setStyle", target: { selector: "p" }, property: "color" }, /"value" is missing/],
    [{ type: "setStyle", target: { selector: "p" }, property: "color;x", value: "red" }, /not a CSS property/],
    [{ type: "setStyle", target: { selector: "p" }, property: "background", value: "URL(https://evil.example/?q)" }, /url\(/],
    [{ type: "insertCSS" }, /"css" is missing/],
    [{ type: "insertCSS", css: '@import "https://evil.example/x.css";' }, /@import/],
    [{ type: "insertCSS", css: "body { background: -webkit-image-set('https://evil.example/a' 1x) }" }, /image-set\(/],
    [{ type: "insertCSS", css: "body { background: u\\72l(https://evil.example/) }" }, /url\(/],
    [{ type: "insertCSS", css: "body { background: url /**/ ( x) }" }, /url\(/],
    [{ type: "setImagePresentation" }, /"selector" is missing/],
    [{ type: "setImagePresentation", selector: "img", includeWrappers: "yes" }, /true or false/],
    [{ type: "setImagePresentation", selector: "img", borderRadius: "url(x)" }, /url\(/],
    [{ type: "setImageSource", target: { selector: "img" } }, /"src" is missing/],
    [{ type: "setImageSource", target: { selector: "img" }, src: "javascript:alert(1)" }, /"src" must be/],
    [{ type: "setImageSource", target: { selector: "img" }, src: "data:text/html,<b>x</b>" }, /"src" must be/],
    [{ type: "setImageSource", target: { selector: "img" }, src: "file:///etc/passwd" }, /"src" must be/],
    [{ type: "insertImageCopyButtons", selector: "img", maxCount: 0 }, /positive number/],
    [{ type: "insertLinkCopyButtons", selector: "a", label: "" }, /"label" is empty/],
    [{ type: "highlightText", selector: "main" }, /"query" is missing/],
    [{ type: "highlightText", query: "x", selector: "main", color: "url(x)" }, /url\(/],
    [{ type: "insertHeadingToc", selector: "  " }, /"selector" is empty/],
    [{ type: "enableReadingMode" }, /"selector" is missing/],
    [{ type: "sortList", containerSelector: ".p", itemSelector: "li" }, /"keySelector" is missing/],
    [{ type: "sortList", containerSelector: ".p", itemSelector: "li", keySelector: "b", keyType: "date" }, /"keyType" must be "text" or "number"/],
    [{ type: "sortList", containerSelector: ".p", itemSelector: "li", keySelector: "b", direction: "up" }, /"direction" must be "asc" or "desc"/],
    [{ type: "runScript", code: "alert(1)" }, /not a page action/],
    [{ target: { selector: "p" } }, /"type" is missing/],
    ["hide", /not a JSON object/],
  ];
  for (const [input, reason] of cases) {
    const checked = checkAction(input);
    assert.equal(checked.ok, false, JSON.stringify(input));
    if (!checked.ok) assert.match(checked.error, reason, JSON.stringify(input));
  }
  const refused = checkAction({ type: "setText", target: { selector: "h1" }, reason: "Rename" });
  assert.deepEqual([refused.type, refused.target, refused.reason], ["setText", "h1", "Rename"]);
});

test("CSS that could fetch is found however it is written; other CSS passes", () => {
  const refused: [string, string][] = [
    ["a { background: url(x) }", "url("],
    ["a{background:URL ( 'x' )}", "url("],
    ["a { background: \\75rl(x) }", "url("],
    ["a { background: \\000075 rl(x) }", "url("],
    ["@IMPORT 'x.css';", "@import"],
    ["@\\69mport 'x';", "@import"],
    ["a { content: image-set('x' 1x) }", "image-set("],
  ];
  for (const [css, found] of refused) assert.equal(fetchingCss(css), found, css);
  for (const css of [".hero { border-radius: 12px; }", "a { color: #fff3a3 }", "h1::after { content: 'curl' }"]) assert.equal(fetchingCss(css), undefined, css);
});

test("image addresses: http(s) and data:image only", () => {
  const cases: [string, boolean][] = [
    ["https://example.com/a.png", true],
    ["http://127.0.0.1:8000/a.png", true],
    ["data:image/png;base64,iVBORw0KGgo=", true],
    ["data:image/svg+xml,<svg/>", true],
    ["data:text/html;base64,PGI+", false],
    ["javascript:alert(1)", false],
    ["blob:https://example.com/x", false],
    ["/relative.png", false],
    ["chrome-extension://abc/x.png", false],
  ];
  for (const [src, allowed] of cases) assert.equal(isAllowedImageSource(src), allowed, src);
});

test("a number key reads the first number in the text", () => {
  const cases: [string, number][] = [
    ["$1,299.00", 1299],
    ["Price: 49.5 EUR", 49.5],
    ["-4 kg", -4],
    ["from .75", 0.75],
    ["2 for 10", 2],
  ];
  for (const [text, number] of cases) assert.equal(firstNumber(text), number, text);
  assert.ok(Number.isNaN(firstNumber("free")));
});

test("latestGeneratedImage is the newest image attachment of the turn", () => {
  assert.equal(latestImage([]), undefined);
  assert.equal(
    latestImage([
      { id: "a", dataUrl: "data:image/png;base64,AAA=" },
      { id: "b", dataUrl: "data:image/jpeg;base64,BBB=" },
      { id: "c", dataUrl: "https://example.com/not-inline.png" },
    ]),
    "data:image/jpeg;base64,BBB=",
  );
});
