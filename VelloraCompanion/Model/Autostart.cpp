#include "VelloraCompanion/Model/Autostart.h"

#include <stdexcept>

#include "VelloraCore/Platform/FileSystem.h"

namespace vellora {

namespace {

std::string withoutTrailingSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// A value of type string in a desktop entry: backslashes doubled.
std::string escapedString(const std::string& text) {
  std::string escaped;
  for (char c : text) {
    if (c == '\\') escaped += '\\';
    escaped += c;
  }
  return escaped;
}

// The program as the one argument of an Exec key: quoted when it holds a reserved character,
// with '"', '`', '$' and '\' escaped inside the quotes, and '%' doubled (field codes).
std::string execArgument(const std::string& program) {
  const std::string reserved = " \t\n\"'\\><~|&;$*?#()`";
  std::string argument;
  bool quote = false;
  for (char c : program) {
    if (reserved.find(c) != std::string::npos) quote = true;
    if (c == '"' || c == '`' || c == '$' || c == '\\') argument += '\\';
    argument += c;
    if (c == '%') argument += '%';
  }
  if (quote) argument = '"' + argument + '"';
  // The key's value is itself a string, whose escapes come on top.
  return escapedString(argument);
}

}  // namespace

Autostart::Autostart(FileSystem& fileSystem, const std::string& homeDirectory,
                     const Environment& environment)
    : fileSystem_(fileSystem) {
  std::string configHome = withoutTrailingSlash(homeDirectory) + "/.config";
  auto found = environment.find("XDG_CONFIG_HOME");
  if (found != environment.end() && !found->second.empty() && found->second.front() == '/') {
    configHome = withoutTrailingSlash(found->second);
  }
  path_ = configHome + "/autostart/" + kFileName;
}

bool Autostart::isEnabled() const noexcept {
  return fileSystem_.fileExists(path_);
}

void Autostart::enable(const std::string& companionPath) {
  const std::string text = entryText(companionPath);
  fileSystem_.createDirectories(path_.substr(0, path_.rfind('/')));
  fileSystem_.writeFileAtomically(path_, text);
}

void Autostart::disable() {
  if (fileSystem_.fileExists(path_)) fileSystem_.removeTree(path_);
}

std::string Autostart::entryText(const std::string& companionPath) {
  if (companionPath.empty() || companionPath.front() != '/') {
    throw std::invalid_argument("the companion's path is not absolute: " + companionPath);
  }
  for (unsigned char c : companionPath) {
    if (c < 0x20 || c == 0x7f) {
      throw std::invalid_argument("the companion's path holds a control character");
    }
  }
  return "[Desktop Entry]\n"
         "Type=Application\n"
         "Name=Vellora\n"
         "Comment=Start the Vellora companion at login\n"
         "TryExec=" +
         escapedString(companionPath) +
         "\n"
         "Exec=" +
         execArgument(companionPath) +
         "\n"
         "Icon=vellora\n"
         "Terminal=false\n"
         "X-GNOME-Autostart-enabled=true\n";
}

}  // namespace vellora
