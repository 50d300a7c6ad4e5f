#pragma once

#include <string>

class QWidget;

namespace vellora::test {

// The one QApplication of the test program, on the offscreen platform, created on first use.
void ensureOffscreenApplication();

// Saves what `widget` shows as <build directory>/screenshots/<name>.png; returns the path.
std::string saveScreenshot(QWidget& widget, const std::string& name);

}  // namespace vellora::test
