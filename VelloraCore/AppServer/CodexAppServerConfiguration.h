#pragma once

#include <string>
#include <string_view>

#include "VelloraCore/Platform/Environment.h"

namespace vellora {

// What the bridge asks of every turn. The native host builds one at start.
struct CodexAppServerConfiguration {
  static constexpr std::string_view kDefaultModel = "gpt-5.5";

  // The model sent with every turn. No variable of `environment` changes it: it is always
  // kDefaultModel.
  explicit CodexAppServerConfiguration(const Environment& environment);

  std::string model;

  friend bool operator==(const CodexAppServerConfiguration&,
                         const CodexAppServerConfiguration&) = default;
};

}  // namespace vellora
