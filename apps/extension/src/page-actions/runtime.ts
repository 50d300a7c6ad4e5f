// The page side of page actions, injected into the tab's isolated world by chrome.scripting
// (bundled as page-actions.js). It applies checked actions, keeps for each one how to undo
// exactly what it changed, removes them on request (from the sidebar or from the page-local
// close controls of the features it inserts), and lets the user pick an element.
// Nothing from an answer is run as script: selectors go to querySelectorAll, CSS into style
// elements and inline styles, and every text through textContent.

import { idCounter, uniqueSelector } from "../context/selector.js";
import { tidyText } from "../context/limits.js";
import { popAttribute, popOrder, popStyle, popText, pushAttribute, pushOrder, pushStyle, pushText, replaceKept } from "./layers.js";
import { firstNumber, MAX_ELEMENTS, type PageAction } from "./validate.js";

export type ApplyResult = { ok: true; count: number } | { ok: false; error: string };

export interface PickedElement {
  selector: string;
  tag: string;
  text: string;
  src?: string;
  alt?: string;
}

// What the runtime tells the sidebar when an action was removed on the page itself.
export interface RemovedOnPage {
  type: "vellora.pageActionRemoved";
  documentId: string;
  id: string;
}

export interface PageRuntime {
  // Random per document: a sidebar that finds another id knows the page was replaced.
  readonly documentId: string;
  apply(id: string, action: PageAction): ApplyResult;
  // False when the action is not (or no longer) applied on this document.
  remove(id: string): boolean;
  applied(): string[];
  pick(): Promise<PickedElement | null>;
  cancelPick(): void;
}

const UI = "data-vellora-ui";

class Failure extends Error {}

function ours(element: Element): boolean {
  return element.closest(`[${UI}]`) !== null;
}

function select(selector: string, root: ParentNode = document): Element[] {
  let found: NodeListOf<Element>;
  try {
    found = root.querySelectorAll(selector);
  } catch {
    throw new Failure(`The selector ${selector} is not valid.`);
  }
  return Array.from(found).filter((element) => !ours(element));
}

function selectSome(selector: string, limit = MAX_ELEMENTS): Element[] {
  const found = select(selector);
  if (found.length === 0) throw new Failure(`No element of the page matches ${selector}.`);
  return found.slice(0, Math.min(limit, MAX_ELEMENTS));
}

function styled(element: Element): element is Element & ElementCSSInlineStyle {
  return "style" in element && (element as Partial<ElementCSSInlineStyle>).style instanceof CSSStyleDeclaration;
}

// The matches themselves when they have the tag, else the elements of that tag inside them.
function expand<T extends Element>(elements: Element[], matches: (element: Element) => element is T, tag: string, limit: number): T[] {
  const result: T[] = [];
  const seen = new Set<Element>();
  for (const element of elements) {
    const inner = matches(element) ? [element] : Array.from(element.querySelectorAll(tag)).filter((e) => !ours(e));
    for (const candidate of inner) {
      if (result.length >= Math.min(limit, MAX_ELEMENTS)) return result;
      if (!seen.has(candidate) && matches(candidate)) {
        seen.add(candidate);
        result.push(candidate);
      }
    }
  }
  return result;
}

const isImage = (element: Element): element is HTMLImageElement => element instanceof HTMLImageElement;
const isLink = (element: Element): element is HTMLAnchorElement => element instanceof HTMLAnchorElement && element.hasAttribute("href");

// A host element of ours whose shadow root holds an inserted feature, so that the page's CSS
// neither styles it nor is styled by it.
function uiHost(kind: string, css: string, display = "inline-block"): { host: HTMLElement; root: ShadowRoot } {
  const host = document.createElement("vellora-ui");
  host.setAttribute(UI, kind);
  host.style.setProperty("display", display, "important");
  const root = host.attachShadow({ mode: "open" });
  const style = document.createElement("style");
  style.textContent = css;
  root.append(style);
  return { host, root };
}

function button(text: string, className: string, label?: string): HTMLButtonElement {
  const element = document.createElement("button");
  element.type = "button";
  element.className = className;
  element.textContent = text;
  if (label) element.setAttribute("aria-label", label);
  return element;
}

