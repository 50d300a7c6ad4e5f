// The side panel page. It owns the port to the native host (one host process per open panel)
// and one conversation per tab; a conversation's messages are kept in chrome.storage.session,
// so they outlive the panel until the browser quits, while the host, and with it Codex's
// memory of the conversation, ends when the panel closes.
//
// sidepanel.html serves the active tab of its window and follows tab switches;
// sidepanel.html?tab=<id> serves that tab only.

import { pageActions, setPageActions } from "../page-actions/index.js";
import type { PickedElement } from "../page-actions/runtime.js";
import { PageActionsSidebar } from "../page-actions/sidebar.js";
import { chromePortFactory, DISCONNECTED, HostClient, HostError } from "../protocol/client.js";
import { HOST_NAME, type Attachment, type Catalog } from "../protocol/messages.js";
import { StreamingMarkdown } from "../render/streaming.js";
import { capturePage } from "./capture.js";
import { el, withCode } from "./dom.js";
import { disconnectAdvice, healthProblems } from "./messages.js";
import { CommandPicker } from "./picker.js";

type TurnState = "streaming" | "done" | "failed" | "interrupted" | "stopped";

interface StoredTurn {
  prompt: string;
  answer: string;
  attachments: Attachment[];
  state: TurnState;
  error?: string;
}

interface Conversation {
  tabId: number;
  sessionId: string;
  turns: StoredTurn[];
  // The host port the last turn ran on; -1 for a conversation restored from storage.
  generation: number | undefined;
  view: HTMLElement;
  running: { requestId: string; turn: StoredTurn; stopping: boolean } | undefined;
}

const client = new HostClient(chromePortFactory(HOST_NAME));
const conversations = new Map<number, Conversation>();
const fixedTab = Number.parseInt(new URLSearchParams(location.search).get("tab") ?? "", 10);
let current: Conversation | undefined;

// The page's parts.
const tabLabel = el("div", { className: "tab-label", attrs: { "aria-live": "polite" } });
const newChat = el("button", { className: "new-chat", text: "New chat", attrs: { type: "button" } });
const banner = el("div", { className: "banner", attrs: { role: "status" } });
const log = el("main", { className: "log", attrs: { role: "log", "aria-live": "polite", "aria-label": "Conversation" } });
const prompt = el("textarea", {
  className: "prompt",
  attrs: { rows: "3", placeholder: "Ask Codex about this page", "aria-label": "Message", autofocus: "" },
});
const send = el("button", { className: "send", text: "Send", attrs: { type: "submit" } });
const stop = el("button", { className: "stop", text: "Stop", attrs: { type: "button" } });
const commandsButton = el("button", {
  className: "commands",
  text: "Commands",
  attrs: { type: "button", "aria-haspopup": "dialog", "aria-expanded": "false" },
});
const screenshot = el("input", { attrs: { type: "checkbox", id: "include-screenshot" } });
const autoApply = el("input", { attrs: { type: "checkbox", id: "auto-apply" } });
autoApply.checked = true;
const pickButton = el("button", { className: "pick-element", text: "Pick element", attrs: { type: "button", "aria-pressed": "false" } });
const pickedChip = el("div", { className: "chips picked", attrs: { "aria-label": "Picked element" } });
const actions = new PageActionsSidebar();
setPageActions(actions);
// The element picked in the page, sent with the next turn as `pickedElement`.
let picked: PickedElement | undefined;
let picking: number | undefined;
const picker = new CommandPicker(
  {
    load: async () => (await client.request("codex.catalog", "codex.catalog")).catalog ?? ({} as Catalog),
  },
  () => {
    commandsButton.setAttribute("aria-expanded", "false");
    commandsButton.focus();
  },
);
const form = el("form", { className: "composer" }, [
  picker.panel,
  picker.chips,
  pickedChip,
  prompt,
  el("div", { className: "composer-row" }, [
    commandsButton,
    pickButton,
    el("label", { className: "screenshot", attrs: { for: "include-screenshot" } }, [screenshot, "Include screenshot"]),
    el("label", { className: "screenshot", attrs: { for: "auto-apply", title: "Apply the page changes of an answer as soon as it is complete" } }, [autoApply, "Auto-apply"]),
    el("span", { className: "spacer" }),
    stop,
    send,
  ]),
]);
stop.hidden = true;

document.getElementById("app")!.append(
  el("header", { className: "top" }, [el("h1", { text: "Vellora" }), tabLabel, newChat]),
  banner,
  log,
  form,
);

