#include "engine/block_reader.h"

#include <algorithm>
#include <cstring>

namespace marklode {

BlockReader::BlockReader(ReadBuffer& bytes, std::size_t n) : src_(NoBytes()), progress_(nullptr) {
  buf_.swap(bytes);
  end_ = n;
  consumed_ = n;
  eof_ = true;
}

bool BlockReader::Fill() {
  if (eof_) return false;
  if (begin_ > 0) {
    std::memmove(buf_.data(), buf_.data() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
  }
  const std::size_t capacity = buf_.size() - kPadding;
  if (end_ == capacity) buf_.resize(2 * capacity + kPadding);
  // A block at a time, however much the buffer grew: it holds the record
  // being read and little more.
  const std::size_t n =
      src_.Read(buf_.data() + end_,
                std::min<std::size_t>(MARKLODE_READ_BLOCK, buf_.size() - kPadding - end_));
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

ByteSource& BlockReader::NoBytes() {
  static MemorySource none{std::string_view()};  // never read: the reader is at its end
  return none;
}

void BlockReader::ReleaseRoom() {
  constexpr std::size_t kBlock = MARKLODE_READ_BLOCK;
  if (buf_.size() - kPadding <= kBlock || end_ - begin_ > kBlock) return;
  std::memmove(buf_.data(), buf_.data() + begin_, end_ - begin_);
  end_ -= begin_;
  begin_ = 0;
  buf_.resize(kBlock + kPadding);
}

}  // namespace marklode