const CONTROL_CSS = `
:host { all: initial; }
.bar { display: inline-flex; gap: 2px; margin: 4px 0; font: 12px/1.4 system-ui, sans-serif; }
button { font: inherit; border: 1px solid #b8bec8; background: #f5f7fa; color: #1d1f23; border-radius: 5px; padding: 2px 8px; cursor: pointer; }
button:hover { border-color: #2459d6; }
.close { padding: 2px 6px; }
@media (prefers-color-scheme: dark) { button { background: #2a2e35; color: #e6e8eb; border-color: #4a505a; } }
`;

const PANEL_CSS = `
:host { all: initial; }
.panel { position: fixed; top: 12px; right: 12px; z-index: 2147483646; width: 260px; max-height: 70vh; overflow: auto;
  background: #ffffff; color: #1d1f23; border: 1px solid #c9ced6; border-radius: 10px; box-shadow: 0 6px 24px rgba(0,0,0,.22);
  font: 13px/1.45 system-ui, sans-serif; }
header { display: flex; align-items: center; gap: 8px; padding: 8px 10px; border-bottom: 1px solid #e2e5ea; position: sticky; top: 0; background: inherit; }
h2 { flex: 1; margin: 0; font-size: 14px; }
ol { list-style: none; margin: 0; padding: 6px 4px; }
li button.entry { display: block; width: 100%; text-align: left; border: none; background: none; color: inherit; font: inherit; padding: 3px 6px; border-radius: 5px; cursor: pointer; }
li button.entry:hover { background: #eef2fb; }
.close { border: 1px solid #c9ced6; background: #f5f7fa; color: inherit; border-radius: 5px; font: inherit; padding: 1px 7px; cursor: pointer; }
@media (prefers-color-scheme: dark) {
  .panel { background: #1d2025; color: #e6e8eb; border-color: #3a3f47; }
  header { border-color: #33373e; }
  li button.entry:hover { background: #2a3142; }
  .close { background: #2a2e35; border-color: #4a505a; }
}
`;

const READING_CSS = `
:host { all: initial; }
.overlay { position: fixed; inset: 0; z-index: 2147483647; overflow: auto; background: #fbfaf7; color: #1f1f1f; }
header { position: sticky; top: 0; display: flex; align-items: center; gap: 12px; padding: 10px 20px; background: inherit; border-bottom: 1px solid #e4e1da; font: 14px/1.4 system-ui, sans-serif; }
header h2 { flex: 1; margin: 0; font-size: 15px; }
.close { border: 1px solid #c9c5bb; background: #fff; color: inherit; border-radius: 6px; font: inherit; padding: 3px 10px; cursor: pointer; }
.content { max-width: 680px; margin: 0 auto; padding: 24px 20px 64px; font: 19px/1.65 Georgia, "DejaVu Serif", serif; }
.content img { max-width: 100%; height: auto; }
.content a { color: #1f4fbf; }
@media (prefers-color-scheme: dark) {
  .overlay { background: #191a1c; color: #e4e2dd; }
  header { border-color: #2e3034; }
  .close { background: #26282c; border-color: #44474d; }
  .content a { color: #8fb0ff; }
}
`;

interface Applied {
  undo: () => void;
}

// crypto.randomUUID exists only in secure contexts; plain http pages need this too.
const documentId = Array.from(crypto.getRandomValues(new Uint8Array(16)), (byte) => byte.toString(16).padStart(2, "0")).join("");
const applied = new Map<string, Applied>();

function tellSidebar(id: string): void {
  const message: RemovedOnPage = { type: "vellora.pageActionRemoved", documentId, id };
  try {
    void chrome.runtime.sendMessage(message).catch(() => undefined);
  } catch {
    // The extension was reloaded; the page keeps working without it.
  }
}

// A page-local close control removes the whole action, and the sidebar hears of it.
function closeOnPage(id: string): void {
  if (remove(id)) tellSidebar(id);
}

async function copyImage(image: HTMLImageElement): Promise<void> {
  const address = image.currentSrc || image.src;
  try {
    const bitmap = await createImageBitmap(await (await fetch(address)).blob());
    const canvas = new OffscreenCanvas(bitmap.width, bitmap.height);
    canvas.getContext("2d")!.drawImage(bitmap, 0, 0);
    const png = await canvas.convertToBlob({ type: "image/png" });
    await navigator.clipboard.write([new ClipboardItem({ "image/png": png })]);
  } catch {
    // A picture the page may not read (another origin without CORS): its address instead.
    await navigator.clipboard.writeText(address);
  }
}

