// What the panel's end-to-end tests share: a scratch HOME with the host manifest written by
// `vellora-client install`, the stand-in for `codex app-server` driven by a scenario file,
// Debian's Chromium with the built extension loaded (through playwright-core), and a local
// test page on 127.0.0.1.
//
// The build passes the programs' paths in the environment: VELLORA_CLIENT (vellora-client),
// VELLORA_FAKE_CODEX_PATH (the stand-in), VELLORA_EXTENSION_DIST (apps/extension/dist),
// VELLORA_SCREENSHOTS (where the panel's pictures go) and CHROMIUM (default /usr/bin/chromium).

import { execFileSync } from "node:child_process";
import { existsSync, mkdirSync, mkdtempSync, readdirSync, readFileSync, rmSync, writeFileSync } from "node:fs";
import { createServer } from "node:http";
import { tmpdir } from "node:os";
import { join } from "node:path";
import { deflateSync } from "node:zlib";
import { chromium } from "playwright-core";

export const EXTENSION_ID = "gdhafjcfghdlkpdfaieinlkfnddbcblg";
export const PAGE_COLOUR = [0, 160, 80];

export const chromiumPath = process.env.CHROMIUM ?? "/usr/bin/chromium";
export const available = existsSync(chromiumPath);

function required(name) {
  const value = process.env[name];
  if (!value) throw new Error(`${name} is not set`);
  return value;
}

// A small PNG of one colour, for the stand-in's generated image.
export function png(width, height, [r, g, b]) {
  const crcTable = Array.from({ length: 256 }, (_, n) => {
    let c = n;
    for (let k = 0; k < 8; k++) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
    return c >>> 0;
  });
  const crc = (bytes) => {
    let c = 0xffffffff;
    for (const byte of bytes) c = crcTable[(c ^ byte) & 0xff] ^ (c >>> 8);
    return (c ^ 0xffffffff) >>> 0;
  };
  const chunk = (type, data) => {
    const body = Buffer.concat([Buffer.from(type, "ascii"), data]);
    const length = Buffer.alloc(4);
    length.writeUInt32BE(data.length);
    const sum = Buffer.alloc(4);
    sum.writeUInt32BE(crc(body));
    return Buffer.concat([length, body, sum]);
  };
  const header = Buffer.alloc(13);
  header.writeUInt32BE(width, 0);
  header.writeUInt32BE(height, 4);
  header[8] = 8;
  header[9] = 2;
  const rows = [];
  for (let y = 0; y < height; y++) {
    rows.push(Buffer.from([0]), Buffer.from(Array.from({ length: width }, () => [r, g, b]).flat()));
  }
  return Buffer.concat([
    Buffer.from([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]),
    chunk("IHDR", header),
    chunk("IDAT", deflateSync(Buffer.concat(rows))),
    chunk("IEND", Buffer.alloc(0)),
  ]);
}

export const TEST_PAGE = `<!doctype html>
<html><head><meta charset="utf-8"><title>Vellora test page</title>
<style>html, body { background: rgb(${PAGE_COLOUR.join(",")}); color: #fff; margin: 0; min-height: 100vh; }</style>
</head><body>
<h1>Fruit report</h1>
<p id="chosen">Apples are picked in autumn.</p>
<h2>Pictures</h2>
<div class="gallery"><img src="/a.png" alt="first" width="4" height="4"><img src="/a.png" alt="second" width="4" height="4"></div>
<div id="dup"><img id="dup" src="/a.png" alt="shares an id" width="4" height="4"></div>
<img id="1:odd.id" src="/a.png" alt="odd id" width="4" height="4">
<p><a href="/next">Next page</a> and <a href="https://example.com/">elsewhere</a></p>
</body></html>`;

