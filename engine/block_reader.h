// The unread part of a byte stream, refilled block by block: the readers scan
// buf_[begin_, end_) and call Fill for more. A line or record longer than the
// buffer makes it grow, so no piece is ever cut.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/run_context.h"
#include "services/text_files.h"

// Fuzzing builds shrink the block so that every boundary case is reached.
#ifndef MARKLODE_READ_BLOCK
#define MARKLODE_READ_BLOCK (1 << 20)
#endif

namespace marklode {

class BlockReader {
 public:
  bool cancelled() const { return cancelled_; }

 protected:
  BlockReader(ByteSource& src, ProgressSink* progress)
      : src_(src), progress_(progress), buf_(MARKLODE_READ_BLOCK) {}

  // Moves the unread part to the front and reads more. False at the end of the
  // input, or when the progress sink cancelled the run (the data read stays).
  bool Fill();

  ByteSource& src_;
  ProgressSink* progress_;
  std::vector<char> buf_;
  std::size_t begin_ = 0, end_ = 0;
  std::uint64_t consumed_ = 0;
  bool eof_ = false;
  bool cancelled_ = false;
};

}  // namespace marklode
