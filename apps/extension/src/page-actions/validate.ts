// The page-action language Codex is told to use, checked member by member. A checked action
// carries every member with its default filled in, so the page runtime never guesses; an
// action that fails gets one sentence saying why, and is never applied.

export const MAX_ELEMENTS = 500;

export type KeyType = "text" | "number";
export type Direction = "asc" | "desc";

export type PageAction =
  | { type: "hide"; selector: string; reason?: string }
  | { type: "setText"; selector: string; value: string; reason?: string }
  | { type: "setStyle"; selector: string; property: string; value: string; reason?: string }
  | { type: "insertCSS"; css: string; reason?: string }
  | { type: "setImagePresentation"; selector: string; borderRadius: string; includeWrappers: boolean; maxCount: number; reason?: string }
  | { type: "setImageSource"; selector: string; src: string; alt?: string; reason?: string }
  | { type: "insertImageCopyButtons"; selector: string; label: string; maxCount: number; reason?: string }
  | { type: "insertLinkCopyButtons"; selector: string; label: string; maxCount: number; reason?: string }
  | { type: "highlightText"; query: string; selector: string; color: string; maxMatches: number; reason?: string }
  | { type: "insertHeadingToc"; selector: string; title: string; maxDepth: number; reason?: string }
  | { type: "enableReadingMode"; selector: string; title: string; reason?: string }
  | {
      type: "sortList";
      containerSelector: string;
      itemSelector: string;
      keySelector: string;
      keyType: KeyType;
      direction: Direction;
      label?: string;
      reason?: string;
    };

export type ActionType = PageAction["type"];

export const ACTION_TYPES: readonly ActionType[] = [
  "hide",
  "setText",
  "setStyle",
  "insertCSS",
  "setImagePresentation",
  "setImageSource",
  "insertImageCopyButtons",
  "insertLinkCopyButtons",
  "highlightText",
  "insertHeadingToc",
  "enableReadingMode",
  "sortList",
];

// The result of checking one entry of an "actions" array. `type` and `target` are what the
// sidebar shows about it, also for a refused one.
export type CheckedAction =
  | { ok: true; action: PageAction; type: ActionType; target: string; reason?: string }
  | { ok: false; error: string; type: string; target: string; reason?: string };

