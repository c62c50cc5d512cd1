#include "acquisition/StreamDigest.h"

namespace prereq {

StreamDigest::~StreamDigest() {
  {
    std::lock_guard<std::mutex> hold(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  if (worker_.joinable()) worker_.join();
}

void StreamDigest::Feed(const uint8_t* data, size_t size) {
  for (DigestSink* sink : sinks_) sink->Update(data, size);
}

void StreamDigest::WaitIdleLocked(std::unique_lock<std::mutex>& hold) {
  changed_.wait(hold, [this] { return !busy_; });
}

void StreamDigest::Submit(const uint8_t* data, size_t size) {
  if (size == 0) return;
  bytes_ += size;
  if (sinks_.empty()) return;
  std::unique_lock<std::mutex> hold(mutex_);
  WaitIdleLocked(hold);
  if (size < kInlineBelow) {
    // The worker is idle: the order of the pieces is kept.
    hold.unlock();
    Feed(data, size);
    return;
  }
  if (!worker_.joinable()) worker_ = std::thread([this] { Work(); });
  piece_ = data;
  pieceSize_ = size;
  busy_ = true;
  hold.unlock();
  changed_.notify_all();
}

void StreamDigest::Finish() {
  std::unique_lock<std::mutex> hold(mutex_);
  WaitIdleLocked(hold);
}

void StreamDigest::Work() {
  std::unique_lock<std::mutex> hold(mutex_);
  for (;;) {
    changed_.wait(hold, [this] { return busy_ || stop_; });
    if (!busy_) return;  // stopped with nothing to do
    const uint8_t* data = piece_;
    const size_t size = pieceSize_;
    hold.unlock();
    Feed(data, size);
    hold.lock();
    busy_ = false;
    piece_ = nullptr;
    changed_.notify_all();
  }
}

}  // namespace prereq
