#include "tests/VelloraCompanion/Qt/OffscreenApplication.h"

#include <QApplication>
#include <QPixmap>
#include <QWidget>
#include <cstdlib>

#include "tests/VelloraCompanion/Qt/Pixels.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
// fontconfig, which Qt loads to find fonts, keeps a few allocations of its own until the
// process ends; LeakSanitizer would count them against the test program.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}
#endif
#endif

namespace vellora::test {

void ensureOffscreenApplication() {
  static QApplication* application = [] {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char name[] = "CompanionQtTests";
    static char* argv[] = {name, nullptr};
    return new QApplication(argc, argv);
  }();
  (void)application;
}

std::string saveScreenshot(QWidget& widget, const std::string& name) {
  const std::string path = screenshotPath(name);
  widget.grab().save(QString::fromStdString(path));
  return path;
}

}  // namespace vellora::test
