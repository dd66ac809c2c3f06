// A short queue that carries work from one thread to another and brings the
// spent containers back, so that their memory is reused: at most `capacity`
// items wait, however fast the producer runs.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <vector>

#include "services/sync.h"

namespace marklode {

template <class T>
class Handoff {
 public:
  explicit Handoff(std::size_t capacity) : capacity_(capacity) {}

  // Producer: queues item and gives back a spent one (not cleared) to refill.
  // false, and item left as it was, once the consumer has closed the queue.
  bool Put(T& item) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return queue_.size() < capacity_ || closed_; });
    if (closed_) return false;
    queue_.push_back(std::move(item));
    item = T();
    if (!spare_.empty()) {
      item = std::move(spare_.back());
      spare_.pop_back();
    }
    changed_.notify_all();
    return true;
  }

  // Producer: nothing more will come; the consumer still takes what is queued.
  void End() {
    std::lock_guard lock(mutex_);
    ended_ = true;
    changed_.notify_all();
  }

  // Consumer: hands back the spent item and waits for the next one. false at
  // the end, or once the queue is closed.
  bool Take(T& item) {
    std::unique_lock lock(mutex_);
    spare_.push_back(std::move(item));
    item = T();
    changed_.wait(lock, [&] { return !queue_.empty() || ended_ || closed_; });
    if (closed_ || queue_.empty()) return false;
    item = std::move(queue_.front());
    queue_.pop_front();
    changed_.notify_all();
    return true;
  }

  // Either side: stop now; queued items are dropped.
  void Close() {
    std::lock_guard lock(mutex_);
    closed_ = true;
    queue_.clear();
    changed_.notify_all();
  }

  bool closed() const {
    std::lock_guard lock(mutex_);
    return closed_;
  }

 private:
  const std::size_t capacity_;
  mutable Mutex mutex_;
  CondVar changed_;
  std::deque<T> queue_;
  std::vector<T> spare_;
  bool ended_ = false, closed_ = false;
};

}  // namespace marklode
