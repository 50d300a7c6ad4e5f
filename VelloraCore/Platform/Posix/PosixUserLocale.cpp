#include <cstring>

#include "VelloraCore/Platform/UserLocale.h"

namespace vellora {

icu::Locale userLocale() {
  icu::Locale locale = icu::Locale::getDefault();
  // ICU reads C and POSIX as en_US_POSIX, which orders every capital before every small letter.
  if (std::strcmp(locale.getVariant(), "POSIX") == 0) return icu::Locale::getRoot();
  return locale;
}

}  // namespace vellora
