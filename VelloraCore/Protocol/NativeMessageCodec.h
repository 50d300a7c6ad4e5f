#pragma once

#include <concepts>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "VelloraCore/Error.h"
#include "VelloraCore/Protocol/JSONValue.h"

namespace vellora {

class NativeMessageCodecError final : public Error {
 public:
  enum class Case { payloadTooLarge, truncatedHeader, truncatedPayload };
  explicit NativeMessageCodecError(Case c) : case_(c) {}
  Case errorCase() const noexcept { return case_; }
  const char* what() const noexcept override;

 private:
  Case case_;
};

// A record with a JSON form: appended as JSON text, read from a JSONValue.
template <typename T>
concept JSONRecord = requires(const T& record, std::string& out, JSONValue&& value) {
  record.appendJSON(out);
  { T::fromJSON(std::move(value)) } -> std::same_as<T>;
};

// The Native Messaging frame: a 32-bit payload length in native byte order, then the payload.
//
//   encodeFrame(NativeEnvelope{.type = "ping"})  ->  0F 00 00 00 {"type":"ping"}
namespace NativeMessageCodec {

inline constexpr std::uint64_t kMaxPayloadBytes = 0xFFFFFFFFu;
// Chrome refuses a message from a host that is larger than 1 MiB, and drops the connection.
inline constexpr std::uint64_t kMaxPayloadBytesToChrome = 1024 * 1024;
inline constexpr std::size_t kHeaderBytes = 4;

// Fails with payloadTooLarge when the payload is longer than kMaxPayloadBytes.
void checkPayloadSize(std::uint64_t payloadBytes);

// Appends the frame bytes of the record to `out`: header and compact JSON payload with "/"
// escaped. Returns the payload's length. On failure `out` is left as it was.
// Throws NativeMessageCodecError (payloadTooLarge) or JSONError.
template <JSONRecord Record>
std::size_t appendFrame(std::string& out, const Record& record) {
  const std::size_t start = out.size();
  try {
    out.append(kHeaderBytes, '\0');
    record.appendJSON(out);
    checkPayloadSize(out.size() - start - kHeaderBytes);
  } catch (...) {
    out.resize(start);
    throw;
  }
  const std::size_t payloadBytes = out.size() - start - kHeaderBytes;
  const auto length = static_cast<std::uint32_t>(payloadBytes);
  std::memcpy(out.data() + start, &length, kHeaderBytes);
  return payloadBytes;
}

// The frame bytes of the record alone. Throws as appendFrame.
template <JSONRecord Record>
std::string encodeFrame(const Record& record) {
  std::string frame;
  appendFrame(frame, record);
  return frame;
}

// The payload length announced by a 4-byte header.
inline std::uint32_t payloadLength(const char* header) {
  std::uint32_t length;
  std::memcpy(&length, header, kHeaderBytes);
  return length;
}

// The record read from the first frame in `bytes`; bytes after it are ignored.
// Throws NativeMessageCodecError (truncatedHeader, truncatedPayload), JSONError or the record's
// own reading error.
template <JSONRecord Record>
Record decodeFrame(std::string_view bytes) {
  if (bytes.size() < kHeaderBytes) {
    throw NativeMessageCodecError(NativeMessageCodecError::Case::truncatedHeader);
  }
  const std::uint64_t length = payloadLength(bytes.data());
  if (bytes.size() - kHeaderBytes < length) {
    throw NativeMessageCodecError(NativeMessageCodecError::Case::truncatedPayload);
  }
  return Record::fromJSON(JSONValue::parse(bytes.substr(kHeaderBytes, length)));
}

}  // namespace NativeMessageCodec

}  // namespace vellora
