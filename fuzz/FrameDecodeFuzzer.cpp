// Decodes arbitrary bytes as a Native Messaging frame holding an envelope; every input must end
// in an envelope or a typed error, never a crash, leak or hang.
#include <cstddef>
#include <cstdint>
#include <string>

#include "VelloraCore/Protocol/NativeEnvelope.h"
#include "VelloraCore/Protocol/NativeMessageCodec.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  try {
    vellora::NativeEnvelope envelope =
        vellora::NativeMessageCodec::decodeFrame<vellora::NativeEnvelope>(bytes);
    // Whatever was read must write back and read again to the same envelope.
    const std::string frame = vellora::NativeMessageCodec::encodeFrame(envelope);
    if (vellora::NativeMessageCodec::decodeFrame<vellora::NativeEnvelope>(frame) != envelope) {
      __builtin_trap();
    }
  } catch (const vellora::Error&) {
  }
  return 0;
}
