#include "tests/VelloraCompanion/Qt/Pixels.h"

#include <QDir>
#include <QString>
#include <cstdlib>

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

std::string screenshotPath(const std::string& name) {
  const char* buildDirectory = std::getenv("VELLORA_BUILD_DIR");
  const std::string folder =
      std::string(buildDirectory != nullptr ? buildDirectory : VELLORA_BINARY_DIR) + "/screenshots";
  QDir().mkpath(QString::fromStdString(folder));
  return folder + "/" + name + ".png";
}

}  // namespace vellora::test
