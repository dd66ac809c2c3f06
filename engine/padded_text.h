// Text that may be read past its end. The fast routines for short values
// (escaping and the clean-up check) load sixteen bytes at a time
// however short the value is, so they read bytes after it. PaddedText is the
// only way into them, and only the buffers that keep PaddedText::kPad
// readable bytes after everything they hold can make one: BlockReader (the
// input being read), PaddedBuffer (text built here) and PaddedCopy (a short
// copy on the stack). A routine that takes a PaddedText may read, but never
// use, up to kPad bytes after it.
#pragma once

#include <cstddef>
#include <cstring>
#include <string_view>

#include "services/text_files.h"

namespace marklode {

class PaddedText {
 public:
  // Bytes after the text that may be read. A sixteen-byte load may start at
  // the text's last byte and look two bytes further: 17 are needed.
  static constexpr std::size_t kPad = 32;

  std::string_view view() const { return text_; }
  const char* data() const { return text_.data(); }
  std::size_t size() const { return text_.size(); }
  bool empty() const { return text_.empty(); }

 private:
  explicit PaddedText(std::string_view text) : text_(text) {}
  friend class BlockReader;
  friend class PaddedBuffer;
  friend class PaddedCopy;

  std::string_view text_;
};

// A ByteBuffer that keeps room for kPad bytes after its text, at every step:
// any part of its text may be read as a PaddedText, and Reserve gives kPad
// bytes of room beyond what is asked for, for routines that store a whole
// sixteen-byte step and then keep only part of it.
class PaddedBuffer {
 public:
  static constexpr std::size_t kPad = PaddedText::kPad;

  char* Reserve(std::size_t more) { return bytes_.Reserve(more + kPad); }
  void Commit(const char* end) { bytes_.Commit(end); }
  void Append(std::string_view text) {
    Commit(CopyBytes(Reserve(text.size()), text.data(), text.size()));
  }
  std::size_t size() const { return bytes_.size(); }
  bool empty() const { return bytes_.empty(); }
  void clear() { bytes_.clear(); }
  std::string_view view() const { return bytes_.view(); }
  // [begin, end) of the text.
  PaddedText Padded(std::size_t begin, std::size_t end) const {
    return PaddedText(bytes_.view().substr(begin, end - begin));
  }
  // The bytes themselves, for handing on: whoever empties them leaves the
  // room rule to the next Reserve.
  ByteBuffer& bytes() { return bytes_; }

 private:
  ByteBuffer bytes_;
};

// A short text copied into a padded array of its own, for the last piece of a
// value that lies where nothing may be read after it.
class PaddedCopy {
 public:
  static constexpr std::size_t kMost = 32;
  // text holds at most kMost bytes.
  explicit PaddedCopy(std::string_view text) : size_(text.size()) {
    if (size_ > 0) std::memcpy(bytes_, text.data(), size_);
  }
  PaddedText text() const { return PaddedText(std::string_view(bytes_, size_)); }

 private:
  char bytes_[kMost + PaddedText::kPad] = {};
  std::size_t size_;
};

}  // namespace marklode
