// Every sixteen-byte routine against its scalar twin, on the same inputs:
// every length up to four steps, every byte value at every place, and text
// after the value that would count if it were read as part of it.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "engine/byte_scan.h"
#include "engine/padded_text.h"
#include "engine/poi_clean.h"
#include "engine/xml_escape.h"

namespace marklode {
namespace {

constexpr std::size_t kLongest = 64;

// f(text) for every text of length 0 to kLongest made of filler with one byte
// of every value at every place.
template <class F>
void EveryByteEverywhere(char filler, F f) {
  for (std::size_t len = 0; len <= kLongest; ++len) {
    const std::string plain(len, filler);
    f(std::string_view(plain));
    for (std::size_t at = 0; at < len; ++at)
      for (int b = 0; b < 256; ++b) {
        std::string text = plain;
        text[at] = static_cast<char>(b);
        f(std::string_view(text));
      }
  }
}

// The same with a short sequence of bytes at every place, cut by the end of
// the text where it runs past it.
template <class F>
void EverySequenceEverywhere(std::string_view seq, char filler, F f) {
  for (std::size_t len = 0; len <= kLongest; ++len)
    for (std::size_t at = 0; at < len; ++at) {
      std::string text(len, filler);
      text.replace(at, std::min(seq.size(), len - at), seq.substr(0, len - at));
      f(std::string_view(text));
    }
}

template <class Fast, class Scalar>
void ExpectSameStop(std::string_view text, Fast fast, Scalar scalar) {
  const char* const b = text.data();
  const char* const e = b + text.size();
  ASSERT_EQ(fast(b, e) - b, scalar(b, e) - b) << '"' << text << '"';
}

TEST(SimdTwins, ByteScans) {
  const auto all = [](std::string_view t) {
    ExpectSameStop(t, FindFirstOf<'<', '>', '&', '"'>, FindFirstOfScalar<'<', '>', '&', '"'>);
    ExpectSameStop(t, FindFirstOf<'\r', '\n'>, FindFirstOfScalar<'\r', '\n'>);
    ExpectSameStop(t, FindFirstOf<'\xEF'>, FindFirstOfScalar<'\xEF'>);
    ExpectSameStop(t, FindFirstNotOf<' ', '\t'>, FindFirstNotOfScalar<' ', '\t'>);
    ExpectSameStop(t, FindControlOrHigh, FindControlOrHighScalar);
    ExpectSameStop(t, FindControlOrEF, FindControlOrEFScalar);
    for (const bool commas : {false, true}) {
      unsigned h1 = 0, h2 = 0;
      const char* const b = t.data();
      const char* const e = b + t.size();
      const char* const s1 =
          commas ? FindRecordStop<true>(b, e, h1) : FindRecordStop<false>(b, e, h1);
      const char* const s2 =
          commas ? FindRecordStopScalar<true>(b, e, h2) : FindRecordStopScalar<false>(b, e, h2);
      ASSERT_EQ(s1 - b, s2 - b) << '"' << t << '"';
      ASSERT_EQ(h1 != 0, h2 != 0) << '"' << t << '"';
    }
  };
  for (const char filler : {'x', ' ', '\xA9'}) EveryByteEverywhere(filler, all);
  for (const std::string_view seq :
       {"\xEF\xBF\xBF", "\xE2\x82\xAC", "\xC3\xA9", "\xF0\x9F\x98\x80"})
    EverySequenceEverywhere(seq, 'x', all);
}

// What a padded routine could see past a value if it forgot to stop.
constexpr std::string_view kTrap = "<>&\"  - ~&<>&\"  - ~&<>&\"  - ~&<>";

TEST(SimdTwins, Escaping) {
  EveryByteEverywhere('a', [](std::string_view t) {
    PaddedBuffer in;
    in.Append(t);
    in.Append(kTrap);
    PaddedBuffer fast, scalar;
    char* const f = fast.Reserve(kEscapedMost * t.size());
    const std::string_view got(f, PutEscapedPadded(f, in.Padded(0, t.size())) - f);
    char* const s = scalar.Reserve(kEscapedMost * t.size());
    const std::string_view want(s, PutEscaped(s, t) - s);
    ASSERT_EQ(got, want);
  });
}

TEST(SimdTwins, CleaningCheck) {
  const auto same = [](std::string_view t) {
    PaddedBuffer in;
    in.Append(t);
    in.Append(kTrap);
    for (const bool tilde : {false, true})
      for (const bool dash : {false, true}) {
        const bool want = NeedsCleaningScalar(t, tilde, dash);
        ASSERT_EQ(NeedsCleaning(in.Padded(0, t.size()), tilde, dash), want) << '"' << t << '"';
        ASSERT_EQ(NeedsCleaning(t, tilde, dash), want) << '"' << t << '"';
      }
  };
  EveryByteEverywhere('x', same);
  for (const std::string_view seq : {"  ", " - ", " -", "- ", " ~", "& "})
    EverySequenceEverywhere(seq, 'x', same);
}

}  // namespace
}  // namespace marklode