// The page that page actions are tried on: an article with headings, links and images (one in
// a rounded wrapper), two ads, and a product list with prices.
export const SHOP_PAGE = `<!doctype html>
<html><head><meta charset="utf-8"><title>Garden shop</title>
<style>
body { font: 16px/1.5 sans-serif; margin: 0; padding: 16px 24px; background: #fff; color: #222; }
.ad { background: #ffd400; padding: 8px; margin: 8px 0; }
.rounded { border-radius: 16px; overflow: hidden; display: inline-block; margin: 0; }
img { border-radius: 10px; }
.products { list-style: none; padding: 0; }
.product { border: 1px solid #ccc; margin: 4px 0; padding: 4px 8px; }
</style></head>
<body>
<header><h1 id="title">Garden shop</h1><div class="ad" id="top-ad">Buy now! Big sale</div></header>
<main>
<article id="story">
<h2>Spring pricing</h2>
<p>Our pricing changes in spring. See the <a href="/pricing">pricing page</a> or <a href="https://example.com/guide">the guide</a>.</p>
<h3>Seeds</h3>
<p style="color:rgb(10, 20, 30)">Seeds grow <em>quickly</em> with the right pricing.</p>
<figure class="rounded"><img class="hero" src="/a.png" alt="hero" width="60" height="60"></figure>
<img class="plain" src="/a.png" alt="plain" width="60" height="60">
<h2>Tools</h2>
<p>Tools last for years.</p>
</article>
<ul class="products">
<li class="product"><span class="name">Rake</span> <span class="price">$1,299.00</span></li>
<li class="product"><span class="name">Hoe</span> <span class="price">$24.50</span></li>
<li class="product"><span class="name">Spade</span> <span class="price">$310</span></li>
<li class="product"><span class="name">Gloves</span> <span class="price">$9</span></li>
</ul>
<div class="ad" id="side-ad">Sponsored: lawn robots</div>
</main>
</body></html>`;

export class Harness {
  async start() {
    this.home = mkdtempSync(join(tmpdir(), "vellora-panel-"));
    this.chromeDirectory = join(this.home, ".config", "google-chrome");
    mkdirSync(this.chromeDirectory, { recursive: true });
    mkdirSync(join(this.home, ".codex"), { recursive: true });
    writeFileSync(join(this.home, ".codex", "auth.json"), JSON.stringify({ OPENAI_API_KEY: "sk-test" }));
    this.scenarioPath = join(this.home, "scenario.json");
    this.recordPath = join(this.home, "received.jsonl");
    this.writeScenario({});
    this.environment = {
      HOME: this.home,
      PATH: "/usr/bin:/bin",
      LANG: "C.UTF-8",
      VELLORA_CODEX_PATH: required("VELLORA_FAKE_CODEX_PATH"),
      VELLORA_FAKE_CODEX_SCENARIO: this.scenarioPath,
    };
    this.installManifest();

    const image = png(4, 4, [220, 40, 40]);
    this.server = createServer((request, response) => {
      if (request.url === "/a.png") {
        response.writeHead(200, { "content-type": "image/png" });
        response.end(image);
        return;
      }
      response.writeHead(200, { "content-type": "text/html; charset=utf-8" });
      response.end(request.url?.startsWith("/shop.html") ? SHOP_PAGE : TEST_PAGE);
    });
    await new Promise((resolve) => this.server.listen(0, "127.0.0.1", resolve));
    this.pageURL = `http://127.0.0.1:${this.server.address().port}/page.html`;

    const dist = required("VELLORA_EXTENSION_DIST");
    this.context = await chromium.launchPersistentContext(this.chromeDirectory, {
      executablePath: chromiumPath,
      headless: true,
      env: this.environment,
      viewport: { width: 320, height: 640 },
      args: [
        "--no-sandbox",
        "--disable-gpu",
        "--disable-quic",
        "--no-first-run",
        "--disable-background-networking",
        "--disable-component-update",
        "--disable-sync",
        `--disable-extensions-except=${dist}`,
        `--load-extension=${dist}`,
      ],
    });
    this.worker = this.context.serviceWorkers()[0] ?? (await this.context.waitForEvent("serviceworker"));
    this.page = this.context.pages()[0] ?? (await this.context.newPage());
    await this.page.setViewportSize({ width: 800, height: 600 });
    await this.page.goto(this.pageURL);
    this.tabId = await this.worker.evaluate(async (url) => (await chrome.tabs.query({ url }))[0]?.id, this.pageURL);
  }

  async stop() {
    await this.context?.close();
    await new Promise((resolve) => (this.server ? this.server.close(resolve) : resolve()));
    if (this.home) rmSync(this.home, { recursive: true, force: true });
  }

