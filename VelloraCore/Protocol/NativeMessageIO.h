#pragma once

#include <optional>

#include "VelloraCore/Protocol/NativeEnvelope.h"

namespace vellora {

// Blocking Native Messaging reader and writer on two file descriptors (the host's standard
// input and output). No lock: one thread uses it. The descriptors stay open at destruction.
class NativeMessageIO {
 public:
  NativeMessageIO(int inputFD, int outputFD) : input_(inputFD), output_(outputFD) {}

  // The next envelope, or nothing when the input ended cleanly between frames.
  // Throws NativeMessageCodecError, JSONError, NativeEnvelopeError or IOError.
  std::optional<NativeEnvelope> readEnvelope();
  // Writes one whole frame with one write call (more only when the system takes part of it).
  // Throws NativeMessageCodecError, JSONError or IOError (a closed pipe is EPIPE).
  void writeEnvelope(const NativeEnvelope& envelope);

 private:
  int input_;
  int output_;
};

}  // namespace vellora
