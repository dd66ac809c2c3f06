// The progress window of a long conversion, as every view shows it: nothing
// for a short run, then the window, brought up to date and given a turn of
// the window system's events (so that Cancel can be pressed) at most every
// 50 ms, under a first line that names the file being read.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace marklode {

class ProgressPolicy {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;
  static constexpr std::chrono::milliseconds kDelay{500}, kTurnEvery{50};

  explicit ProgressPolicy(std::chrono::milliseconds delay = kDelay,
                          Clock clock = &std::chrono::steady_clock::now);

  // A new request: the clock starts at its first report, and a Cancel of an
  // earlier run no longer counts.
  void BeginRun();
  // The input the run reads next: the first line names it and, for a list,
  // which of how many it is.
  void Reading(std::string_view input, int item, int items);
  // At a report: true when the window is to show (or be brought up to date)
  // and the events serviced now; false for a run younger than the delay,
  // within 50 ms of the last turn, or cancelled.
  bool Due();
  void Cancel() { cancelled_ = true; }  // the user pressed Cancel
  bool cancelled() const { return cancelled_; }
  std::string Heading() const;
  // How far the bar goes, in thousandths: never beyond the end, nothing of nothing.
  static int Permille(std::uint64_t done, std::uint64_t total);

 private:
  std::chrono::milliseconds delay_;
  Clock clock_;
  bool started_ = false, cancelled_ = false;
  std::string input_;  // empty: no file is named
  int item_ = 0, items_ = 0;
  std::chrono::steady_clock::time_point start_, lastTurn_;
};

}  // namespace marklode