function copyControls(id: string, targets: Element[], label: string, copy: (target: Element) => Promise<void>, kind: string, closeLabel: string): Applied {
  const hosts: HTMLElement[] = [];
  for (const target of targets) {
    const { host, root } = uiHost(kind, CONTROL_CSS);
    const bar = document.createElement("span");
    bar.className = "bar";
    const copyButton = button(label, "copy");
    copyButton.addEventListener("click", (event) => {
      event.preventDefault();
      event.stopPropagation();
      void copy(target).then(
        () => (copyButton.textContent = "Copied"),
        () => (copyButton.textContent = "Could not copy"),
      );
      setTimeout(() => (copyButton.textContent = label), 1500);
    });
    const close = button("×", "close", closeLabel);
    close.title = closeLabel;
    close.addEventListener("click", (event) => {
      event.preventDefault();
      event.stopPropagation();
      closeOnPage(id);
    });
    bar.append(copyButton, close);
    root.append(bar);
    // After a <picture>'s whole element, not inside it.
    const anchor = target.parentElement instanceof HTMLPictureElement ? target.parentElement : target;
    anchor.after(host);
    hosts.push(host);
  }
  return { undo: () => hosts.forEach((host) => host.remove()) };
}

const SKIPPED_TEXT = new Set(["SCRIPT", "STYLE", "NOSCRIPT", "TEXTAREA", "TEMPLATE", "TITLE"]);

function highlight(id: string, roots: Element[], query: string, color: string, maxMatches: number): Applied & { count: number } {
  if (!CSS.supports("background-color", color)) throw new Failure(`${color} is not a colour.`);
  const needle = query.toLocaleLowerCase();
  const seen = new Set<Text>();
  const found: { node: Text; at: number }[] = [];
  const limit = Math.min(maxMatches, MAX_ELEMENTS);
  outer: for (const root of roots) {
    const walker = document.createTreeWalker(root, NodeFilter.SHOW_TEXT, {
      acceptNode: (node) => {
        const parent = node.parentElement;
        if (!parent || SKIPPED_TEXT.has(parent.tagName) || ours(parent)) return NodeFilter.FILTER_REJECT;
        return NodeFilter.FILTER_ACCEPT;
      },
    });
    for (let node = walker.nextNode() as Text | null; node; node = walker.nextNode() as Text | null) {
      if (seen.has(node)) continue;
      seen.add(node);
      const haystack = node.data.toLocaleLowerCase();
      for (let at = haystack.indexOf(needle); at >= 0; at = haystack.indexOf(needle, at + needle.length)) {
        if (found.length >= limit) break outer;
        found.push({ node, at });
      }
    }
  }
  if (found.length === 0) throw new Failure(`"${query}" does not occur in ${roots.length === 1 ? "the element" : "the elements"}.`);
  const marks: HTMLElement[] = [];
  // From the last match backwards, so that earlier offsets in the same node stay right.
  for (let index = found.length - 1; index >= 0; index--) {
    const { node, at } = found[index]!;
    const match = node.splitText(at);
    match.splitText(query.length);
    const mark = document.createElement("mark");
    mark.setAttribute(UI, "highlight");
    mark.style.setProperty("background-color", color, "important");
    mark.style.setProperty("color", "inherit", "important");
    match.replaceWith(mark);
    mark.append(match);
    marks.push(mark);
  }
  return {
    count: marks.length,
    undo: () => {
      // Each parent's text is joined again once, after all its marks are gone.
      const parents = new Set<Node>();
      for (const mark of marks) {
        const parent = mark.parentNode;
        const content = Array.from(mark.childNodes);
        // A mark that a newer setText took out of the page is unwrapped where it is kept.
        if (!parent) replaceKept(mark, content);
        else {
          mark.replaceWith(...content);
          parents.add(parent);
        }
      }
      for (const parent of parents) parent.normalize();
    },
  };
}

