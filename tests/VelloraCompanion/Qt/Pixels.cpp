#include "tests/VelloraCompanion/Qt/Pixels.h"

namespace vellora::test {

int countPixels(const QImage& image, const QColor& color) {
  const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
  const QRgb wanted = color.rgb() & 0xffffff;
  int count = 0;
  for (int y = 0; y < rgb.height(); ++y) {
    const auto* line = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
    for (int x = 0; x < rgb.width(); ++x) count += (line[x] & 0xffffff) == wanted;
  }
  return count;
}

}  // namespace vellora::test
