#include "VelloraCore/TurnContent/CodexTurnInputBuilder.h"

#include <unicode/brkiter.h>
#include <unicode/utext.h>

#include <memory>
#include <utility>

#include "VelloraCore/Platform/FileSystem.h"
#include "VelloraCore/Platform/UTF8Text.h"
#include "VelloraCore/TurnContent/CodexInstructions.h"

namespace vellora {

namespace {

// What the prompt's text is given beyond the prompt and the fixed texts before it grows: the
// headings, separators and a few commands.
constexpr std::size_t kRoomForSectionsBytes = 64 * 1024;

constexpr std::string_view kSectionSeparator = "\n\n";
constexpr std::string_view kCommandsHeading =
    "Selected Codex commands below are trusted UI selections made by the user. Use them as "
    "requested.\n\n";
constexpr std::string_view kTruncationMarker = "\n[skill instructions truncated]";
constexpr std::string_view kSkillFileName = "SKILL.md";
constexpr std::string_view kIndent = "    ";

// The byte length of the first `limit` extended grapheme clusters of valid UTF-8 text, or
// nothing when the text has no more than `limit` of them (or ICU cannot segment it, which then
// leaves the text whole).
std::optional<std::size_t> graphemePrefixLength(std::string_view text, std::int64_t limit) {
  if (limit < 0) limit = 0;
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<UText, decltype(&utext_close)> utext(
      utext_openUTF8(nullptr, text.data(), static_cast<std::int64_t>(text.size()), &status),
      &utext_close);
  std::unique_ptr<icu::BreakIterator> iterator(
      icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
  if (U_FAILURE(status)) return std::nullopt;
  iterator->setText(utext.get(), status);
  if (U_FAILURE(status)) return std::nullopt;
  std::int32_t boundary = 0;
  for (std::int64_t count = 0; count < limit; ++count) {
    boundary = iterator->next();
    if (boundary == icu::BreakIterator::DONE) return std::nullopt;
  }
  if (std::size_t(boundary) >= text.size()) return std::nullopt;
  return std::size_t(boundary);
}

// The text with each line break replaced by one space, so that a value from the extension stays
// on its own line of the trusted commands block: LF, CR, VT, FF, U+0085, U+2028 and U+2029, a
// CR LF pair counting as one.
//   "a\r\nb\u2028c"  ->  "a b c"
std::string onOneLine(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\n' || c == '\v' || c == '\f') {
      out.push_back(' ');
    } else if (c == '\r') {
      out.push_back(' ');
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else if (text.substr(i, 2) == "\xC2\x85") {
      out.push_back(' ');
      i += 1;
    } else if (text.substr(i, 3) == "\xE2\x80\xA8" || text.substr(i, 3) == "\xE2\x80\xA9") {
      out.push_back(' ');
      i += 2;
    } else {
      out.push_back(c);
    }
  }
  return out;
}

// Prefixes every line with four spaces, empty lines included. Lines end at a line feed that does
// not follow a carriage return: a CR LF pair is one character of its own, not a line break.
void appendIndented(std::string& out, std::string_view text) {
  out.append(kIndent);
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\n' || (i > 0 && text[i - 1] == '\r')) continue;
    out.append(text.substr(start, i + 1 - start));
    out.append(kIndent);
    start = i + 1;
  }
  out.append(text.substr(start));
}

std::string lastPathComponent(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The member `dataUrl`, of any kind, of the object member `viewportCapture`; null when absent.
const JSONValue* screenshotMember(const JSONValue& context) noexcept {
  const JSONValue* capture = context.subscript("viewportCapture");
  if (capture == nullptr || capture->objectValue() == nullptr) return nullptr;
  return capture->subscript("dataUrl");
}
JSONValue* screenshotMember(JSONValue& context) noexcept {
  return const_cast<JSONValue*>(screenshotMember(std::as_const(context)));
}

// Writes the context as compact JSON with viewportCapture.dataUrl (of any type) replaced by the
// placeholder, without copying the rest of the value. Throws JSONError for a value that JSON
// cannot express.
void appendContextJSON(std::string& out, const JSONValue& context) {
  static constexpr std::string_view kScreenshotPath[] = {"viewportCapture", "dataUrl"};
  const JSONWriteOptions options{.escapeSlashes = false};
  std::string placeholder;
  JSONValue::serializeString(placeholder, CodexTurnInputBuilder::kScreenshotPlaceholder, options);
  context.serialize(out, options, kScreenshotPath, placeholder);
}

}  // namespace

std::vector<std::string> CodexTurnInputBuilder::defaultAllowedSkillRoots(
    std::string_view homeDirectory, std::string_view codexHomeDirectory) {
  const std::string home(homeDirectory);
  const std::string codex(codexHomeDirectory);
  return {codex + "/skills", codex + "/plugins/cache", home + "/.agents/skills",
          home + "/.synk/skills"};
}

CodexTurnInputBuilder::CodexTurnInputBuilder(const FileSystem& fileSystem,
                                             std::int64_t maxSkillInstructionCharacters,
                                             const std::vector<std::string>& allowedSkillRoots)
    : fileSystem_(fileSystem), maxSkillInstructionCharacters_(maxSkillInstructionCharacters) {
  allowedSkillRoots_.reserve(allowedSkillRoots.size());
  for (const std::string& root : allowedSkillRoots) {
    std::string normalized;
    try {
      normalized = fileSystem_.resolvingSymlinks(root);
    } catch (...) {
      normalized = FileSystem::standardizedPath(root);
    }
    allowedSkillRoots_.push_back(std::move(normalized));
  }
}

JSONValue CodexTurnInputBuilder::input(std::string_view prompt, const JSONValue* context,
                                       const JSONValue* commands) const {
  JSONValue items = textOnlyInput(prompt, context, commands);
  if (context != nullptr) {
    const JSONValue* screenshot = screenshotMember(*context);
    if (screenshot != nullptr && screenshot->stringValue() != nullptr) {
      items.arrayValue()->push_back(imageItem(JSONValue(*screenshot)));
    }
  }
  return items;
}

JSONValue CodexTurnInputBuilder::takeInput(std::string_view prompt, JSONValue* context,
                                           const JSONValue* commands) const {
  JSONValue items = textOnlyInput(prompt, context, commands);
  if (context != nullptr) {
    JSONValue* screenshot = screenshotMember(*context);
    if (screenshot != nullptr && screenshot->stringValue() != nullptr) {
      items.arrayValue()->push_back(imageItem(std::move(*screenshot)));
      *screenshot = JSONValue(std::string());
    }
  }
  return items;
}

// Built member by member so that the text, which holds the whole page context, is not copied.
JSONValue CodexTurnInputBuilder::textOnlyInput(std::string_view prompt, const JSONValue* context,
                                               const JSONValue* commands) const {
  JSONValue::Object text;
  text.emplace("type", "text");
  text.emplace("text", formatPrompt(prompt, context, commands));
  text.emplace("text_elements", JSONValue::Array{});
  JSONValue::Array items;
  items.emplace_back(std::move(text));
  return JSONValue(std::move(items));
}

JSONValue CodexTurnInputBuilder::imageItem(JSONValue url) {
  JSONValue::Object image;
  image.emplace("type", "image");
  image.emplace("url", std::move(url));
  return JSONValue(std::move(image));
}

std::string CodexTurnInputBuilder::formatPrompt(std::string_view prompt, const JSONValue* context,
                                                const JSONValue* commands) const {
  // Room for the prompt, the fixed texts and the usual commands up front: a prompt of tens of
  // MiB would otherwise be copied, old and new text held at once, when the text first grows.
  std::string text;
  text.reserve(prompt.size() + kUntrustedContextSentence.size() + kPageActionInstructions.size() +
               kRoomForSectionsBytes);
  text.append("User prompt:\n").append(prompt);

  if (commands != nullptr && commands->arrayValue() != nullptr) {
    bool any = false;
    for (const JSONValue& command : *commands->arrayValue()) {
      std::optional<std::string> block = commandBlock(command);
      if (!block) continue;
      text.append(kSectionSeparator);
      if (!any) text.append(kCommandsHeading);
      any = true;
      text.append(*block);
    }
  }

  text.append(kSectionSeparator).append(kUntrustedContextSentence);
  text.append(kSectionSeparator).append(kPageActionInstructions);

  if (context != nullptr) {
    // Written straight into the text, since a page context can be tens of MiB, and taken out
    // again when it cannot be used.
    const std::size_t sectionStart = text.size();
    text.append(kSectionSeparator).append("Context JSON:\n");
    const std::size_t jsonStart = text.size();
    bool written = true;
    try {
      appendContextJSON(text, *context);
    } catch (const JSONError&) {
      written = false;
    }
    // A value built with bytes that are not UTF-8 cannot go into the text; the turn goes on
    // without its context.
    const std::string_view json = std::string_view(text).substr(jsonStart);
    if (!written || json.empty() || !isValidUTF8(json)) text.resize(sectionStart);
  }
  return text;
}

std::optional<std::string> CodexTurnInputBuilder::commandBlock(const JSONValue& command) const {
  const std::string* kind =
      command.subscript("kind") ? command.subscript("kind")->stringValue() : nullptr;
  const std::string* name =
      command.subscript("name") ? command.subscript("name")->stringValue() : nullptr;
  const std::string* path =
      command.subscript("path") ? command.subscript("path")->stringValue() : nullptr;
  if (kind == nullptr || name == nullptr || path == nullptr || name->empty() || path->empty()) {
    return std::nullopt;
  }
  const JSONValue* titleValue = command.subscript("title");
  const std::string* givenTitle = titleValue ? titleValue->stringValue() : nullptr;
  // The section is trusted: a value holding a line break must not add lines of its own to it.
  const std::string kindLine = onOneLine(*kind);
  const std::string nameLine = onOneLine(*name);
  const std::string pathLine = onOneLine(*path);
  const std::string titleLine = givenTitle != nullptr ? onOneLine(*givenTitle) : nameLine;

  std::string block;
  block.append("- ").append(kindLine).append(": ").append(titleLine);
  block.append("\n  name: ").append(nameLine);
  block.append("\n  path: ").append(pathLine);
  if (kindLine == "skill") {
    if (std::optional<std::string> instructions = skillInstructions(pathLine)) {
      block.append("\n  instructions:\n");
      appendIndented(block, *instructions);
    }
  }
  return block;
}

std::optional<std::string> CodexTurnInputBuilder::skillInstructions(
    const std::string& path) const noexcept {
  try {
    if (path.empty() || path.front() != '/') return std::nullopt;
    if (!fileSystem_.fileExists(path)) return std::nullopt;
    const std::string resolved = fileSystem_.resolvingSymlinks(path);
    if (lastPathComponent(resolved) != kSkillFileName) return std::nullopt;
    bool allowed = false;
    for (const std::string& root : allowedSkillRoots_) {
      if (resolved == root ||
          (resolved.size() > root.size() && resolved.compare(0, root.size(), root) == 0 &&
           resolved[root.size()] == '/')) {
        allowed = true;
        break;
      }
    }
    if (!allowed) return std::nullopt;

    const std::string contents = fileSystem_.readFile(resolved, kMaxSkillFileBytes);
    if (!isValidUTF8(contents)) return std::nullopt;
    const std::string_view trimmed = trimmingWhitespace(contents);
    if (trimmed.empty()) return std::nullopt;
    std::optional<std::size_t> cut = graphemePrefixLength(trimmed, maxSkillInstructionCharacters_);
    if (!cut) return std::string(trimmed);
    std::string result(trimmed.substr(0, *cut));
    result.append(kTruncationMarker);
    return result;
  } catch (...) {
    return std::nullopt;
  }
}

}  // namespace vellora
