#include <CoreFoundation/CoreFoundation.h>

#include <cstring>

#include "VelloraCore/Platform/UserLocale.h"

namespace vellora {

icu::Locale userLocale() {
  // The identifier of the user's setting, such as "de_CH" or "en_GB@calendar=iso8601"; ICU
  // reads the same form.
  char identifier[ULOC_FULLNAME_CAPACITY] = {};
  CFLocaleRef current = CFLocaleCopyCurrent();
  const bool copied =
      current != nullptr && CFStringGetCString(CFLocaleGetIdentifier(current), identifier,
                                               sizeof identifier, kCFStringEncodingUTF8);
  if (current != nullptr) CFRelease(current);
  if (!copied) return icu::Locale::getRoot();
  icu::Locale locale(identifier);
  if (locale.isBogus() || std::strcmp(locale.getVariant(), "POSIX") == 0) {
    return icu::Locale::getRoot();
  }
  return locale;
}

}  // namespace vellora
