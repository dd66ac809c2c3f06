#include "engine/output_set.h"

#include <algorithm>

#include "services/os.h"

namespace marklode {
namespace {

// Descriptors left for everything else the program holds: its input, the
// profile, settings, the standard streams and the window's own.
constexpr std::size_t kOtherFiles = 64;
// What the open outputs' write buffers may hold together: a few outputs get
// a full buffer each, a thousand categories a page or two each.
constexpr std::size_t kBufferBudget = 8 << 20;
constexpr std::size_t kFullBuffer = 256 << 10, kLeastBuffer = 4 << 10;

std::size_t MaxOpenFor(std::size_t limit) {
  if (limit == SIZE_MAX) return limit;
  return limit > 2 * kOtherFiles ? limit - kOtherFiles : std::max<std::size_t>(limit / 2, 1);
}

}  // namespace

OutputSet::OutputSet(MessageSink& sink, OutputKeys::FolderRule ignoresCase, std::size_t maxOpen)
    : sink_(sink),
      keys_(std::move(ignoresCase)),
      maxOpen_(maxOpen ? maxOpen : MaxOpenFor(os::OpenFileLimit())),
      bufferBytes_(kFullBuffer) {}

// Shrinks every output's buffer when the number of outputs reaches a power of
// two, to its share among twice as many: the budget holds until the next
// power of two, at a cost linear in their number.
void OutputSet::ShareBuffers() {
  const std::size_t n = entries_.size();
  if (n < 2 || (n & (n - 1)) != 0) return;
  const std::size_t share = std::clamp(kBufferBudget / (2 * n), kLeastBuffer, kFullBuffer);
  if (share == bufferBytes_) return;
  bufferBytes_ = share;
  for (auto& [name, e] : entries_) e.file->LimitBuffer(share);
}

// Closes the least recently used open output; false when none is open.
bool OutputSet::ParkOldest() {
  if (open_.empty()) return false;
  Entry* oldest = open_.front();
  open_.pop_front();
  oldest->open = false;
  oldest->file->Park();  // a failure is reported and the output takes no more
  return true;
}

// Opens an output for writing. Running short of descriptors parks other
// outputs until it opens; only when none is left to park does it fail.
bool OutputSet::OpenEntry(Entry& e) {
  if (open_.size() >= maxOpen_) ParkOldest();
  for (;;) {
    const int err = e.file->Open();
    if (err == 0) break;
    if (!os::ShortOfHandles(err)) return false;  // reported
    if (!ParkOldest()) {
      e.file->GiveUp(err);
      return false;
    }
  }
  e.open = true;
  e.use = open_.insert(open_.end(), &e);
  return true;
}

bool OutputSet::WriteRecord(std::string_view name, std::string_view record, std::size_t hash) {
  if (writeNothing_) return TakeUnwritten(std::string(name));
  Entry* e = last_;
  if (!e || e->hash != hash || e->file->target() != name) {
    // Records that take turns among many outputs find theirs by the hash of
    // the name; the key is worked out once per name.
    auto found = byName_.find(Hashed{name, hash});
    if (found == byName_.end()) {
      const std::string given(name);
      found = byName_.emplace(given, nullptr).first;
      if (!(refuse_ && refuse_(given))) {
        const std::string& key = keys_.Of(given);
        auto it = entries_.find(key);
        if (it == entries_.end()) {
          it = entries_.emplace(key, Entry{}).first;
          it->second.file = std::make_unique<OutputFile>(sink_, given);
          it->second.file->LimitBuffer(bufferBytes_);
          ShareBuffers();
        }
        found->second = &it->second;
      }
    }
    if (!found->second) return false;  // refused
    e = found->second;
    e->hash = hash;  // names a case-blind folder takes for one share an entry
    last_ = e;
    // The order of use matters only once outputs may have to be parked.
    if (e->open && entries_.size() > maxOpen_) open_.splice(open_.end(), open_, e->use);
  }
  if (e->file->failed()) return false;
  if (!e->open && !OpenEntry(*e)) return false;
  const bool ok = (e->records == 0 || e->file->Write("\r\n")) && e->file->Write(record);
  if (ok) ++e->records;
  return ok;
}

std::int64_t OutputSet::CommitAll() {
  if (writeNothing_) {
    committed_ += static_cast<std::int32_t>(unwrittenKeys_.size());
    unwritten_.clear();
    unwrittenKeys_.clear();
    return 0;
  }
  std::int64_t lost = 0;
  for (auto& [name, e] : entries_) {
    if (!e.file->started()) continue;  // nothing was written: no file is touched
    if (e.file->Commit()) {
      ++committed_;
    } else {
      lost += e.records;
    }
  }
  entries_.clear();
  byName_.clear();
  open_.clear();
  last_ = nullptr;
  return lost;
}

bool OutputSet::TakeUnwritten(const std::string& name) {
  auto [found, isNew] = unwritten_.try_emplace(name, true);
  if (isNew) {
    // What the run would be told opening it, told here without creating it.
    found->second = !(refuse_ && refuse_(name)) && OutputFile(sink_, name).WouldOpen() == 0;
    if (found->second) unwrittenKeys_.insert(keys_.Of(name));
  }
  return found->second;
}

void OutputSet::DiscardAll() {
  unwritten_.clear();
  unwrittenKeys_.clear();
  for (auto& [name, e] : entries_) e.file->Discard();
  entries_.clear();
  byName_.clear();
  open_.clear();
  last_ = nullptr;
}

}  // namespace marklode
