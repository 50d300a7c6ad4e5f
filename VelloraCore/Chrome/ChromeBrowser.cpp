#include "VelloraCore/Chrome/ChromeBrowser.h"

namespace vellora {

namespace {

constexpr ChromeBrowser kBrowsers[] = {
    {"chrome",
     "Google Chrome",
     "google-chrome",
     "Google/Chrome",
     {"google-chrome-stable", "google-chrome"},
     "com.google.Chrome"},
    {"chrome-beta",
     "Google Chrome Beta",
     "google-chrome-beta",
     "Google/Chrome Beta",
     {"google-chrome-beta", ""},
     "com.google.Chrome.beta"},
    {"chrome-dev",
     "Google Chrome Dev",
     "google-chrome-unstable",
     "Google/Chrome Dev",
     {"google-chrome-unstable", ""},
     "com.google.Chrome.dev"},
    {"chrome-canary",
     "Google Chrome Canary",
     "",
     "Google/Chrome Canary",
     {"", ""},
     "com.google.Chrome.canary"},
    {"chromium",
     "Chromium",
     "chromium",
     "Chromium",
     {"chromium", "chromium-browser"},
     "org.chromium.Chromium"},
    {"brave",
     "Brave",
     "BraveSoftware/Brave-Browser",
     "BraveSoftware/Brave-Browser",
     {"brave-browser", "brave"},
     "com.brave.Browser"},
    {"edge",
     "Microsoft Edge",
     "microsoft-edge",
     "Microsoft Edge",
     {"microsoft-edge", "microsoft-edge-stable"},
     "com.microsoft.edgemac"},
    {"vivaldi",
     "Vivaldi",
     "vivaldi",
     "Vivaldi",
     {"vivaldi", "vivaldi-stable"},
     "com.vivaldi.Vivaldi"},
};

static_assert(kBrowsers[0].id == kGoogleChromeID);

}  // namespace

std::span<const ChromeBrowser> chromeBrowsers() noexcept {
  return kBrowsers;
}

const ChromeBrowser* findChromeBrowser(std::string_view id) noexcept {
  for (const ChromeBrowser& browser : kBrowsers) {
    if (browser.id == id) return &browser;
  }
  return nullptr;
}

const ChromeBrowser* findChromeBrowserByBundleIdentifier(
    std::string_view bundleIdentifier) noexcept {
  for (const ChromeBrowser& browser : kBrowsers) {
    if (browser.bundleIdentifier == bundleIdentifier) return &browser;
  }
  return nullptr;
}

}  // namespace vellora