  // The ids of the host processes that this test's Chromium started (their HOME is ours).
  hostProcesses() {
    const found = [];
    for (const entry of readdirSync("/proc")) {
      if (!/^\d+$/.test(entry)) continue;
      try {
        const command = readFileSync(`/proc/${entry}/cmdline`, "utf8").split("\0")[0];
        if (!command.endsWith("vellora-native-host")) continue;
        const environment = readFileSync(`/proc/${entry}/environ`, "utf8").split("\0");
        if (environment.includes(`HOME=${this.home}`)) found.push(Number(entry));
      } catch {
        // gone meanwhile
      }
    }
    return found;
  }

  get manifestPath() {
    return join(this.chromeDirectory, "NativeMessagingHosts", "com.vellora.companion.json");
  }

  installManifest() {
    execFileSync(required("VELLORA_CLIENT"), ["install", "--extension-id", EXTENSION_ID], { env: this.environment });
  }

  // The stand-in's scenario; "initialize" and "thread/start" are answered unless `requests`
  // says otherwise. A child started later (each panel page starts its own host) reads it.
  writeScenario(requests, extra = {}) {
    const all = {
      initialize: [{ result: {} }],
      "thread/start": [{ result: { thread: { id: "thread-1" } } }],
      ...requests,
    };
    writeFileSync(this.scenarioPath, JSON.stringify({ ...extra, requests: all, record: this.recordPath }));
    rmSync(this.recordPath, { force: true });
  }

  // Every message the stand-in received, parsed.
  received() {
    if (!existsSync(this.recordPath)) return [];
    return readFileSync(this.recordPath, "utf8")
      .split("\n")
      .filter((line) => line.trim() !== "")
      .map((line) => JSON.parse(line));
  }

  paramsOf(method) {
    return this.received()
      .filter((message) => message.method === method)
      .map((message) => message.params);
  }

  // A panel page serving the test page's tab, 320 px wide.
  // Conversations outlive a panel (chrome.storage.session); each test starts from none.
  async openPanel({ colorScheme = "light", keepConversations = false } = {}) {
    if (!keepConversations) await this.worker.evaluate(() => chrome.storage.session.clear());
    const panel = await this.context.newPage();
    await panel.emulateMedia({ colorScheme });
    await panel.setViewportSize({ width: 320, height: 640 });
    panel.on("pageerror", (error) => (panel.errors ??= []).push(error));
    await panel.goto(`chrome-extension://${EXTENSION_ID}/sidepanel.html?tab=${this.tabId}`);
    return panel;
  }

  async screenshot(panel, name) {
    const directory = process.env.VELLORA_SCREENSHOTS;
    if (!directory) return;
    mkdirSync(directory, { recursive: true });
    await panel.screenshot({ path: join(directory, `${name}.png`) });
  }
}

// Stand-in actions.
// How long a test waits for the panel to show something.
export const TIMEOUT = 60_000;

// Types a prompt into the panel and sends it.
export async function send(panel, text) {
  await panel.locator(".prompt").fill(text);
  await panel.locator(".prompt").press("Enter");
}

// Waits until turn `index` has stopped streaming and returns its state.
export async function turnEnded(panel, index = 0) {
  await panel.locator(".turn").nth(index).and(panel.locator("[data-state]:not([data-state='streaming'])")).waitFor({ timeout: TIMEOUT });
  return panel.locator(".turn").nth(index).getAttribute("data-state");
}

export const turnStarted = (turn = "turn-1") => ({ result: { turn: { id: turn, status: "inProgress" } } });
export const delta = (text, turn = "turn-1") => ({
  notify: "item/agentMessage/delta",
  params: { threadId: "thread-1", turnId: turn, itemId: "msg-1", delta: text },
});
export const completed = (turn = "turn-1", status = "completed") => ({
  notify: "turn/completed",
  params: { threadId: "thread-1", turn: { id: turn, status, error: null } },
});
export const failed = (message, turn = "turn-1") => ({
  notify: "turn/completed",
  params: { threadId: "thread-1", turn: { id: turn, status: "failed", error: { message } } },
});
export const pause = (seconds) => ({ sleep: seconds });

// The page context that the host put into the turn's text, parsed.
export function contextOf(turnStartParams) {
  const text = turnStartParams.input[0].text;
  const marker = "Context JSON:\n";
  const at = text.indexOf(marker);
  return at < 0 ? undefined : JSON.parse(text.slice(at + marker.length));
}
