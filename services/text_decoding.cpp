#include "services/text_decoding.h"

#include <algorithm>
#include <cstring>

namespace marklode {
namespace {
constexpr std::size_t kInputBlock = 64 * 1024;
constexpr char32_t kReplacement = 0xFFFD;
}  // namespace

void DecodingSource::Sniff() {
  while (headLen_ < sizeof head_) {
    const std::size_t n =
        inner_.Read(reinterpret_cast<char*>(head_) + headLen_, sizeof head_ - headLen_);
    if (n == 0) break;
    headLen_ += n;
  }
  const unsigned char* h = head_;
  std::size_t mark = 0;  // the byte order mark is not text
  mode_ = Mode::Bytes;
  if (headLen_ == 4 && h[0] == 0xFF && h[1] == 0xFE && h[2] == 0 && h[3] == 0) {
    mode_ = Mode::Utf32Le;
    mark = 4;
  } else if (headLen_ == 4 && h[0] == 0 && h[1] == 0 && h[2] == 0xFE && h[3] == 0xFF) {
    mode_ = Mode::Utf32Be;
    mark = 4;
  } else if (headLen_ >= 2 && h[0] == 0xFF && h[1] == 0xFE) {
    mode_ = Mode::Utf16Le;
    mark = 2;
  } else if (headLen_ >= 2 && h[0] == 0xFE && h[1] == 0xFF) {
    mode_ = Mode::Utf16Be;
    mark = 2;
  } else if (headLen_ == 4) {
    // Without a mark, the first character is ASCII: which of the first four
    // bytes are not NUL tells the width and the byte order. Text in an 8-bit
    // encoding holds no NUL.
    const unsigned set = (h[0] != 0 ? 1u : 0u) | (h[1] != 0 ? 2u : 0u) | (h[2] != 0 ? 4u : 0u) |
                         (h[3] != 0 ? 8u : 0u);
    if (set == 0b0101) mode_ = Mode::Utf16Le;
    if (set == 0b1010) mode_ = Mode::Utf16Be;
    if (set == 0b0001) mode_ = Mode::Utf32Le;
    if (set == 0b1000) mode_ = Mode::Utf32Be;
    if (set == 0b0010 || set == 0b0100) mode_ = Mode::Unreadable;  // UCS-4 2143 or 3412
  }
  if (!utf16() && !utf32()) return;  // the bytes looked at are passed on as they are
  unit_ = utf32() ? 4 : 2;
  little_ = mode_ == Mode::Utf16Le || mode_ == Mode::Utf32Le;
  in_.resize(kInputBlock);
  std::memcpy(in_.data(), head_ + mark, headLen_ - mark);
  inEnd_ = headLen_ - mark;
  headPos_ = headLen_;
}

void DecodingSource::Emit(char32_t cp) {
  char* p = out_ + outEnd_;
  if (cp < 0x80) {
    *p++ = static_cast<char>(cp);
  } else if (cp < 0x800) {
    *p++ = static_cast<char>(0xC0 | (cp >> 6));
    *p++ = static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    *p++ = static_cast<char>(0xE0 | (cp >> 12));
    *p++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *p++ = static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    *p++ = static_cast<char>(0xF0 | (cp >> 18));
    *p++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    *p++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *p++ = static_cast<char>(0x80 | (cp & 0x3F));
  }
  outEnd_ = p - out_;
}

std::size_t DecodingSource::Decode(char* buf, std::size_t cap) {
  std::size_t n = 0;
  for (;;) {
    // Hand out what is decoded first: a character may straddle two reads.
    const std::size_t k = std::min(cap - n, outEnd_ - outPos_);
    std::memcpy(buf + n, out_ + outPos_, k);
    n += k;
    outPos_ += k;
    if (outPos_ == outEnd_) outPos_ = outEnd_ = 0;
    if (n == cap || outEnd_ > 0) return n;

    if (inEnd_ - inPos_ < unit_) {
      if (!innerDone_) {
        // Keep part of a code unit for the next read: a unit may be cut anywhere.
        std::memmove(in_.data(), in_.data() + inPos_, inEnd_ - inPos_);
        inEnd_ -= inPos_;
        inPos_ = 0;
        const std::size_t got = inner_.Read(in_.data() + inEnd_, in_.size() - inEnd_);
        if (got == 0) innerDone_ = true;
        inEnd_ += got;
        continue;
      }
      if (high_ == 0 && inEnd_ == inPos_) return n;  // the end
      if (high_ != 0) Emit(kReplacement);
      if (inEnd_ > inPos_) Emit(kReplacement);  // part of a code unit at the end
      high_ = 0;
      inPos_ = inEnd_;
      continue;
    }
    const auto* in = reinterpret_cast<const unsigned char*>(in_.data()) + inPos_;
    if (high_ == 0) {
      // Runs of ASCII, the bulk of most files, go straight through.
      const std::size_t k = std::min(cap - n, (inEnd_ - inPos_) / unit_);
      std::size_t m = 0;
      if (unit_ == 2) {
        const std::size_t lo = little_ ? 0 : 1;
        while (m < k && in[2 * m + (1 - lo)] == 0 && in[2 * m + lo] < 0x80) {
          buf[n + m] = static_cast<char>(in[2 * m + lo]);
          ++m;
        }
      } else {
        const std::size_t lo = little_ ? 0 : 3;
        while (m < k && in[4 * m + lo] < 0x80 && in[4 * m + 1] == 0 && in[4 * m + 2] == 0 &&
               in[4 * m + 3 - lo] == 0) {
          buf[n + m] = static_cast<char>(in[4 * m + lo]);
          ++m;
        }
      }
      n += m;
      inPos_ += unit_ * m;
      if (m > 0) continue;
    }
    inPos_ += unit_;
    if (unit_ == 4) {
      const char32_t cp = little_ ? char32_t{in[0]} | char32_t{in[1]} << 8 | char32_t{in[2]} << 16 |
                                        char32_t{in[3]} << 24
                                  : char32_t{in[3]} | char32_t{in[2]} << 8 | char32_t{in[1]} << 16 |
                                        char32_t{in[0]} << 24;
      Emit(cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF) ? kReplacement : cp);
      continue;
    }
    const char16_t unit = little_ ? static_cast<char16_t>(in[0] | (in[1] << 8))
                                  : static_cast<char16_t>((in[0] << 8) | in[1]);
    if (high_ != 0) {
      if (unit >= 0xDC00 && unit <= 0xDFFF) {
        Emit(0x10000 + ((static_cast<char32_t>(high_) - 0xD800) << 10) + (unit - 0xDC00));
        high_ = 0;
        continue;
      }
      Emit(kReplacement);
      high_ = 0;
    }
    if (unit >= 0xD800 && unit <= 0xDBFF) {
      high_ = unit;
    } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
      Emit(kReplacement);
    } else {
      Emit(unit);
    }
  }
}

std::size_t DecodingSource::Read(char* buf, std::size_t cap) {
  if (cap == 0) return 0;
  if (mode_ == Mode::Unknown) Sniff();
  if (utf16() || utf32()) return Decode(buf, cap);
  if (unreadable()) return 0;
  if (headPos_ < headLen_) {  // the bytes looked at, then straight through
    const std::size_t k = std::min(cap, headLen_ - headPos_);
    std::memcpy(buf, head_ + headPos_, k);
    headPos_ += k;
    return k;
  }
  return inner_.Read(buf, cap);
}

}  // namespace marklode
