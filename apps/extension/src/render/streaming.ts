// Renders an answer while it streams in. Text arrives in pieces (`append`); at most once per
// animation frame the new part is rendered. The work of a frame stays bounded by the part of
// the answer that can still change, not by the whole answer:
//  - text up to the last blank line outside a code fence is settled: rendered once and kept;
//  - an open code fence is a <pre> whose text grows by the new lines only;
//  - only the unsettled tail (the current paragraph, list item or table) is rendered again.

import { appendMarkdown, fenceLanguage } from "./markdown.js";

export interface FrameScheduler {
  request(callback: () => void): void;
}

export const animationFrames: FrameScheduler = {
  request: (callback) => void requestAnimationFrame(() => callback()),
};

const FENCE = /^ {0,3}(`{3,}|~{3,})(.*)$/;

interface OpenFence {
  marker: string;
  code: HTMLElement;
}

export class StreamingMarkdown {
  private source = "";
  // Everything before `settled` is rendered for good; `scanned` is where line scanning stopped.
  private settled = 0;
  private scanned = 0;
  private fence: OpenFence | undefined;
  private readonly tail: HTMLElement;
  private scheduled = false;
  private finished = false;

  constructor(
    readonly element: HTMLElement,
    private readonly frames: FrameScheduler = animationFrames,
  ) {
    this.tail = element.ownerDocument.createElement("div");
    this.tail.className = "md-tail";
    element.append(this.tail);
  }

  get text(): string {
    return this.source;
  }

  append(delta: string): void {
    if (this.finished || delta === "") return;
    this.source += delta;
    if (!this.scheduled) {
      this.scheduled = true;
      this.frames.request(() => {
        this.scheduled = false;
        this.render();
      });
    }
  }

  // Renders the rest at once; later pieces are ignored.
  finish(): void {
    this.render(true);
    this.finished = true;
  }

  // Renders what came since the last frame; `final` also settles the last, unterminated line.
  render(final = false): void {
    if (this.finished) return;
    const source = this.source;
    for (;;) {
      const lineEnd = source.indexOf("\n", this.scanned);
      if (lineEnd < 0) break;
      this.takeLine(source, this.scanned, lineEnd + 1);
    }
    if (final && this.scanned < source.length) this.takeLine(source, this.scanned, source.length);
    if (this.fence) {
      // The open fence's partial last line is shown at once; it is rewritten by the next frame.
      this.fence.code.dataset.partial = source.slice(this.scanned);
      this.refreshFencePartial(this.fence);
      this.setTail("");
    } else {
      this.setTail(source.slice(this.settled));
    }
    if (final) {
      if (this.fence) this.closeFence();
      this.settle(source.length);
      this.tail.remove();
    }
  }

  private takeLine(source: string, start: number, end: number): void {
    const line = source.slice(start, end).replace(/\r?\n$/, "");
    this.scanned = end;
    if (this.fence) {
      const match = FENCE.exec(line);
      if (match && match[1]![0] === this.fence.marker[0] && match[1]!.length >= this.fence.marker.length && match[2]!.trim() === "") {
        this.closeFence();
        this.settled = end;
      } else {
        appendText(this.fence.code, line + "\n");
      }
      return;
    }
    const match = FENCE.exec(line);
    if (match && !(match[1]![0] === "`" && match[2]!.includes("`"))) {
      this.settle(start);
      this.openFence(match[1]!, match[2]!.trim());
      this.settled = end;
      return;
    }
    if (line.trim() === "") this.settle(end);
  }

  // Renders the source from `settled` to `end` for good, before the tail.
  private settle(end: number): void {
    if (end <= this.settled) return;
    const chunk = this.source.slice(this.settled, end);
    this.settled = end;
    if (chunk.trim() === "") return;
    const block = this.element.ownerDocument.createElement("div");
    block.className = "md-block";
    appendMarkdown(block, chunk);
    decorateCodeBlocks(block);
    this.element.insertBefore(block, this.tail);
    this.setTail("");
  }

  private openFence(marker: string, info: string): void {
    const document = this.element.ownerDocument;
    const { wrapper, code } = codeBlock(document, fenceLanguage(info));
    this.element.insertBefore(wrapper, this.tail);
    this.fence = { marker, code };
  }

  private closeFence(): void {
    const fence = this.fence!;
    delete fence.code.dataset.partial;
    this.refreshFencePartial(fence);
    this.fence = undefined;
  }

  private refreshFencePartial(fence: OpenFence): void {
    const partial = fence.code.dataset.partial ?? "";
    let node = fence.code.querySelector<HTMLElement>(".partial");
    if (!partial) {
      node?.remove();
      return;
    }
    if (!node) {
      node = fence.code.ownerDocument.createElement("span");
      node.className = "partial";
    }
    fence.code.append(node);
    node.textContent = partial;
  }

  private lastTail = "";
  private setTail(text: string): void {
    if (text === this.lastTail) return;
    this.lastTail = text;
    this.tail.replaceChildren();
    if (text.trim() === "") return;
    appendMarkdown(this.tail, text);
    decorateCodeBlocks(this.tail);
  }
}

// Appends text to a code element, keeping a trailing partial-line span last.
function appendText(code: HTMLElement, text: string): void {
  const partial = code.querySelector(".partial");
  const last = partial ? partial.previousSibling : code.lastChild;
  if (last && last.nodeType === 3) (last as Text).appendData(text);
  else code.insertBefore(code.ownerDocument.createTextNode(text), partial);
}

// A code block with its copy button; `language` only names a class.
export function codeBlock(document: Document, language: string): { wrapper: HTMLElement; code: HTMLElement } {
  const wrapper = document.createElement("div");
  wrapper.className = "code-block";
  const pre = document.createElement("pre");
  const code = document.createElement("code");
  if (/^[\w+#.-]{1,32}$/.test(language)) code.className = `language-${language}`;
  pre.append(code);
  wrapper.append(copyButton(document, () => codeText(code)), pre);
  return { wrapper, code };
}

function codeText(code: HTMLElement): string {
  return code.textContent ?? "";
}

function copyButton(document: Document, text: () => string): HTMLButtonElement {
  const button = document.createElement("button");
  button.type = "button";
  button.className = "copy";
  button.textContent = "Copy";
  button.setAttribute("aria-label", "Copy code");
  button.addEventListener("click", () => {
    void navigator.clipboard.writeText(text()).then(
      () => {
        button.textContent = "Copied";
        setTimeout(() => (button.textContent = "Copy"), 1500);
      },
      () => (button.textContent = "Copy failed"),
    );
  });
  return button;
}

// Gives every <pre> that Markdown rendered (indented code, fences in the tail) a copy button.
function decorateCodeBlocks(root: HTMLElement): void {
  for (const pre of Array.from(root.querySelectorAll("pre"))) {
    if (pre.parentElement?.classList.contains("code-block")) continue;
    const wrapper = root.ownerDocument.createElement("div");
    wrapper.className = "code-block";
    pre.replaceWith(wrapper);
    wrapper.append(copyButton(root.ownerDocument, () => pre.textContent ?? ""), pre);
  }
}
