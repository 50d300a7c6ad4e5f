#include "VelloraCore/Protocol/JSONValue.h"

#include <gtest/gtest.h>

namespace vellora {
namespace {

TEST(JSONValueTest, readsNestedDocument) {
  JSONValue value = JSONValue::parse(R"({"a": 1, "b": [true, 0, null, "x"]})");
  EXPECT_EQ(
      value,
      (JSONValue(JSONValue::Object{{"a", 1.0}, {"b", JSONValue::Array{true, 0, nullptr, "x"}}})));
  EXPECT_EQ(JSONValue::parse(value.serialized()), value);
}

}  // namespace
}  // namespace vellora
