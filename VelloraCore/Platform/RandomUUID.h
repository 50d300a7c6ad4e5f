#pragma once

#include <string>

namespace vellora {

// A new random (version 4) UUID in canonical upper-case form, 36 characters:
// "1B4E28BA-2FA1-41D2-883F-0016D3CCA427".
std::string newRandomUUIDText();

}  // namespace vellora
