// A property a fuzz target asserts: when it fails, says which and aborts, so
// libFuzzer keeps the input.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "services/text_files.h"

#define FUZZ_CHECK(cond)                                                            \
  do {                                                                              \
    if (!(cond)) {                                                                  \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
      std::abort();                                                                 \
    }                                                                               \
  } while (0)

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
