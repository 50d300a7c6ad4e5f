#pragma once

#include <unicode/locid.h>

namespace vellora {

// The locale by which text is ordered and compared for the user. On macOS it is the system's
// language and region setting: programs started by launchd get no LANG or LC_* variables. On
// other systems it is the environment's (ICU's default). The C and POSIX locales, whose
// collation is byte order, count as the language-neutral root locale.
icu::Locale userLocale();

}  // namespace vellora
