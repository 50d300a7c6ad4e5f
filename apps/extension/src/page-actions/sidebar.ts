// The sidebar's half of page actions: finds the action blocks of a completed answer, checks
// them, applies them in order to the conversation's tab through the page runtime
// (page-actions.js, injected with chrome.scripting), and lists under the answer what was done,
// with "Remove" for each change and "Remove all". A tab that navigated away forgets its
// changes; the list says so. The element picker lives here too, since it runs in the same
// runtime.

import type { Attachment } from "../protocol/messages.js";
import { el } from "../panel/dom.js";
import { findActionBlocks, latestImage } from "./blocks.js";
import type { FinishedAnswer, PageActions } from "./index.js";
import type { ApplyResult, PageRuntime, PickedElement, RemovedOnPage } from "./runtime.js";
import { checkAction, type CheckedAction, type PageAction } from "./validate.js";

type EntryState = "waiting" | "applied" | "failed" | "removed" | "removedOnPage" | "forgotten";

interface Entry {
  id: string;
  checked: CheckedAction;
  state: EntryState;
  count?: number;
  error?: string;
}

interface BlockView {
  tabId: number;
  attachments: readonly Attachment[];
  entries: Entry[];
  root: HTMLElement;
  applying: boolean;
  render(): void;
}

const NOT_SCRIPTABLE = "This page does not let extensions change it.";
const NO_IMAGE = 'This turn generated no image, so "latestGeneratedImage" names nothing.';

type Runtime = typeof globalThis & { velloraPageActions?: PageRuntime };

function plural(count: number, word: string): string {
  return `${count} ${word}${count === 1 ? "" : "s"}`;
}

export class PageActionsSidebar implements PageActions {
  autoApply = true;
  // Which document of each tab the applied changes live in.
  private readonly documents = new Map<number, string>();
  private readonly views = new Set<BlockView>();
  private nextId = 0;

  constructor() {
    chrome.runtime.onMessage.addListener((message: unknown) => {
      const removed = message as Partial<RemovedOnPage>;
      if (removed?.type !== "vellora.pageActionRemoved") return;
      for (const view of this.views) {
        const entry = view.entries.find((candidate) => candidate.id === removed.id);
        if (entry && entry.state === "applied") {
          entry.state = "removedOnPage";
          view.render();
        }
      }
    });
    chrome.tabs.onUpdated.addListener((tabId, change) => {
      if (change.status === "complete" && this.documents.has(tabId)) void this.checkDocument(tabId);
    });
    chrome.tabs.onRemoved.addListener((tabId) => this.forget(tabId));
  }

  answerFinished(answer: FinishedAnswer): HTMLElement | undefined {
    const blocks = findActionBlocks(answer.text);
    if (blocks.length === 0) return undefined;
    const section = el("section", { className: "page-actions", attrs: { "aria-label": "Page changes" } });
    const views = blocks.map((block) => {
      const entries = block.actions.map((action) => ({ id: this.newId(), checked: checkAction(action), state: "waiting" as EntryState }));
      const view = this.blockView(answer.tabId, answer.attachments, entries);
      section.append(view.root);
      return view;
    });
    if (this.autoApply) {
      void (async () => {
        for (const view of views) await this.applyBlock(view);
      })();
    }
    return section;
  }

  // Lets the user click an element of the tab; null when cancelled or not possible.
  async pick(tabId: number): Promise<PickedElement | null> {
    if (!(await this.inject(tabId))) return null;
    const [result] = await chrome.scripting.executeScript({
      target: { tabId },
      func: () => (globalThis as Runtime).velloraPageActions!.pick(),
    });
    return (result?.result as PickedElement | null | undefined) ?? null;
  }

  async cancelPick(tabId: number): Promise<void> {
    await chrome.scripting
      .executeScript({ target: { tabId }, func: () => (globalThis as Runtime).velloraPageActions?.cancelPick() })
      .catch(() => undefined);
  }

  private newId(): string {
    this.nextId += 1;
    return `${crypto.randomUUID()}-${this.nextId}`;
  }

  // Injects the runtime (once per document) and returns the document's id.
  private async inject(tabId: number): Promise<string | undefined> {
    try {
      await chrome.scripting.executeScript({ target: { tabId }, files: ["page-actions.js"] });
    } catch {
      return undefined;
    }
    return this.documentIdOf(tabId);
  }

  // The id of the document the tab shows, as its runtime gave it; nothing without a runtime.
  private async documentIdOf(tabId: number): Promise<string | undefined> {
    try {
      const [result] = await chrome.scripting.executeScript({
        target: { tabId },
        func: () => (globalThis as Runtime).velloraPageActions?.documentId,
      });
      return typeof result?.result === "string" ? result.result : undefined;
    } catch {
      return undefined;
    }
  }

  private async checkDocument(tabId: number): Promise<void> {
    const known = this.documents.get(tabId);
    if (!known) return;
    if ((await this.documentIdOf(tabId)) !== known) this.forget(tabId);
  }

  private forget(tabId: number): void {
    this.documents.delete(tabId);
    for (const view of this.views) {
      if (view.tabId !== tabId) continue;
      let changed = false;
      for (const entry of view.entries) {
        if (entry.state === "applied") {
          entry.state = "forgotten";
          changed = true;
        }
      }
      if (changed) view.render();
    }
  }

