// Every sixteen-byte routine against its scalar twin, on the same inputs:
// every length up to four steps, every byte value at every place (for the
// scans: in every lane of a step and every place of the tail, with texts at
// every offset from an aligned address), and text after the value that would
// count if it were read as part of it.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <string_view>

#include "engine/byte_scan.h"
#include "engine/kml_reader.h"
#include "engine/padded_text.h"
#include "engine/poi_clean.h"
#include "engine/xml_escape.h"

namespace marklode {
namespace {

constexpr std::size_t kLongest = 64;
constexpr std::size_t kWidth = 16;  // the bytes of one vector step

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

// Texts of filler placed at any offset from a vector-aligned address, with
// bytes after them that every routine stops on within three, so that one
// that reads past the end of its text is seen to.
class PlacedText {
 public:
  PlacedText(char filler, std::size_t offset, std::size_t len) : at_(bytes_ + offset), len_(len) {
    for (std::size_t i = 0; i < sizeof bytes_; ++i) bytes_[i] = "\"\n\xEF"[i % 3];
    std::fill(at_, at_ + len, filler);
  }
  PlacedText(const PlacedText&) = delete;  // at_ points into its own bytes
  // f(text) with byte b at place i; the filler is put back afterwards.
  template <class F>
  void With(std::size_t i, char b, F f) {
    const char was = at_[i];
    at_[i] = b;
    f(std::string_view(at_, len_));
    at_[i] = was;
  }
  std::string_view text() const { return {at_, len_}; }

 private:
  alignas(kWidth) char bytes_[2 * kWidth + kLongest];
  char* const at_;
  const std::size_t len_;
};

// f(text) for every byte value at every place of texts a byte short of, as
// long as and a byte past one and two vector steps: each value in each lane
// of a step, and at each place of the tail that the scalar loop finishes.
template <class F>
void EveryByteInEveryLane(char filler, F f) {
  for (const std::size_t len :
       {kWidth - 1, kWidth, kWidth + 1, 2 * kWidth - 1, 2 * kWidth, 2 * kWidth + 1}) {
    PlacedText t(filler, 0, len);
    for (std::size_t at = 0; at < len; ++at)
      for (int b = 0; b < 256; ++b) t.With(at, static_cast<char>(b), f);
  }
}

// f(text) for every length up to kLongest at every offset within a vector
// width, plain and with each of the bytes given at every place.
template <class F>
void EveryPlaceAtEveryOffset(char filler, std::string_view bytes, F f) {
  for (std::size_t offset = 0; offset < kWidth; ++offset)
    for (std::size_t len = 0; len <= kLongest; ++len) {
      PlacedText t(filler, offset, len);
      f(t.text());
      for (std::size_t at = 0; at < len; ++at)
        for (const char b : bytes) t.With(at, b, f);
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
    ASSERT_EQ(CountByte<'\n'>(t.data(), t.data() + t.size()),
              CountByteScalar<'\n'>(t.data(), t.data() + t.size()))
        << '"' << t << '"';
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
  // Plain, blank (what FindFirstNotOf skips) and non-ASCII (what
  // FindControlOrHigh stops on and FindRecordStop notes) filler. The bytes
  // placed everywhere stop each routine: a quote, a line break, a comma and
  // the lead byte of U+FFFE.
  for (const char filler : {'x', ' ', '\xA9'}) {
    EveryByteInEveryLane(filler, all);
    EveryPlaceAtEveryOffset(filler, "\"\n,\xEF", all);
  }
  for (const std::string_view seq :
       {"\xEF\xBF\xBF", "\xE2\x82\xAC", "\xC3\xA9", "\xF0\x9F\x98\x80"})
    EverySequenceEverywhere(seq, 'x', all);
}

// Texts of line breaks only, or every other byte one, long enough that the
// per-lane counts are summed before they could run over, at every offset.
TEST(SimdTwins, CountingPastALanesLimit) {
  for (const std::size_t len : {std::size_t{255 * 16 - 1}, std::size_t{255 * 16},
                                std::size_t{255 * 16 + 17}, std::size_t{10000}})
    for (const std::string_view unit : {"\n", "\nx", "\r\n"})
      for (std::size_t offset = 0; offset < 3; ++offset) {
        std::string text;
        while (text.size() < len + offset) text += unit;
        const char* const b = text.data() + offset;
        const char* const e = b + len;
        ASSERT_EQ(CountByte<'\n'>(b, e), CountByteScalar<'\n'>(b, e)) << len << " " << offset;
      }
}

// What a padded routine could see past a value if it forgot to stop.
constexpr std::string_view kTrap = "<>&\"  - ~&<>&\"  - ~&<>&\"  - ~&<>";

// The end of a KML element's name and the start of its local name: the
// bytes that end it and the colon at every place, with a colon and an end
// right after the text for a scan that reads on to see.
TEST(SimdTwins, TagNameEnd) {
  const auto same = [](std::string_view t) {
    PaddedBuffer in;
    in.Append(t);
    in.Append(":>:");
    std::size_t localFast = 99, localScalar = 98;
    ASSERT_EQ(TagNameEnd(in.Padded(0, t.size()), localFast), TagNameEndScalar(t, localScalar))
        << '"' << t << '"';
    ASSERT_EQ(localFast, localScalar) << '"' << t << '"';
  };
  for (const char filler : {'n', ':'}) {
    EveryByteInEveryLane(filler, same);
    EveryPlaceAtEveryOffset(filler, ": >/\t\r\n", same);
  }
  for (const std::string_view seq : {"kml:", ":>", "a:b ", "::/"})
    EverySequenceEverywhere(seq, 'n', same);
}

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

// The clean-up in one pass against the check and the scalar clean-up, on
// the bytes and sequences it acts on at every place, alone and after other
// text in the buffer.
TEST(SimdTwins, CleaningOnTheWay) {
  const auto same = [](std::string_view t) {
    PaddedBuffer in;
    in.Append(t);
    in.Append(kTrap);
    for (const bool tilde : {false, true})
      for (const bool dash : {false, true}) {
        std::string want(t), scratch;
        CleanTextInPlace(want, tilde, dash);
        for (const std::string_view before : {"", "ab "}) {
          PaddedBuffer out;
          out.Append(before);
          AppendCleaned(out, in.Padded(0, t.size()), tilde, dash, scratch);
          ASSERT_EQ(out.view().substr(before.size()), want)
              << '"' << t << '"' << tilde << dash << before.size();
        }
      }
  };
  EveryByteEverywhere('x', same);
  for (const char filler : {'x', ' ', '-'})
    for (const std::string_view seq : {"  ", " - ", " -", "- ", " ~", "& ", " - - ", "~ ", "  -  ",
                                       " &", "-&", " -&", "&&", "& -", "-&-"})
      EverySequenceEverywhere(seq, filler, same);
  for (const std::string_view t : {" - x", "x - ", "  - -  a  -  b ~ c  ", "a -&- b", "-", " "})
    same(t);
  std::string amps(100, '&'), mixed;
  for (int i = 0; i < 40; ++i) mixed += " a& - ~&  ";
  same(amps);  // widens five times over
  same(mixed);
}

}  // namespace
}  // namespace marklode
