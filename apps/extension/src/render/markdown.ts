// Markdown of untrusted text (the model's answers, which a page can steer) that holds no live
// content: raw HTML stays text, links go only to http, https and mailto and open in a new tab
// without an opener, and images become links carrying their alt text, so that nothing is
// fetched while an answer is shown. The panel builds elements from the parsed tokens
// (appendMarkdown), every text set as text; renderMarkdown gives the same as HTML text.

import MarkdownIt from "markdown-it";
import type Token from "markdown-it/lib/token.mjs";

const SAFE_SCHEMES = /^(https?:|mailto:)/i;

export function isSafeLink(url: string): boolean {
  return SAFE_SCHEMES.test(url.trim());
}

function escapeHtml(text: string): string {
  return text.replace(/[&<>"']/g, (c) => `&#${c.charCodeAt(0)};`);
}

export function createMarkdown(): MarkdownIt {
  const md = new MarkdownIt({ html: false, linkify: false, typographer: false, breaks: false });
  md.validateLink = isSafeLink;
  md.renderer.rules.link_open = (tokens, index, options, _env, self) => {
    const token = tokens[index]!;
    token.attrSet("target", "_blank");
    token.attrSet("rel", "noopener noreferrer");
    return self.renderToken(tokens, index, options);
  };
  md.renderer.rules.image = (tokens, index) => {
    const token = tokens[index]!;
    const { src, label } = imageLink(token);
    if (!isSafeLink(src)) return `<span class="image-link">${escapeHtml(label)}</span>`;
    return `<a class="image-link" href="${escapeHtml(src)}" target="_blank" rel="noopener noreferrer">${escapeHtml(label)}</a>`;
  };
  return md;
}

// An image is never fetched: it shows as a link (or, unsafe, a plain label) naming it.
function imageLink(token: Token): { src: string; label: string } {
  const src = token.attrGet("src") ?? "";
  const alt = token.children ? token.children.map((child) => child.content).join("") : token.content;
  return { src, label: `Image: ${alt || src}` };
}

// The language named by a code fence's info string ("json", "ts"); empty when none.
export function fenceLanguage(info: string): string {
  return info.trim().split(/\s+/)[0] ?? "";
}

let shared: MarkdownIt | undefined;

// The tokens of a Markdown text, by the one shared parser.
export function parseMarkdown(source: string): Token[] {
  shared ??= createMarkdown();
  return shared.parse(source, {});
}

export function renderMarkdown(source: string): string {
  shared ??= createMarkdown();
  return shared.render(source);
}

// Appends the elements of `source` to `parent`. Only the parser's own tags are made, with only
// the attributes below; every text goes in as a text node.
export function appendMarkdown(parent: HTMLElement, source: string): void {
  appendTokens(parent, parseMarkdown(source));
}

const TABLE_ALIGNMENT = /^text-align:(left|right|center)$/;

// Line breaks go where the HTML renderer writes them, so that the text is the same either way.
function appendTokens(parent: HTMLElement, tokens: Token[]): void {
  const document = parent.ownerDocument;
  const open: HTMLElement[] = [parent];
  tokens.forEach((token, index) => {
    const top = open.at(-1)!;
    const next = tokens[index + 1];
    // The paragraphs of a tight list are not shown as elements.
    if (token.hidden) return;
    if (token.type !== "inline" && token.block && token.nesting !== -1 && tokens[index - 1]?.hidden) top.append("\n");
    if (token.type === "inline") {
      appendTokens(top, token.children ?? []);
    } else if (token.nesting === 1) {
      const element = document.createElement(token.tag);
      const href = token.attrGet("href");
      if (token.tag === "a" && href !== null) {
        element.setAttribute("href", href);
        element.setAttribute("target", "_blank");
        element.setAttribute("rel", "noopener noreferrer");
      }
      const start = token.attrGet("start");
      if (token.tag === "ol" && start !== null) element.setAttribute("start", start);
      const style = token.attrGet("style");
      if (style !== null && TABLE_ALIGNMENT.test(style)) element.setAttribute("style", style);
      top.append(element);
      open.push(element);
      const closesAtOnce = next?.nesting === -1 && next.tag === token.tag;
      if (token.block && next && next.type !== "inline" && !next.hidden && !closesAtOnce) element.append("\n");
    } else if (token.nesting === -1) {
      if (open.length > 1) open.pop();
      if (token.block) open.at(-1)!.append("\n");
    } else {
      top.append(leaf(document, token));
      if (token.block || token.type === "hardbreak") top.append("\n");
    }
  });
}

function leaf(document: Document, token: Token): Node {
  switch (token.type) {
    case "code_inline": {
      const code = document.createElement("code");
      code.textContent = token.content;
      return code;
    }
    case "fence":
    case "code_block": {
      const pre = document.createElement("pre");
      const code = document.createElement("code");
      const language = fenceLanguage(token.info);
      if (language) code.className = `language-${language}`;
      code.textContent = token.content;
      pre.append(code);
      return pre;
    }
    case "softbreak":
      return document.createTextNode("\n");
    case "hardbreak":
      return document.createElement("br");
    case "hr":
      return document.createElement("hr");
    case "image": {
      const { src, label } = imageLink(token);
      const link = document.createElement(isSafeLink(src) ? "a" : "span");
      link.className = "image-link";
      if (link instanceof HTMLAnchorElement) {
        link.href = src;
        link.target = "_blank";
        link.rel = "noopener noreferrer";
      }
      link.textContent = label;
      return link;
    }
    default:
      // Text, and anything else the parser gives, as the text it holds.
      return document.createTextNode(token.content);
  }
}
