// A property a fuzz target asserts: when it fails, says which and aborts, so
// libFuzzer keeps the input.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "services/text_files.h"

#define FUZZ_CHECK(cond)                                                            \
  do {                                                                              \
    if (!(cond)) {                                                                  \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
      std::abort();                                                                 \
    }                                                                               \
  } while (0)

// The input cut at NUL bytes, into at most maxParts parts (the last of them
// also ends at the next NUL, if any): how targets take several texts at once.
inline std::vector<std::string_view> NulSeparated(const std::uint8_t* data, std::size_t size,
                                                  std::size_t maxParts = SIZE_MAX) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  std::vector<std::string_view> parts;
  for (;;) {
    const std::size_t nul = text.find('\0');
    parts.push_back(text.substr(0, nul));
    if (nul == std::string_view::npos || parts.size() == maxParts) break;
    text.remove_prefix(nul + 1);
  }
  return parts;
}

// Hands out at most `step` bytes per read, as a slow pipe would, so that the
// readers meet every block boundary.
class ChunkedSource : public marklode::ByteSource {
 public:
  ChunkedSource(std::string_view data, std::size_t step) : data_(data), step_(step) {}
  std::size_t Read(char* buf, std::size_t cap) override {
    std::size_t n = std::min({cap, step_, data_.size() - pos_});
    std::copy_n(data_.data() + pos_, n, buf);
    pos_ += n;
    return n;
  }
  std::uint64_t Size() const override { return data_.size(); }

 private:
  std::string_view data_;
  std::size_t step_;
  std::size_t pos_ = 0;
};
