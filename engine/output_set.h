// The outputs of one conversion, by file name. Each output is written to a
// temporary beside its target and renamed into place when the conversion
// commits; an output that comes back after records went to another continues
// where it left off. As many stay open as the process may hold (all of them on
// Windows), fewer when it runs short of descriptors; the rest are parked and
// reopened in turn. Their write buffers share one budget. Names are told apart as their folder
// tells them: names that a case-blind folder takes for one file ("Food.CSV",
// "FOOD.CSV") are one output, spelt as the first of them, else each would
// replace the other at the commit.
#pragma once

#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "engine/output_keys.h"
#include "services/text_files.h"

namespace marklode {

class OutputSet {
 public:
  // ignoresCase: whether a folder is case-blind; the system's answer unless
  // given. maxOpen: how many outputs may be open at once; 0 for as many as the
  // process's descriptor limit leaves room for.
  explicit OutputSet(MessageSink& sink, OutputKeys::FolderRule ignoresCase = {},
                     std::size_t maxOpen = 0);

  // Names that refuse(name) is true of take no records: it is asked once per
  // name, when its first record comes, and reports the refusal itself.
  void RefuseWhere(std::function<bool(const std::string& name)> refuse) {
    refuse_ = std::move(refuse);
  }
  // Appends one record to the named output, after CR LF when the output
  // already holds a record. False when it was refused or could not be
  // written: an output that fails is reported once and takes no more records.
  bool WriteRecord(std::string_view name, std::string_view record) {
    return WriteRecord(name, record, HashOf(name));
  }
  // The same with the name's HashOf worked out earlier (on another thread).
  bool WriteRecord(std::string_view name, std::string_view record, std::size_t hash);
  static std::size_t HashOf(std::string_view name) { return std::hash<std::string_view>{}(name); }
  // Renames every output into place; returns the number of records that were
  // counted as written but are lost because their output failed.
  std::int64_t CommitAll();
  void DiscardAll();
  // Outputs that CommitAll put in place.
  std::int32_t committed() const { return committed_; }

  // For a check: records are taken and counted, refusals told, but no file
  // is created; CommitAll counts the outputs that would have been put in place.
  void WriteNothing() { writeNothing_ = true; }

 private:
  struct Entry {
    std::unique_ptr<OutputFile> file;
    std::size_t hash = 0;  // of the name last looked up for it
    std::int64_t records = 0;
    std::list<Entry*>::iterator use;  // in open_, while open
    bool open = false;
  };
  bool OpenEntry(Entry& e);
  bool ParkOldest();
  void ShareBuffers();

  MessageSink& sink_;
  OutputKeys keys_;
  const std::size_t maxOpen_;
  std::size_t bufferBytes_;                            // each output's share of the buffer budget
  std::map<std::string, Entry, std::less<>> entries_;  // by key: committed in this order
  // A name with its hash, looked up without hashing it again.
  struct Hashed {
    std::string_view name;
    std::size_t hash;
  };
  struct ByHash {
    using is_transparent = void;
    std::size_t operator()(const std::string& name) const { return HashOf(name); }
    std::size_t operator()(const Hashed& key) const { return key.hash; }
  };
  struct SameName {
    using is_transparent = void;
    bool operator()(const std::string& a, const std::string& b) const { return a == b; }
    bool operator()(const Hashed& a, const std::string& b) const { return a.name == b; }
    bool operator()(const std::string& a, const Hashed& b) const { return a == b.name; }
  };
  // By the names as given; null: refused.
  std::unordered_map<std::string, Entry*, ByHash, SameName> byName_;
  std::function<bool(const std::string&)> refuse_;
  std::list<Entry*> open_;  // the open outputs, least recently used first
  Entry* last_ = nullptr;
  std::int32_t committed_ = 0;

  bool TakeUnwritten(const std::string& name);
  bool writeNothing_ = false;
  std::unordered_map<std::string, bool> unwritten_;  // by name: taken (not refused)
  std::set<std::string, std::less<>> unwrittenKeys_;
};

}  // namespace marklode
