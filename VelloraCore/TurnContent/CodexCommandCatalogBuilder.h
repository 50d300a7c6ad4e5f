#pragma once

#include "VelloraCore/Protocol/JSONValue.h"

namespace vellora {

// Turns the results of "skills/list", "plugin/list", "app/list" and "model/list" into the
// catalog that the extension shows:
//
//   {"skills": [...], "plugins": [...], "apps": [...], "models": [...], "errors": [...],
//    "slashCommands": [{"name": "model", "title": "Switch model", ...}]}
//
// Entries that cannot be built are dropped; skills, plugins and apps lose repeats (by "path",
// else "id", else "name", one key set for all); every list is sorted stably by title, compared
// case-insensitively under the user's locale. Stateless; never fails and never touches the disk.
class CodexCommandCatalogBuilder {
 public:
  // `errors` goes into the catalog unchanged.
  JSONValue catalog(const JSONValue& skillsResponse, const JSONValue& pluginResponse,
                    const JSONValue& appsResponse, const JSONValue& modelsResponse,
                    JSONValue::Array errors) const;

  // One list from one response; anything of the wrong shape counts as empty.
  JSONValue::Array skills(const JSONValue& response) const;
  JSONValue::Array plugins(const JSONValue& response) const;
  JSONValue::Array apps(const JSONValue& response) const;
  JSONValue::Array models(const JSONValue& response) const;
};

}  // namespace vellora
