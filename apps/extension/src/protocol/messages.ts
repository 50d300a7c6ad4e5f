// The messages exchanged with the native host "com.vellora.companion". Every message, in either
// direction, is one envelope whose fields are all optional except `type`.

export const HOST_NAME = "com.vellora.companion";

export type HealthState = "unknown" | "ready" | "missing" | "starting" | "error";

export interface CompanionHealth {
  companion: HealthState;
  nativeHost: HealthState;
  extension: HealthState;
  codex: HealthState;
  appServer: HealthState;
  auth: HealthState;
}

export interface Attachment {
  id?: string;
  kind?: string;
  label?: string;
  mimeType?: string;
  dataUrl?: string;
  createdAt?: string;
  filePath?: string;
}

// A command picked for a turn, named as the catalog names it.
export interface SelectedCommand {
  kind: string;
  name: string;
  path: string;
  title?: string;
}

export interface Envelope {
  type: string;
  requestId?: string;
  sessionId?: string;
  prompt?: string;
  context?: unknown;
  commands?: SelectedCommand[];
  model?: string;
  reasoningEffort?: string;
  ok?: boolean;
  app?: string;
  version?: string;
  status?: CompanionHealth;
  delta?: string;
  attachment?: Attachment;
  messageId?: string;
  code?: string;
  message?: string;
  catalog?: Catalog;
}

export interface CatalogEntry {
  kind: string;
  name?: string;
  id?: string;
  title?: string;
  description?: string;
  path?: string;
  enabled?: unknown;
  installed?: unknown;
  hidden?: unknown;
  isDefault?: unknown;
}

export interface Catalog {
  skills?: CatalogEntry[];
  plugins?: CatalogEntry[];
  apps?: CatalogEntry[];
  models?: CatalogEntry[];
  errors?: { method?: string; message?: string }[];
}

// Chrome's words when the host manifest is missing or names no program it can start.
export const HOST_NOT_FOUND = "Specified native messaging host not found.";
