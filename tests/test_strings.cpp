#include <gtest/gtest.h>

#include "services/messages.h"
#include "services/strings.h"

namespace marklode {
namespace {

TEST(SeparatedLists, CountAndFields) {
  EXPECT_EQ(FieldCount("", ';'), 0);
  EXPECT_EQ(FieldCount("a", ';'), 1);
  EXPECT_EQ(FieldCount("a;;b", ';'), 3);
  EXPECT_EQ(FieldCount(";", ';'), 2);
  EXPECT_EQ(FieldAt("a;b;c", 2, ';'), "b");
  EXPECT_EQ(FieldAt("a;b;c", 4, ';'), "");
  EXPECT_EQ(FieldAt("a;b;c", 0, ';'), "a");
  EXPECT_EQ(FieldRange("/gps/trip.gpx", 1, 2, '/'), "/gps");
  EXPECT_EQ(FieldRange("C:/gps/trip.gpx", 1, 2, '/'), "C:/gps");
  EXPECT_EQ(FieldRange("C:/gps/trip.gpx", 1, -1, '/'), "C:/gps/trip.gpx");
  EXPECT_EQ(FieldRange("trip.gpx", 1, 0, '/'), "trip.gpx");  // no folder: the whole text
}

TEST(Replacing, EitherLetterCase) {
  EXPECT_EQ(ReplaceTextNoCase("a.Csv.CSV.csv", ".csv", ".CSV"), "a.CSV.CSV.CSV");
  EXPECT_EQ(ReplaceTextNoCase("xx", "X", "xX"), "xXxX");  // inserted text is not searched again
  EXPECT_EQ(ReplaceTextNoCase("abc", "", "-"), "abc");
}

TEST(Replacing, LimitsAndCollapse) {
  EXPECT_EQ(ReplaceText("aaa", "a", "aa"), "aaaaaa");
  EXPECT_EQ(ReplaceText("aaa", "a", "aa", 1), "aaaa");
  EXPECT_EQ(ReplaceText("aaa", "a", "aa", 0), "aaa");
  EXPECT_EQ(CollapseSpaces("a   b  c"), "a b c");
  EXPECT_EQ(CollapseSpaces("  a \t  b "), " a \t b ");  // tabs are not spaces
}

TEST(Numbers, DecimalNumberIsPlainDecimalOnly) {
  struct Case {
    const char* text;
    bool number;
  } cases[] = {{"50", true},   {"+7.5", true},   {".5", true},    {"5.", true},   {" -3 ", true},
               {"", false},    {".", false},     {"1e5", false},  {"1,5", false}, {"1 2", false},
               {"--1", false}, {"1.2.3", false}, {"0x10", false}, {"+", false}};
  for (const Case& c : cases) EXPECT_EQ(IsDecimalNumber(c.text), c.number) << c.text;
}

TEST(Numbers, CoordinatesInRange) {
  EXPECT_TRUE(IsCoordinate("90", 90));
  EXPECT_TRUE(IsCoordinate("-90.000", 90));
  EXPECT_FALSE(IsCoordinate("90.0001", 90));
  EXPECT_TRUE(IsCoordinate(" 179.99999999999999999 ", 180));
  EXPECT_TRUE(IsCoordinate("0000045.5", 90));
  EXPECT_FALSE(IsCoordinate("180.5", 180));
  EXPECT_FALSE(IsCoordinate("1000", 180));
  EXPECT_FALSE(IsCoordinate("inicio", 90));
}

TEST(Characters, Utf8CountsCodePointsOtherTextCountsBytes) {
  EXPECT_EQ(CharCount("Zürich"), 6u);
  EXPECT_EQ(CharCount("Z\xFCrich"), 6u);  // Latin-1: bytes
  EXPECT_EQ(FirstChars("Zürich", 2), "Zü");
  EXPECT_EQ(CharSlice("Zürich", 2, 3), "ür");
  EXPECT_EQ(CharSlice("Zürich", 9, 12), "");
  EXPECT_EQ(FirstChars("\xC3", 1), "\xC3");   // a broken sequence is a byte
  EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));  // surrogate
  EXPECT_FALSE(IsValidUtf8("\xC0\xAF"));      // overlong
  EXPECT_TRUE(IsValidUtf8("日本"));
}

