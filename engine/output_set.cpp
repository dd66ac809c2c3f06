#include "engine/output_set.h"

namespace marklode {

bool OutputSet::WriteRecord(const std::string& name, std::string_view record) {
  Entry* e = last_;
  if (!e || e->file->target() != name) {
    auto it = entries_.find(name);
    if (it == entries_.end()) {
      it = entries_.emplace(name, Entry{}).first;
      it->second.file = std::make_unique<OutputFile>(sink_, name);
    }
    e = &it->second;
    last_ = e;
  }
  e->lastUse = ++clock_;
  if (!e->open) {
    // Keep the number of open files bounded: park the least recently used.
    if (openCount_ >= kMaxOpen) {
      Entry* oldest = nullptr;
      for (auto& [n, other] : entries_)
        if (other.open && (!oldest || other.lastUse < oldest->lastUse)) oldest = &other;
      if (oldest) {
        oldest->file->Park();
        oldest->open = false;
        --openCount_;
      }
    }
  }
  bool ok;
  if (e->records > 0) {
    scratch_.assign("\r\n");
    scratch_.append(record);
    ok = e->file->Write(scratch_);
  } else {
    ok = e->file->Write(record);
  }
  if (e->file->started() && !e->open) {
    e->open = true;
    ++openCount_;
  }
  if (ok) ++e->records;
  return ok;
}

std::int64_t OutputSet::CommitAll() {
  std::int64_t lost = 0;
  for (auto& [name, e] : entries_) {
    if (!e.file->started()) continue;  // nothing was written: no file is touched
    if (!e.file->Commit()) lost += e.records;
  }
  entries_.clear();
  last_ = nullptr;
  openCount_ = 0;
  return lost;
}

void OutputSet::DiscardAll() {
  for (auto& [name, e] : entries_) e.file->Discard();
  entries_.clear();
  last_ = nullptr;
  openCount_ = 0;
}

}  // namespace marklode
