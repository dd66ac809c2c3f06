// A set of names that only grows, kept compact: the names live end to end in
// large blocks, and an open-addressing table holds one pointer per name. A
// GPX file of millions of points needs every name it has written, so the set
// costs little more than the names themselves.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "services/platform.h"

namespace marklode {

class NameSet {
 public:
  NameSet() { Rehash(1024); }
  // Adds name; false when it was there already.
  bool Insert(std::string_view name) { return Insert(name, Hash(name)); }
  // The same with the name's Hash worked out earlier.
  bool Insert(std::string_view name, std::size_t hash);

  static std::size_t Hash(std::string_view name);
  // Starts loading the table slot a later Insert of this hash looks at first.
  // The table is far bigger than the caches: a caller that asks early enough
  // finds the slot at hand instead of waiting for memory.
  void Prefetch(std::size_t hash) const {
#if defined(__GNUC__)
    __builtin_prefetch(&slots_[hash & mask_]);
#else
    (void)hash;
#endif
  }
  std::size_t size() const {
    return count_;
  }
  // Makes room for about this many names at once, so that the table need not
  // grow through every size on the way.
  void Reserve(std::size_t names);

 private:
  static std::string_view Stored(const char* entry);  // a length, then the bytes
  const char* Keep(std::string_view name);
  void Rehash(std::size_t slots);

  // The hash is kept beside the name: a probe compares names only when the
  // hashes agree, and growing never hashes a name again.
  struct Slot {
    std::size_t hash = 0;
    const char* entry = nullptr;
  };
  ZeroedBlock table_;  // the slots: an empty one is all zero
  Slot* slots_ = nullptr;
  std::size_t mask_ = 0;  // slot count - 1
  std::size_t count_ = 0;
  std::vector<std::unique_ptr<char[]>> blocks_;
  std::size_t blockUsed_ = 0, blockSize_ = 0;
};

}  // namespace marklode
