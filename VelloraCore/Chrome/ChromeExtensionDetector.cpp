#include "VelloraCore/Chrome/ChromeExtensionDetector.h"

#include <unicode/locid.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <cstring>

#include "VelloraCore/Chrome/AppPaths.h"
#include "VelloraCore/Chrome/ChromeBrowser.h"
#include "VelloraCore/Chrome/ChromeProfileFile.h"
#include "VelloraCore/Platform/FileSystem.h"
#include "VelloraCore/Platform/UserLocale.h"
#include "VelloraCore/Protocol/JSONValue.h"

namespace vellora {

namespace {

constexpr std::string_view kExtensionName = "Vellora";

bool isASCII(std::string_view text) noexcept {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// Unicode lower-casing, independent of the user's locale.
std::string lowercased(std::string_view text) {
  if (isASCII(text)) {
    std::string result(text);
    for (char& c : result) {
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return result;
  }
  std::string result;
  icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())))
      .toLower(icu::Locale::getRoot())
      .toUTF8String(result);
  return result;
}

// Case-insensitive equality under the user's locale. The locale only matters for the dotted
// and dotless i of Turkish and Azerbaijani, which full case folding otherwise maps alike.
bool isExtensionName(const std::optional<std::string>& name) {
  if (!name) return false;
  if (isASCII(*name)) {
    return name->size() == kExtensionName.size() &&
           std::equal(name->begin(), name->end(), kExtensionName.begin(), [](char a, char b) {
             auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; };
             return lower(a) == lower(b);
           });
  }
  const icu::Locale locale = userLocale();
  const char* language = locale.getLanguage();
  const uint32_t options = std::strcmp(language, "tr") == 0 || std::strcmp(language, "az") == 0
                               ? U_FOLD_CASE_EXCLUDE_SPECIAL_I
                               : U_FOLD_CASE_DEFAULT;
  const auto text = icu::UnicodeString::fromUTF8(
      icu::StringPiece(name->data(), static_cast<int32_t>(name->size())));
  const auto expected = icu::UnicodeString::fromUTF8(
      icu::StringPiece(kExtensionName.data(), static_cast<int32_t>(kExtensionName.size())));
  return text.caseCompare(expected, options) == 0;
}

// "ends with folder, or contains folder followed by a slash"
bool isInFolder(std::string_view lowercasedPath, std::string_view folder) {
  if (lowercasedPath.ends_with(folder)) return true;
  std::string withSlash(folder);
  withSlash.push_back('/');
  return lowercasedPath.find(withSlash) != std::string_view::npos;
}

std::string joinPath(const std::string& directory, std::string_view name) {
  std::string result = directory;
  if (result.empty() || result.back() != '/') result.push_back('/');
  result.append(name);
  return result;
}

}  // namespace

ChromeExtensionDetector::ChromeExtensionDetector(std::string chromeDirectory,
                                                 const FileSystem& fileManager)
    : ChromeExtensionDetector(std::move(chromeDirectory), fileManager,
                              ChromeExtensionFolders::platformLayout()) {}

ChromeExtensionDetector::ChromeExtensionDetector(std::string chromeDirectory,
                                                 const FileSystem& fileManager,
                                                 ChromeExtensionFolders folders)
    : ChromeExtensionDetector(std::vector<ChromeUserDataDirectory>{{std::string(kGoogleChromeID),
                                                                    std::move(chromeDirectory)}},
                              fileManager, folders) {}

ChromeExtensionDetector::ChromeExtensionDetector(std::vector<ChromeUserDataDirectory> directories,
                                                 const FileSystem& fileManager,
                                                 ChromeExtensionFolders folders)
    : directories_(std::move(directories)), fileManager_(&fileManager), folders_(folders) {}

ChromeExtensionDetector ChromeExtensionDetector::forBrowsers(const AppPaths& paths,
                                                             const FileSystem& fileManager) {
  std::vector<ChromeUserDataDirectory> directories;
  for (const ChromeBrowserPaths& browser : paths.browsers()) {
    directories.push_back({browser.id, browser.userDataDirectory});
  }
  return ChromeExtensionDetector(std::move(directories), fileManager,
                                 ChromeExtensionFolders::platformLayout());
}

