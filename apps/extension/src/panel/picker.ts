// The command picker: skills, plugins and apps from the host's catalog, searchable by name;
// picked ones are shown as removable chips and sent with the next turn.

import type { Catalog, CatalogEntry, SelectedCommand } from "../protocol/messages.js";
import { el } from "./dom.js";

export interface PickerSource {
  load(): Promise<Catalog>;
}

function commandsOf(catalog: Catalog): CatalogEntry[] {
  return [...(catalog.skills ?? []), ...(catalog.plugins ?? []), ...(catalog.apps ?? [])].filter(
    (entry) => typeof entry.name === "string" && entry.name !== "" && typeof entry.path === "string" && entry.path !== "",
  );
}

export class CommandPicker {
  readonly chips = el("div", { className: "chips", attrs: { "aria-label": "Chosen commands" } });
  readonly panel = el("div", { className: "picker", attrs: { role: "dialog", "aria-label": "Commands" } });
  private readonly search = el("input", {
    className: "picker-search",
    attrs: { type: "search", placeholder: "Search skills, plugins and apps", "aria-label": "Search commands" },
  });
  private readonly list = el("div", { className: "picker-list", attrs: { role: "listbox" } });
  private readonly status = el("div", { className: "picker-status", attrs: { role: "status" } });
  private readonly models = el("div", { className: "picker-models" });
  private catalog: Catalog | undefined;
  private loading: Promise<void> | undefined;
  private chosen: SelectedCommand[] = [];

  constructor(
    private readonly source: PickerSource,
    private readonly onClose: () => void,
  ) {
    this.panel.hidden = true;
    this.panel.append(this.search, this.status, this.list, this.models);
    this.search.addEventListener("input", () => this.showList());
    this.panel.addEventListener("keydown", (event) => {
      if (event.key === "Escape") {
        event.preventDefault();
        this.close();
      }
    });
  }

  get isOpen(): boolean {
    return !this.panel.hidden;
  }

  open(): void {
    this.panel.hidden = false;
    this.search.focus();
    if (!this.catalog) void this.load();
    else this.showList();
  }

  close(): void {
    if (this.panel.hidden) return;
    this.panel.hidden = true;
    this.onClose();
  }

  // The chosen commands, emptied for the next turn.
  take(): SelectedCommand[] {
    const taken = this.chosen;
    this.chosen = [];
    this.showChips();
    return taken;
  }

  private load(): Promise<void> {
    this.loading ??= (async () => {
      this.status.textContent = "Loading commands…";
      try {
        this.catalog = await this.source.load();
        this.status.textContent = "";
        const failed = (this.catalog.errors ?? []).map((error) => `${error.method ?? "?"}: ${error.message ?? ""}`);
        if (failed.length) this.status.textContent = `Some lists could not be loaded (${failed.join("; ")}).`;
        this.showModels();
        this.showList();
      } catch (error) {
        const code = (error as { code?: string }).code;
        this.status.textContent = `Commands could not be loaded: ${(error as Error).message}${code ? ` (${code})` : ""}`;
      } finally {
        this.loading = undefined;
      }
    })();
    return this.loading;
  }

  private showList(): void {
    if (!this.catalog) return;
    const query = this.search.value.trim().toLowerCase();
    const matches = commandsOf(this.catalog).filter((entry) =>
      [entry.name, entry.title, entry.description].some((text) => typeof text === "string" && text.toLowerCase().includes(query)),
    );
    this.list.replaceChildren(
      ...matches.slice(0, 100).map((entry) => {
        const item = el("button", { className: "picker-item", attrs: { type: "button", role: "option" } }, [
          el("span", { className: "picker-kind", text: entry.kind }),
          el("span", { className: "picker-title", text: entry.title || entry.name || "" }),
          el("span", { className: "picker-description", text: entry.description ?? "" }),
        ]);
        item.addEventListener("click", () => this.choose(entry));
        return item;
      }),
    );
    if (matches.length === 0) this.list.append(el("div", { className: "picker-empty", text: query ? "No command matches." : "Codex offers no commands." }));
  }

  private showModels(): void {
    const models = (this.catalog?.models ?? []).filter((model) => model.hidden !== true);
    if (models.length === 0) {
      this.models.replaceChildren();
      return;
    }
    this.models.replaceChildren(
      el("div", { className: "picker-heading", text: "Models" }),
      el("div", {
        className: "picker-note",
        text: "Codex answers with the model set in its own configuration; these are the models it offers.",
      }),
      el(
        "ul",
        {},
        models.map((model) => el("li", { text: `${model.title ?? model.id ?? ""}${model.isDefault === true ? " (default)" : ""}` })),
      ),
    );
  }

  private choose(entry: CatalogEntry): void {
    const command: SelectedCommand = { kind: entry.kind, name: entry.name!, path: entry.path! };
    if (typeof entry.title === "string") command.title = entry.title;
    if (!this.chosen.some((chosen) => chosen.kind === command.kind && chosen.path === command.path)) this.chosen.push(command);
    this.showChips();
    this.close();
  }

  private showChips(): void {
    this.chips.replaceChildren(
      ...this.chosen.map((command, index) => {
        const remove = el("button", {
          className: "chip-remove",
          text: "×",
          attrs: { type: "button", "aria-label": `Remove ${command.title ?? command.name}` },
        });
        remove.addEventListener("click", () => {
          this.chosen.splice(index, 1);
          this.showChips();
        });
        return el("span", { className: "chip", attrs: { "data-kind": command.kind } }, [`${command.kind}: ${command.title ?? command.name}`, remove]);
      }),
    );
  }
}
