// The page context of a turn: what the collector reads in the tab, and a screenshot of the
// visible part when asked for and when the tab is the active tab of its window.

import type { PageContext } from "../context/limits.js";

export interface CapturedPage {
  context: PageContext | undefined;
  notes: string[];
}

const NO_SCRIPTS =
  "This page does not let extensions read it (a browser page, the Web Store or a PDF, for example): the message was sent without page context.";

function imageSize(dataUrl: string): Promise<{ width: number; height: number }> {
  return new Promise((resolve, reject) => {
    const image = new Image();
    image.onload = () => resolve({ width: image.naturalWidth, height: image.naturalHeight });
    image.onerror = () => reject(new Error("The screenshot could not be read."));
    image.src = dataUrl;
  });
}

export async function capturePage(tabId: number, withScreenshot: boolean): Promise<CapturedPage> {
  const notes: string[] = [];
  let context: PageContext | undefined;
  try {
    await chrome.scripting.executeScript({ target: { tabId }, files: ["page-context.js"] });
    const [result] = await chrome.scripting.executeScript({
      target: { tabId },
      func: () => (globalThis as unknown as { velloraPageContext: () => unknown }).velloraPageContext(),
    });
    context = result?.result as PageContext | undefined;
  } catch {
    notes.push(NO_SCRIPTS);
    return { context: undefined, notes };
  }
  if (!context) {
    notes.push(NO_SCRIPTS);
    return { context: undefined, notes };
  }
  if (withScreenshot) {
    try {
      const tab = await chrome.tabs.get(tabId);
      if (!tab.active) {
        notes.push("No screenshot was sent: this tab is not the active tab of its window. Bring it to the front to include one.");
      } else {
        const dataUrl = await chrome.tabs.captureVisibleTab(tab.windowId, { format: "jpeg", quality: 80 });
        const { width, height } = await imageSize(dataUrl);
        context.viewportCapture = { dataUrl, width, height };
      }
    } catch (error) {
      notes.push(`No screenshot was sent: ${(error as Error).message}`);
    }
  }
  return { context, notes };
}
