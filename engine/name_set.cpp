#include "engine/name_set.h"

#include <cstring>
#include <functional>

namespace marklode {
namespace {
constexpr std::size_t kBlockBytes = 1 << 20;
}

std::string_view NameSet::Stored(const char* entry) {
  std::uint32_t len;
  std::memcpy(&len, entry, sizeof len);
  return {entry + sizeof len, len};
}

const char* NameSet::Keep(std::string_view name) {
  const std::size_t need = sizeof(std::uint32_t) + name.size();
  if (blocks_.empty() || blockSize_ - blockUsed_ < need) {
    blockSize_ = std::max(kBlockBytes, need);
    blocks_.push_back(std::make_unique_for_overwrite<char[]>(
        blockSize_));  // every byte is written before it is read
    blockUsed_ = 0;
  }
  char* entry = blocks_.back().get() + blockUsed_;
  const auto len = static_cast<std::uint32_t>(name.size());
  std::memcpy(entry, &len, sizeof len);
  std::memcpy(entry + sizeof len, name.data(), name.size());
  blockUsed_ += need;
  return entry;
}

void NameSet::Rehash(std::size_t slots) {
  ZeroedBlock old(slots * sizeof(Slot));
  std::swap(old, table_);
  const Slot* const from = slots_;
  const std::size_t oldCount = slots_ ? mask_ + 1 : 0;
  slots_ = static_cast<Slot*>(table_.data());
  mask_ = slots - 1;
  for (std::size_t k = 0; k < oldCount; ++k) {
    const Slot& slot = from[k];
    if (!slot.entry) continue;
    std::size_t i = slot.hash & mask_;
    while (slots_[i].entry) i = (i + 1) & mask_;
    slots_[i] = slot;
  }
}

std::size_t NameSet::Hash(std::string_view name) {
  return std::hash<std::string_view>{}(name);
}

void NameSet::Reserve(std::size_t names) {
  std::size_t slots = mask_ + 1;
  while (names * 4 > slots * 3) slots *= 2;
  if (slots > mask_ + 1) Rehash(slots);
}

bool NameSet::Insert(std::string_view name, std::size_t hash) {
  // At most three quarters full: with the hashes at hand a probe costs little.
  if ((count_ + 1) * 4 > (mask_ + 1) * 3) Rehash((mask_ + 1) * 2);
  const std::size_t mask = mask_;
  std::size_t i = hash & mask;
  while (const char* entry = slots_[i].entry) {
    if (slots_[i].hash == hash && Stored(entry) == name) return false;
    i = (i + 1) & mask;
  }
  slots_[i] = {hash, Keep(name)};
  ++count_;
  return true;
}

}  // namespace marklode