  private async applyBlock(view: BlockView): Promise<void> {
    if (view.applying) return;
    view.applying = true;
    view.render();
    const documentId = await this.inject(view.tabId);
    if (documentId && this.documents.get(view.tabId) !== documentId) {
      this.forget(view.tabId);
      this.documents.set(view.tabId, documentId);
    }
    for (const entry of view.entries) {
      if (entry.state !== "waiting") continue;
      const checked = entry.checked;
      if (!checked.ok) {
        entry.state = "failed";
        entry.error = checked.error;
        continue;
      }
      if (!documentId) {
        entry.state = "failed";
        entry.error = NOT_SCRIPTABLE;
        continue;
      }
      let action: PageAction = checked.action;
      if (action.type === "setImageSource" && action.src === "latestGeneratedImage") {
        const image = latestImage(view.attachments);
        if (!image) {
          entry.state = "failed";
          entry.error = NO_IMAGE;
          continue;
        }
        action = { ...action, src: image };
      }
      const result = await this.run<ApplyResult | "gone">(view.tabId, documentId, entry.id, action);
      if (result === "gone" || result === undefined) {
        entry.state = "failed";
        entry.error = result === "gone" ? "The page changed before the action could run." : NOT_SCRIPTABLE;
      } else if (result.ok) {
        entry.state = "applied";
        entry.count = result.count;
      } else {
        entry.state = "failed";
        entry.error = result.error;
      }
    }
    view.applying = false;
    view.render();
  }

  // Runs apply (with an action) or remove (without) in the tab's runtime, in the document
  // `documentId`; "gone" when the tab holds another document now.
  private async run<T>(tabId: number, documentId: string, id: string, action?: PageAction): Promise<T | undefined> {
    try {
      const [result] = await chrome.scripting.executeScript({
        target: { tabId },
        func: (expected: string, actionId: string, given: PageAction | null) => {
          const runtime = (globalThis as Runtime).velloraPageActions;
          if (!runtime || runtime.documentId !== expected) return "gone";
          return given ? runtime.apply(actionId, given) : runtime.remove(actionId);
        },
        args: [documentId, id, action ?? null],
      });
      return result?.result as T | undefined;
    } catch {
      return undefined;
    }
  }

  private async remove(view: BlockView, entries: Entry[]): Promise<void> {
    const documentId = this.documents.get(view.tabId);
    for (const entry of entries) {
      if (entry.state !== "applied") continue;
      if (!documentId) {
        entry.state = "forgotten";
        continue;
      }
      const result = await this.run<boolean | "gone">(view.tabId, documentId, entry.id);
      if (result === "gone" || result === undefined) {
        this.forget(view.tabId);
        break;
      }
      entry.state = "removed";
    }
    view.render();
  }

  private blockView(tabId: number, attachments: readonly Attachment[], entries: Entry[]): BlockView {
    const root = el("div", { className: "action-block" });
    const view: BlockView = {
      tabId,
      attachments,
      entries,
      root,
      applying: false,
      render: () => this.render(view),
    };
    this.views.add(view);
    view.render();
    return view;
  }

  private render(view: BlockView): void {
    const { entries } = view;
    const waiting = entries.some((entry) => entry.state === "waiting");
    const applied = entries.filter((entry) => entry.state === "applied");
    const heading = el("div", { className: "action-heading" }, [el("span", { className: "action-title", text: `Page changes (${entries.length})` })]);
    if (waiting && !view.applying) {
      const apply = el("button", { className: "action-apply", text: "Apply", attrs: { type: "button" } });
      apply.addEventListener("click", () => void this.applyBlock(view));
      heading.append(apply);
    }
    if (applied.length > 1 || (applied.length === 1 && entries.length > 1)) {
      const all = el("button", { className: "action-remove-all", text: "Remove all", attrs: { type: "button" } });
      all.addEventListener("click", () => void this.remove(view, [...applied].reverse()));
      heading.append(all);
    }
    const list = el(
      "ul",
      { className: "action-list" },
      entries.map((entry) => this.entryView(view, entry)),
    );
    const children: HTMLElement[] = [heading, list];
    if (entries.some((entry) => entry.state === "forgotten")) {
      children.push(el("p", { className: "action-note", text: "The page was navigated away from: its changes are gone and can no longer be removed here." }));
    }
    if (view.applying) children.push(el("p", { className: "action-note", text: "Applying…" }));
    view.root.replaceChildren(...children);
    view.root.dataset.state = view.applying ? "applying" : waiting ? "waiting" : "done";
  }

  private entryView(view: BlockView, entry: Entry): HTMLElement {
    const { checked } = entry;
    const line = el("div", { className: "action-line" }, [el("span", { className: "action-type", text: checked.type })]);
    if (checked.target) line.append(el("code", { className: "action-target", text: checked.target }));
    const status: Record<EntryState, string> = {
      waiting: "not applied yet",
      applied: entry.count === undefined ? "" : plural(entry.count, "element"),
      failed: `Not applied: ${entry.error ?? ""}`,
      removed: "Removed",
      removedOnPage: "Removed on the page",
      forgotten: "Gone with the page",
    };
    const item = el("li", { className: "action-entry", attrs: { "data-state": entry.state } }, [line]);
    if (checked.reason) item.append(el("div", { className: "action-reason", text: checked.reason }));
    const foot = el("div", { className: "action-foot" }, [el("span", { className: "action-status", text: status[entry.state] })]);
    if (entry.state === "applied") {
      const remove = el("button", { className: "action-remove", text: "Remove", attrs: { type: "button", "aria-label": `Remove ${checked.type} ${checked.target}`.trim() } });
      remove.addEventListener("click", () => void this.remove(view, [entry]));
      foot.append(remove);
    }
    item.append(foot);
    return item;
  }
}