// Whether a CSS text could make the page fetch something (and so carry page data out):
// url(), @import and image-set(), also when written with CSS escapes or comments. Returns the
// construct found, or undefined when the text is clean.
export function fetchingCss(text: string): string | undefined {
  const decoded = text
    .replace(/\/\*[\s\S]*?(\*\/|$)/g, "")
    .replace(/\\([0-9a-fA-F]{1,6})[ \t\n\r\f]?/g, (_, hex: string) => {
      const code = Number.parseInt(hex, 16);
      return code > 0 && code <= 0x10ffff ? String.fromCodePoint(code) : "\uFFFD";
    })
    .replace(/\\([^\n])/g, "$1")
    .toLowerCase();
  const compact = decoded.replace(/\s+/g, "");
  if (/url\(/.test(compact)) return "url(";
  if (/@import/.test(compact)) return "@import";
  if (/image-set\(/.test(compact)) return "image-set(";
  return undefined;
}

// Whether `src` may become an image's address: an http(s) URL or a data: URL of an image.
export function isAllowedImageSource(src: string): boolean {
  if (/^data:image\/[\w.+-]+[;,]/i.test(src)) return true;
  try {
    const url = new URL(src);
    return url.protocol === "http:" || url.protocol === "https:";
  } catch {
    return false;
  }
}

// The first number in a text: "$1,299.00" is 1299, "-4.5 kg" is -4.5; NaN when there is none.
export function firstNumber(text: string): number {
  const match = /[-−]?(?:\d[\d,]*(?:\.\d+)?|\.\d+)/.exec(text);
  if (!match) return Number.NaN;
  return Number.parseFloat(match[0].replace(/,/g, "").replace("−", "-"));
}

class Refusal extends Error {}

type Raw = Record<string, unknown>;

function text(raw: Raw, name: string, fallback?: string): string {
  const value = raw[name];
  if (value === undefined || value === null) {
    if (fallback !== undefined) return fallback;
    throw new Refusal(`"${name}" is missing.`);
  }
  if (typeof value !== "string") throw new Refusal(`"${name}" must be a string.`);
  return value;
}

function nonEmpty(raw: Raw, name: string, fallback?: string): string {
  const value = text(raw, name, fallback);
  if (value.trim() === "") throw new Refusal(`"${name}" is empty.`);
  return value;
}

function count(raw: Raw, name: string, fallback: number, max: number): number {
  const value = raw[name];
  if (value === undefined || value === null) return fallback;
  if (typeof value !== "number" || !Number.isFinite(value) || value < 1) throw new Refusal(`"${name}" must be a positive number.`);
  return Math.min(Math.floor(value), max);
}

function flag(raw: Raw, name: string, fallback: boolean): boolean {
  const value = raw[name];
  if (value === undefined || value === null) return fallback;
  if (typeof value !== "boolean") throw new Refusal(`"${name}" must be true or false.`);
  return value;
}

function oneOf<T extends string>(raw: Raw, name: string, choices: readonly T[], fallback: T): T {
  const value = text(raw, name, fallback);
  if (!(choices as readonly string[]).includes(value)) throw new Refusal(`"${name}" must be ${choices.map((c) => `"${c}"`).join(" or ")}.`);
  return value as T;
}

function cleanCss(value: string, name: string): string {
  const found = fetchingCss(value);
  if (found) throw new Refusal(`"${name}" holds ${found}, which could send page data elsewhere.`);
  return value;
}

// `target.selector` of the types that act on a target.
function targetSelector(raw: Raw): string {
  const target = raw.target;
  if (target === undefined || target === null) throw new Refusal(`"target" is missing.`);
  if (typeof target !== "object" || Array.isArray(target)) throw new Refusal(`"target" must be an object with a "selector".`);
  return nonEmpty(target as Raw, "selector");
}

function shownTarget(raw: Raw): string {
  const target = raw.target as Raw | undefined;
  if (target && typeof target === "object" && typeof target.selector === "string") return target.selector;
  if (typeof raw.selector === "string") return raw.selector;
  if (typeof raw.containerSelector === "string") return raw.containerSelector;
  if (raw.type === "insertCSS") return "page";
  return "";
}

function build(raw: Raw): PageAction {
  const type = raw.type;
  if (typeof type !== "string") throw new Refusal(`"type" is missing.`);
  switch (type as ActionType) {
    case "hide":
      return { type: "hide", selector: targetSelector(raw) };
    case "setText":
      return { type: "setText", selector: targetSelector(raw), value: text(raw, "value") };
    case "setStyle": {
      const selector = targetSelector(raw);
      const property = nonEmpty(raw, "property").trim();
      if (!/^(--)?[a-zA-Z-][\w-]*$/.test(property)) throw new Refusal(`"property" is not a CSS property name.`);
      return { type: "setStyle", selector, property, value: cleanCss(nonEmpty(raw, "value"), "value") };
    }
    case "insertCSS":
      return { type: "insertCSS", css: cleanCss(nonEmpty(raw, "css"), "css") };
    case "setImagePresentation":
      return {
        type: "setImagePresentation",
        selector: nonEmpty(raw, "selector"),
        borderRadius: cleanCss(nonEmpty(raw, "borderRadius", "0"), "borderRadius"),
        includeWrappers: flag(raw, "includeWrappers", true),
        maxCount: count(raw, "maxCount", 200, MAX_ELEMENTS),
      };
    case "setImageSource": {
      const selector = targetSelector(raw);
      const src = nonEmpty(raw, "src").trim();
      if (src !== "latestGeneratedImage" && !isAllowedImageSource(src)) {
        throw new Refusal(`"src" must be "latestGeneratedImage", an http(s) address or a data:image address.`);
      }
      const action: PageAction = { type: "setImageSource", selector, src };
      if (raw.alt !== undefined && raw.alt !== null) action.alt = text(raw, "alt");
      return action;
    }
    case "insertImageCopyButtons":
      return {
        type: "insertImageCopyButtons",
        selector: nonEmpty(raw, "selector"),
        label: nonEmpty(raw, "label", "Copy Image"),
        maxCount: count(raw, "maxCount", 30, MAX_ELEMENTS),
      };
    case "insertLinkCopyButtons":
      return {
        type: "insertLinkCopyButtons",
        selector: nonEmpty(raw, "selector"),
        label: nonEmpty(raw, "label", "Copy Link"),
        maxCount: count(raw, "maxCount", 30, MAX_ELEMENTS),
      };
    case "highlightText":
      return {
        type: "highlightText",
        query: nonEmpty(raw, "query"),
        selector: nonEmpty(raw, "selector"),
        color: cleanCss(nonEmpty(raw, "color", "#fff3a3"), "color"),
        maxMatches: count(raw, "maxMatches", 50, MAX_ELEMENTS),
      };
    case "insertHeadingToc":
      return {
        type: "insertHeadingToc",
        selector: nonEmpty(raw, "selector"),
        title: nonEmpty(raw, "title", "Sections"),
        maxDepth: count(raw, "maxDepth", 3, 6),
      };
    case "enableReadingMode":
      return { type: "enableReadingMode", selector: nonEmpty(raw, "selector"), title: nonEmpty(raw, "title", "Reading mode") };
    case "sortList": {
      const action: PageAction = {
        type: "sortList",
        containerSelector: nonEmpty(raw, "containerSelector"),
        itemSelector: nonEmpty(raw, "itemSelector"),
        keySelector: nonEmpty(raw, "keySelector"),
        keyType: oneOf(raw, "keyType", ["text", "number"] as const, "text"),
        direction: oneOf(raw, "direction", ["asc", "desc"] as const, "asc"),
      };
      if (typeof raw.label === "string") action.label = raw.label;
      return action;
    }
    default:
      throw new Refusal(`"${type}" is not a page action Vellora knows.`);
  }
}

export function checkAction(entry: unknown): CheckedAction {
  if (typeof entry !== "object" || entry === null || Array.isArray(entry)) {
    return { ok: false, error: "The action is not a JSON object.", type: "?", target: "" };
  }
  const raw = entry as Raw;
  const type = typeof raw.type === "string" ? raw.type : "?";
  const target = shownTarget(raw);
  const reason = typeof raw.reason === "string" && raw.reason.trim() !== "" ? raw.reason : undefined;
  try {
    const action = build(raw);
    if (reason !== undefined) action.reason = reason;
    return { ok: true, action, type: action.type, target, ...(reason !== undefined ? { reason } : {}) };
  } catch (error) {
    if (!(error instanceof Refusal)) throw error;
    return { ok: false, error: error.message, type, target, ...(reason !== undefined ? { reason } : {}) };
  }
}