function showBanner(lines: string[], kind: "warning" | "error" | "info" = "warning"): void {
  banner.replaceChildren(...lines.map((line) => el("p", {}, [withCode(line)])));
  banner.dataset.kind = kind;
  banner.hidden = lines.length === 0;
}
showBanner([]);

function newSessionId(): string {
  return crypto.randomUUID();
}

function storageKey(tabId: number): string {
  return `conversation:${tabId}`;
}

function save(conversation: Conversation): void {
  const turns = conversation.turns.map((turn) => ({ ...turn, state: turn.state === "streaming" ? "interrupted" : turn.state }));
  const key = storageKey(conversation.tabId);
  // Session storage is bounded (10 MB for the extension): when the pictures do not fit, the
  // texts are kept without them.
  chrome.storage.session.set({ [key]: { sessionId: conversation.sessionId, turns } }).catch(() => {
    const texts = turns.map((turn) => ({ ...turn, attachments: [] }));
    return chrome.storage.session.set({ [key]: { sessionId: conversation.sessionId, turns: texts } }).catch(() => undefined);
  });
}

async function conversationFor(tabId: number): Promise<Conversation> {
  let conversation = conversations.get(tabId);
  if (conversation) return conversation;
  const stored = (await chrome.storage.session.get(storageKey(tabId)))[storageKey(tabId)] as
    | { sessionId: string; turns: StoredTurn[] }
    | undefined;
  conversation = conversations.get(tabId);
  if (conversation) return conversation;
  conversation = {
    tabId,
    sessionId: stored?.sessionId ?? newSessionId(),
    turns: [],
    generation: stored ? -1 : undefined,
    view: el("div", { className: "conversation" }),
    running: undefined,
  };
  conversations.set(tabId, conversation);
  for (const turn of stored?.turns ?? []) {
    conversation.turns.push(turn);
    const view = turnView(conversation, turn);
    view.renderer.append(turn.answer);
    view.renderer.finish();
    for (const attachment of turn.attachments) view.attachments.append(attachmentView(attachment));
    view.setState(turn.state, turn.error);
  }
  if (conversation.turns.length === 0) conversation.view.append(emptyHint());
  return conversation;
}

function emptyHint(): HTMLElement {
  return el("p", { className: "empty", text: "Ask about the page in this tab. Enter sends, Shift+Enter starts a new line." });
}

async function show(tabId: number): Promise<void> {
  const conversation = await conversationFor(tabId);
  // A picked element belongs to its tab's page.
  if (current && current !== conversation && picked) {
    picked = undefined;
    showPicked();
  }
  current = conversation;
  log.replaceChildren(conversation.view);
  updateControls();
  try {
    const tab = await chrome.tabs.get(tabId);
    tabLabel.textContent = tab.title || tab.url || `Tab ${tabId}`;
  } catch {
    tabLabel.textContent = `Tab ${tabId} (closed)`;
  }
  log.scrollTop = log.scrollHeight;
}

function updateControls(): void {
  const running = current?.running;
  stop.hidden = !running;
  stop.disabled = running?.stopping ?? false;
  stop.textContent = running?.stopping ? "Stopping…" : "Stop";
  send.disabled = !!running;
}

interface TurnView {
  root: HTMLElement;
  renderer: StreamingMarkdown;
  attachments: HTMLElement;
  extras: HTMLElement;
  setState(state: TurnState, error?: string): void;
}

function turnView(conversation: Conversation, turn: StoredTurn): TurnView {
  conversation.view.querySelector(".empty")?.remove();
  const answer = el("div", { className: "answer markdown" });
  const attachments = el("div", { className: "attachments" });
  const status = el("div", { className: "turn-status", attrs: { role: "status" } });
  const extras = el("div", { className: "answer-extras" });
  const root = el("article", { className: "turn" }, [
    el("div", { className: "user", text: turn.prompt }),
    el("div", { className: "assistant" }, [answer, attachments, status, extras]),
  ]);
  conversation.view.append(root);
  return {
    root,
    renderer: new StreamingMarkdown(answer),
    attachments,
    extras,
    setState(state, error) {
      root.dataset.state = state;
      const texts: Record<TurnState, string> = {
        streaming: "Codex is answering…",
        done: "",
        failed: error ?? "The turn failed.",
        interrupted: error ?? "Interrupted: the connection to Vellora closed before the answer was complete.",
        stopped: "Stopped.",
      };
      status.replaceChildren(withCode(texts[state]));
      status.className = `turn-status ${state}`;
    },
  };
}

