import assert from "node:assert/strict";
import { test } from "node:test";
import { CONTEXT_LIMITS, cutText, tidyText } from "../../src/context/limits.js";
import { cssEscape, uniqueSelector, type ElementLike } from "../../src/context/selector.js";

test("text is cut at a character boundary, never inside a surrogate pair", () => {
  const cases: [string, number, string][] = [
    ["abc", 5, "abc"],
    ["abcdef", 3, "abc"],
    ["ab😀cd", 3, "ab"], // the emoji's first half would be unit 3
    ["ab😀cd", 4, "ab😀"],
    ["😀", 1, ""],
    ["abc", 0, ""],
  ];
  for (const [text, max, expected] of cases) assert.equal(cutText(text, max), expected, `${text} ${max}`);
  const long = "x".repeat(CONTEXT_LIMITS.text - 1) + "😀" + "y";
  assert.equal(cutText(long, CONTEXT_LIMITS.text).length, CONTEXT_LIMITS.text - 1);
  assert.equal(tidyText("  a \n\t b  ", 10), "a b");
});

test("the limits are the ones the host is promised", () => {
  assert.deepEqual([CONTEXT_LIMITS.text, CONTEXT_LIMITS.headings, CONTEXT_LIMITS.images, CONTEXT_LIMITS.links], [200_000, 200, 200, 500]);
});

test("cssEscape matches CSS.escape", () => {
  const cases: [string, string][] = [
    ["plain", "plain"],
    ["1abc", "\\31 abc"],
    ["-1a", "-\\31 a"],
    ["-", "\\-"],
    ["a:b.c", "a\\:b\\.c"],
    ['q"uote', 'q\\"uote'],
    ["sp ace", "sp\\ ace"],
    ["é-_", "é-_"],
    ["\u0000x", "\uFFFDx"],
    ["a\u0001", "a\\1 "],
  ];
  for (const [value, escaped] of cases) assert.equal(cssEscape(value), escaped, value);
});

// A tiny element tree: tag names, ids and children.
type Spec = [string, string, Spec[]?];
function tree(spec: Spec, parent: ElementLike | null = null, previous: ElementLike | null = null): ElementLike[] {
  const [tagName, id, children = []] = spec;
  const element: { tagName: string; id: string; parentElement: ElementLike | null; previousElementSibling: ElementLike | null } = {
    tagName: tagName.toUpperCase(),
    id,
    parentElement: parent,
    previousElementSibling: previous,
  };
  const all: ElementLike[] = [element];
  let last: ElementLike | null = null;
  for (const child of children) {
    const made = tree(child, element, last);
    last = made[0]!;
    all.push(...made);
  }
  return all;
}

test("selectors use a unique id, else a path of nth-of-type steps", () => {
  const all = tree(["html", "", [["body", "", [
    ["div", "main", [["img", ""], ["p", ""], ["img", ""]]],
    ["div", "twice", [["img", "twice"]]],
    ["section", "", [["img", "1:odd"]]],
  ]]]]);
  const ids = (id: string) => all.filter((element) => element.id === id).length;
  const byOrder = all.filter((element) => element.tagName === "IMG").map((image) => uniqueSelector(image, ids));
  assert.deepEqual(byOrder, [
    "#main > img:nth-of-type(1)",
    "#main > img:nth-of-type(2)",
    "html > body:nth-of-type(1) > div:nth-of-type(2) > img:nth-of-type(1)",
    "#\\31 \\:odd",
  ]);
});
