// What page actions change on elements the page owns, kept as layers over the page's own
// values so that removing any one action, in any order, leaves the element as if that action
// had never run: each change is pushed with its action's id and popped by that id, and the
// element shows the newest remaining layer, or its own value once none remains.
// Runs in the page (the extension's isolated world).

interface StyleProperty {
  base: { value: string; priority: string };
  layers: { id: string; value: string; priority: string }[];
}

interface StyleState {
  attribute: string | null;
  cssText: string;
  properties: Map<string, StyleProperty>;
}

type Styled = Element & ElementCSSInlineStyle;

const styles = new WeakMap<Element, StyleState>();

// Sets `property` on `element`'s inline style as the action `id`'s layer.
export function pushStyle(element: Styled, property: string, value: string, id: string): void {
  let state = styles.get(element);
  if (!state) {
    state = { attribute: element.getAttribute("style"), cssText: element.style.cssText, properties: new Map() };
    styles.set(element, state);
  }
  let entry = state.properties.get(property);
  if (!entry) {
    entry = {
      base: { value: element.style.getPropertyValue(property), priority: element.style.getPropertyPriority(property) },
      layers: [],
    };
    state.properties.set(property, entry);
  }
  entry.layers.push({ id, value, priority: "important" });
  element.style.setProperty(property, value, "important");
}

export function popStyle(element: Styled, property: string, id: string): void {
  const state = styles.get(element);
  const entry = state?.properties.get(property);
  if (!state || !entry) return;
  entry.layers = entry.layers.filter((layer) => layer.id !== id);
  const shown = entry.layers.at(-1) ?? entry.base;
  if (shown.value === "") element.style.removeProperty(property);
  else element.style.setProperty(property, shown.value, shown.priority);
  if (entry.layers.length > 0) return;
  state.properties.delete(property);
  if (state.properties.size > 0) return;
  styles.delete(element);
  // With every layer gone the style says what it said before; give back the page's own
  // attribute text (or its absence), not the browser's re-serialisation of it.
  if (element.style.cssText === state.cssText) {
    // Reading the attribute first brings it up to date with the style object; otherwise the
    // browser writes the (empty) style back into it later, after we removed it.
    element.getAttribute("style");
    if (state.attribute === null) element.removeAttribute("style");
    else element.setAttribute("style", state.attribute);
  }
}

interface AttributeState {
  base: string | null;
  layers: { id: string; value: string | null }[];
}

const attributes = new WeakMap<Element, Map<string, AttributeState>>();

function showAttribute(element: Element, name: string, value: string | null): void {
  if (value === null) element.removeAttribute(name);
  else element.setAttribute(name, value);
}

// Sets (or, with null, removes) attribute `name` as the action `id`'s layer.
export function pushAttribute(element: Element, name: string, value: string | null, id: string): void {
  let byName = attributes.get(element);
  if (!byName) attributes.set(element, (byName = new Map()));
  let state = byName.get(name);
  if (!state) byName.set(name, (state = { base: element.getAttribute(name), layers: [] }));
  state.layers.push({ id, value });
  showAttribute(element, name, value);
}

export function popAttribute(element: Element, name: string, id: string): void {
  const byName = attributes.get(element);
  const state = byName?.get(name);
  if (!byName || !state) return;
  state.layers = state.layers.filter((layer) => layer.id !== id);
  const top = state.layers.at(-1);
  showAttribute(element, name, top ? top.value : state.base);
  if (state.layers.length === 0) byName.delete(name);
}

interface TextState {
  base: Node[];
  layers: { id: string; value: string }[];
}

const texts = new WeakMap<Element, TextState>();
// The nodes that a text layer took out of the page, by the state that keeps them to put back.
const keptBy = new WeakMap<Node, TextState>();

// Replaces `element`'s content by `value` as text; the page's own nodes are kept to be put back.
export function pushText(element: Element, value: string, id: string): void {
  let state = texts.get(element);
  if (!state) {
    texts.set(element, (state = { base: Array.from(element.childNodes), layers: [] }));
    for (const node of state.base) keptBy.set(node, state);
  }
  state.layers.push({ id, value });
  element.textContent = value;
}

// Replaces `node`, which a text layer keeps out of the page to put back later, by `replacements`
// (adjacent texts joined, as normalize() would), so that the page gets those back instead. An
// action that wrapped page nodes undoes itself this way when a newer text layer hides them.
// False when no text layer keeps `node`.
export function replaceKept(node: Node, replacements: Node[]): boolean {
  const state = keptBy.get(node);
  const at = state ? state.base.indexOf(node) : -1;
  if (!state || at < 0) return false;
  keptBy.delete(node);
  const nodes = state.base.slice(0, at).concat(replacements, state.base.slice(at + 1));
  const joined: Node[] = [];
  for (const next of nodes) {
    const last = joined.at(-1);
    if (next instanceof Text && last instanceof Text) {
      last.appendData(next.data);
      keptBy.delete(next);
    } else {
      joined.push(next);
      keptBy.set(next, state);
    }
  }
  state.base = joined.filter((kept) => !(kept instanceof Text && kept.data === "" && joined.length > 1));
  return true;
}

export function popText(element: Element, id: string): void {
  const state = texts.get(element);
  if (!state) return;
  state.layers = state.layers.filter((layer) => layer.id !== id);
  const top = state.layers.at(-1);
  if (top) {
    element.textContent = top.value;
    return;
  }
  for (const node of state.base) keptBy.delete(node);
  element.replaceChildren(...state.base);
  texts.delete(element);
}

interface OrderState {
  base: Node[];
  layers: { id: string; items: Element[] }[];
}

const orders = new WeakMap<Element, OrderState>();

// Puts `nodes`, in this order, into the places that they hold now among `container`'s
// children; other children stay where they are. Moves only what must move.
function placeInSlots(container: Element, nodes: Node[]): void {
  const present = nodes.filter((node) => node.parentNode === container);
  const set = new Set<Node>(present);
  const children: Node[] = Array.from(container.childNodes);
  const next = children.slice();
  let k = 0;
  children.forEach((child, index) => {
    if (set.has(child)) next[index] = present[k++]!;
  });
  next.forEach((node, index) => {
    if (container.childNodes[index] !== node) container.insertBefore(node, container.childNodes[index] ?? null);
  });
}

// Orders `items` (children of `container`) as given, as the action `id`'s layer.
export function pushOrder(container: Element, items: Element[], id: string): void {
  let state = orders.get(container);
  if (!state) orders.set(container, (state = { base: Array.from(container.childNodes), layers: [] }));
  state.layers.push({ id, items });
  placeInSlots(container, items);
}

export function popOrder(container: Element, id: string): void {
  const state = orders.get(container);
  if (!state) return;
  state.layers = state.layers.filter((layer) => layer.id !== id);
  placeInSlots(container, state.base);
  for (const layer of state.layers) placeInSlots(container, layer.items);
  if (state.layers.length === 0) orders.delete(container);
}
