#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "VelloraCore/AppServer/AppServerLineBuffer.h"
#include "VelloraCore/Protocol/JSONValue.h"

namespace vellora {
namespace {

void feed(AppServerLineBuffer& buffer, std::string_view bytes) {
  std::span<char> space = buffer.prepareWrite(bytes.size());
  ASSERT_GE(space.size(), bytes.size());
  std::memcpy(space.data(), bytes.data(), bytes.size());
  buffer.commit(bytes.size());
}

TEST(AppServerLineBufferTest, splitsLinesHoweverTheBytesArrive) {
  const std::string stream =
      "{\"a\":1}\n\r\n{\"b\":\"" + std::string(200000, 'x') + "\"}\r\n\n{\"c\":3}\npartial";
  const std::vector<std::string> expected = {
      "{\"a\":1}", "\r", "{\"b\":\"" + std::string(200000, 'x') + "\"}\r", "", "{\"c\":3}"};
  for (std::size_t chunk : {std::size_t{1}, std::size_t{3}, std::size_t{4096}, stream.size()}) {
    SCOPED_TRACE(chunk);
    AppServerLineBuffer buffer;
    std::vector<std::string> lines;
    for (std::size_t offset = 0; offset < stream.size(); offset += chunk) {
      feed(buffer, std::string_view(stream).substr(offset, chunk));
      while (auto line = buffer.takeLine()) {
        EXPECT_GE(line->capacity, line->text.size() + JSONValue::kParsePadding);
        lines.emplace_back(line->text);
      }
    }
    EXPECT_EQ(lines, expected);
    EXPECT_EQ(buffer.pendingBytes(), std::strlen("partial"));
  }
}

TEST(AppServerLineBufferTest, linesParseInPlace) {
  AppServerLineBuffer buffer;
  feed(buffer, "{\"method\":\"a\"}\r\n{\"method\":\"b\"}\n{");
  auto first = buffer.takeLine();
  ASSERT_TRUE(first);
  EXPECT_EQ(JSONValue::parse(first->text, first->capacity), JSONValue::object({{"method", "a"}}));
  auto second = buffer.takeLine();
  ASSERT_TRUE(second);
  EXPECT_EQ(JSONValue::parse(second->text, second->capacity), JSONValue::object({{"method", "b"}}));
  EXPECT_FALSE(buffer.takeLine());
}

}  // namespace
}  // namespace vellora
