// The seam for page actions: what the panel hands over when an answer is finished, and what it
// shows under that answer. `setPageActions` installs the module that acts on pages.

import type { Attachment } from "../protocol/messages.js";

export interface FinishedAnswer {
  // The answer's whole text as the model wrote it (Markdown).
  text: string;
  // The tab whose conversation the answer belongs to.
  tabId: number;
  // The attachments of the answer's turn, in arrival order.
  attachments: readonly Attachment[];
}

export interface PageActions {
  // Called once per completed answer (not for failed, interrupted or stopped ones); the
  // element returned is shown under the answer and kept up to date by the module.
  answerFinished(answer: FinishedAnswer): HTMLElement | undefined | Promise<HTMLElement | undefined>;
}

const none: PageActions = { answerFinished: () => undefined };
let current: PageActions = none;

export function setPageActions(actions: PageActions): void {
  current = actions;
}

export function pageActions(): PageActions {
  return current;
}
