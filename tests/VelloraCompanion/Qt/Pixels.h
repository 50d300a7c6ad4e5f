#pragma once

#include <QColor>
#include <QImage>

namespace vellora::test {

// How many pixels of `image` have exactly `color`.
int countPixels(const QImage& image, const QColor& color);

// The welcome window's green badge of a complete step, in the light appearance: about 600
// pixels of it per badge.
inline const QColor kBadgeGreen(52, 199, 89);

}  // namespace vellora::test
