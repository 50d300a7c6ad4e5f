// Feeds arbitrary prompts, page contexts, command lists and skill files to the turn input
// builder. The input is split at the first two NUL bytes: prompt, then JSON holding the context
// and commands (used when it parses), then the contents of a skill file that a selected skill
// command names.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "VelloraCore/Platform/FileSystem.h"
#include "VelloraCore/TurnContent/CodexTurnInputBuilder.h"

namespace {

struct Scratch {
  std::unique_ptr<vellora::FileSystem> fileSystem = vellora::makePosixFileSystem();
  std::string root;
  std::string skillPath;
  int skillFile = -1;

  Scratch() {
    char pattern[] = "/tmp/vellora-fuzz-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) __builtin_trap();
    root = fileSystem->resolvingSymlinks(pattern);
    fileSystem->createDirectories(root + "/skills/fuzz");
    skillPath = root + "/skills/fuzz/SKILL.md";
    skillFile = ::open(skillPath.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (skillFile < 0) __builtin_trap();
  }
  ~Scratch() {
    ::close(skillFile);
    try {
      fileSystem->removeTree(root);
    } catch (...) {
    }
  }
};

// Replaces the skill file's contents in place (no sync: the file lives only as long as the run).
void writeSkill(int fd, std::string_view contents) {
  if (::ftruncate(fd, 0) != 0) __builtin_trap();
  std::size_t offset = 0;
  while (offset < contents.size()) {
    const ssize_t written = ::pwrite(fd, contents.data() + offset, contents.size() - offset,
                                     static_cast<off_t>(offset));
    if (written <= 0) __builtin_trap();
    offset += static_cast<std::size_t>(written);
  }
}

std::string_view nextPart(std::string_view& rest) {
  const std::size_t end = rest.find('\0');
  const std::string_view part = rest.substr(0, end);
  rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
  return part;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vellora;
  static Scratch scratch;
  static const CodexTurnInputBuilder builder(*scratch.fileSystem, 40, {scratch.root + "/skills"});
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  const std::string_view prompt = nextPart(rest);
  const std::string_view json = nextPart(rest);
  writeSkill(scratch.skillFile, rest);

  JSONValue value;
  try {
    value = JSONValue::parse(json);
  } catch (const JSONError&) {
    value = JSONValue(std::string(json));
  }
  const JSONValue* context = value.subscript("context");
  const JSONValue* commands = value.subscript("commands");
  JSONValue::Array withSkill;
  if (commands != nullptr && commands->arrayValue() != nullptr) withSkill = *commands->arrayValue();
  withSkill.push_back(
      JSONValue::object({{"kind", "skill"}, {"name", "fuzz"}, {"path", scratch.skillPath}}));
  const JSONValue allCommands(std::move(withSkill));

  const JSONValue input = builder.input(prompt, context ? context : &value, &allCommands);
  const JSONValue::Array* items = input.arrayValue();
  if (items == nullptr || items->empty() || items->size() > 2) __builtin_trap();
  const std::string* text = items->front().subscript("text")->stringValue();
  if (text == nullptr || !text->starts_with("User prompt:\n")) __builtin_trap();
  return 0;
}
