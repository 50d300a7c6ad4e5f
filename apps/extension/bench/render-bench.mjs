// The renderer benchmark (not a test): a 100 KB answer with code blocks in 10,000 pieces
// through the panel's StreamingMarkdown in Chromium (bench/render-bench-page.ts). Prints the
// main-thread time spent on delivering and rendering the pieces and the longest single task.
//
//   node bench/render-bench.mjs [BUNDLE_DIR]
//
// BUNDLE_DIR holds render-bench.js, built by the CMake build into
// build/<preset>/apps/extension/bench (default: build/dev's).

import { writeFileSync } from "node:fs";
import { dirname, join, resolve } from "node:path";
import { fileURLToPath } from "node:url";
import { chromium } from "playwright-core";

const root = resolve(dirname(fileURLToPath(import.meta.url)), "../../..");
const bundle = resolve(process.argv[2] ?? join(root, "build/dev/apps/extension/bench"));
const page = join(bundle, "render-bench.html");
writeFileSync(
  page,
  `<!doctype html><meta charset="utf-8"><link rel="stylesheet" href="sidepanel.css">` +
    `<div id="answer" class="answer markdown" style="width:300px"></div><script src="render-bench.js"></script>`,
);

const browser = await chromium.launch({
  executablePath: process.env.CHROMIUM ?? "/usr/bin/chromium",
  headless: true,
  args: ["--no-sandbox", "--disable-gpu"],
});
try {
  const tab = await browser.newPage({ viewport: { width: 320, height: 640 } });
  await tab.goto(`file://${page}`);
  await tab.waitForFunction(() => window.benchResult !== undefined, null, { timeout: 600_000, polling: 500 });
  const result = await tab.evaluate(() => window.benchResult);
  const round = (value) => Math.round(value * 10) / 10;
  console.log(
    `answer ${result.answerCharacters} characters in ${result.deltas} deltas: ` +
      `main thread ${round(result.mainThreadMs)} ms, longest task ${round(result.longestTaskMs)} ms (after delta ${result.longestTaskAfterDelta}) ` +
      `(wall ${round(result.wallMs)} ms, ${result.renderedCharacters} characters rendered); ` +
      `tasks over 50 ms seen by Chromium, layout included: ${result.tasksOver50Ms}` +
      (result.tasksOver50Ms ? `, longest ${round(result.longestTaskOver50Ms)} ms` : ""),
  );
} finally {
  await browser.close();
}
