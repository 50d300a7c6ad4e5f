#include "VelloraCompanion/Model/Autostart.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "VelloraCore/Platform/FileSystem.h"
#include "tests/support/TemporaryDirectory.h"

namespace vellora {
namespace {

TEST(AutostartTest, theEntryLiesInTheConfigurationFolder) {
  const std::unique_ptr<FileSystem> fileSystem = makePosixFileSystem();
  const struct {
    Environment environment;
    std::string path;
  } cases[] = {
      {{}, "/home/u/.config/autostart/vellora-companion.desktop"},
      {{{"XDG_CONFIG_HOME", "/cfg/"}}, "/cfg/autostart/vellora-companion.desktop"},
      {{{"XDG_CONFIG_HOME", "relative"}}, "/home/u/.config/autostart/vellora-companion.desktop"},
      {{{"XDG_CONFIG_HOME", ""}}, "/home/u/.config/autostart/vellora-companion.desktop"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Autostart(*fileSystem, "/home/u/", c.environment).path(), c.path);
  }
}

TEST(AutostartTest, theEntryNamesTheCompanionInTryExecAndExec) {
  const struct {
    std::string program;
    std::string tryExec;
    std::string exec;
  } cases[] = {
      {"/usr/lib/vellora/VelloraCompanion", "/usr/lib/vellora/VelloraCompanion",
       "/usr/lib/vellora/VelloraCompanion"},
      // Quoted for the command line, then escaped as a string value.
      {"/home/u/My Apps/VelloraCompanion", "/home/u/My Apps/VelloraCompanion",
       "\"/home/u/My Apps/VelloraCompanion\""},
      {"/opt/a\"b$c`d\\e", "/opt/a\"b$c`d\\\\e", "\"/opt/a\\\\\"b\\\\$c\\\\`d\\\\\\\\e\""},
      // A percent sign would start a field code.
      {"/opt/100%/VelloraCompanion", "/opt/100%/VelloraCompanion", "/opt/100%%/VelloraCompanion"},
  };
  for (const auto& c : cases) {
    const std::string text = Autostart::entryText(c.program);
    EXPECT_NE(text.find("\nTryExec=" + c.tryExec + "\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nExec=" + c.exec + "\n"), std::string::npos) << text;
    EXPECT_EQ(text.rfind("[Desktop Entry]\nType=Application\n", 0), 0u);
  }
  EXPECT_THROW(Autostart::entryText("VelloraCompanion"), std::invalid_argument);
  EXPECT_THROW(Autostart::entryText("/opt/a\nExec=/bin/evil"), std::invalid_argument);
}

TEST(AutostartTest, enableWritesTheFolderAndTheEntryAndDisableRemovesIt) {
  test::TemporaryDirectory home;
  const std::unique_ptr<FileSystem> fileSystem = makePosixFileSystem();
  Autostart autostart(*fileSystem, home.path(), {});
  EXPECT_FALSE(autostart.isEnabled());
  autostart.disable();
  autostart.enable("/usr/lib/vellora/VelloraCompanion");
  EXPECT_TRUE(autostart.isEnabled());
  EXPECT_EQ(fileSystem->readFile(home / ".config/autostart/vellora-companion.desktop", 1 << 16),
            Autostart::entryText("/usr/lib/vellora/VelloraCompanion"));
  autostart.disable();
  EXPECT_FALSE(autostart.isEnabled());
  EXPECT_TRUE(fileSystem->isDirectory(home / ".config/autostart"));
}

}  // namespace
}  // namespace vellora
