// macOS: the named system symbols, drawn as the menu and the status item want them.
#import <AppKit/AppKit.h>

#include <QApplication>
#include <QFont>
#include <QImage>
#include <QPainter>
#include <QPixmap>

#include "VelloraCompanion/Model/StatusMenu.h"
#include "VelloraCompanion/Qt/SymbolImages.h"

namespace vellora {

namespace {

constexpr int kScale = 2;

// Draws the symbol into a `width` x `height` image in `rect` (AppKit's coordinates, origin at
// the bottom left) and hands it to Qt; a template image when `isTemplate`.
QIcon drawSymbol(const std::string& name, const std::string& description, double width,
                 double height, NSRect rect, bool isTemplate) {
  @autoreleasepool {
    NSImage* symbol =
        [NSImage imageWithSystemSymbolName:[NSString stringWithUTF8String:name.c_str()]
                  accessibilityDescription:[NSString stringWithUTF8String:description.c_str()]];
    if (symbol == nil) return QIcon();
    NSBitmapImageRep* bitmap =
        [[NSBitmapImageRep alloc] initWithBitmapDataPlanes:nullptr
                                                pixelsWide:static_cast<NSInteger>(width * kScale)
                                                pixelsHigh:static_cast<NSInteger>(height * kScale)
                                             bitsPerSample:8
                                           samplesPerPixel:4
                                                  hasAlpha:YES
                                                  isPlanar:NO
                                            colorSpaceName:NSCalibratedRGBColorSpace
                                               bytesPerRow:0
                                              bitsPerPixel:0];
    bitmap.size = NSMakeSize(width, height);
    [NSGraphicsContext saveGraphicsState];
    NSGraphicsContext.currentContext = [NSGraphicsContext graphicsContextWithBitmapImageRep:bitmap];
    [symbol drawInRect:rect
              fromRect:NSZeroRect
             operation:NSCompositingOperationSourceOver
              fraction:1.0];
    [NSGraphicsContext restoreGraphicsState];
    NSData* png = [bitmap representationUsingType:NSBitmapImageFileTypePNG properties:@{}];
    QImage image;
    image.loadFromData(static_cast<const uchar*>(png.bytes), static_cast<int>(png.length), "PNG");
    QPixmap pixmap = QPixmap::fromImage(image);
    pixmap.setDevicePixelRatio(kScale);
    QIcon icon(pixmap);
    // A mask icon is what Qt makes a template image of on macOS.
    icon.setIsMask(isTemplate);
    return icon;
  }
}

}  // namespace

QIcon menuSymbolImage(const std::string& symbolName, const std::string& accessibilityDescription) {
  const StatusMenu::Rect r = StatusMenu::kSymbolRect;
  return drawSymbol(symbolName, accessibilityDescription, StatusMenu::kImageWidth,
                    StatusMenu::kImageHeight, NSMakeRect(r.x, r.y, r.width, r.height), true);
}

QIcon statusItemSymbolImage(const StatusItemAppearance& appearance) {
  return drawSymbol(appearance.symbolName, appearance.symbolAccessibilityDescription,
                    appearance.symbolWidth, appearance.symbolHeight,
                    NSMakeRect(0, 0, appearance.symbolWidth, appearance.symbolHeight),
                    appearance.symbolIsTemplate);
}

QIcon statusItemTitleImage(const std::string& title) {
  QPixmap pixmap(44 * kScale, 22 * kScale);
  pixmap.setDevicePixelRatio(kScale);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  QFont font = QApplication::font();
  font.setPixelSize(13);
  painter.setFont(font);
  painter.setPen(Qt::black);
  painter.drawText(QRectF(0, 0, 44, 22), Qt::AlignCenter, QString::fromStdString(title));
  painter.end();
  QIcon icon(pixmap);
  icon.setIsMask(true);
  return icon;
}

}  // namespace vellora
