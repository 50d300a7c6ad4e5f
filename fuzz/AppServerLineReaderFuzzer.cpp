// Feeds arbitrary bytes, split into arbitrary chunks, through the app-server line buffer and
// the JSON parse of each line, and describes every parsed value as a server error. Checks that
// the lines handed out are exactly the bytes fed, split at each 0x0A.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "VelloraCore/AppServer/AppServerError.h"
#include "VelloraCore/AppServer/AppServerLineBuffer.h"
#include "VelloraCore/Protocol/JSONValue.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  // The first byte seeds the chunk sizes; the rest is the child's output.
  uint32_t seed = data[0];
  const char* bytes = reinterpret_cast<const char*>(data + 1);
  const std::size_t length = size - 1;

  vellora::AppServerLineBuffer buffer;
  std::string reassembled;
  std::size_t offset = 0;
  while (offset < length) {
    seed = seed * 1103515245u + 12345u;
    std::size_t chunk = std::min<std::size_t>(length - offset, 1 + (seed >> 16) % 300);
    std::span<char> space = buffer.prepareWrite(chunk);
    std::memcpy(space.data(), bytes + offset, chunk);
    buffer.commit(chunk);
    offset += chunk;
    while (auto line = buffer.takeLine()) {
      if (line->capacity < line->text.size() + vellora::JSONValue::kParsePadding) std::abort();
      reassembled.append(line->text);
      reassembled.push_back('\n');
      try {
        vellora::JSONValue value = vellora::JSONValue::parse(line->text, line->capacity);
        vellora::AppServerError error = vellora::AppServerError::server(std::move(value));
        if (std::strncmp(error.what(), "Codex app-server returned an error: ", 36) != 0) {
          std::abort();
        }
      } catch (const vellora::JSONError&) {
      }
    }
  }
  if (reassembled.size() + buffer.pendingBytes() != length ||
      std::memcmp(reassembled.data(), bytes, reassembled.size()) != 0) {
    std::abort();
  }
  return 0;
}
