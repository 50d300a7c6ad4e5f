// Runs inside the page (the extension's isolated world, injected by chrome.scripting) and
// defines `velloraPageContext`, which reads what the page shows: its address, title, selection,
// visible text, headings, images and links, within the limits of limits.ts. The page's own
// scripts cannot see or change this world's globals.

import { CONTEXT_LIMITS, cutText, tidyText, type PageContext } from "./limits.js";
import { idCounter, uniqueSelector } from "./selector.js";

function collect(): Omit<PageContext, "viewportCapture"> {
  const document = window.document;
  const idCount = idCounter(document);

  const headings: PageContext["headings"] = [];
  for (const heading of Array.from(document.querySelectorAll("h1, h2, h3, h4, h5, h6"))) {
    if (headings.length >= CONTEXT_LIMITS.headings) break;
    const text = tidyText((heading as HTMLElement).innerText ?? heading.textContent ?? "", CONTEXT_LIMITS.itemText);
    if (text) headings.push({ level: Number(heading.tagName.slice(1)), text });
  }

  const images: PageContext["images"] = [];
  for (const image of Array.from(document.images)) {
    if (images.length >= CONTEXT_LIMITS.images) break;
    const src = image.currentSrc || image.src;
    if (!src || src.length > CONTEXT_LIMITS.address) continue;
    images.push({
      selector: uniqueSelector(image, idCount),
      src,
      alt: tidyText(image.alt, CONTEXT_LIMITS.itemText),
      width: image.width,
      height: image.height,
    });
  }

  const links: PageContext["links"] = [];
  for (const link of Array.from(document.querySelectorAll<HTMLAnchorElement>("a[href]"))) {
    if (links.length >= CONTEXT_LIMITS.links) break;
    const href = link.href;
    if (!href || href.length > CONTEXT_LIMITS.address) continue;
    links.push({ text: tidyText(link.innerText ?? link.textContent ?? "", CONTEXT_LIMITS.itemText), href });
  }

  return {
    url: location.href,
    title: document.title,
    selection: cutText(window.getSelection()?.toString() ?? "", CONTEXT_LIMITS.text),
    text: cutText(document.body?.innerText ?? "", CONTEXT_LIMITS.text),
    headings,
    images,
    links,
  };
}

(globalThis as { velloraPageContext?: typeof collect }).velloraPageContext = collect;
