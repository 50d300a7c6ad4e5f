// Small helpers to build elements without HTML strings.

export function el<K extends keyof HTMLElementTagNameMap>(
  tag: K,
  props: { className?: string; text?: string; attrs?: Record<string, string> } = {},
  children: (Node | string)[] = [],
): HTMLElementTagNameMap[K] {
  const element = document.createElement(tag);
  if (props.className) element.className = props.className;
  if (props.text !== undefined) element.textContent = props.text;
  for (const [name, value] of Object.entries(props.attrs ?? {})) element.setAttribute(name, value);
  element.append(...children);
  return element;
}

// Text with `code` spans for the parts between backticks: "run `codex login`".
export function withCode(text: string): DocumentFragment {
  const fragment = document.createDocumentFragment();
  text.split("`").forEach((part, index) => {
    if (part === "") return;
    fragment.append(index % 2 === 1 ? el("code", { text: part }) : document.createTextNode(part));
  });
  return fragment;
}