function headingToc(id: string, roots: Element[], title: string, maxDepth: number): Applied & { count: number } {
  const tags = Array.from({ length: maxDepth }, (_, index) => `h${index + 1}`).join(",");
  const headings = expand(roots, (element): element is HTMLElement => element instanceof HTMLHeadingElement && Number(element.tagName.slice(1)) <= maxDepth, tags, MAX_ELEMENTS).filter(
    (heading) => (heading.textContent ?? "").trim() !== "",
  );
  if (headings.length === 0) throw new Failure(`There are no headings (h1 to h${maxDepth}) to list.`);
  const top = Math.min(...headings.map((heading) => Number(heading.tagName.slice(1))));
  const { host, root } = uiHost("toc", PANEL_CSS, "block");
  const panel = document.createElement("nav");
  panel.className = "panel";
  panel.setAttribute("aria-label", title);
  const header = document.createElement("header");
  const heading = document.createElement("h2");
  heading.textContent = title;
  const close = button("×", "close", `Close ${title}`);
  close.title = `Close ${title}`;
  close.addEventListener("click", () => closeOnPage(id));
  header.append(heading, close);
  const list = document.createElement("ol");
  for (const target of headings) {
    const item = document.createElement("li");
    item.style.paddingLeft = `${(Number(target.tagName.slice(1)) - top) * 14}px`;
    const entry = button(tidyText(target.textContent ?? "", 200), "entry");
    entry.addEventListener("click", () => target.scrollIntoView({ behavior: "smooth", block: "start" }));
    item.append(entry);
    list.append(item);
  }
  panel.append(header, list);
  root.append(panel);
  document.documentElement.append(host);
  return { count: headings.length, undo: () => host.remove() };
}

const DROPPED_IN_READING = "script, style, link, iframe, frame, object, embed, noscript, template, form, input, button, select, textarea, vellora-ui";

function readingMode(id: string, source: Element, title: string): Applied {
  const { host, root } = uiHost("reading", READING_CSS, "block");
  const overlay = document.createElement("div");
  overlay.className = "overlay";
  overlay.setAttribute("role", "dialog");
  overlay.setAttribute("aria-label", title);
  const header = document.createElement("header");
  const heading = document.createElement("h2");
  heading.textContent = title;
  const close = button("Close", "close", `Close ${title}`);
  close.addEventListener("click", () => closeOnPage(id));
  header.append(heading, close);
  const content = document.createElement("div");
  content.className = "content";
  const copy = source.cloneNode(true) as Element;
  for (const dropped of Array.from(copy.querySelectorAll(DROPPED_IN_READING))) dropped.remove();
  for (const element of [copy, ...Array.from(copy.querySelectorAll("*"))]) {
    for (const attribute of Array.from(element.attributes)) {
      if (/^on/i.test(attribute.name) || attribute.name === "style" || attribute.name === "class" || attribute.name === "id") element.removeAttribute(attribute.name);
    }
  }
  content.append(copy);
  overlay.append(header, content);
  root.append(overlay);
  const onKey = (event: KeyboardEvent) => {
    if (event.key === "Escape" && host.isConnected) closeOnPage(id);
  };
  document.addEventListener("keydown", onKey, true);
  document.documentElement.append(host);
  close.focus();
  return {
    undo: () => {
      document.removeEventListener("keydown", onKey, true);
      host.remove();
    },
  };
}

function sortList(id: string, action: Extract<PageAction, { type: "sortList" }>): Applied & { count: number } {
  try {
    document.querySelector(action.keySelector);
  } catch {
    throw new Failure(`The selector ${action.keySelector} is not valid.`);
  }
  const containers = selectSome(action.containerSelector);
  const items = select(action.itemSelector);
  const done: Element[] = [];
  let count = 0;
  for (const container of containers) {
    const own = items.filter((item) => item.parentElement === container).slice(0, MAX_ELEMENTS - count);
    if (own.length < 1) continue;
    const key = (item: Element): string => (item.matches(action.keySelector) ? item : item.querySelector(action.keySelector))?.textContent ?? "";
    const keyed = own.map((item) => {
      const text = key(item);
      return { item, text: text.trim(), number: firstNumber(text) };
    });
    const sign = action.direction === "desc" ? -1 : 1;
    keyed.sort((a, b) => {
      if (action.keyType === "number") {
        const aMissing = Number.isNaN(a.number);
        const bMissing = Number.isNaN(b.number);
        if (aMissing || bMissing) return aMissing === bMissing ? 0 : aMissing ? 1 : -1;
        return sign * (a.number - b.number);
      }
      if (a.text === "" || b.text === "") return a.text === b.text ? 0 : a.text === "" ? 1 : -1;
      return sign * a.text.localeCompare(b.text, undefined, { numeric: true, sensitivity: "base" });
    });
    pushOrder(container, keyed.map((entry) => entry.item), id);
    done.push(container);
    count += own.length;
    if (count >= MAX_ELEMENTS) break;
  }
  if (done.length === 0) throw new Failure(`No item matching ${action.itemSelector} sits directly in ${action.containerSelector}.`);
  return { count, undo: () => done.forEach((container) => popOrder(container, id)) };
}

