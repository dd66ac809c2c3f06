// Text in another encoding, read as UTF-8. Files saved as "Unicode" by some
// editors are UTF-16, with a byte order mark or without; the readers know only
// bytes of an 8-bit text, so such a file is converted at the boundary, as it
// streams.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "services/text_files.h"

namespace marklode {

// Reads inner, turning UTF-16 and UTF-32 (little or big endian) into UTF-8.
// The encoding is told by a byte order mark (which is not passed on) or, as
// XML tells it, by where the first four bytes are NUL: text in these files
// starts with ASCII ("<?xml", "<gpx", a number), so "<\0?\0" is UTF-16LE,
// "\0<\0?" UTF-16BE, "<\0\0\0" UTF-32LE and "\0\0\0<" UTF-32BE. Unpaired
// surrogates, code points out of range and bytes left at the end become
// U+FFFD. UTF-32 in the two unusual byte orders ("\0<\0\0", "\0\0<\0") is
// not read: it gives no text, and unreadable() says so. Any other input
// passes through as it is.
class DecodingSource : public ByteSource {
 public:
  explicit DecodingSource(ByteSource& inner) : inner_(inner) {}
  std::size_t Read(char* buf, std::size_t cap) override;
  std::uint64_t Size() const override { return inner_.Size(); }  // in the input's bytes
  bool utf16() const { return mode_ == Mode::Utf16Le || mode_ == Mode::Utf16Be; }
  bool utf32() const { return mode_ == Mode::Utf32Le || mode_ == Mode::Utf32Be; }
  bool unreadable() const { return mode_ == Mode::Unreadable; }

 private:
  enum class Mode { Unknown, Bytes, Utf16Le, Utf16Be, Utf32Le, Utf32Be, Unreadable };

  void Sniff();
  std::size_t Decode(char* buf, std::size_t cap);
  void Emit(char32_t cp);

  ByteSource& inner_;
  Mode mode_ = Mode::Unknown;
  unsigned char head_[4] = {};  // the first bytes, looked at for the encoding
  std::size_t headLen_ = 0, headPos_ = 0;
  std::size_t unit_ = 2;  // bytes per code unit
  bool little_ = true;
  std::vector<char> in_;  // input read but not yet decoded
  std::size_t inPos_ = 0, inEnd_ = 0;
  bool innerDone_ = false;
  char16_t high_ = 0;  // a high surrogate waiting for its pair
  char out_[8] = {};   // UTF-8 bytes that did not fit the caller's buffer
  std::size_t outPos_ = 0, outEnd_ = 0;
};

}  // namespace marklode
