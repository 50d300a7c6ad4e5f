#pragma once

#include <string_view>

namespace vellora {

// The judgement of the manifest file found at the installer's location.
//   missing:   no file there
//   installed: a manifest that starts this host for every given extension
//   stale:     a readable manifest naming another host or executable, or lacking an origin
//   invalid:   a file that cannot be read or is not a manifest
enum class NativeHostInstallationState { missing, installed, stale, invalid };

// "missing", "installed", "stale" or "invalid".
std::string_view text(NativeHostInstallationState state) noexcept;

}  // namespace vellora