// The elements an image's rounded corners may live on: its nearest ancestors, up to three,
// that are rounded themselves.
function roundedWrappers(image: Element): Element[] {
  const wrappers: Element[] = [];
  let current = image.parentElement;
  for (let depth = 0; depth < 3 && current && current !== document.body && current !== document.documentElement; depth++) {
    const style = getComputedStyle(current);
    const rounded = [style.borderTopLeftRadius, style.borderTopRightRadius, style.borderBottomLeftRadius, style.borderBottomRightRadius].some(
      (radius) => radius !== "" && !/^0(px)?( 0(px)?)?$/.test(radius),
    );
    if (rounded && !ours(current)) wrappers.push(current);
    current = current.parentElement;
  }
  return wrappers;
}

function styleEach(id: string, elements: Element[], property: string, value: string): Applied & { count: number } {
  if (!property.startsWith("--") && !CSS.supports(property, value)) throw new Failure(`${value} is not a valid value for ${property}.`);
  const touched = elements.filter(styled);
  for (const element of touched) pushStyle(element, property, value, id);
  return { count: touched.length, undo: () => touched.forEach((element) => popStyle(element, property, id)) };
}

function run(id: string, action: PageAction): Applied & { count: number } {
  switch (action.type) {
    case "hide":
      return styleEach(id, selectSome(action.selector), "display", "none");
    case "setText": {
      const targets = selectSome(action.selector).filter((element) => !["SCRIPT", "STYLE"].includes(element.tagName.toUpperCase()));
      if (targets.length === 0) throw new Failure("Text of scripts and style sheets is not changed.");
      for (const target of targets) pushText(target, action.value, id);
      return { count: targets.length, undo: () => targets.forEach((target) => popText(target, id)) };
    }
    case "setStyle":
      return styleEach(id, selectSome(action.selector), action.property, action.value);
    case "insertCSS": {
      const style = document.createElement("style");
      style.setAttribute(UI, "css");
      style.textContent = action.css;
      (document.head ?? document.documentElement).append(style);
      return { count: 1, undo: () => style.remove() };
    }
    case "setImagePresentation": {
      const images = expand(selectSome(action.selector), isImage, "img", action.maxCount);
      if (images.length === 0) throw new Failure(`No image is in ${action.selector}.`);
      const targets = new Set<Element>();
      for (const image of images) {
        if (targets.size >= MAX_ELEMENTS) break;
        targets.add(image);
        if (action.includeWrappers) for (const wrapper of roundedWrappers(image)) if (targets.size < MAX_ELEMENTS) targets.add(wrapper);
      }
      return styleEach(id, Array.from(targets), "border-radius", action.borderRadius);
    }
    case "setImageSource": {
      const images = expand(selectSome(action.selector), isImage, "img", MAX_ELEMENTS);
      if (images.length === 0) throw new Failure(`No image is in ${action.selector}.`);
      const changed: [Element, string][] = [];
      const set = (element: Element, name: string, value: string | null) => {
        pushAttribute(element, name, value, id);
        changed.push([element, name]);
      };
      for (const image of images) {
        // A <picture>'s sources and the image's own srcset would win over src.
        if (image.parentElement instanceof HTMLPictureElement) {
          for (const source of Array.from(image.parentElement.querySelectorAll("source"))) set(source, "srcset", null);
        }
        if (image.hasAttribute("srcset")) set(image, "srcset", null);
        set(image, "src", action.src);
        if (action.alt !== undefined) set(image, "alt", action.alt);
      }
      return { count: images.length, undo: () => changed.reverse().forEach(([element, name]) => popAttribute(element, name, id)) };
    }
    case "insertImageCopyButtons": {
      const images = expand(selectSome(action.selector), isImage, "img", action.maxCount);
      if (images.length === 0) throw new Failure(`No image is in ${action.selector}.`);
      const done = copyControls(id, images, action.label, (image) => copyImage(image as HTMLImageElement), "image-copy", "Remove the copy buttons");
      return { ...done, count: images.length };
    }
    case "insertLinkCopyButtons": {
      const links = expand(selectSome(action.selector), isLink, "a[href]", action.maxCount);
      if (links.length === 0) throw new Failure(`No link is in ${action.selector}.`);
      const done = copyControls(id, links, action.label, (link) => navigator.clipboard.writeText((link as HTMLAnchorElement).href), "link-copy", "Remove the copy buttons");
      return { ...done, count: links.length };
    }
    case "highlightText":
      return highlight(id, selectSome(action.selector), action.query, action.color, action.maxMatches);
    case "insertHeadingToc":
      return headingToc(id, selectSome(action.selector), action.title, action.maxDepth);
    case "enableReadingMode":
      return { ...readingMode(id, selectSome(action.selector, 1)[0]!, action.title), count: 1 };
    case "sortList":
      return sortList(id, action);
  }
}