function attachmentView(attachment: Attachment): HTMLElement {
  const label = attachment.label || "Attachment";
  const dataUrl = typeof attachment.dataUrl === "string" && /^data:image\/[\w.+-]+;base64,/i.test(attachment.dataUrl) ? attachment.dataUrl : undefined;
  if (!dataUrl) return el("div", { className: "attachment", text: `${label} (not shown: not an image)` });
  const extension = (attachment.mimeType ?? "image/png").split("/")[1]?.replace(/[^\w]/g, "") || "png";
  const name = `${(attachment.id ?? "image").replace(/[^\w.-]/g, "_")}.${extension}`;
  return el("figure", { className: "attachment" }, [
    el("img", { attrs: { src: dataUrl, alt: label } }),
    el("figcaption", {}, [
      el("span", { text: label }),
      el("a", { text: "Download", attrs: { href: dataUrl, download: name } }),
    ]),
  ]);
}

function describeError(error: unknown): { interrupted: boolean; text: string } {
  if (error instanceof HostError) {
    if (error.code === DISCONNECTED) {
      const advice = disconnectAdvice(error.message);
      if (advice) showBanner([advice], "error");
      // With advice the turn never reached a host; the banner says what to do.
      return { interrupted: true, text: advice ? `Not sent: ${error.message}` : `Interrupted: ${error.message}` };
    }
    return { interrupted: false, text: `${error.message} (${error.code})` };
  }
  return { interrupted: false, text: String(error) };
}

async function sendPrompt(): Promise<void> {
  const conversation = current;
  const text = prompt.value;
  if (!conversation || conversation.running || text.trim() === "") return;
  prompt.value = "";
  const commands = picker.take();
  const pickedElement = takePicked();
  const turn: StoredTurn = { prompt: text, answer: "", attachments: [], state: "streaming" };
  conversation.turns.push(turn);
  const view = turnView(conversation, turn);
  view.setState("streaming");
  const requestId = client.nextRequestId();
  conversation.running = { requestId, turn, stopping: false };
  updateControls();
  log.scrollTop = log.scrollHeight;

  const notes: string[] = [];
  const page = await capturePage(conversation.tabId, screenshot.checked);
  notes.push(...page.notes);
  if (notes.length) view.root.insertBefore(el("div", { className: "notes" }, notes.map((note) => el("p", { text: note }))), view.root.children[1]!);

  const hadEarlierTurns = conversation.turns.length > 1;
  const finished = client.turn(
    {
      sessionId: conversation.sessionId,
      prompt: text,
      ...(page.context ? { context: pickedElement ? { ...page.context, pickedElement } : page.context } : {}),
      ...(commands.length ? { commands } : {}),
    },
    {
      onDelta: (delta) => {
        turn.answer += delta;
        view.renderer.append(delta);
      },
      onAttachment: (attachment) => {
        turn.attachments.push(attachment);
        view.attachments.append(attachmentView(attachment));
      },
    },
    requestId,
  );
  if (hadEarlierTurns && conversation.generation !== client.generation) {
    view.root.insertBefore(
      el("p", {
        className: "restarted",
        text: "Vellora was restarted: Codex starts afresh and no longer remembers the earlier messages of this chat.",
      }),
      view.root.firstChild,
    );
  }
  conversation.generation = client.generation;
  try {
    await finished;
    turn.state = conversation.running?.stopping ? "stopped" : "done";
  } catch (error) {
    const { interrupted, text: message } = describeError(error);
    turn.state = interrupted ? "interrupted" : "failed";
    turn.error = message;
  }
  view.renderer.finish();
  view.setState(turn.state, turn.error);
  conversation.running = undefined;
  if (current === conversation) updateControls();
  save(conversation);
  // Only a complete answer may change the page: a stopped one may end mid-block.
  if (turn.state === "done") {
    try {
      const shown = await pageActions().answerFinished({ text: turn.answer, tabId: conversation.tabId, attachments: turn.attachments });
      if (shown) view.extras.append(shown);
    } catch {
      // A page-actions module that fails leaves the answer as it is.
    }
  }
}

