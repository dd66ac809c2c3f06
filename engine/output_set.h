// The outputs of one conversion, by file name. Each output is written to a
// temporary beside its target and renamed into place when the conversion
// commits; an output that comes back after records went to another continues
// where it left off. Only a bounded number stay open at a time.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "services/text_files.h"

namespace marklode {

class OutputSet {
 public:
  explicit OutputSet(MessageSink& sink) : sink_(sink) {}

  // Appends one record to the named output, after CR LF when the output
  // already holds a record. False (reported) when it could not be written.
  bool WriteRecord(const std::string& name, std::string_view record);
  // Renames every output into place; returns the number of records that were
  // counted as written but are lost because their output failed.
  std::int64_t CommitAll();
  void DiscardAll();

 private:
  struct Entry {
    std::unique_ptr<OutputFile> file;
    std::int64_t records = 0;
    std::uint64_t lastUse = 0;
    bool open = false;
  };
  static constexpr int kMaxOpen = 32;

  MessageSink& sink_;
  std::map<std::string, Entry, std::less<>> entries_;
  std::string scratch_;
  std::uint64_t clock_ = 0;
  int openCount_ = 0;
  Entry* last_ = nullptr;
};

}  // namespace marklode
