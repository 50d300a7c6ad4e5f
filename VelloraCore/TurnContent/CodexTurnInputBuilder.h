#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "VelloraCore/Protocol/JSONValue.h"

namespace vellora {

class FileSystem;

// Turns one chat request (prompt, page context, selected commands) into the "input" array of a
// Codex "turn/start" request. The bridge owns one for its whole life; it is immutable and reads
// skill files anew on every call, so it may run on whatever thread runs the turn.
//
//   input("Hi", &context, &commands) ==
//     [{"type": "text", "text": formatPrompt(...), "text_elements": []},
//      {"type": "image", "url": context.viewportCapture.dataUrl}]   // only with a screenshot
class CodexTurnInputBuilder {
 public:
  // Stands in the text for the screenshot, which travels as the image item.
  static constexpr std::string_view kScreenshotPlaceholder = "[attached as image input]";
  // Skill files longer than this are not read at all.
  static constexpr std::size_t kMaxSkillFileBytes = std::size_t{64} << 20;

  // CODEX/skills, CODEX/plugins/cache, HOME/.agents/skills, HOME/.synk/skills, where CODEX is
  // Codex's own folder (HOME/.codex unless CODEX_HOME moved it) and HOME the user's home.
  static std::vector<std::string> defaultAllowedSkillRoots(std::string_view homeDirectory,
                                                           std::string_view codexHomeDirectory);

  // Each root is standardised and resolved through symbolic links now; the order is kept. With
  // no roots no skill file is ever read. The host uses 12000 characters and the default roots.
  CodexTurnInputBuilder(const FileSystem& fileSystem, std::int64_t maxSkillInstructionCharacters,
                        const std::vector<std::string>& allowedSkillRoots);

  const std::vector<std::string>& allowedSkillRoots() const noexcept { return allowedSkillRoots_; }
  std::int64_t maxSkillInstructionCharacters() const noexcept {
    return maxSkillInstructionCharacters_;
  }

  // The array of the text item and, when the context carries a string
  // viewportCapture.dataUrl, the image item with that string unchanged. `context` and
  // `commands` may be null. Never fails; it blocks on reading skill files.
  JSONValue input(std::string_view prompt, const JSONValue* context,
                  const JSONValue* commands) const;
  // As input(), for a context that is not needed afterwards: the screenshot's data URL, often
  // tens of MiB, is moved out of `context` into the image item instead of being copied (an
  // empty string is left in its place).
  JSONValue takeInput(std::string_view prompt, JSONValue* context, const JSONValue* commands) const;

  // The text item's text: the prompt, the selected commands (with skill instructions), the
  // untrusted-context sentence, the page-action instructions and the context as compact JSON
  // (its screenshot replaced by kScreenshotPlaceholder), separated by empty lines. Anything
  // malformed or unreadable only drops its own part.
  std::string formatPrompt(std::string_view prompt, const JSONValue* context,
                           const JSONValue* commands) const;

 private:
  // The array holding the text item only.
  JSONValue textOnlyInput(std::string_view prompt, const JSONValue* context,
                          const JSONValue* commands) const;
  static JSONValue imageItem(JSONValue url);
  // The instructions of the skill file at `path`, trimmed and cut at
  // maxSkillInstructionCharacters user-perceived characters; nothing unless the path is absolute,
  // exists, resolves (links followed) to a file named exactly "SKILL.md" inside an allowed root,
  // and holds valid UTF-8 that is not empty after trimming.
  std::optional<std::string> skillInstructions(const std::string& path) const noexcept;
  std::optional<std::string> commandBlock(const JSONValue& command) const;

  const FileSystem& fileSystem_;
  std::int64_t maxSkillInstructionCharacters_;
  std::vector<std::string> allowedSkillRoots_;
};

}  // namespace vellora