function showPicked(): void {
  if (!picked) {
    pickedChip.replaceChildren();
    return;
  }
  const remove = el("button", { className: "chip-remove", text: "×", attrs: { type: "button", "aria-label": "Remove the picked element" } });
  remove.addEventListener("click", () => {
    picked = undefined;
    showPicked();
  });
  const description = picked.selector.length > 60 ? `${picked.selector.slice(0, 57)}…` : picked.selector;
  // The text is cut short to fit; the remove button beside it stays in sight.
  const label = el("span", { className: "chip-text", text: `Picked ${picked.tag}: ${description}` });
  pickedChip.replaceChildren(el("span", { className: "chip", attrs: { "data-kind": "element", title: picked.text } }, [label, remove]));
}

function takePicked(): PickedElement | undefined {
  const taken = picked;
  picked = undefined;
  showPicked();
  return taken;
}

function showPicking(on: boolean): void {
  pickButton.textContent = on ? "Cancel pick" : "Pick element";
  pickButton.setAttribute("aria-pressed", String(on));
}

async function pickElement(): Promise<void> {
  const conversation = current;
  if (!conversation) return;
  if (picking !== undefined) {
    await actions.cancelPick(picking);
    return;
  }
  picking = conversation.tabId;
  showPicking(true);
  try {
    const element = await actions.pick(conversation.tabId);
    if (element) {
      picked = element;
      showPicked();
    }
  } catch {
    // The page went away while picking.
  } finally {
    picking = undefined;
    showPicking(false);
  }
}

async function stopTurn(): Promise<void> {
  const conversation = current;
  if (!conversation?.running || conversation.running.stopping) return;
  conversation.running.stopping = true;
  updateControls();
  try {
    await client.cancel(conversation.sessionId);
  } catch {
    // The turn's own reply tells how it ended.
  }
}

function startNewChat(): void {
  const conversation = current;
  if (!conversation) return;
  if (conversation.running) void stopTurn();
  conversation.sessionId = newSessionId();
  conversation.turns = [];
  conversation.generation = undefined;
  conversation.view = el("div", { className: "conversation" }, [emptyHint()]);
  log.replaceChildren(conversation.view);
  save(conversation);
  prompt.focus();
}

async function checkHealth(): Promise<void> {
  try {
    const reply = await client.request("health", "health");
    showBanner(reply.status ? healthProblems(reply.status) : []);
  } catch (error) {
    if (error instanceof HostError && error.code === DISCONNECTED) {
      showBanner([disconnectAdvice(error.message) ?? `Vellora could not be reached: ${error.message}`], "error");
    } else if (error instanceof HostError) {
      showBanner([`Vellora could not report its health: ${error.message} (${error.code})`], "error");
    }
  }
}

client.onDisconnect((reason) => {
  const advice = disconnectAdvice(reason);
  if (advice) showBanner([advice], "error");
});

form.addEventListener("submit", (event) => {
  event.preventDefault();
  void sendPrompt();
});
prompt.addEventListener("keydown", (event) => {
  if (event.key === "Enter" && !event.shiftKey && !event.isComposing) {
    event.preventDefault();
    void sendPrompt();
  }
});
stop.addEventListener("click", () => void stopTurn());
pickButton.addEventListener("click", () => void pickElement());
autoApply.addEventListener("change", () => {
  actions.autoApply = autoApply.checked;
  void chrome.storage.local.set({ autoApply: autoApply.checked });
});
newChat.addEventListener("click", startNewChat);
commandsButton.addEventListener("click", () => {
  if (picker.isOpen) picker.close();
  else {
    commandsButton.setAttribute("aria-expanded", "true");
    picker.open();
  }
});

chrome.tabs.onRemoved.addListener((tabId) => {
  conversations.delete(tabId);
  void chrome.storage.session.remove(storageKey(tabId));
});

async function start(): Promise<void> {
  void checkHealth();
  const settings = await chrome.storage.local.get("autoApply");
  autoApply.checked = settings.autoApply !== false;
  actions.autoApply = autoApply.checked;
  if (Number.isInteger(fixedTab)) {
    await show(fixedTab);
    return;
  }
  const window = await chrome.windows.getCurrent();
  chrome.tabs.onActivated.addListener((info) => {
    if (info.windowId === window.id) void show(info.tabId);
  });
  chrome.tabs.onUpdated.addListener((tabId, change) => {
    if (tabId === current?.tabId && change.title) tabLabel.textContent = change.title;
  });
  const [tab] = await chrome.tabs.query({ active: true, windowId: window.id! });
  if (tab?.id !== undefined) await show(tab.id);
}

void start();
