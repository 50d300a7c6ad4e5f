#pragma once

#include <QColor>
#include <QImage>
#include <string>

class QWidget;

namespace vellora::test {

// The one QApplication of the test program, on the offscreen platform, created on first use.
void ensureOffscreenApplication();

// Saves what `widget` shows as <build directory>/screenshots/<name>.png; returns the path.
std::string saveScreenshot(QWidget& widget, const std::string& name);

// How many pixels of `image` have exactly `color`.
int countPixels(const QImage& image, const QColor& color);

}  // namespace vellora::test
