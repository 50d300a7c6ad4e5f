// The texts that the panel shows about the host and its parts.

import type { CompanionHealth } from "../protocol/messages.js";
import { HOST_NOT_FOUND } from "../protocol/messages.js";

export const SETUP_MESSAGE =
  "Vellora's browser connection is not set up. Choose Fix Browser Connection in the Vellora app's menu " +
  "(Fix Browser in its welcome window), or run `vellora-client fix` in a terminal, then send your message again.";

// What to tell the user when the port to the host closed for `reason` (Chrome's words).
export function disconnectAdvice(reason: string): string | undefined {
  if (reason.includes(HOST_NOT_FOUND)) return `Chrome could not start Vellora: "${reason}" ${SETUP_MESSAGE}`;
  if (/forbidden/i.test(reason)) {
    return "This browser is not allowed to use the Vellora host. Run `vellora-client fix` in a terminal to register this extension.";
  }
  return undefined;
}

// One line per part that is not ready, with what to do about it.
export function healthProblems(status: CompanionHealth): string[] {
  const problems: string[] = [];
  if (status.codex !== "ready") {
    problems.push("Codex is not installed: install Codex, then reopen this panel.");
  } else if (status.appServer === "error") {
    problems.push("Codex's app server cannot start: run `codex app-server --help` in a terminal to see why.");
  } else if (status.appServer === "missing") {
    problems.push("Codex's app server is missing: install a current Codex.");
  }
  if (status.auth !== "ready") problems.push("Codex is not signed in: run `codex login` in a terminal.");
  return problems;
}
