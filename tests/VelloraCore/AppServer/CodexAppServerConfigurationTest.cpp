#include <gtest/gtest.h>

#include "VelloraCore/AppServer/CodexAppServerCommand.h"
#include "VelloraCore/AppServer/CodexAppServerConfiguration.h"

namespace vellora {
namespace {

TEST(CodexAppServerConfigurationTest, modelIsAlwaysTheDefault) {
  const Environment environments[] = {
      {}, {{"CODEX_MODEL", "o3"}, {"VELLORA_MODEL", "gpt-4"}, {"MODEL", "other"}}};
  for (const Environment& environment : environments) {
    EXPECT_EQ(CodexAppServerConfiguration(environment).model, "gpt-5.5");
  }
  EXPECT_EQ(CodexAppServerConfiguration(Environment{}),
            CodexAppServerConfiguration(Environment{{"MODEL", "x"}}));
}

}  // namespace
}  // namespace vellora
