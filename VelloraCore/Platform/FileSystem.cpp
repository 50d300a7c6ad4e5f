#include "VelloraCore/Platform/FileSystem.h"

#include <cstring>

namespace vellora {

FileSystemError::FileSystemError(std::string operation, std::string path, int errorNumber)
    : path_(std::move(path)),
      errorNumber_(errorNumber),
      description_(operation + " " + path_ + ": " + std::strerror(errorNumber)) {}

std::string FileSystem::standardizedPath(std::string_view path) {
  const bool absolute = !path.empty() && path.front() == '/';
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    std::string_view part = path.substr(start, end - start);
    if (part.empty() || part == ".") {
      // skip
    } else if (part == "..") {
      if (!parts.empty() && parts.back() != "..") {
        parts.pop_back();
      } else if (!absolute) {
        parts.push_back(part);
      }
    } else {
      parts.push_back(part);
    }
    start = end + 1;
  }
  std::string result = absolute ? "/" : "";
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) result.push_back('/');
    result.append(parts[i]);
  }
  // Only a relative path comes out empty (".", "a/.."): it names the current folder.
  if (result.empty()) result.push_back('.');
  return result;
}

}  // namespace vellora
