#pragma once

#include <QIcon>
#include <functional>

#include "VelloraCompanion/Model/CompanionAction.h"
#include "VelloraCompanion/Model/WelcomeContent.h"

class QWidget;

namespace vellora {

// Builds the welcome window's whole content view, WelcomeContent::kWindowWidth x kWindowHeight,
// from `content`: the icon, title and subtitle, a separator, one card per step and the footer
// buttons, in light or dark colours after the application's palette. Every button and the
// "chrome://extensions" link call `onAction` with their action, on the main thread.
//
// Widgets that tests and the desktop look up carry object names: "appIcon", "title", "subtitle",
// "separator", "stepCard<n>", "stepBadge<n>", "stepTitle<n>", "stepDetail<n>",
// "stepInstructions<n>", "stepAction<n>", "extensionsLink", "openChromeButton",
// "fixBrowserButton", "refreshButton", "quitButton".
QWidget* makeWelcomeView(const WelcomeContent& content, const QIcon& appIcon,
                         std::function<void(CompanionAction)> onAction);

// Whether the application's palette is a dark one.
bool isDarkAppearance();

}  // namespace vellora
