#include "VelloraCore/Platform/LargeStackThread.h"

#include <exception>
#include <memory>
#include <system_error>
#include <utility>

namespace vellora {

namespace {

void* runBody(void* argument) {
  std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(argument));
  (*body)();
  return nullptr;
}

// Destroys the attributes on every path.
struct ThreadAttributes {
  pthread_attr_t value;
  int status;
  ThreadAttributes() : status(::pthread_attr_init(&value)) {}
  ~ThreadAttributes() {
    if (status == 0) ::pthread_attr_destroy(&value);
  }
};

}  // namespace

LargeStackThread::LargeStackThread(std::function<void()> body) {
  ThreadAttributes attributes;
  if (attributes.status != 0) throw std::system_error(attributes.status, std::generic_category());
  if (int error = ::pthread_attr_setstacksize(&attributes.value, kStackBytes)) {
    throw std::system_error(error, std::generic_category());
  }
  auto owned = std::make_unique<std::function<void()>>(std::move(body));
  if (int error = ::pthread_create(&thread_, &attributes.value, runBody, owned.get())) {
    throw std::system_error(error, std::generic_category());
  }
  static_cast<void>(owned.release());  // the thread owns it now
  joinable_ = true;
}

LargeStackThread::~LargeStackThread() {
  if (joinable_) std::terminate();
}

LargeStackThread::LargeStackThread(LargeStackThread&& other) noexcept
    : thread_(other.thread_), joinable_(std::exchange(other.joinable_, false)) {}

LargeStackThread& LargeStackThread::operator=(LargeStackThread&& other) noexcept {
  if (joinable_) std::terminate();
  thread_ = other.thread_;
  joinable_ = std::exchange(other.joinable_, false);
  return *this;
}

void LargeStackThread::join() noexcept {
  if (!joinable_) return;
  ::pthread_join(thread_, nullptr);
  joinable_ = false;
}

void LargeStackThread::detach() noexcept {
  if (!joinable_) return;
  ::pthread_detach(thread_);
  joinable_ = false;
}

}  // namespace vellora
