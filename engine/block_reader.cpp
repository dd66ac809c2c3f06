#include "engine/block_reader.h"

#include <cstring>

namespace marklode {

bool BlockReader::Fill() {
  if (eof_) return false;
  if (begin_ > 0) {
    std::memmove(buf_.data(), buf_.data() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
  }
  const std::size_t capacity = buf_.size() - kPadding;
  if (end_ == capacity) buf_.resize(2 * capacity + kPadding);
  const std::size_t n = src_.Read(buf_.data() + end_, buf_.size() - kPadding - end_);
  if (n == 0) {
    eof_ = true;
    return false;
  }
  end_ += n;
  consumed_ += n;
  if (progress_ && !progress_->Update(consumed_, src_.Size())) {
    cancelled_ = true;
    eof_ = true;
  }
  return true;
}

}  // namespace marklode
