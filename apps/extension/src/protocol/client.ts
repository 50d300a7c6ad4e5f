// The conversation with the native host over one Native Messaging port at a time.
//
// Requests carry a fresh `requestId`; each reply is routed back to its request by that id. A
// reply without one (the host's fatal "native_host_error") ends every request in flight. When
// the port closes (the host exited, or Chrome could not start it), every request in flight ends
// with a "disconnected" failure carrying Chrome's reason, and the next request opens a new port:
// a new host process, which knows none of the earlier Codex threads. `generation` counts the
// ports so that a conversation can tell that its host was restarted under it.

import type { Attachment, Envelope } from "./messages.js";

// What the client needs of a port; chrome.runtime.Port has it, tests pass their own.
export interface PortLike {
  postMessage(message: unknown): void;
  disconnect(): void;
  onMessage: { addListener(listener: (message: unknown) => void): void };
  onDisconnect: { addListener(listener: () => void): void };
}

// Opens a port; `lastError` gives Chrome's reason after a disconnect.
export interface PortFactory {
  connect(): PortLike;
  lastError(): string | undefined;
}

export class HostError extends Error {
  constructor(
    readonly code: string,
    message: string,
  ) {
    super(message);
  }
}

export const DISCONNECTED = "disconnected";

export interface TurnHandlers {
  onDelta(text: string): void;
  onAttachment(attachment: Attachment): void;
}

interface Pending {
  // Whether `message` ends the request; replies that do not end it are streamed.
  accept(message: Envelope): boolean;
  fail(error: HostError): void;
}

export class HostClient {
  private port: PortLike | undefined;
  private pending = new Map<string, Pending>();
  private counter = 0;
  private readonly prefix = Math.random().toString(36).slice(2, 8);
  private generationValue = 0;
  private readonly disconnectListeners: ((reason: string) => void)[] = [];

  constructor(private readonly factory: PortFactory) {}

  // The number of ports opened so far; the current one's number while connected.
  get generation(): number {
    return this.generationValue;
  }

  get connected(): boolean {
    return this.port !== undefined;
  }

  onDisconnect(listener: (reason: string) => void): void {
    this.disconnectListeners.push(listener);
  }

  nextRequestId(): string {
    this.counter += 1;
    return `${this.prefix}-${this.counter}`;
  }

  // One request answered by one reply of `replyType` (or an "error").
  request(type: string, replyType: string, fields: Partial<Envelope> = {}): Promise<Envelope> {
    const requestId = fields.requestId ?? this.nextRequestId();
    return new Promise((resolve, reject) => {
      this.pending.set(requestId, {
        accept: (message) => {
          if (message.type === "error") {
            reject(new HostError(message.code ?? "error", message.message ?? ""));
            return true;
          }
          if (message.type !== replyType) return false;
          resolve(message);
          return true;
        },
        fail: reject,
      });
      this.send({ ...fields, type, requestId });
    });
  }

  // A chat turn: resolves at "chat.done", fails at an "error" or when the port closes.
  turn(fields: Omit<Envelope, "type" | "requestId">, handlers: TurnHandlers, requestId = this.nextRequestId()): Promise<void> {
    return new Promise((resolve, reject) => {
      this.pending.set(requestId, {
        accept: (message) => {
          switch (message.type) {
            case "chat.delta":
              if (typeof message.delta === "string") handlers.onDelta(message.delta);
              return false;
            case "chat.attachment":
              if (message.attachment && typeof message.attachment === "object") handlers.onAttachment(message.attachment);
              return false;
            case "chat.done":
              resolve();
              return true;
            case "error":
              reject(new HostError(message.code ?? "error", message.message ?? ""));
              return true;
            default:
              return false;
          }
        },
        fail: reject,
      });
      this.send({ ...fields, type: "chat.turn", requestId });
    });
  }

  // Asks the host to stop the running turn of `sessionId`; resolves at "chat.cancelled".
  cancel(sessionId: string): Promise<Envelope> {
    return this.request("chat.cancel", "chat.cancelled", { sessionId });
  }

  close(): void {
    const port = this.port;
    if (!port) return;
    this.port = undefined;
    port.disconnect();
    this.failAll(new HostError(DISCONNECTED, "The connection to Vellora was closed."));
  }

  private send(message: Envelope): void {
    const port = this.ensurePort();
    try {
      port.postMessage(message);
    } catch (error) {
      // A port that Chrome has already closed throws; its onDisconnect follows or has run.
      this.handleDisconnect(port, error instanceof Error ? error.message : String(error));
    }
  }

  private ensurePort(): PortLike {
    if (this.port) return this.port;
    const port = this.factory.connect();
    this.port = port;
    this.generationValue += 1;
    port.onMessage.addListener((message) => {
      if (this.port === port) this.route(message);
    });
    port.onDisconnect.addListener(() => {
      this.handleDisconnect(port, this.factory.lastError() ?? "The Vellora host has exited.");
    });
    return port;
  }

  private handleDisconnect(port: PortLike, reason: string): void {
    if (this.port !== port) return;
    this.port = undefined;
    this.failAll(new HostError(DISCONNECTED, reason));
    for (const listener of this.disconnectListeners) listener(reason);
  }

  private failAll(error: HostError): void {
    const pending = [...this.pending.values()];
    this.pending.clear();
    for (const request of pending) request.fail(error);
  }

  private route(raw: unknown): void {
    if (!raw || typeof raw !== "object" || typeof (raw as Envelope).type !== "string") return;
    const message = raw as Envelope;
    if (message.requestId === undefined) {
      // Only the fatal error comes without a request id; the host ends after it.
      if (message.type === "error") {
        this.failAll(new HostError(message.code ?? "native_host_error", message.message ?? ""));
      }
      return;
    }
    const request = this.pending.get(message.requestId);
    if (!request) return;
    if (request.accept(message)) this.pending.delete(message.requestId);
  }
}

// The port to the installed host, through Chrome.
export function chromePortFactory(hostName: string): PortFactory {
  return {
    connect: () => chrome.runtime.connectNative(hostName),
    lastError: () => chrome.runtime.lastError?.message,
  };
}
