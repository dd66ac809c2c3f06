// The writing side of POI-CSV to GPX: batches into GPX text, handed on in
// chunks. Names are made unique here, in input order. It shows no messages,
// so it may run on a thread of its own (WriterThread). Route blocks wait for
// the end, since GPX puts routes after every waypoint; past a bound they wait
// in a scratch file instead of memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

#include "engine/name_set.h"
#include "engine/padded_text.h"
#include "engine/record_handoff.h"
#include "services/handoff.h"
#include "services/scratch_file.h"
#include "services/text_files.h"

namespace marklode {

// Where route text that waits for the end goes once it passes bytes: a
// scratch file in folder (the output's). Off: it all waits in memory.
struct RouteSpill {
  static constexpr std::size_t kBytes = 8u << 20;
  bool on = false;
  std::string folder;
  std::size_t bytes = kBytes;
};

class GpxWriter {
 public:
  // Takes a chunk of text and gives back an empty buffer; false to stop.
  using Flush = std::function<bool(ByteBuffer&)>;

  explicit GpxWriter(Flush flush, RouteSpill spill = {});

  // Input of this many bytes is on its way: the set of names is sized for it
  // at once, guessing a point per 64 bytes, up to a table of a few megabytes.
  void ExpectInput(std::uint64_t bytes);

  // false when the output failed.
  bool Write(const Batch& batch);
  // Closes the file: routes come after every waypoint. false when the output
  // failed.
  bool Finish();

  std::int32_t count() const { return count_; }
  // Names that a number made unique.
  std::int64_t renamed() const { return renamed_; }
  // Of them, those from input file input (Batch::Item::input).
  std::int64_t renamed(std::size_t input) const {
    return input < renamedBy_.size() ? renamedBy_[input] : 0;
  }
  // A system error (os::Error) when the route text could not be read back from its
  // scratch file (the output is then incomplete), else 0.
  int scratchError() const { return scratchError_; }

 private:
  void SpillRoutes();
  bool FlushSpilled();
  void WritePoint(const Batch& batch, const Batch::Item& item, std::size_t nameHash);
  void WriteLongPoint(const Batch& batch, const Batch::Item& item, std::string_view name);
  // Hands on the output's text once it is long, or spills route text.
  void Drain();
  // The name made unique across the whole output: Home, Home001, Home002, ...
  // Null when the name is unique as it is, else the new name.
  const std::string* MakeUnique(std::string_view name, std::size_t hash);
  void CloseRoute();

  Flush flush_;
  PaddedBuffer out_;
  PaddedBuffer routes_;  // route blocks wait for the end: waypoints come first in GPX
  std::string spillFolder_;
  std::size_t spillAt_ = std::numeric_limits<std::size_t>::max();  // never, when off
  std::unique_ptr<ScratchFile> spilled_;                           // the route text before routes_
  int scratchError_ = 0;
  bool failed_ = false;  // the output took no more
  bool inRoute_ = false;
  std::int32_t count_ = 0;
  std::int64_t renamed_ = 0;
  std::vector<std::int64_t> renamedBy_;  // per input file
  NameSet used_;
  std::unordered_map<std::string, std::size_t> nextSuffix_;
  std::string candidate_;
};

// Starts a thread that runs fn. Throws std::system_error when the system
// gives none (a limit on processes or on memory).
using ThreadStarter = std::thread (*)(std::function<void()> fn);
std::thread StartThread(std::function<void()> fn);

// Runs a GpxWriter on a thread of its own, fed through a short queue, while
// the caller reads. Joined on destruction; a writer that stops (its output
// failed) closes the queue, so the reading side stops too. Where no thread
// can be started, Put writes on the caller's thread: the output is the same,
// only slower.
class WriterThread {
 public:
  explicit WriterThread(GpxWriter& writer, ThreadStarter start = StartThread);
  ~WriterThread();

  // Reading side: a full batch goes, an empty one comes back.
  bool Put(Batch& batch);
  // Waits for the writer to finish the file; false when the output failed.
  // Throws what the writer threw.
  bool Finish();

 private:
  void Run();
  bool WriteHere(Batch& batch);

  GpxWriter& writer_;
  Handoff<Batch> queue_{3};
  bool ok_ = false;
  bool here_ = false;     // no thread: the caller's thread writes
  bool stopped_ = false;  // on the caller's thread, the writer stopped
  std::exception_ptr error_;
  std::thread thread_;  // started last, once the rest is ready
};

}  // namespace marklode
