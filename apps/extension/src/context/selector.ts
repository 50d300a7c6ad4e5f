// Unique CSS selectors for elements of a page: `#id` when the id is unique in the document,
// else a child path of `tag:nth-of-type(n)` steps from the nearest ancestor with a unique id (or
// from the root element). Such a path matches exactly one element, the one it was built for.

// What the builder needs of an element; DOM elements have it.
export interface ElementLike {
  readonly tagName: string;
  readonly id: string;
  readonly parentElement: ElementLike | null;
  readonly previousElementSibling: ElementLike | null;
}

// CSS.escape for identifiers, written out so that it can be tested without a browser.
export function cssEscape(value: string): string {
  let result = "";
  for (let index = 0; index < value.length; index++) {
    const code = value.charCodeAt(index);
    const char = value.charAt(index);
    if (code === 0) result += "\uFFFD";
    else if ((code >= 0x1 && code <= 0x1f) || code === 0x7f) result += `\\${code.toString(16)} `;
    else if (index === 0 && code >= 0x30 && code <= 0x39) result += `\\${code.toString(16)} `;
    else if (index === 1 && code >= 0x30 && code <= 0x39 && value.charCodeAt(0) === 0x2d) result += `\\${code.toString(16)} `;
    else if (index === 0 && code === 0x2d && value.length === 1) result += `\\${char}`;
    else if (code >= 0x80 || code === 0x2d || code === 0x5f || (code >= 0x30 && code <= 0x39) || (code >= 0x41 && code <= 0x5a) || (code >= 0x61 && code <= 0x7a)) result += char;
    else result += `\\${char}`;
  }
  return result;
}

function step(element: ElementLike): string {
  const tag = element.tagName.toLowerCase();
  let position = 1;
  for (let sibling = element.previousElementSibling; sibling; sibling = sibling.previousElementSibling) {
    if (sibling.tagName === element.tagName) position += 1;
  }
  return `${cssEscape(tag)}:nth-of-type(${position})`;
}

// `idCount` tells how many elements of the document carry an id.
export function uniqueSelector(element: ElementLike, idCount: (id: string) => number): string {
  const steps: string[] = [];
  for (let current: ElementLike | null = element; current; current = current.parentElement) {
    if (current.id && idCount(current.id) === 1) {
      steps.unshift(`#${cssEscape(current.id)}`);
      return steps.join(" > ");
    }
    if (!current.parentElement) {
      steps.unshift(cssEscape(current.tagName.toLowerCase()));
      return steps.join(" > ");
    }
    steps.unshift(step(current));
  }
  return steps.join(" > ");
}

// The idCount for uniqueSelector over `root` (a document): how many elements carry each id,
// each id counted once however often it is asked for.
export function idCounter(root: { querySelectorAll(selector: string): { length: number } }): (id: string) => number {
  const counts = new Map<string, number>();
  return (id) => {
    let count = counts.get(id);
    if (count === undefined) {
      count = root.querySelectorAll(`[id="${id.replace(/["\\]/g, "\\$&")}"]`).length;
      counts.set(id, count);
    }
    return count;
  };
}
