// The side panel page.
export {};
