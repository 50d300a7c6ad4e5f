#include "VelloraCore/AppServer/AppServerLineBuffer.h"

#include <algorithm>
#include <cstring>

#include "VelloraCore/Protocol/JSONValue.h"

namespace vellora {

namespace {
constexpr std::size_t kPadding = JSONValue::kParsePadding;
}  // namespace

std::span<char> AppServerLineBuffer::prepareWrite(std::size_t minimumBytes) {
  // Move the unfinished line to the front once the consumed part is at least as large, so
  // each byte is moved a bounded number of times.
  if (begin_ > 0 && begin_ >= end_ - begin_) {
    std::memmove(storage_.data(), storage_.data() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
  }
  const std::size_t needed = end_ + minimumBytes + kPadding;
  if (storage_.size() < needed) storage_.resize(std::max(needed, storage_.size() * 2));
  return std::span<char>(storage_.data() + end_, storage_.size() - end_ - kPadding);
}

void AppServerLineBuffer::commit(std::size_t count) noexcept {
  end_ += count;
}

std::optional<AppServerLineBuffer::Line> AppServerLineBuffer::takeLine() noexcept {
  if (begin_ == end_) return std::nullopt;
  const char* start = storage_.data() + begin_;
  const void* newline = std::memchr(start + scanned_, '\n', end_ - begin_ - scanned_);
  if (newline == nullptr) {
    scanned_ = end_ - begin_;
    return std::nullopt;
  }
  const auto length = static_cast<std::size_t>(static_cast<const char*>(newline) - start);
  Line line{std::string_view(start, length), storage_.size() - begin_};
  begin_ += length + 1;
  scanned_ = 0;
  return line;
}

void AppServerLineBuffer::clear() noexcept {
  begin_ = end_ = scanned_ = 0;
}

}  // namespace vellora
