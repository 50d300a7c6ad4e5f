import assert from "node:assert/strict";
import { test } from "node:test";
import { DISCONNECTED, HostClient, HostError, type PortFactory, type PortLike } from "../../src/protocol/client.js";
import type { Envelope } from "../../src/protocol/messages.js";

// A port whose other end the test plays.
class FakePort implements PortLike {
  sent: Envelope[] = [];
  disconnected = false;
  private messageListeners: ((message: unknown) => void)[] = [];
  private disconnectListeners: (() => void)[] = [];
  onMessage = { addListener: (listener: (message: unknown) => void) => void this.messageListeners.push(listener) };
  onDisconnect = { addListener: (listener: () => void) => void this.disconnectListeners.push(listener) };
  postMessage(message: unknown): void {
    if (this.disconnected) throw new Error("Attempting to use a disconnected port object");
    this.sent.push(message as Envelope);
  }
  disconnect(): void {
    this.disconnected = true;
  }
  reply(message: Envelope): void {
    for (const listener of this.messageListeners) listener(message);
  }
  hostExited(): void {
    this.disconnected = true;
    for (const listener of this.disconnectListeners) listener();
  }
}

function setUp(): { client: HostClient; ports: FakePort[]; setError(text: string | undefined): void } {
  const ports: FakePort[] = [];
  let error: string | undefined;
  const factory: PortFactory = {
    connect: () => {
      const port = new FakePort();
      ports.push(port);
      return port;
    },
    lastError: () => error,
  };
  return { client: new HostClient(factory), ports, setError: (text) => (error = text) };
}

test("replies reach their own request by request id, in any order", async () => {
  const { client, ports } = setUp();
  const health = client.request("health", "health");
  const ping = client.request("ping", "pong");
  const [first, second] = ports[0]!.sent;
  assert.equal(first!.type, "health");
  assert.equal(second!.type, "ping");
  assert.notEqual(first!.requestId, second!.requestId);
  ports[0]!.reply({ type: "pong", requestId: second!.requestId, ok: true });
  ports[0]!.reply({ type: "health", requestId: "someone-else", ok: true });
  ports[0]!.reply({ type: "health", requestId: first!.requestId, ok: true, app: "mine" });
  assert.equal((await ping).type, "pong");
  assert.equal((await health).app, "mine");
  assert.equal(ports.length, 1, "one port serves every request");
});

test("a turn streams its deltas and attachments and ends at chat.done", async () => {
  const { client, ports } = setUp();
  const deltas: string[] = [];
  const attachments: unknown[] = [];
  const other: string[] = [];
  const turn = client.turn({ sessionId: "s1", prompt: "Hi" }, { onDelta: (d) => deltas.push(d), onAttachment: (a) => attachments.push(a) });
  const otherTurn = client.turn({ sessionId: "s2", prompt: "Yo" }, { onDelta: (d) => other.push(d), onAttachment: () => {} });
  const [mine, theirs] = ports[0]!.sent;
  assert.deepEqual({ ...mine, requestId: undefined }, { type: "chat.turn", sessionId: "s1", prompt: "Hi", requestId: undefined });
  ports[0]!.reply({ type: "chat.delta", requestId: mine!.requestId, sessionId: "s1", delta: "Hel" });
  ports[0]!.reply({ type: "chat.delta", requestId: theirs!.requestId, sessionId: "s2", delta: "other" });
  ports[0]!.reply({ type: "chat.attachment", requestId: mine!.requestId, attachment: { id: "generated_a" } });
  ports[0]!.reply({ type: "chat.delta", requestId: mine!.requestId, delta: "lo" });
  ports[0]!.reply({ type: "chat.done", requestId: mine!.requestId, sessionId: "s1" });
  await turn;
  // A late delta of a finished turn goes nowhere.
  ports[0]!.reply({ type: "chat.delta", requestId: mine!.requestId, delta: "late" });
  assert.deepEqual(deltas, ["Hel", "lo"]);
  assert.deepEqual(attachments, [{ id: "generated_a" }]);
  ports[0]!.reply({ type: "error", requestId: theirs!.requestId, code: "chat_turn_failed", message: "boom" });
  await assert.rejects(otherTurn, (error: HostError) => error.code === "chat_turn_failed" && error.message === "boom");
  assert.deepEqual(other, ["other"]);
});

test("an error without request id ends every request in flight", async () => {
  const { client, ports } = setUp();
  const turn = client.turn({ sessionId: "s", prompt: "p" }, { onDelta: () => {}, onAttachment: () => {} });
  const health = client.request("health", "health");
  ports[0]!.reply({ type: "error", code: "native_host_error", message: "Native Messaging frame payload is truncated." });
  for (const request of [turn, health]) {
    await assert.rejects(request, (error: HostError) => error.code === "native_host_error");
  }
});

test("when the host exits, requests fail with Chrome's reason and the next request reconnects", async () => {
  const { client, ports, setError } = setUp();
  const reasons: string[] = [];
  client.onDisconnect((reason) => reasons.push(reason));
  const turn = client.turn({ sessionId: "s", prompt: "p" }, { onDelta: () => {}, onAttachment: () => {} });
  assert.equal(client.generation, 1);
  setError("Native host has exited.");
  ports[0]!.hostExited();
  await assert.rejects(turn, (error: HostError) => error.code === DISCONNECTED && error.message === "Native host has exited.");
  assert.deepEqual(reasons, ["Native host has exited."]);
  assert.equal(client.connected, false);

  const ping = client.request("ping", "pong");
  assert.equal(ports.length, 2);
  assert.equal(client.generation, 2, "a new port is a new host");
  ports[1]!.reply({ type: "pong", requestId: ports[1]!.sent[0]!.requestId });
  await ping;
  // Replies on the old port are not routed any more.
  ports[0]!.reply({ type: "pong", requestId: ports[1]!.sent[0]!.requestId });
});

test("a host that cannot be started fails the request with Chrome's words", async () => {
  const { client, ports, setError } = setUp();
  const health = client.request("health", "health");
  setError("Specified native messaging host not found.");
  ports[0]!.hostExited();
  await assert.rejects(health, (error: HostError) => error.code === DISCONNECTED && error.message === "Specified native messaging host not found.");
});

test("cancel names the session and resolves at chat.cancelled", async () => {
  const { client, ports } = setUp();
  const cancelled = client.cancel("s9");
  const [request] = ports[0]!.sent;
  assert.equal(request!.type, "chat.cancel");
  assert.equal(request!.sessionId, "s9");
  ports[0]!.reply({ type: "chat.cancelled", requestId: request!.requestId, sessionId: "s9" });
  assert.equal((await cancelled).type, "chat.cancelled");
});
