#include "VelloraCompanion/Qt/AppIconImage.h"

#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

namespace vellora {

QIcon appIconImage(const AppIcon& icon) {
  QSvgRenderer renderer(QString(":/vellora/%1.svg").arg(QString::fromStdString(icon.resourceName)));
  if (!renderer.isValid()) return QIcon();
  QIcon result;
  const int requested = static_cast<int>(std::max(icon.width, icon.height));
  for (int size : {16, 22, 24, 32, 48, 64, 92, 128, 184, requested, 512}) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter);
    painter.end();
    result.addPixmap(pixmap);
  }
  return result;
}

}  // namespace vellora
