#include <gtest/gtest.h>

#include <algorithm>

#include "VelloraCore/Platform/LocalizedStandardOrder.h"

namespace vellora {
namespace {

TEST(LocalizedStandardOrderTest, ordersDigitRunsByValueAndLettersWithoutCase) {
  std::vector<std::string> names = {"v22.1.0", "beta",     "v9.0.0", "Gamma",  "v20.20.0",
                                    "alpha",   "v22.10.0", "Alpha",  "file10", "file2"};
  std::sort(names.begin(), names.end(), LocalizedStandardOrder());
  const std::vector<std::string> expected = {"alpha", "Alpha",  "beta",     "file2",   "file10",
                                             "Gamma", "v9.0.0", "v20.20.0", "v22.1.0", "v22.10.0"};
  EXPECT_EQ(names, expected);
}

TEST(LocalizedStandardOrderTest, isATotalOrder) {
  LocalizedStandardOrder order;
  EXPECT_EQ(order.compare("same", "same"), 0);
  // Names the collation may find equal still differ.
  EXPECT_NE(order.compare("a\u0301", "\u00e1"), 0);
  EXPECT_EQ(order.compare("x", "y") < 0, order.compare("y", "x") > 0);
}

}  // namespace
}  // namespace vellora
