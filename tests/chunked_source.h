// A source that hands out at most `step` bytes per read, as a slow pipe
// would, so that a reader meets every block boundary: inside a tag, an
// entity, a quoted field, a UTF-8 sequence or a UTF-16 code unit.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "services/text_files.h"

namespace marklode::test {

class ChunkedSource : public ByteSource {
 public:
  ChunkedSource(std::string_view data, std::size_t step) : data_(data), step_(step) {}
  std::size_t Read(char* buf, std::size_t cap) override {
    const std::size_t n = std::min({cap, step_, data_.size() - pos_});
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

}  // namespace marklode::test
