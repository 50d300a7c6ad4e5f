#include "VelloraCore/Platform/LocalizedStandardOrder.h"

#include <unicode/coll.h>
#include <unicode/locid.h>
#include <unicode/stringpiece.h>

#include "VelloraCore/Platform/UserLocale.h"

namespace vellora {

struct LocalizedStandardOrder::Collation {
  // Null when ICU has no collator to give; names are then ordered by their bytes.
  std::unique_ptr<icu::Collator> collator;
};

namespace {

std::unique_ptr<icu::Collator> makeCollator() {
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::Collator> collator(icu::Collator::createInstance(userLocale(), status));
  if (U_FAILURE(status) || collator == nullptr) return nullptr;
  collator->setAttribute(UCOL_NUMERIC_COLLATION, UCOL_ON, status);
  if (U_FAILURE(status)) return nullptr;
  return collator;
}

}  // namespace

LocalizedStandardOrder::LocalizedStandardOrder()
    : collation_(std::make_shared<Collation>(Collation{makeCollator()})) {}

int LocalizedStandardOrder::compare(std::string_view a, std::string_view b) const noexcept {
  if (collation_->collator != nullptr) {
    // ICU collators are safe for concurrent comparisons.
    UErrorCode status = U_ZERO_ERROR;
    UCollationResult result = collation_->collator->compareUTF8(
        icu::StringPiece(a.data(), static_cast<int32_t>(a.size())),
        icu::StringPiece(b.data(), static_cast<int32_t>(b.size())), status);
    if (U_SUCCESS(status) && result != UCOL_EQUAL) return result == UCOL_LESS ? -1 : 1;
  }
  return a.compare(b);
}

}  // namespace vellora
