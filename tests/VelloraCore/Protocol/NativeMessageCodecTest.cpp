#include "VelloraCore/Protocol/NativeMessageCodec.h"

#include <gtest/gtest.h>

#include "VelloraCore/Protocol/NativeEnvelope.h"

namespace vellora {
namespace {

std::string header(std::uint32_t length) {
  return std::string(reinterpret_cast<const char*>(&length), 4);
}

TEST(NativeMessageCodecTest, encodesPingAsFifteenBytePayload) {
  const std::string frame = NativeMessageCodec::encodeFrame(NativeEnvelope{.type = "ping"});
  EXPECT_EQ(frame, std::string("\x0F\x00\x00\x00", 4) + R"({"type":"ping"})");
}

TEST(NativeMessageCodecTest, decodesTheFirstFrameAndIgnoresTheRest) {
  const std::string bytes =
      NativeMessageCodec::encodeFrame(NativeEnvelope{.type = "ping", .requestId = "r1"}) +
      "garbage that is not a frame";
  EXPECT_EQ(NativeMessageCodec::decodeFrame<NativeEnvelope>(bytes),
            (NativeEnvelope{.type = "ping", .requestId = "r1"}));
}

TEST(NativeMessageCodecTest, reportsTruncatedFramesWithTheirDescriptions) {
  struct Case {
    std::string bytes;
    NativeMessageCodecError::Case expected;
    const char* description;
  } cases[] = {
      {"", NativeMessageCodecError::Case::truncatedHeader,
       "Native Messaging frame header is truncated."},
      {std::string("\x0F\x00\x00", 3), NativeMessageCodecError::Case::truncatedHeader,
       "Native Messaging frame header is truncated."},
      {header(10) + "abc", NativeMessageCodecError::Case::truncatedPayload,
       "Native Messaging frame payload is truncated."},
      {header(0xFFFFFFFF) + "0123456789", NativeMessageCodecError::Case::truncatedPayload,
       "Native Messaging frame payload is truncated."},
  };
  for (const Case& c : cases) {
    try {
      NativeMessageCodec::decodeFrame<NativeEnvelope>(c.bytes);
      ADD_FAILURE() << "decoded " << c.bytes.size() << " bytes";
    } catch (const NativeMessageCodecError& error) {
      EXPECT_EQ(error.errorCase(), c.expected);
      EXPECT_STREQ(error.what(), c.description);
    }
  }
}

TEST(NativeMessageCodecTest, emptyOrInvalidPayloadIsAJSONError) {
  EXPECT_THROW(NativeMessageCodec::decodeFrame<NativeEnvelope>(header(0)), JSONError);
  EXPECT_THROW(NativeMessageCodec::decodeFrame<NativeEnvelope>(header(3) + "{x}"), JSONError);
}

TEST(NativeMessageCodecTest, largestPayloadIsTheLargest32BitLength) {
  EXPECT_NO_THROW(NativeMessageCodec::checkPayloadSize(4294967295u));
  try {
    NativeMessageCodec::checkPayloadSize(4294967296u);
    ADD_FAILURE() << "accepted a payload past 32 bits";
  } catch (const NativeMessageCodecError& error) {
    EXPECT_EQ(error.errorCase(), NativeMessageCodecError::Case::payloadTooLarge);
    EXPECT_STREQ(error.what(), "Native Messaging payload is too large.");
  }
}

}  // namespace
}  // namespace vellora
