#include "window/form/progress_policy.h"

#include <algorithm>

#include "window/form/progress_text.h"

namespace marklode {

ProgressPolicy::ProgressPolicy(std::chrono::milliseconds delay, Clock clock)
    : delay_(delay), clock_(std::move(clock)) {}

void ProgressPolicy::BeginRun() {
  started_ = false;
  cancelled_ = false;
  input_.clear();
  item_ = items_ = 0;
}

void ProgressPolicy::Reading(std::string_view input, int item, int items) {
  input_ = input;
  item_ = item;
  items_ = items;
}

bool ProgressPolicy::Due() {
  if (cancelled_) return false;
  const auto now = clock_();
  if (!started_) {
    started_ = true;
    start_ = now;
    lastTurn_ = now - std::chrono::seconds(1);
  }
  if (now - start_ < delay_ || now - lastTurn_ < kTurnEvery) return false;
  lastTurn_ = now;
  return true;
}

std::string ProgressPolicy::Heading() const {
  return ProgressHeading(input_, item_, items_);
}

int ProgressPolicy::Permille(std::uint64_t done, std::uint64_t total) {
  if (total == 0) return 0;
  return static_cast<int>(std::min(done, total) * 1000 / total);
}

}  // namespace marklode
