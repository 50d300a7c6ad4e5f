// Markdown of untrusted text (the model's answers, which a page can steer) to HTML that holds no
// live content: raw HTML stays text, links go only to http, https and mailto and open in a new
// tab without an opener, and images become links carrying their alt text, so that nothing is
// fetched while an answer is shown.

import MarkdownIt from "markdown-it";

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
    const src = token.attrGet("src") ?? "";
    const alt = token.children ? token.children.map((child) => child.content).join("") : token.content;
    const label = `Image: ${alt || src}`;
    if (!isSafeLink(src)) return `<span class="image-link">${escapeHtml(label)}</span>`;
    return `<a class="image-link" href="${escapeHtml(src)}" target="_blank" rel="noopener noreferrer">${escapeHtml(label)}</a>`;
  };
  return md;
}

let shared: MarkdownIt | undefined;

export function renderMarkdown(source: string): string {
  shared ??= createMarkdown();
  return shared.render(source);
}
