// How a run tells how far it has come, and learns that it is cancelled.
#pragma once

#include <cstdint>
#include <string_view>

namespace marklode {

// Told how far a long conversion has read; returning false cancels it.
class ProgressSink {
 public:
  virtual ~ProgressSink() = default;
  // Before each input is read: its name as given and, in a list of more than
  // one item, its place (counted from 1) and the number of items; 0 and 0
  // otherwise.
  virtual void Reading(std::string_view /*input*/, int /*item*/, int /*items*/) {}
  virtual bool Update(std::uint64_t bytesDone, std::uint64_t bytesTotal) = 0;
  // Asked once per record and once more before outputs are put in place, so
  // that a cancel is honoured however little is left to read; must be cheap.
  virtual bool Cancelled() { return false; }
};

}  // namespace marklode
