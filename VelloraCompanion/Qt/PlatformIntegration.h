#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "VelloraCompanion/Model/Desktop.h"

// The few desktop services that differ between macOS (PlatformIntegrationApple.mm) and a
// freedesktop session (PlatformIntegrationLinux.cpp). Main thread only.
namespace vellora::platform {

// macOS: accessory (menu bar only) or regular (Dock icon). Nothing elsewhere.
void setActivationPolicy(ActivationPolicy policy);

// macOS: brings the application to the front, so that an alert or window it opens next is not
// hidden behind the frontmost application (a menu-bar application is never frontmost by
// itself). Nothing elsewhere.
void activateApplication();

// macOS: `handler` runs when the application is opened again while it runs (the reopen Apple
// event: Finder, the Dock, `open`), which Qt does not pass on. Call once the event loop runs.
// Elsewhere nothing: a second launch reaches the running companion through SingleInstance.
void onReopen(std::function<void()> handler);

// macOS: the application with the bundle identifier. Linux: for the bundle identifier of a
// browser of the table (ChromeBrowser.h), the first of its start commands found on PATH.
std::optional<std::string> applicationLocation(const std::string& bundleIdentifier);

// Opens the URLs with the application and brings it to the front; `completion` runs once, on
// any thread, with the platform's error text when it could not.
void openURLsWithApplication(const std::vector<std::string>& urls,
                             const std::string& applicationLocation,
                             Desktop::OpenCompletion completion);

// Shows the folder selected in the platform's file viewer (Finder; on Linux the file manager
// over D-Bus, else the folder itself opened with its default handler).
void revealInFileViewer(const std::string& path);

// The directory holding the packaged resources ("extension"): Contents/Resources of the bundle
// on macOS, <prefix>/share/vellora beside <prefix>/lib/vellora on Linux.
std::optional<std::string> resourceDirectory(const std::string& executablePath);

}  // namespace vellora::platform
