// Renders the application icon's SVG as a square PNG, for the sizes a freedesktop icon theme
// holds: RenderIcon SVG SIZE PNG. A build step of the package; not installed.
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <cstdio>
#include <string>

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: RenderIcon SVG SIZE PNG\n");
    return 2;
  }
  QSvgRenderer renderer(QString::fromLocal8Bit(argv[1]));
  const int size = std::stoi(argv[2]);
  if (!renderer.isValid() || size <= 0) {
    std::fprintf(stderr, "RenderIcon: cannot render %s at %s px\n", argv[1], argv[2]);
    return 1;
  }
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  renderer.render(&painter);
  painter.end();
  return image.save(QString::fromLocal8Bit(argv[3]), "PNG") ? 0 : 1;
}
