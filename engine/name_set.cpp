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
    blocks_.push_back(std::make_unique<char[]>(blockSize_));
    blockUsed_ = 0;
  }
  char* entry = blocks_.back().get() + blockUsed_;
  const auto len = static_cast<std::uint32_t>(name.size());
  std::memcpy(entry, &len, sizeof len);
  std::memcpy(entry + sizeof len, name.data(), name.size());
  blockUsed_ += need;
  return entry;
}

void NameSet::Grow() {
  std::vector<const char*> old(slots_.size() * 2, nullptr);
  old.swap(slots_);
  const std::size_t mask = slots_.size() - 1;
  for (const char* entry : old) {
    if (!entry) continue;
    std::size_t i = std::hash<std::string_view>{}(Stored(entry)) & mask;
    while (slots_[i]) i = (i + 1) & mask;
    slots_[i] = entry;
  }
}

bool NameSet::Insert(std::string_view name) {
  if ((count_ + 1) * 2 > slots_.size()) Grow();  // at most half full
  const std::size_t mask = slots_.size() - 1;
  std::size_t i = std::hash<std::string_view>{}(name)&mask;
  while (const char* entry = slots_[i]) {
    if (Stored(entry) == name) return false;
    i = (i + 1) & mask;
  }
  slots_[i] = Keep(name);
  ++count_;
  return true;
}

}  // namespace marklode
