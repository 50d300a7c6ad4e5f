// The seam for page actions: what the panel hands over when an answer is finished, and where
// the panel shows what comes back, as a list under that answer. Nothing here acts on a page
// yet; `setPageActions` installs the module that will.

import type { Attachment } from "../protocol/messages.js";

export interface FinishedAnswer {
  // The answer's whole text as the model wrote it (Markdown).
  text: string;
  // The tab whose conversation the answer belongs to.
  tabId: number;
  // The attachments of the answer's turn, in arrival order.
  attachments: readonly Attachment[];
}

// One line of the list shown under an answer.
export interface AnswerListItem {
  label: string;
  detail?: string;
  // Runs when the user chooses the line; absent for lines that only inform.
  run?: () => void | Promise<void>;
}

export interface PageActions {
  // Called once per finished answer (not for failed or interrupted ones); the list returned is
  // shown under the answer, nothing when it is empty.
  answerFinished(answer: FinishedAnswer): AnswerListItem[] | Promise<AnswerListItem[]>;
}

const none: PageActions = { answerFinished: () => [] };
let current: PageActions = none;

export function setPageActions(actions: PageActions): void {
  current = actions;
}

export function pageActions(): PageActions {
  return current;
}
