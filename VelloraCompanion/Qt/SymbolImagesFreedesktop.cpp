#include <QApplication>
#include <QFont>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <QPixmap>
#include <cmath>
#include <functional>
#include <map>

#include "VelloraCompanion/Model/StatusMenu.h"
#include "VelloraCompanion/Qt/SymbolImages.h"

namespace vellora {

namespace {

// Drawn at twice the size so that the images stay sharp on high-density screens.
constexpr qreal kScale = 2;

using Drawing = std::function<void(QPainter&, const QRectF&)>;

void drawText(QPainter& painter, const QRectF& box, const QString& text, qreal size) {
  QFont font = QApplication::font();
  font.setPixelSize(static_cast<int>(size));
  font.setBold(true);
  painter.setFont(font);
  painter.drawText(box, Qt::AlignCenter, text);
}

// Each symbol's closest freedesktop icon-theme name, and our own drawing of it inside `box`
// (the symbol's rectangle) for sessions whose theme has no such icon.
struct Symbol {
  const char* themeName;
  Drawing draw;
};

const std::map<std::string, Symbol>& symbols() {
  static const std::map<std::string, Symbol> table = {
      {"globe",
       {"applications-internet",
        [](QPainter& p, const QRectF& b) {
          p.drawEllipse(b);
          p.drawLine(QPointF(b.left(), b.center().y()), QPointF(b.right(), b.center().y()));
          p.drawEllipse(b.adjusted(b.width() * 0.28, 0, -b.width() * 0.28, 0));
        }}},
      {"questionmark.circle",
       {"dialog-question",
        [](QPainter& p, const QRectF& b) {
          p.drawEllipse(b);
          drawText(p, b, "?", b.height() * 0.75);
        }}},
      {"xmark.circle",
       {"dialog-error",
        [](QPainter& p, const QRectF& b) {
          p.drawEllipse(b);
          const QRectF x =
              b.adjusted(b.width() * 0.3, b.height() * 0.3, -b.width() * 0.3, -b.height() * 0.3);
          p.drawLine(x.topLeft(), x.bottomRight());
          p.drawLine(x.topRight(), x.bottomLeft());
        }}},
      {"clock",
       {"appointment-soon",
        [](QPainter& p, const QRectF& b) {
          p.drawEllipse(b);
          p.drawLine(b.center(), QPointF(b.center().x(), b.top() + b.height() * 0.22));
          p.drawLine(b.center(), QPointF(b.right() - b.width() * 0.28, b.center().y()));
        }}},
      {"exclamationmark.triangle",
       {"dialog-warning",
        [](QPainter& p, const QRectF& b) {
          QPainterPath path;
          path.moveTo(b.center().x(), b.top());
          path.lineTo(b.bottomRight());
          path.lineTo(b.bottomLeft());
          path.closeSubpath();
          p.drawPath(path);
          drawText(p, b.adjusted(0, b.height() * 0.2, 0, 0), "!", b.height() * 0.7);
        }}},
      {"list.bullet.rectangle",
       {"view-list-text",
        [](QPainter& p, const QRectF& b) {
          p.drawRoundedRect(b.adjusted(0, b.height() * 0.1, 0, -b.height() * 0.1), 2, 2);
          for (int row = 0; row < 3; ++row) {
            const qreal y = b.top() + b.height() * (0.32 + 0.18 * row);
            p.drawPoint(QPointF(b.left() + b.width() * 0.25, y));
            p.drawLine(QPointF(b.left() + b.width() * 0.4, y), QPointF(b.right() - 2.5, y));
          }
        }}},
      {"wrench.and.screwdriver",
       {"preferences-system",
        [](QPainter& p, const QRectF& b) {
          p.drawLine(b.bottomLeft() + QPointF(2, -2), b.topRight() + QPointF(-4, 4));
          p.drawEllipse(QRectF(b.right() - 6, b.top(), 6, 6));
          p.drawLine(b.topLeft() + QPointF(2, 2), b.bottomRight() + QPointF(-2, -2));
        }}},
      {"safari",
       {"web-browser",
        [](QPainter& p, const QRectF& b) {
          p.drawEllipse(b);
          QPainterPath needle;
          const QPointF c = b.center();
          const qreal r = b.width() * 0.32;
          needle.moveTo(c + QPointF(r, -r));
          needle.lineTo(c + QPointF(r * 0.25, r * 0.25));
          needle.lineTo(c + QPointF(-r, r));
          needle.lineTo(c + QPointF(-r * 0.25, -r * 0.25));
          needle.closeSubpath();
          p.drawPath(needle);
        }}},
      {"folder.badge.questionmark",
       {"folder",
        [](QPainter& p, const QRectF& b) {
          QPainterPath folder;
          folder.moveTo(b.left(), b.top() + b.height() * 0.2);
          folder.lineTo(b.left() + b.width() * 0.4, b.top() + b.height() * 0.2);
          folder.lineTo(b.left() + b.width() * 0.5, b.top() + b.height() * 0.32);
          folder.lineTo(b.right(), b.top() + b.height() * 0.32);
          folder.lineTo(b.right(), b.bottom() - b.height() * 0.1);
          folder.lineTo(b.left(), b.bottom() - b.height() * 0.1);
          folder.closeSubpath();
          p.drawPath(folder);
          drawText(p, b.adjusted(0, b.height() * 0.2, 0, 0), "?", b.height() * 0.55);
        }}},
      {"arrow.clockwise",
       {"view-refresh",
        [](QPainter& p, const QRectF& b) {
          const QRectF ring = b.adjusted(1.5, 1.5, -1.5, -1.5);
          p.drawArc(ring, 100 * 16, -300 * 16);
          const QPointF tip(ring.center().x() + 0.5, ring.top());
          p.drawLine(tip, tip + QPointF(-3, -2.5));
          p.drawLine(tip, tip + QPointF(-3, 2.5));
        }}},
      {"rectangle.portrait.and.arrow.right",
       {"application-exit",
        [](QPainter& p, const QRectF& b) {
          QPainterPath door;
          door.moveTo(b.left() + b.width() * 0.6, b.top() + b.height() * 0.3);
          door.lineTo(b.left() + b.width() * 0.6, b.top());
          door.lineTo(b.left(), b.top());
          door.lineTo(b.left(), b.bottom());
          door.lineTo(b.left() + b.width() * 0.6, b.bottom());
          door.lineTo(b.left() + b.width() * 0.6, b.bottom() - b.height() * 0.3);
          p.drawPath(door);
          const qreal y = b.center().y();
          p.drawLine(QPointF(b.left() + b.width() * 0.35, y), QPointF(b.right(), y));
          p.drawLine(QPointF(b.right(), y), QPointF(b.right() - 3, y - 3));
          p.drawLine(QPointF(b.right(), y), QPointF(b.right() - 3, y + 3));
        }}},
  };
  return table;
}

QPixmap drawnPixmap(const Drawing& drawing, qreal width, qreal height, const QRectF& box,
                    const QColor& ink) {
  QPixmap pixmap(static_cast<int>(width * kScale), static_cast<int>(height * kScale));
  pixmap.setDevicePixelRatio(kScale);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(QPen(ink, 1.3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  painter.setBrush(Qt::NoBrush);
  drawing(painter, box.adjusted(0.65, 0.65, -0.65, -0.65));
  return pixmap;
}

// A template image for a menu: it takes the text colour of the menu it is shown in.
QIcon drawnImage(const Drawing& drawing, qreal width, qreal height, const QRectF& box) {
  QIcon icon(drawnPixmap(drawing, width, height, box,
                         QApplication::palette().color(QPalette::WindowText)));
  icon.setIsMask(true);
  return icon;
}

// An image for a panel whose colour nothing here knows (a tray on a dark or a light panel):
// dark lines inside a light outline, so that one of the two always stands out.
QIcon panelImage(const Drawing& drawing, qreal width, qreal height, const QRectF& box) {
  const QPixmap outline = drawnPixmap(drawing, width, height, box, QColor(255, 255, 255, 230));
  const QPixmap lines = drawnPixmap(drawing, width, height, box, QColor(24, 24, 24));
  QPixmap pixmap(outline.size());
  pixmap.setDevicePixelRatio(kScale);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  constexpr qreal kOutline = 0.9;
  for (int dx = -1; dx <= 1; ++dx) {
    for (int dy = -1; dy <= 1; ++dy) {
      if (dx != 0 || dy != 0) painter.drawPixmap(QPointF(dx * kOutline, dy * kOutline), outline);
    }
  }
  painter.drawPixmap(QPointF(0, 0), lines);
  painter.end();
  return QIcon(pixmap);
}

QIcon symbolImage(const std::string& symbolName, qreal width, qreal height, const QRectF& box,
                  bool forPanel = false) {
  auto found = symbols().find(symbolName);
  if (found == symbols().end()) return QIcon();
  const Symbol& symbol = found->second;
  if (QIcon::hasThemeIcon(symbol.themeName)) return QIcon::fromTheme(symbol.themeName);
  return forPanel ? panelImage(symbol.draw, width, height, box)
                  : drawnImage(symbol.draw, width, height, box);
}

}  // namespace

QIcon menuSymbolImage(const std::string& symbolName, const std::string& /*description*/) {
  const StatusMenu::Rect r = StatusMenu::kSymbolRect;
  return symbolImage(symbolName, StatusMenu::kImageWidth, StatusMenu::kImageHeight,
                     QRectF(r.x, r.y, r.width, r.height));
}

QIcon statusItemSymbolImage(const StatusItemAppearance& appearance) {
  return symbolImage(appearance.symbolName, appearance.symbolWidth, appearance.symbolHeight,
                     QRectF(0, 0, appearance.symbolWidth, appearance.symbolHeight), true);
}

QIcon statusItemTitleImage(const std::string& title) {
  return panelImage(
      [title](QPainter& p, const QRectF& b) {
        drawText(p, b, QString::fromStdString(title), b.height() * 0.45);
      },
      22, 22, QRectF(0, 0, 22, 22));
}

}  // namespace vellora
