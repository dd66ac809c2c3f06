#include "engine/output_set.h"

namespace marklode {

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
  if (open_.size() >= kMaxOpen) ParkOldest();
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

bool OutputSet::WriteRecord(const std::string& name, std::string_view record) {
  Entry* e = last_;
  if (!e || e->file->target() != name) {
    const std::string& key = keys_.Of(name);
    auto it = entries_.find(key);
    if (it == entries_.end()) {
      it = entries_.emplace(key, Entry{}).first;
      it->second.file = std::make_unique<OutputFile>(sink_, name);
    }
    e = &it->second;
    last_ = e;
    if (e->open) open_.splice(open_.end(), open_, e->use);
  }
  if (e->file->failed()) return false;
  if (!e->open && !OpenEntry(*e)) return false;
  const bool ok = (e->records == 0 || e->file->Write("\r\n")) && e->file->Write(record);
  if (ok) ++e->records;
  return ok;
}

std::int64_t OutputSet::CommitAll() {
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
  open_.clear();
  last_ = nullptr;
  return lost;
}

void OutputSet::DiscardAll() {
  for (auto& [name, e] : entries_) e.file->Discard();
  entries_.clear();
  open_.clear();
  last_ = nullptr;
}

}  // namespace marklode
