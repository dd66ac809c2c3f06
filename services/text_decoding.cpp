#include "services/text_decoding.h"

#include <algorithm>
#include <cstring>

namespace marklode {
namespace {
constexpr std::size_t kInputBlock = 64 * 1024;
constexpr char32_t kReplacement = 0xFFFD;
}  // namespace

void DecodingSource::Sniff() {
  while (headLen_ < 2) {
    const std::size_t n =
        inner_.Read(reinterpret_cast<char*>(head_) + headLen_, sizeof head_ - headLen_);
    if (n == 0) break;
    headLen_ += n;
  }
  mode_ = Mode::Bytes;
  if (headLen_ == 2 && head_[0] == 0xFF && head_[1] == 0xFE) mode_ = Mode::Utf16Le;
  if (headLen_ == 2 && head_[0] == 0xFE && head_[1] == 0xFF) mode_ = Mode::Utf16Be;
  if (utf16()) {
    headPos_ = headLen_;  // the mark itself is not text
    in_.resize(kInputBlock);
  }
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

    if (inEnd_ - inPos_ < 2) {
      if (!innerDone_) {
        // Keep an odd byte for the next read: a code unit may be cut anywhere.
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
      if (inEnd_ > inPos_) Emit(kReplacement);  // half a code unit at the end
      high_ = 0;
      inPos_ = inEnd_;
      continue;
    }
    if (high_ == 0) {
      // Runs of ASCII, the bulk of most files, go straight through.
      const auto* in = reinterpret_cast<const unsigned char*>(in_.data()) + inPos_;
      const std::size_t lo = mode_ == Mode::Utf16Le ? 0 : 1;
      const std::size_t k = std::min(cap - n, (inEnd_ - inPos_) / 2);
      std::size_t m = 0;
      while (m < k && in[2 * m + (1 - lo)] == 0 && in[2 * m + lo] < 0x80) {
        buf[n + m] = static_cast<char>(in[2 * m + lo]);
        ++m;
      }
      n += m;
      inPos_ += 2 * m;
      if (m > 0) continue;
    }
    const auto b0 = static_cast<unsigned char>(in_[inPos_]);
    const auto b1 = static_cast<unsigned char>(in_[inPos_ + 1]);
    inPos_ += 2;
    const char16_t unit = mode_ == Mode::Utf16Le ? static_cast<char16_t>(b0 | (b1 << 8))
                                                 : static_cast<char16_t>((b0 << 8) | b1);
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
  if (utf16()) return Decode(buf, cap);
  if (headPos_ < headLen_) {  // the bytes looked at, then straight through
    const std::size_t k = std::min(cap, headLen_ - headPos_);
    std::memcpy(buf, head_ + headPos_, k);
    headPos_ += k;
    return k;
  }
  return inner_.Read(buf, cap);
}

}  // namespace marklode
