#pragma once

#include <QColor>
#include <QImage>
#include <string>

namespace vellora::test {

// How many pixels of `image` have exactly `color`.
int countPixels(const QImage& image, const QColor& color);

// The welcome window's green badge of a complete step, in the light appearance: about 600
// pixels of it per badge.
inline const QColor kBadgeGreen(52, 199, 89);

// <build directory>/screenshots/<name>.png, for a test's screenshot (the folder is created).
// The build directory is $VELLORA_BUILD_DIR when set.
std::string screenshotPath(const std::string& name);

}  // namespace vellora::test
