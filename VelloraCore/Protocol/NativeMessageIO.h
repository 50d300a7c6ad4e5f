#pragma once

#include <optional>

#include <cstdint>

#include "VelloraCore/Protocol/NativeEnvelope.h"
#include "VelloraCore/Protocol/NativeMessageCodec.h"

namespace vellora {

// Blocking Native Messaging reader and writer on two file descriptors (the host's standard
// input and output). No lock: one thread uses it. The descriptors stay open at destruction.
class NativeMessageIO {
 public:
  // Frames whose payload is longer than `maxWritePayloadBytes` are refused before anything is
  // written (the host passes Chrome's limit).
  NativeMessageIO(int inputFD, int outputFD,
                  std::uint64_t maxWritePayloadBytes = NativeMessageCodec::kMaxPayloadBytes)
      : input_(inputFD), output_(outputFD), maxWritePayloadBytes_(maxWritePayloadBytes) {}

  // The next envelope, or nothing when the input ended cleanly between frames.
  // Throws NativeMessageCodecError, JSONError, NativeEnvelopeError or IOError.
  std::optional<NativeEnvelope> readEnvelope();
  // Writes one whole frame with one write call (more only when the system takes part of it).
  // Throws NativeMessageCodecError (payloadTooLarge past the write limit; nothing is written),
  // JSONError or IOError (a closed pipe is EPIPE).
  void writeEnvelope(const NativeEnvelope& envelope);

 private:
  int input_;
  int output_;
  std::uint64_t maxWritePayloadBytes_;
};

}  // namespace vellora
