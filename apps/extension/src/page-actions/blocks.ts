// Finds the action blocks of a finished answer: fenced code blocks marked `json` whose content is
// one JSON object with an "actions" array, in the order they appear. The answer is read with
// the same Markdown parser that shows it, so a block counts exactly when it is shown as a
// fenced block; anything else (another language, broken JSON, JSON without "actions") stays
// plain code.

import { fenceLanguage, parseMarkdown } from "../render/markdown.js";
import type { Attachment } from "../protocol/messages.js";

export interface ActionBlock {
  // The block's "actions" array, each entry as it was written.
  actions: unknown[];
}

export function findActionBlocks(answer: string): ActionBlock[] {
  const blocks: ActionBlock[] = [];
  for (const token of parseMarkdown(answer)) {
    if (token.type !== "fence") continue;
    if (fenceLanguage(token.info).toLowerCase() !== "json") continue;
    let value: unknown;
    try {
      value = JSON.parse(token.content);
    } catch {
      continue;
    }
    if (typeof value !== "object" || value === null || Array.isArray(value)) continue;
    const actions = (value as { actions?: unknown }).actions;
    if (Array.isArray(actions)) blocks.push({ actions });
  }
  return blocks;
}

// The newest image attachment of a turn, as a data: URL; what "latestGeneratedImage" names.
export function latestImage(attachments: readonly Attachment[]): string | undefined {
  for (let index = attachments.length - 1; index >= 0; index--) {
    const dataUrl = attachments[index]!.dataUrl;
    if (typeof dataUrl === "string" && /^data:image\/[\w.+-]+;base64,/i.test(dataUrl)) return dataUrl;
  }
  return undefined;
}
