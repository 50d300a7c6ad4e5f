#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace vellora {

// Splits the bytes of the app-server's standard output into lines. Bytes are read straight
// into the buffer's free space; each complete line is handed out in place, with readable slack
// behind it so that JSONValue::parse(text, capacity) need not copy it. Bytes after a line
// break stay for the next line. A line has no length limit. One thread uses it.
//
//   buffer.commit(copy("{\"a\":1}\n{\"b\"", buffer.prepareWrite(64)));
//   buffer.takeLine()  ->  {"a":1}        buffer.takeLine()  ->  nothing yet
class AppServerLineBuffer {
 public:
  // A line without its 0x0A; a 0x0D before it is kept. Valid until the next prepareWrite().
  struct Line {
    std::string_view text;
    // Bytes readable from text.data(): at least text.size() + JSONValue::kParsePadding.
    std::size_t capacity;
  };

  // Free space of at least `minimumBytes` at the end of the buffered bytes. Invalidates lines
  // handed out before.
  std::span<char> prepareWrite(std::size_t minimumBytes);
  // Marks `count` bytes of the space from prepareWrite() as filled.
  void commit(std::size_t count) noexcept;

  // The next complete line, or nothing until a line break arrives.
  std::optional<Line> takeLine() noexcept;

  // Bytes of an unfinished line.
  std::size_t pendingBytes() const noexcept { return end_ - begin_; }
  // Drops every buffered byte.
  void clear() noexcept;

 private:
  // storage_[begin_, end_) are buffered; storage_ always has padding past end_.
  std::vector<char> storage_;
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
  // Bytes from begin_ already known to hold no line break, so a long line is scanned once.
  std::size_t scanned_ = 0;
};

}  // namespace vellora
