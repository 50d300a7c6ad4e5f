#include "VelloraCompanion/Qt/WelcomeView.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QLayout>
#include <QPalette>
#include <QPushButton>
#include <QWidget>
#include <array>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "VelloraCompanion/Model/CompanionHealthRules.h"
#include "VelloraCompanion/Qt/AppIconImage.h"
#include "tests/VelloraCompanion/Model/CompanionFixture.h"
#include "tests/VelloraCompanion/Qt/OffscreenApplication.h"
#include "tests/VelloraCompanion/Qt/Pixels.h"

namespace vellora {
namespace {

using enum HealthState;

// The view for a content, laid out as the window shows it.
std::unique_ptr<QWidget> makeView(const WelcomeContent& content,
                                  std::function<void(CompanionAction)> onAction = {}) {
  if (!onAction) onAction = [](CompanionAction) {};
  std::unique_ptr<QWidget> view(makeWelcomeView(content, appIconImage(AppIcon{}), onAction));
  view->show();
  view->layout()->activate();
  QApplication::processEvents();
  return view;
}

template <typename T = QWidget>
T* find(QWidget& view, const QString& name) {
  return view.findChild<T*>(name);
}

QRect placeOf(QWidget& view, QWidget* widget) {
  return QRect(widget->mapTo(&view, QPoint(0, 0)), widget->size());
}

std::string text(QWidget& view, const QString& name) {
  if (auto* label = find<QLabel>(view, name)) return label->text().toStdString();
  if (auto* button = find<QAbstractButton>(view, name)) return button->text().toStdString();
  return "<none>";
}

// What a step card shows: whether it is complete, and its detail ("" for none).
struct StepShown {
  bool isComplete;
  std::string detail;
};
StepShown complete() {
  return {true, ""};
}
StepShown incomplete(std::string detail = "") {
  return {false, std::move(detail)};
}

// What the window shows; the defaults are those of a window with nothing under way.
struct Expected {
  std::array<StepShown, 3> steps;
  bool instructions = false;
  bool folderButton = false;
  bool openChrome = false;
  std::string fixTitle = "Fix Browser";
  std::string refreshTitle = "Refresh Status";
  bool footerEnabled = true;
};

// What a user sees for each health and busy state: the texts, which buttons are there and
// enabled, the card heights, the order from top to bottom, everything inside the window. Each
// view is saved as a PNG under the build directory.
TEST(WelcomeViewTest, showsEachStateAsTheUserSeesIt) {
  test::ensureOffscreenApplication();
  const char* checkingCodex = "Checking your local Codex setup.";
  const char* checkingExtension = "Checking Chrome extension and browser connection.";
  const char* signIn = "Run codex login in a terminal, then choose Refresh Status.";
  const char* fixBrowser = "Choose Fix Browser Connection, then choose Refresh Status.";
  const struct {
    const char* name;
    CompanionHealth health;
    bool refreshing = false;
    bool repairing = false;
    Expected expected;
  } cases[] = {
      {.name = "welcome-launch",
       .health = launchHealth(),
       .expected = {.steps = {complete(), incomplete(checkingCodex),
                              incomplete(checkingExtension)}}},
      {.name = "welcome-all-ready",
       .health = test::allReady(),
       .expected = {.steps = {complete(), complete(), complete()}, .openChrome = true}},
      {.name = "welcome-extension-missing",
       .health = test::health({.extension = missing}),
       .expected = {.steps = {complete(), complete(), incomplete()},
                    .instructions = true,
                    .folderButton = true}},
      {.name = "welcome-auth-missing-app-server-error",
       .health = test::health({.appServer = error, .auth = missing}),
       .expected = {.steps = {complete(), incomplete(signIn), complete()}}},
      {.name = "welcome-refreshing",
       .health = checkingHealth(launchHealth()),
       .refreshing = true,
       .expected = {.steps = {complete(), incomplete(checkingCodex), incomplete(checkingExtension)},
                    .refreshTitle = "Refreshing...",
                    .footerEnabled = false}},
      {.name = "welcome-repairing",
       .health = test::health({.nativeHost = error}),
       .repairing = true,
       .expected = {.steps = {complete(), complete(), incomplete(fixBrowser)},
                    .fixTitle = "Fixing...",
                    .footerEnabled = false}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const WelcomeContent content =
        makeWelcomeContent(c.health, c.refreshing, c.repairing, DesktopPlatform::freedesktop);
    std::unique_ptr<QWidget> view = makeView(content);
    const std::string screenshot = test::saveScreenshot(*view, c.name);
    SCOPED_TRACE(screenshot);

    EXPECT_EQ(view->size(), QSize(570, 700));
    EXPECT_EQ(find<QLabel>(*view, "appIcon")->size(), QSize(92, 92));
    EXPECT_FALSE(find<QLabel>(*view, "appIcon")->pixmap().isNull());
    EXPECT_EQ(text(*view, "title"), "Welcome to Vellora");
    EXPECT_EQ(text(*view, "subtitle"), "Put Codex inside Chrome (using codex-app-server)");
    EXPECT_EQ(text(*view, "stepTitle1"), "Install Vellora desktop app");
    EXPECT_EQ(text(*view, "stepTitle2"), "Sign into Codex");
    EXPECT_EQ(text(*view, "stepTitle3"), "Install Chrome extension");

    // Top to bottom, nothing overlapping, everything inside the window.
    std::vector<QWidget*> order = {find(*view, "appIcon"),   find(*view, "title"),
                                   find(*view, "subtitle"),  find(*view, "separator"),
                                   find(*view, "stepCard1"), find(*view, "stepCard2"),
                                   find(*view, "stepCard3")};
    if (c.expected.openChrome) order.push_back(find(*view, "openChromeButton"));
    order.push_back(find(*view, "refreshButton"));
    for (std::size_t i = 1; i < order.size(); ++i) {
      ASSERT_NE(order[i], nullptr) << i;
      EXPECT_LE(placeOf(*view, order[i - 1]).bottom(), placeOf(*view, order[i]).top())
          << order[i - 1]->objectName().toStdString() << " before "
          << order[i]->objectName().toStdString();
    }
    EXPECT_LE(placeOf(*view, find(*view, "refreshButton")).bottom(), 700);
    EXPECT_EQ(placeOf(*view, find(*view, "fixBrowserButton")).top(),
              placeOf(*view, find(*view, "refreshButton")).top());

    int green = 0;
    for (int step = 1; step <= 3; ++step) {
      SCOPED_TRACE(step);
      QWidget* card = find(*view, QString("stepCard%1").arg(step));
      const bool stepComplete = c.expected.steps[step - 1].isComplete;
      green += stepComplete;
      EXPECT_EQ(card->width(), 350);
      if (stepComplete) {
        EXPECT_EQ(card->height(), 64);
      } else {
        EXPECT_GE(card->height(), 112);
      }
      const std::string& detail = c.expected.steps[step - 1].detail;
      auto* shownDetail = find<QLabel>(*view, QString("stepDetail%1").arg(step));
      EXPECT_EQ(shownDetail ? shownDetail->text().toStdString() : "", detail);
      // The card holds all it shows.
      for (QWidget* child : card->findChildren<QWidget*>()) {
        if (!child->isVisible()) continue;
        EXPECT_TRUE(card->rect().contains(QRect(child->mapTo(card, QPoint(0, 0)), child->size())))
            << child->objectName().toStdString();
      }
    }
    EXPECT_EQ(find(*view, "stepInstructions3") != nullptr, c.expected.instructions);
    if (c.expected.instructions) {
      std::vector<std::string> lines;
      for (QLabel* label : find(*view, "stepInstructions3")->findChildren<QLabel*>()) {
        lines.push_back(label->text().toStdString());
      }
      EXPECT_EQ(lines, (std::vector<std::string>{"0. Make sure Developer Mode is on", "1. Open",
                                                 "2. Click on Load Unpacked",
                                                 "3. Select the extension folder"}));
      EXPECT_EQ(text(*view, "extensionsLink"), "chrome://extensions");
    }
    EXPECT_EQ(text(*view, "stepAction3"),
              c.expected.folderButton ? "Show extension folder path" : "<none>");
    EXPECT_EQ(text(*view, "openChromeButton"),
              c.expected.openChrome ? "Open Chrome to use Vellora" : "<none>");
    EXPECT_EQ(text(*view, "fixBrowserButton"), c.expected.fixTitle);
    EXPECT_EQ(text(*view, "refreshButton"), c.expected.refreshTitle);
    EXPECT_EQ(find(*view, "fixBrowserButton")->isEnabled(), c.expected.footerEnabled);
    EXPECT_EQ(find(*view, "refreshButton")->isEnabled(), c.expected.footerEnabled);

    // One green badge per complete step (about 600 pixels each).
    const int greenPixels = test::countPixels(view->grab().toImage(), test::kBadgeGreen);
    EXPECT_GE(greenPixels, green * 400);
    EXPECT_LE(greenPixels, green * 700 + 50);
  }
}

TEST(WelcomeViewTest, buttonsAndTheLinkSendTheirActions) {
  test::ensureOffscreenApplication();
  std::vector<CompanionAction> sent;
  const WelcomeContent content = makeWelcomeContent(test::health({.extension = missing}), false,
                                                    false, DesktopPlatform::macOS);
  std::unique_ptr<QWidget> view =
      makeView(content, [&](CompanionAction action) { sent.push_back(action); });
  EXPECT_EQ(text(*view, "stepTitle1"), "Install Vellora Mac app");
  for (const char* name : {"extensionsLink", "stepAction3", "fixBrowserButton", "refreshButton"}) {
    find<QAbstractButton>(*view, name)->click();
  }
  EXPECT_EQ(sent, (std::vector<CompanionAction>{
                      CompanionAction::openChromeExtensions, CompanionAction::showExtensionFolder,
                      CompanionAction::installNativeHost, CompanionAction::refreshStatus}));

  const WelcomeContent done = makeWelcomeContent(test::allReady(), false, false);
  view = makeView(done, [&](CompanionAction action) { sent.push_back(action); });
  find<QAbstractButton>(*view, "openChromeButton")->click();
  EXPECT_EQ(sent.back(), CompanionAction::openCodexInChrome);
}

// The dark appearance: darker cards on a dark window, the same green badges; saved beside the
// light ones.
TEST(WelcomeViewTest, followsADarkPalette) {
  test::ensureOffscreenApplication();
  const QPalette light = QApplication::palette();
  QPalette dark = light;
  dark.setColor(QPalette::Window, QColor(30, 30, 30));
  dark.setColor(QPalette::WindowText, QColor(235, 235, 235));
  dark.setColor(QPalette::Base, QColor(45, 45, 45));
  dark.setColor(QPalette::Button, QColor(60, 60, 60));
  dark.setColor(QPalette::ButtonText, QColor(235, 235, 235));
  QApplication::setPalette(dark);
  EXPECT_TRUE(isDarkAppearance());
  const WelcomeContent content = makeWelcomeContent(test::health({.extension = missing}), false,
                                                    false, DesktopPlatform::freedesktop);
  std::unique_ptr<QWidget> view = makeView(content);
  test::saveScreenshot(*view, "welcome-extension-missing-dark");
  const QImage image = view->grab().toImage();
  // Dark green badges for the two complete steps, and a light title on a dark window.
  EXPECT_GE(test::countPixels(image, QColor(48, 209, 88)), 800);
  QWidget* card = find(*view, "stepCard3");
  const QColor cardColor = image.pixelColor(placeOf(*view, card).topLeft() + QPoint(175, 100));
  EXPECT_LT(cardColor.lightness(), 110);
  // The link stays readable on the dark card, also when the palette keeps the default dark blue.
  const QString linkStyle = find(*view, "extensionsLink")->styleSheet();
  const QColor link(linkStyle.mid(linkStyle.indexOf('#'), 7));
  EXPECT_GE(qGray(link.rgb()), 90) << linkStyle.toStdString();
  QApplication::setPalette(light);
  EXPECT_FALSE(isDarkAppearance());
}

}  // namespace
}  // namespace vellora
