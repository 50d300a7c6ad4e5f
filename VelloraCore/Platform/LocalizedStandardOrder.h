#pragma once

#include <memory>
#include <string_view>

namespace vellora {

// Orders names the way a file manager lists them, in the current locale: letters compare
// without regard to case first, and runs of digits compare by numeric value.
//
//   "v9.0.0" < "v20.20.0" < "v22.1.0"      "Alpha" < "beta" < "Gamma"
//
// Names that the collation finds equal are ordered by their bytes, so the order is total.
// Cheap to copy; a copy may be used on another thread.
class LocalizedStandardOrder {
 public:
  LocalizedStandardOrder();

  // Negative, zero or positive as `a` orders before, equal to or after `b` (UTF-8 text).
  int compare(std::string_view a, std::string_view b) const noexcept;
  // For std::sort: `a` orders before `b`.
  bool operator()(std::string_view a, std::string_view b) const noexcept {
    return compare(a, b) < 0;
  }

 private:
  struct Collation;
  std::shared_ptr<const Collation> collation_;
};

}  // namespace vellora
