// The limits of the page context sent with a turn, and the cutting that keeps to them.

export const CONTEXT_LIMITS = {
  text: 200_000,
  headings: 200,
  images: 200,
  links: 500,
  // Each single text of a heading, link or image; addresses longer than this are left out.
  itemText: 500,
  address: 4096,
} as const;

// The first `max` UTF-16 units of `text`, one fewer when the cut would split a surrogate pair,
// so that the result is always whole characters.
export function cutText(text: string, max: number): string {
  if (text.length <= max) return text;
  let end = Math.max(0, max);
  const last = text.charCodeAt(end - 1);
  if (end > 0 && last >= 0xd800 && last <= 0xdbff) end -= 1;
  return text.slice(0, end);
}

// Collapses runs of white space, trims, and cuts to `max`.
export function tidyText(text: string, max: number): string {
  return cutText(text.replace(/\s+/g, " ").trim(), max);
}

export interface PageContext {
  url: string;
  title: string;
  selection: string;
  text: string;
  headings: { level: number; text: string }[];
  images: { selector: string; src: string; alt: string; width: number; height: number }[];
  links: { text: string; href: string }[];
  viewportCapture?: { dataUrl: string; width: number; height: number };
}
