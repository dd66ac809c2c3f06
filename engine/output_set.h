// The outputs of one conversion, by file name. Each output is written to a
// temporary beside its target and renamed into place when the conversion
// commits; an output that comes back after records went to another continues
// where it left off. Only a bounded number stay open at a time, fewer when the
// process runs short of descriptors. Names are told apart as their folder
// tells them: names that a case-blind folder takes for one file ("Food.CSV",
// "FOOD.CSV") are one output, spelt as the first of them, else each would
// replace the other at the commit.
#pragma once

#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "engine/output_keys.h"
#include "services/text_files.h"

namespace marklode {

class OutputSet {
 public:
  // ignoresCase: whether a folder is case-blind; the system's answer unless given.
  explicit OutputSet(MessageSink& sink, OutputKeys::FolderRule ignoresCase = {})
      : sink_(sink), keys_(std::move(ignoresCase)) {}

  // Appends one record to the named output, after CR LF when the output
  // already holds a record. False when it could not be written: an output
  // that fails is reported once and takes no more records.
  bool WriteRecord(const std::string& name, std::string_view record);
  // Renames every output into place; returns the number of records that were
  // counted as written but are lost because their output failed.
  std::int64_t CommitAll();
  void DiscardAll();
  // Outputs that CommitAll put in place.
  std::int32_t committed() const { return committed_; }

 private:
  struct Entry {
    std::unique_ptr<OutputFile> file;
    std::int64_t records = 0;
    std::list<Entry*>::iterator use;  // in open_, while open
    bool open = false;
  };
  static constexpr std::size_t kMaxOpen = 32;

  bool OpenEntry(Entry& e);
  bool ParkOldest();

  MessageSink& sink_;
  OutputKeys keys_;
  std::map<std::string, Entry, std::less<>> entries_;
  std::list<Entry*> open_;  // the open outputs, least recently used first
  Entry* last_ = nullptr;
  std::int32_t committed_ = 0;
};

}  // namespace marklode
