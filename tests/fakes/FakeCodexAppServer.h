#pragma once

// Where tests find the stand-in for `codex app-server` (FakeCodexAppServer.cpp documents its
// scenario format) and the variable that names its scenario file.
namespace vellora::test {

inline constexpr const char* kFakeCodexPath = VELLORA_FAKE_CODEX_PATH;
inline constexpr const char* kFakeCodexScenarioVariable = "VELLORA_FAKE_CODEX_SCENARIO";

}  // namespace vellora::test