function apply(id: string, action: PageAction): ApplyResult {
  if (applied.has(id)) return { ok: false, error: "This action is already applied." };
  try {
    const { undo, count } = run(id, action);
    applied.set(id, { undo });
    return { ok: true, count };
  } catch (error) {
    if (error instanceof Failure) return { ok: false, error: error.message };
    return { ok: false, error: `The page refused the change: ${(error as Error).message}` };
  }
}

function remove(id: string): boolean {
  const record = applied.get(id);
  if (!record) return false;
  applied.delete(id);
  record.undo();
  return true;
}

// The element picker: an outline follows the pointer, a click picks, Escape cancels. The
// page sees neither the click nor the pointer's presses meanwhile.
let picking: { finish: (picked: PickedElement | null) => void } | undefined;

function describe(element: Element): PickedElement {
  const picked: PickedElement = {
    selector: uniqueSelector(element, idCounter(document)),
    tag: element.tagName.toLowerCase(),
    text: tidyText((element as HTMLElement).innerText ?? element.textContent ?? "", 500),
  };
  if (element instanceof HTMLImageElement) {
    picked.src = element.currentSrc || element.src;
    picked.alt = element.alt;
  }
  return picked;
}

function pick(): Promise<PickedElement | null> {
  picking?.finish(null);
  return new Promise((resolve) => {
    const { host, root } = uiHost("picker", ":host { all: initial; } .box { position: fixed; pointer-events: none; z-index: 2147483647; outline: 2px solid #2459d6; background: rgba(36, 89, 214, 0.12); border-radius: 2px; display: none; }", "block");
    host.style.setProperty("pointer-events", "none", "important");
    const box = document.createElement("div");
    box.className = "box";
    root.append(box);
    document.documentElement.append(host);
    const under = (event: MouseEvent): Element | undefined => {
      const element = document.elementFromPoint(event.clientX, event.clientY);
      return element && !ours(element) ? element : undefined;
    };
    const onMove = (event: MouseEvent) => {
      const element = under(event);
      if (!element) return;
      const rect = element.getBoundingClientRect();
      Object.assign(box.style, { display: "block", left: `${rect.left}px`, top: `${rect.top}px`, width: `${rect.width}px`, height: `${rect.height}px` });
    };
    const swallow = (event: Event) => {
      event.preventDefault();
      event.stopPropagation();
      event.stopImmediatePropagation();
    };
    const onClick = (event: MouseEvent) => {
      swallow(event);
      const element = under(event);
      if (element) finish(describe(element));
    };
    const onKey = (event: KeyboardEvent) => {
      if (event.key !== "Escape") return;
      swallow(event);
      finish(null);
    };
    const presses = ["pointerdown", "pointerup", "mousedown", "mouseup", "auxclick", "dblclick"];
    const finish = (picked: PickedElement | null) => {
      picking = undefined;
      document.removeEventListener("mousemove", onMove, true);
      document.removeEventListener("click", onClick, true);
      document.removeEventListener("keydown", onKey, true);
      for (const type of presses) document.removeEventListener(type, swallow, true);
      host.remove();
      resolve(picked);
    };
    document.addEventListener("mousemove", onMove, true);
    document.addEventListener("click", onClick, true);
    document.addEventListener("keydown", onKey, true);
    for (const type of presses) document.addEventListener(type, swallow, true);
    picking = { finish };
  });
}

const runtime: PageRuntime = {
  documentId,
  apply,
  remove,
  applied: () => Array.from(applied.keys()),
  pick,
  cancelPick: () => picking?.finish(null),
};

const scope = globalThis as { velloraPageActions?: PageRuntime };
scope.velloraPageActions ??= runtime;
