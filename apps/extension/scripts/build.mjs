// Builds the extension into dist/ (or --out DIR): the service worker, the side panel, the page
// collector, the page-actions runtime and the static files. --tests DIR also bundles the unit tests there (plain
// JavaScript for `node --test`); --bench DIR bundles the renderer benchmark's page.
import { build } from "esbuild";
import { cpSync, mkdirSync, readdirSync, rmSync } from "node:fs";
import { dirname, join, resolve } from "node:path";
import { fileURLToPath } from "node:url";

const root = resolve(dirname(fileURLToPath(import.meta.url)), "..");
const args = process.argv.slice(2);
const option = (name) => {
  const at = args.indexOf(name);
  return at >= 0 ? resolve(args[at + 1]) : undefined;
};
const out = option("--out") ?? join(root, "dist");
const testsOut = option("--tests");
const benchOut = option("--bench");

const common = {
  bundle: true,
  target: "chrome116",
  charset: "utf8",
  legalComments: "none",
  logLevel: "warning",
  sourcemap: false,
};

rmSync(out, { recursive: true, force: true });
mkdirSync(out, { recursive: true });
cpSync(join(root, "static"), out, { recursive: true });
await build({
  ...common,
  format: "iife",
  entryPoints: {
    background: join(root, "src/background.ts"),
    sidepanel: join(root, "src/panel/main.ts"),
    "page-context": join(root, "src/context/collect.ts"),
    "page-actions": join(root, "src/page-actions/runtime.ts"),
  },
  outdir: out,
});

if (testsOut) {
  rmSync(testsOut, { recursive: true, force: true });
  const entries = readdirSync(join(root, "tests/unit"))
    .filter((name) => name.endsWith(".test.ts"))
    .map((name) => join(root, "tests/unit", name));
  await build({
    ...common,
    platform: "node",
    target: "node20",
    format: "esm",
    entryPoints: entries,
    outdir: testsOut,
    outExtension: { ".js": ".mjs" },
    external: ["node:*"],
  });
}

if (benchOut) {
  mkdirSync(benchOut, { recursive: true });
  await build({
    ...common,
    format: "iife",
    entryPoints: { "render-bench": join(root, "bench/render-bench-page.ts") },
    outdir: benchOut,
  });
  cpSync(join(root, "static/sidepanel.css"), join(benchOut, "sidepanel.css"));
}
