#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "services/text_decoding.h"
#include "test_util.h"
#include "tests/chunked_source.h"

namespace marklode {
namespace {

// Everything the source gives, read into a buffer of cap bytes at a time.
std::string Drain(ByteSource& src, std::size_t cap) {
  std::string out, buf(cap, '\0');
  while (const std::size_t n = src.Read(buf.data(), cap)) out.append(buf.data(), n);
  return out;
}

std::string Utf16(std::u16string_view text, bool bigEndian, bool bom = true) {
  std::string out = !bom ? "" : bigEndian ? "\xFE\xFF" : "\xFF\xFE";
  for (char16_t u : text) {
    const char hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xFF);
    out += bigEndian ? hi : lo;
    out += bigEndian ? lo : hi;
  }
  return out;
}

TEST(DecodingSource, DecodesUtf16InAnyBlockAndReadSize) {
  struct Case {
    const char* what;
    std::u16string text;
    std::string utf8;
  } cases[] = {
      {"empty", u"", ""},
      {"ASCII, two and three bytes", u"<a>\u00E9\u20AC\r\n", "<a>\xC3\xA9\xE2\x82\xAC\r\n"},
      // Low bytes that look like ASCII: the high byte decides.
      {"not ASCII", u"A\u0141\u4E41B",
       "A\xC5\x81\xE4\xB9\x81"
       "B"},
      {"a surrogate pair", u"x\U0001F303y", "x\xF0\x9F\x8C\x83y"},
      {"a lone high surrogate, then text", std::u16string(u"a") + char16_t(0xD83C) + u"b",
       "a\xEF\xBF\xBD"
       "b"},
      {"a lone low surrogate", std::u16string(u"a") + char16_t(0xDF03), "a\xEF\xBF\xBD"},
      {"two high surrogates, then a pair",
       std::u16string{char16_t(0xD83C), char16_t(0xD83C), char16_t(0xDF03)},
       "\xEF\xBF\xBD\xF0\x9F\x8C\x83"},
      {"a high surrogate at the end", std::u16string(u"z") + char16_t(0xD83C), "z\xEF\xBF\xBD"},
      {"a second byte order mark is text", u"\uFEFFa",
       "\xEF\xBB\xBF"
       "a"},
  };
  for (const Case& c : cases) {
    for (bool be : {false, true}) {
      for (bool oddByte : {false, true}) {
        // A byte left over at the end is half a code unit: U+FFFD.
        const std::string in = Utf16(c.text, be) + (oddByte ? "A" : "");
        const std::string want = c.utf8 + (oddByte ? "\xEF\xBF\xBD" : "");
        for (std::size_t step = 1; step <= 17; ++step) {
          for (std::size_t cap : {std::size_t{1}, std::size_t{3}, step, std::size_t{4096}}) {
            test::ChunkedSource inner(in, step);
            DecodingSource src(inner);
            EXPECT_EQ(Drain(src, cap), want)
                << c.what << (be ? ", big endian" : ", little endian")
                << (oddByte ? ", odd byte" : "") << ", blocks of " << step << ", reads of " << cap;
            EXPECT_TRUE(src.utf16());
          }
        }
      }
    }
  }
}

TEST(DecodingSource, PassesOtherInputThroughUntouched) {
  const std::string cases[] = {
      "",
      "<",
      "\xFF",
      "\xFE",
      "\xFF\xFF<gpx>",
      "\xEF\xBB\xBF<gpx/>",
      "<gpx>\xFF\xFE</gpx>",
      std::string("<\0", 2),        // too short to tell
      std::string("\0\0\0\0<", 5),  // NUL, but in no pattern of an encoding
      std::string("<g\0\0", 4),
      std::string("<\0\0<", 4),
  };
  for (const std::string& in : cases) {
    for (std::size_t step = 1; step <= 17; ++step) {
      test::ChunkedSource inner(in, step);
      DecodingSource src(inner);
      EXPECT_EQ(Drain(src, 5), in) << "blocks of " << step;
      EXPECT_FALSE(src.utf16());
    }
  }
}

// Without a byte order mark, UTF-16 and UTF-32 are told, as XML tells them,
// by where the NUL bytes of the first ASCII characters are: a GPX file starts
// with "<?xml" or "<gpx", a POI-CSV record with a number.
TEST(DecodingSource, TellsUtf16AndUtf32ByTheirMarkOrTheirNuls) {
  const std::u32string texts[] = {
      U"<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n<a>\u041C\u043E\u0441\u043A\u0432\u0430 "
      U"\U0001F303</a>",
      U"37.6,55.7,\"\u041C\u043E\u0441\u043A\u0432\u0430\"\r\n",
      U"<a",  // no more than the four bytes looked at, in UTF-16
  };
  const std::string utf8[] = {
      "<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n<a>\xD0\x9C\xD0\xBE\xD1\x81\xD0\xBA\xD0\xB2"
      "\xD0\xB0 \xF0\x9F\x8C\x83</a>",
      "37.6,55.7,\"\xD0\x9C\xD0\xBE\xD1\x81\xD0\xBA\xD0\xB2\xD0\xB0\"\r\n",
      "<a",
  };
  for (std::size_t t = 0; t < std::size(texts); ++t) {
    for (int width : {2, 4}) {
      for (bool be : {false, true}) {
        for (bool bom : {false, true}) {
          const std::string in = (bom ? test::EncodeUtf(U"\uFEFF", width, be) : std::string()) +
                                 test::EncodeUtf(texts[t], width, be);
          for (std::size_t step : {1, 2, 3, 5, 7, 4096}) {
            for (std::size_t cap : {std::size_t{1}, std::size_t{3}, std::size_t{4096}}) {
              test::ChunkedSource inner(in, step);
              DecodingSource src(inner);
              EXPECT_EQ(Drain(src, cap), utf8[t])
                  << "UTF-" << 8 * width << (be ? "BE" : "LE") << (bom ? " with" : " without")
                  << " a mark, blocks of " << step << ", reads of " << cap;
              EXPECT_EQ(src.utf16(), width == 2);
              EXPECT_EQ(src.utf32(), width == 4);
            }
          }
        }
      }
    }
  }
}

TEST(DecodingSource, BadUtf32BecomesReplacementCharacters) {
  // Beyond U+10FFFF, a surrogate, then two bytes of a unit cut off.
  const std::string tail("\0\0", 2);
  for (bool be : {false, true}) {
    const std::string in = test::EncodeUtf(U"<a", 4, be) +
                           test::EncodeUtf(std::u32string{0x110000, 0xD800, U'b'}, 4, be) + tail;
    for (std::size_t step : {1, 3, 4096}) {
      test::ChunkedSource inner(in, step);
      DecodingSource src(inner);
      EXPECT_EQ(Drain(src, 7),
                "<a\xEF\xBF\xBD\xEF\xBF\xBD"
                "b\xEF\xBF\xBD")
          << (be ? "big" : "little") << " endian, blocks of " << step;
    }
  }
}

// UCS-4 in the byte orders 2143 and 3412 is not read: no text at all, and
// the source says why, for the caller to report.
TEST(DecodingSource, Ucs4InUnusualByteOrdersIsUnreadable) {
  for (const std::string& in :
       {std::string("\0<\0\0\0g\0\0", 8), std::string("\0\0<\0\0\0g\0", 8)}) {
    test::ChunkedSource inner(in, 3);
    DecodingSource src(inner);
    EXPECT_EQ(Drain(src, 5), "");
    EXPECT_TRUE(src.unreadable());
  }
  MemorySource plain("<gpx/>");
  DecodingSource src(plain);
  Drain(src, 5);
  EXPECT_FALSE(src.unreadable());
}

TEST(DecodingSource, ReadsLongInput) {
  std::u16string text;
  std::string utf8;
  for (int i = 0; i < 100'000; ++i) {
    text += u"\u00E9\U0001F303a";
    utf8 +=
        "\xC3\xA9\xF0\x9F\x8C\x83"
        "a";
  }
  const std::string in = Utf16(text, true);
  test::ChunkedSource inner(in, 100'003);
  DecodingSource src(inner);
  EXPECT_EQ(Drain(src, 65'537), utf8);
}

}  // namespace
}  // namespace marklode
