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
  if (end_ == buf_.size()) buf_.resize(buf_.size() * 2);
  const std::size_t n = src_.Read(buf_.data() + end_, buf_.size() - end_);
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
