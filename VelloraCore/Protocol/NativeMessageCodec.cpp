#include "VelloraCore/Protocol/NativeMessageCodec.h"

namespace vellora {

const char* NativeMessageCodecError::what() const noexcept {
  switch (case_) {
    case Case::payloadTooLarge:
      return "Native Messaging payload is too large.";
    case Case::truncatedHeader:
      return "Native Messaging frame header is truncated.";
    case Case::truncatedPayload:
      return "Native Messaging frame payload is truncated.";
  }
  return "Native Messaging frame is invalid.";
}

void NativeMessageCodec::checkPayloadSize(std::uint64_t payloadBytes) {
  if (payloadBytes > kMaxPayloadBytes) {
    throw NativeMessageCodecError(NativeMessageCodecError::Case::payloadTooLarge);
  }
}

}  // namespace vellora
