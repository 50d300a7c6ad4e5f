#pragma once

#include <string_view>

namespace vellora {

// The fixed texts that tell Codex what it is, how to treat the browser page and how to ask for
// page changes. None ends with a line feed.

// "baseInstructions" of every "thread/start".
extern const std::string_view kBaseInstructions;
// "developerInstructions" of every "thread/start".
extern const std::string_view kDeveloperInstructions;
// The sentence before the page-action text in every turn's text item.
extern const std::string_view kUntrustedContextSentence;
// The page-action language that the extension applies; part of every turn's text item. Its last
// line is the closing fence of its example.
extern const std::string_view kPageActionInstructions;

}  // namespace vellora
