#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

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

  // The next envelope, or nothing when the input ended cleanly between frames. Queued frames
  // are written first. Throws NativeMessageCodecError, JSONError, NativeEnvelopeError or
  // IOError.
  std::optional<NativeEnvelope> readEnvelope();
  // Writes the frames queued so far and then this one, with one write call (more only when the
  // system takes part of it). Throws NativeMessageCodecError (payloadTooLarge past the write
  // limit; nothing is written, not even the queue), JSONError or IOError (a closed pipe is
  // EPIPE; the queue is dropped).
  void writeEnvelope(const NativeEnvelope& envelope);

  // Adds one frame to the queue without writing anything, so that frames produced in a row go
  // out in one write. Throws as writeEnvelope; a refused frame leaves the queue as it was.
  void queueEnvelope(const NativeEnvelope& envelope);
  // Writes the queued frames, in order, with one write call; does nothing when none are
  // queued. The queue is empty afterwards, also when the write fails. Throws IOError.
  void flush();
  bool hasQueuedFrames() const noexcept { return !queued_.empty(); }
  // The longest payload writeEnvelope and queueEnvelope take.
  std::uint64_t maxWritePayloadBytes() const noexcept { return maxWritePayloadBytes_; }

 private:
  int input_;
  int output_;
  // The payload of a frame, with room for the JSON parse padding: in one buffer that grows as
  // bytes arrive, or, too long to be given one buffer up front, in growing chunks.
  std::string readDirectly(std::size_t length);
  std::string readInChunks(std::size_t length);

  std::uint64_t maxWritePayloadBytes_;
  // Frames not written yet. Its memory is kept for the next frames.
  std::string queued_;
};

}  // namespace vellora
