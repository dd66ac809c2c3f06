// A mutex and a condition variable for the threads that hand work to each
// other. Elsewhere they are the standard ones; on Windows they are the
// system's slim reader/writer lock and condition variable, which wait in the
// process: the MinGW runtime's standard ones wait on kernel events, a call
// into the system (under Wine, a round trip to its server) for every wait
// and wake-up, thousands of them per conversion.
#pragma once

#include <condition_variable>
#include <mutex>

namespace marklode {

#if defined(_WIN32)

namespace os {
// The system's calls, on a lock or condition variable kept as one pointer
// (all zero when new).
void LockExclusive(void** lock);
void UnlockExclusive(void** lock);
void SleepOn(void** condition, void** lock);
void WakeOne(void** condition);
void WakeAll(void** condition);
}  // namespace os

class Mutex {
 public:
  Mutex() = default;
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;
  void lock() { os::LockExclusive(&state_); }
  void unlock() { os::UnlockExclusive(&state_); }

 private:
  friend class CondVar;
  void* state_ = nullptr;
};

class CondVar {
 public:
  CondVar() = default;
  CondVar(const CondVar&) = delete;
  CondVar& operator=(const CondVar&) = delete;
  void notify_one() { os::WakeOne(&state_); }
  void notify_all() { os::WakeAll(&state_); }
  // Wakes spuriously, as the standard one may: callers wait for a condition.
  void wait(std::unique_lock<Mutex>& lock) { os::SleepOn(&state_, &lock.mutex()->state_); }
  template <class Ready>
  void wait(std::unique_lock<Mutex>& lock, Ready ready) {
    while (!ready()) wait(lock);
  }

 private:
  void* state_ = nullptr;
};

#else

using Mutex = std::mutex;
using CondVar = std::condition_variable;

#endif

}  // namespace marklode