std::optional<int> ChromeExtensionDetector::rank(const ChromeExtensionCandidate& candidate,
                                                 const ChromeExtensionFolders& folders) noexcept {
  try {
    const bool named = isExtensionName(candidate.name);
    if (!candidate.path) return named ? std::optional<int>(2) : std::nullopt;
    const std::string path = lowercased(*candidate.path);
    if (isInFolder(path, folders.bundled)) return 0;
    if (isInFolder(path, folders.copied)) return 1;
    if (isInFolder(path, folders.built)) return 2;
    return named ? std::optional<int>(3) : std::nullopt;
  } catch (...) {
    // No memory for the lower-cased text: not recognisable.
    return std::nullopt;
  }
}

std::vector<ChromeExtensionCandidate> ChromeExtensionDetector::candidatesOfFile(
    const std::string& filePath, const std::string& profileName) const {
  std::string contents;
  try {
    contents = fileManager_->readFile(filePath, kMaxProfileFileBytes);
  } catch (const FileSystemError&) {
    return {};
  }
  std::vector<ChromeExtensionCandidate> candidates =
      ChromeProfileFile::extensionCandidates(contents, profileName);

  // Chrome stores no manifest in the profile for an unpacked extension, so its name is read
  // from the folder it was loaded from. A relative path belongs to a packed extension, stored
  // below the profile, and is left alone.
  for (ChromeExtensionCandidate& candidate : candidates) {
    if (candidate.name || !candidate.path || !candidate.path->starts_with('/')) continue;
    try {
      const JSONValue manifest = JSONValue::parse(fileManager_->readFile(
          joinPath(*candidate.path, "manifest.json"), kMaxExtensionManifestBytes));
      const JSONValue* name = manifest.subscript("name");
      if (name != nullptr && name->stringValue() != nullptr) candidate.name = *name->stringValue();
    } catch (const Error&) {
      // Unreadable or not JSON: the name stays unknown.
    }
  }
  return candidates;
}

std::vector<ChromeExtensionCandidate> ChromeExtensionDetector::detectVelloraExtensions()
    const noexcept {
  try {
    std::vector<std::pair<int, ChromeExtensionCandidate>> accepted;
    for (const ChromeUserDataDirectory& directory : directories_) {
      std::vector<std::string> entries;
      try {
        entries = fileManager_->contentsOfDirectory(directory.path);
      } catch (const FileSystemError&) {
        continue;
      }
      for (const std::string& entry : entries) {
        const std::string profile = joinPath(directory.path, entry);
        const std::string securePreferences = joinPath(profile, "Secure Preferences");
        const std::string preferences = joinPath(profile, "Preferences");
        if (!fileManager_->fileExists(securePreferences) &&
            !fileManager_->fileExists(preferences)) {
          continue;
        }
        for (const std::string& file : {securePreferences, preferences}) {
          for (ChromeExtensionCandidate& candidate : candidatesOfFile(file, entry)) {
            if (std::optional<int> candidateRank = rank(candidate, folders_)) {
              candidate.browser = directory.browser;
              accepted.emplace_back(*candidateRank, std::move(candidate));
            }
          }
        }
      }
    }
    std::stable_sort(accepted.begin(), accepted.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<ChromeExtensionCandidate> result;
    result.reserve(accepted.size());
    for (auto& [candidateRank, candidate] : accepted) result.push_back(std::move(candidate));
    return result;
  } catch (...) {
    // Only allocation can fail here.
    return {};
  }
}

std::vector<std::string> ChromeExtensionDetector::detectVelloraExtensionIDs() const noexcept {
  try {
    std::vector<std::string> ids;
    for (ChromeExtensionCandidate& candidate : detectVelloraExtensions()) {
      ids.push_back(std::move(candidate.id));
    }
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    return ids;
  } catch (...) {
    return {};
  }
}

std::vector<std::string> ChromeExtensionDetector::browsersOf(
    const std::vector<ChromeExtensionCandidate>& candidates) const noexcept {
  try {
    std::vector<std::string> browsers;
    for (const ChromeUserDataDirectory& directory : directories_) {
      const bool holds = std::any_of(
          candidates.begin(), candidates.end(),
          [&](const ChromeExtensionCandidate& c) { return c.browser == directory.browser; });
      if (holds &&
          std::find(browsers.begin(), browsers.end(), directory.browser) == browsers.end()) {
        browsers.push_back(directory.browser);
      }
    }
    return browsers;
  } catch (...) {
    return {};
  }
}

}  // namespace vellora
