// Text in another encoding, read as UTF-8. Files saved as "Unicode" by some
// editors are UTF-16 with a byte order mark; the readers know only bytes of
// an 8-bit text, so such a file is converted at the boundary, as it streams.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "services/text_files.h"

namespace marklode {

// Reads inner, turning UTF-16 (little or big endian, told by its byte order
// mark, which is not passed on) into UTF-8. Unpaired surrogates, and an odd
// byte left at the end, become U+FFFD. Any other input passes through as it is.
class DecodingSource : public ByteSource {
 public:
  explicit DecodingSource(ByteSource& inner) : inner_(inner) {}
  std::size_t Read(char* buf, std::size_t cap) override;
  std::uint64_t Size() const override { return inner_.Size(); }  // in the input's bytes
  bool utf16() const { return mode_ == Mode::Utf16Le || mode_ == Mode::Utf16Be; }

 private:
  enum class Mode { Unknown, Bytes, Utf16Le, Utf16Be };

  void Sniff();
  std::size_t Decode(char* buf, std::size_t cap);
  void Emit(char32_t cp);

  ByteSource& inner_;
  Mode mode_ = Mode::Unknown;
  unsigned char head_[2] = {};  // the first bytes, looked at for a byte order mark
  std::size_t headLen_ = 0, headPos_ = 0;
  std::vector<char> in_;  // UTF-16 input read but not yet decoded
  std::size_t inPos_ = 0, inEnd_ = 0;
  bool innerDone_ = false;
  char16_t high_ = 0;  // a high surrogate waiting for its pair
  char out_[8] = {};   // UTF-8 bytes that did not fit the caller's buffer
  std::size_t outPos_ = 0, outEnd_ = 0;
};

}  // namespace marklode
