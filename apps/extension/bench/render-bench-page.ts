// The renderer benchmark's page (bench/render-bench.mjs opens it in Chromium): a 100 KB answer
// with code blocks arrives in 10,000 pieces, each as its own task as port messages do, through
// the panel's StreamingMarkdown. It reports the main-thread time spent in delivering and
// rendering, and the longest single task, on window.benchResult.

import { StreamingMarkdown } from "../src/render/streaming.js";

function answer(size: number): string {
  const parts: string[] = [];
  let length = 0;
  for (let section = 1; length < size; section++) {
    const piece =
      `## Step ${section}\n\nThis paragraph explains **part ${section}** with a [link](https://example.com/${section}) ` +
      `and \`inline code\`. It runs on for a while so that the paragraph has some body to it.\n\n` +
      `- first point of ${section}\n- second point\n- third point\n\n` +
      "```ts\n" +
      Array.from({ length: 12 }, (_, line) => `const value${section}_${line} = compute(${line}, "text <b>${line}</b>");`).join("\n") +
      "\n```\n\n";
    parts.push(piece);
    length += piece.length;
  }
  return parts.join("").slice(0, size);
}

function pieces(text: string, count: number): string[] {
  const size = Math.ceil(text.length / count);
  const result: string[] = [];
  for (let at = 0; at < text.length; at += size) result.push(text.slice(at, at + size));
  return result;
}

async function run(): Promise<void> {
  const text = answer(100_000);
  const deltas = pieces(text, 10_000);
  const container = document.getElementById("answer")!;
  let total = 0;
  let longest = 0;
  let longestAt = 0;
  let delivered = 0;
  const timed = (work: () => void): void => {
    const start = performance.now();
    work();
    const spent = performance.now() - start;
    total += spent;
    if (spent > longest) {
      longest = spent;
      longestAt = delivered;
    }
  };
  // Every animation frame's render is timed through the renderer's scheduler.
  const frames = {
    request: (callback: () => void) => void requestAnimationFrame(() => timed(callback)),
  };
  const renderer = new StreamingMarkdown(container, frames);

  // Tasks over 50 ms as Chromium sees them, style and layout included.
  // Only those that begin once the first piece is on its way count: loading the page is not
  // the renderer's work.
  const longTasks: number[] = [];
  let started = Infinity;
  new PerformanceObserver((list) => {
    for (const entry of list.getEntries()) if (entry.startTime >= started) longTasks.push(entry.duration);
  }).observe({ type: "longtask", buffered: true });

  const channel = new MessageChannel();
  started = performance.now();
  await new Promise<void>((resolve) => {
    let next = 0;
    channel.port1.onmessage = () => {
      timed(() => renderer.append(deltas[next++]!));
      delivered = next;
      if (next < deltas.length) channel.port2.postMessage(0);
      else resolve();
    };
    channel.port2.postMessage(0);
  });
  timed(() => renderer.finish());
  const wall = performance.now() - started;
  await new Promise((resolve) => setTimeout(resolve, 200));
  (window as unknown as { benchResult: unknown }).benchResult = {
    answerCharacters: text.length,
    deltas: deltas.length,
    mainThreadMs: total,
    longestTaskMs: longest,
    longestTaskAfterDelta: longestAt,
    wallMs: wall,
    tasksOver50Ms: longTasks.length,
    longestTaskOver50Ms: Math.max(0, ...longTasks),
    renderedCharacters: container.textContent?.length ?? 0,
  };
}

void run();
