#include "VelloraCore/Protocol/NativeMessageIO.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <thread>

#include "VelloraCore/Platform/IOError.h"
#include "VelloraCore/Protocol/NativeMessageCodec.h"

namespace vellora {
namespace {

struct Pipe {
  int readEnd = -1;
  int writeEnd = -1;
  Pipe() {
    int fds[2];
    if (::pipe(fds) != 0) throw std::runtime_error("pipe");
    readEnd = fds[0];
    writeEnd = fds[1];
  }
  ~Pipe() {
    closeRead();
    closeWrite();
  }
  void closeRead() {
    if (readEnd >= 0) ::close(readEnd);
    readEnd = -1;
  }
  void closeWrite() {
    if (writeEnd >= 0) ::close(writeEnd);
    writeEnd = -1;
  }
};

// Feeds the bytes from another thread in small pieces, then closes the pipe.
std::thread feed(Pipe& pipe, std::string bytes, std::size_t piece) {
  return std::thread([&pipe, bytes = std::move(bytes), piece] {
    for (std::size_t offset = 0; offset < bytes.size(); offset += piece) {
      const std::size_t count = std::min(piece, bytes.size() - offset);
      if (::write(pipe.writeEnd, bytes.data() + offset, count) < 0) break;
    }
    pipe.closeWrite();
  });
}

std::string header(std::uint32_t length) {
  return std::string(reinterpret_cast<const char*>(&length), 4);
}

TEST(NativeMessageIOTest, readsFramesAcrossShortReadsUntilTheCleanEnd) {
  Pipe input;
  const NativeEnvelope first{.type = "ping", .requestId = "r1"};
  const NativeEnvelope second{.type = "chat.turn", .prompt = std::string(100000, 'x')};
  std::thread writer = feed(
      input, NativeMessageCodec::encodeFrame(first) + NativeMessageCodec::encodeFrame(second), 7);
  NativeMessageIO io(input.readEnd, -1);
  EXPECT_EQ(io.readEnvelope(), first);
  EXPECT_EQ(io.readEnvelope(), second);
  EXPECT_EQ(io.readEnvelope(), std::nullopt);
  writer.join();
}

TEST(NativeMessageIOTest, reportsTruncatedInput) {
  struct Case {
    const char* label;
    std::string bytes;
    NativeMessageCodecError::Case expected;
  } cases[] = {
      {"two header bytes", "\x0F\x00", NativeMessageCodecError::Case::truncatedHeader},
      {"short payload", header(10) + "abc", NativeMessageCodecError::Case::truncatedPayload},
      {"huge announced length", header(0xFFFFFFFF) + "0123456789",
       NativeMessageCodecError::Case::truncatedPayload},
      {"payload cut after a buffer's worth", header(1 << 20) + std::string(200000, ' '),
       NativeMessageCodecError::Case::truncatedPayload},
  };
  for (Case& c : cases) {
    Pipe input;
    std::thread writer = feed(input, c.bytes, 4096);
    NativeMessageIO io(input.readEnd, -1);
    try {
      io.readEnvelope();
      ADD_FAILURE() << c.label << ": read";
    } catch (const NativeMessageCodecError& error) {
      EXPECT_EQ(error.errorCase(), c.expected) << c.label;
    }
    writer.join();
  }
}

TEST(NativeMessageIOTest, refusesFramesPastTheWriteLimitBeforeWritingAnything) {
  Pipe output;
  NativeMessageIO io(-1, output.writeEnd, 64);
  const NativeEnvelope small{.type = "chat.delta", .delta = std::string(30, 'x')};
  const NativeEnvelope large{.type = "chat.delta", .delta = std::string(60, 'x')};
  try {
    io.writeEnvelope(large);
    ADD_FAILURE() << "wrote past the limit";
  } catch (const NativeMessageCodecError& error) {
    EXPECT_EQ(error.errorCase(), NativeMessageCodecError::Case::payloadTooLarge);
  }
  io.writeEnvelope(small);
  output.closeWrite();
  std::string bytes(256, '\0');
  const ssize_t count = ::read(output.readEnd, bytes.data(), bytes.size());
  ASSERT_GT(count, 0);
  bytes.resize(static_cast<std::size_t>(count));
  EXPECT_EQ(bytes, NativeMessageCodec::encodeFrame(small));
}

TEST(NativeMessageIOTest, writesWholeFramesAndReportsAClosedPipe) {
  ::signal(SIGPIPE, SIG_IGN);
  Pipe output;
  NativeMessageIO io(-1, output.writeEnd);
  const NativeEnvelope reply{.type = "pong", .requestId = "r1", .ok = true};
  io.writeEnvelope(reply);
  std::string bytes(256, '\0');
  const ssize_t count = ::read(output.readEnd, bytes.data(), bytes.size());
  ASSERT_GT(count, 0);
  bytes.resize(static_cast<std::size_t>(count));
  EXPECT_EQ(bytes, NativeMessageCodec::encodeFrame(reply));

  output.closeRead();
  try {
    io.writeEnvelope(reply);
    ADD_FAILURE() << "wrote to a closed pipe";
  } catch (const IOError& error) {
    EXPECT_EQ(error.errorNumber(), EPIPE);
  }
}

TEST(NativeMessageIOTest, queuedFramesGoOutTogetherInOrderBeforeTheNextWriteOrRead) {
  Pipe output;
  Pipe input;
  NativeMessageIO io(input.readEnd, output.writeEnd, 64);
  ::fcntl(output.readEnd, F_SETFL, O_NONBLOCK);
  const auto readAvailable = [&] {
    std::string bytes(4096, '\0');
    const ssize_t count = ::read(output.readEnd, bytes.data(), bytes.size());
    bytes.resize(count > 0 ? static_cast<std::size_t>(count) : 0);
    return bytes;
  };
  const NativeEnvelope first{.type = "chat.delta", .delta = "Hel"};
  const NativeEnvelope second{.type = "chat.delta", .delta = "lo/"};
  const NativeEnvelope tooLarge{.type = "chat.delta", .delta = std::string(60, 'x')};
  const NativeEnvelope done{.type = "chat.done"};

  io.flush();  // nothing queued: nothing written
  io.queueEnvelope(first);
  io.queueEnvelope(second);
  EXPECT_THROW(io.queueEnvelope(tooLarge), NativeMessageCodecError);
  EXPECT_TRUE(io.hasQueuedFrames());
  EXPECT_EQ(readAvailable(), "");
  io.writeEnvelope(done);
  EXPECT_FALSE(io.hasQueuedFrames());
  EXPECT_EQ(readAvailable(), NativeMessageCodec::encodeFrame(first) +
                                 NativeMessageCodec::encodeFrame(second) +
                                 NativeMessageCodec::encodeFrame(done));

  // Nothing queued is left behind when the host goes back to reading.
  io.queueEnvelope(first);
  input.closeWrite();
  EXPECT_EQ(io.readEnvelope(), std::nullopt);
  EXPECT_EQ(readAvailable(), NativeMessageCodec::encodeFrame(first));
}

}  // namespace
}  // namespace vellora
