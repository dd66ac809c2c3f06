// The unread part of a byte stream, refilled block by block: the readers scan
// buf_[begin_, end_) and call Fill for more. A line or record longer than the
// buffer makes it grow, so no piece is ever cut; ReleaseRoom gives the room
// back once it is read.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <new>
#include <string_view>
#include <utility>

#include "engine/padded_text.h"
#include "engine/progress.h"
#include "services/text_files.h"

// Fuzzing builds shrink the block so that every boundary case is reached.
#ifndef MARKLODE_READ_BLOCK
#define MARKLODE_READ_BLOCK (1 << 20)
#endif

namespace marklode {

// The reader's bytes. It grows in place where the system can (realloc), and
// leaves its new room as it is: a long record costs the pages its bytes fill,
// not a cleared copy of twice its size.
class ReadBuffer {
 public:
  ReadBuffer() = default;
  explicit ReadBuffer(std::size_t n) { resize(n); }
  ~ReadBuffer() { std::free(data_); }
  ReadBuffer(const ReadBuffer&) = delete;
  ReadBuffer& operator=(const ReadBuffer&) = delete;

  char* data() { return data_; }
  const char* data() const { return data_; }
  std::size_t size() const { return size_; }
  char& operator[](std::size_t i) { return data_[i]; }
  void resize(std::size_t n) {
    void* p = std::realloc(data_, n);
    if (!p) throw std::bad_alloc();
    data_ = static_cast<char*>(p);
    size_ = n;
  }
  void swap(ReadBuffer& other) noexcept {
    std::swap(data_, other.data_);
    std::swap(size_, other.size_);
  }

 private:
  char* data_ = nullptr;
  std::size_t size_ = 0;
};

class BlockReader {
 public:
  // Bytes after the data that are always there to read, so that short pieces
  // of it can be loaded sixteen bytes at a time without a copy.
  static constexpr std::size_t kPadding = PaddedText::kPad;

  bool cancelled() const { return cancelled_; }
  // Whether text lies in the data read, with kPadding readable bytes after it.
  bool Holds(std::string_view text) const {
    const auto p = reinterpret_cast<std::uintptr_t>(text.data());
    const auto b = reinterpret_cast<std::uintptr_t>(buf_.data());
    return p >= b && p + text.size() <= b + end_;
  }
  // f(text) with text as a PaddedText when it lies in the data read, else as
  // it is: the fast routines where they may read past it, their general
  // twins elsewhere.
  template <class F>
  decltype(auto) WithPadding(std::string_view text, F&& f) const {
    if (Holds(text)) return f(PaddedText(text));
    return f(text);
  }
  // Shrinks a buffer that grew for a long record back to one block, once
  // what is left to read fits in one. No view into the data may be kept.
  void ReleaseRoom();
  // Gives bytes taken over by the constructor below back.
  void ReturnBytes(ReadBuffer& bytes) {
    buf_.swap(bytes);
    begin_ = end_ = 0;
  }

 protected:
  BlockReader(ByteSource& src, ProgressSink* progress)
      : src_(src), progress_(progress), buf_(MARKLODE_READ_BLOCK + kPadding) {}
  // Reads the first n bytes of bytes, taken over as they are (with kPadding
  // more after them), and nothing else.
  BlockReader(ReadBuffer& bytes, std::size_t n);

  // Moves the unread part to the front and reads more. False at the end of the
  // input, or when the progress sink cancelled the run (the data read stays).
  bool Fill();

  static ByteSource& NoBytes();

  ByteSource& src_;
  ProgressSink* progress_;
  ReadBuffer buf_;  // the data, then kPadding bytes never read into
  std::size_t begin_ = 0, end_ = 0;
  std::uint64_t consumed_ = 0;
  bool eof_ = false;
  bool cancelled_ = false;
};

}  // namespace marklode