// The vector check of UTF-8 and its plain twin agree: on valid text cut
// anywhere (sequences of every length split at both ends), and on the same
// texts with any one byte changed to any value, at every length from 0 to 64
// (the vector loop starts at 16 bytes; 64 gives it several blocks, a start
// and a tail).
TEST(Characters, Utf8VectorAndPlainChecksAgree) {
  const std::string mixed = "a\u00e9\u65e5\U0001F600";  // sequences of 1, 2, 3 and 4 bytes
  std::string valid;
  while (valid.size() < 80) valid += mixed;
  const std::string bases[] = {valid, std::string(80, 'x'),
                               std::string(40, 'x') + valid.substr(0, 40)};
  std::size_t checked = 0, invalid = 0;
  for (const std::string& base : bases) {
    for (std::size_t from = 0; from < 4; ++from)
      for (std::size_t len = 0; len <= 64; ++len) {
        const std::string_view cut = std::string_view(base).substr(from, len);
        ASSERT_EQ(IsValidUtf8(cut), IsValidUtf8Scalar(cut)) << from << "+" << len;
      }
    for (std::size_t len = 0; len <= 64; ++len) {
      std::string text = base.substr(0, len);
      for (std::size_t at = 0; at < len; ++at) {
        const char saved = text[at];
        for (int byte = 0; byte < 256; ++byte) {
          text[at] = static_cast<char>(byte);
          const bool plain = IsValidUtf8Scalar(text);
          ASSERT_EQ(IsValidUtf8(text), plain)
              << "length " << len << ", byte " << byte << " at " << at;
          ++checked;
          invalid += !plain;
        }
        text[at] = saved;
      }
    }
  }
  // Both answers occur often, so agreeing means something.
  EXPECT_GT(invalid, checked / 4);
  EXPECT_GT(checked - invalid, checked / 4);
}

TEST(Patterns, LikeMatch) {
  struct Case {
    const char* text;
    const char* pattern;
    bool match;
  } cases[] = {
      {"", "*", true},
      {"abc", "*", true},
      {"abc", "a?c", true},
      {"abc", "a?", false},
      {"a1c", "a#c", true},
      {"abc", "a#c", false},
      {"b", "[a-c]", true},
      {"d", "[a-c]", false},
      {"d", "[!a-c]", true},
      {"Food", "F*", true},
      {"food", "F*", false},
      {"xFoodx", "*Food*", true},
      {"Zürich", "Z?rich", true},
      {"aaab", "*a*b", true},
      {"[x", "[x", true},
      {"abc", "", false},
      {"", "", true},
      {"ab", "a*b*", true},
  };
  for (const Case& c : cases)
    EXPECT_EQ(LikeMatch(c.text, c.pattern), c.match) << c.text << " ~ " << c.pattern;
}

// File-name wildcards: bytes, either letter case, and "#" and "[" are plain.
TEST(Patterns, WildcardMatch) {
  struct Case {
    const char* name;
    const char* pattern;
    bool match;
  } cases[] = {
      {"Trip.CSV", "*.csv", true},  {"trip.csv", "T?IP.*", true},
      {"trip.gpx", "*.csv", false}, {"a#1", "a#1", true},
      {"a11", "a#1", false},        {"[a]", "[a]", true},
      {"a", "[a]", false},          {"", "*", true},
      {"aXbXc", "a*b*c", true},     {"abcabd", "*abd", true},
      {"ab", "ab?", false},         {"\xC4.csv", "?.csv", true},
  };
  for (const Case& c : cases)
    EXPECT_EQ(WildcardMatch(c.name, c.pattern), c.match) << c.name << " ~ " << c.pattern;
}

TEST(Messages, WarningTextAndOneLineForm) {
  EXPECT_EQ(FormatMessageText("File not found", "/gps/trip.gpx"),
            "File not found.  (/gps/trip.gpx).");
  EXPECT_EQ(FormatMessageText("Cannot copy && to &&", "a.txt && b.txt"),
            "Cannot copy a.txt to b.txt.");
  EXPECT_EQ(FormatMessageText("", "x"), "  (x).");
  EXPECT_EQ(FormatMessageText("Sure?", ""), "Sure?");
  EXPECT_EQ(OneLineMessage("Marklode", "Invalid lon/lat for: A.\r\n\r\nSkipping..."),
            "Marklode: Invalid lon/lat for: A.  Skipping...");
}

}  // namespace
}  // namespace marklode
