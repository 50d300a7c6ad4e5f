// Reads arbitrary bytes as a framed stream through NativeMessageIO, as the host does on its
// standard input, until the stream ends or a read fails.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <thread>

#include "VelloraCore/Protocol/NativeMessageIO.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  int fds[2];
  if (::pipe(fds) != 0) return 0;
  std::thread writer([&] {
    std::size_t offset = 0;
    while (offset < size) {
      const ssize_t n = ::write(fds[1], data + offset, size - offset);
      if (n <= 0) break;
      offset += static_cast<std::size_t>(n);
    }
    ::close(fds[1]);
  });
  vellora::NativeMessageIO io(fds[0], -1);
  try {
    while (io.readEnvelope()) {
    }
  } catch (const vellora::Error&) {
  }
  ::close(fds[0]);
  writer.join();
  return 0;
}
