#pragma once

#include <array>
#include <span>
#include <string_view>

namespace vellora {

// One browser of the Chromium family that the system serves: where it keeps its user data on
// each desktop and how the desktop starts it. chromeBrowsers() is the one table of them; its
// order is the order in which browsers are searched, set up and chosen.
struct ChromeBrowser {
  // "chrome", "chromium", "brave", ...
  std::string_view id;
  // The name shown to the user: "Google Chrome", "Chromium", ...
  std::string_view name;
  // The user data directory below the Linux configuration base (AppPaths::linuxLayout); empty
  // for a browser without a Linux build.
  std::string_view linuxDirectory;
  // The user data directory below ~/Library/Application Support.
  std::string_view macOSDirectory;
  // The programs that start it on Linux, looked up on PATH in this order; empty entries unused.
  std::array<std::string_view, 2> linuxCommands;
  // The application's bundle identifier on macOS; on Linux it names the browser to the desktop.
  std::string_view bundleIdentifier;
};

// Google Chrome (stable), Google Chrome Beta, Dev and Canary, Chromium, Brave, Microsoft Edge,
// Vivaldi, in this order. Google Chrome is always first.
std::span<const ChromeBrowser> chromeBrowsers() noexcept;

// The browser of the table with this id or bundle identifier, or nullptr.
const ChromeBrowser* findChromeBrowser(std::string_view id) noexcept;
const ChromeBrowser* findChromeBrowserByBundleIdentifier(
    std::string_view bundleIdentifier) noexcept;

// The id of Google Chrome, whose folder keeps the system's manifest whatever else is found.
inline constexpr std::string_view kGoogleChromeID = "chrome";

}  // namespace vellora
