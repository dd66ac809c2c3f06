#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "window/form/guide_text.h"

namespace marklode {
namespace {

std::string Source() {
  std::ifstream in(MARKLODE_SOURCE_DIR "/resources/guide.md", std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(GuideEdition, KeepsTheOwnSystemsPassagesAndDropsTheOthers) {
  struct Case {
    const char* source;
    const char *linux, *windows;
  } cases[] = {
      {"a {{linux:`~/x`}}{{windows:`C:\\x`}} b\n", "a `~/x` b\n", "a `C:\\x` b\n"},
      {"one\n{{windows}}\nreg add\n{{end}}\n{{linux}}\nconf\n{{end}}\ntwo\n", "one\nconf\ntwo\n",
       "one\nreg add\ntwo\n"},
      {"no markers\r\nhere", "no markers\nhere\n", "no markers\nhere\n"},
      {"open {{linux: never closed\n", "open {{linux: never closed\n",
       "open {{linux: never closed\n"},
      {"{{mac:x}}y\n", "y\n", "y\n"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(GuideEdition(c.source, GuideSystem::Linux), c.linux) << c.source;
    EXPECT_EQ(GuideEdition(c.source, GuideSystem::Windows), c.windows) << c.source;
  }
}

// Each edition of the real guide tells its own system's facts and none of
// the other's; no marker is left in either.
TEST(GuideEdition, EachEditionOfTheGuideHoldsOnlyItsOwnSystemsFacts) {
  const std::string source = Source();
  ASSERT_FALSE(source.empty());
  const std::string linux = GuideEdition(source, GuideSystem::Linux);
  const std::string windows = GuideEdition(source, GuideSystem::Windows);
  for (const char* linuxOnly :
       {"~/.config", "XDG_CONFIG_HOME", "Marklode.conf", "/home", "/data", "`marklode '", "'`"}) {
    EXPECT_EQ(windows.find(linuxOnly), std::string::npos) << linuxOnly;
    EXPECT_NE(linux.find(linuxOnly), std::string::npos) << linuxOnly;
  }
  for (const char* windowsOnly : {"HKEY_CURRENT_USER\\Software\\Orvel\\Marklode", "reg add", "C:\\",
                                  "marklode-cli", "\"C:\\gps\\a.csv;b.csv\""}) {
    EXPECT_EQ(linux.find(windowsOnly), std::string::npos) << windowsOnly;
    EXPECT_NE(windows.find(windowsOnly), std::string::npos) << windowsOnly;
  }
  for (const std::string& edition : {linux, windows}) {
    EXPECT_EQ(edition.find("{{"), std::string::npos);
    EXPECT_EQ(edition.find("}}"), std::string::npos);
  }
}

TEST(GuideRtf, EscapesTheRtfMarksAndWritesNonAsciiAsUnicode) {
  struct Case {
    const char* text;
    const char* rtf;
  } cases[] = {
      {"plain", "plain"},
      {"C:\\gps\\a.csv", "C:\\\\gps\\\\a.csv"},
      {"{braces}", "\\{braces\\}"},
      {"caf\xc3\xa9", "caf\\u233?"},                // é
      {"\xe2\x80\x94", "\\u8212?"},                 // an em dash
      {"\xef\xbf\xbd", "\\u-3?"},                   // U+FFFD: \uN is signed
      {"\xf0\x9f\x97\xba", "\\u-10179?\\u-8710?"},  // U+1F5FA, a surrogate pair
      {"a\xff"
       "b",
       "a\\u-3?b"},        // a byte of no character
      {"\xc3", "\\u-3?"},  // a sequence cut short
      {"tab\there", "tab\\tab here"},
  };
  for (const Case& c : cases) EXPECT_EQ(RtfEscaped(c.text), c.rtf) << c.text;
}

TEST(GuideRtf, MarkdownBecomesHeadingsParagraphsListsAndCode) {
  struct Case {
    const char* markdown;
    const char* body;  // what follows the header
  } cases[] = {
      {"# Title\n", "{\\pard\\sa200{\\b\\fs32 Title}\\par}\n"},
      {"## Part\n", "{\\pard\\sb120\\sa120{\\b\\fs26 Part}\\par}\n"},
      {"one\ntwo\n\nthree\n", "{\\pard\\sa120 one two\\par}\n{\\pard\\sa120 three\\par}\n"},
      {"- a\n- **b** `c{}`\n",
       "{\\pard\\fi-240\\li480\\tx480\\sa60 \\bullet\\tab a\\par}\n"
       "{\\pard\\fi-240\\li480\\tx480\\sa200 \\bullet\\tab {\\b b} {\\f1 c\\{\\}}\\par}\n"},
      {"    reg add **x**\n", "{\\pard\\li480\\sa200\\f1 reg add **x**\\par}\n"},
      {"a `*` and *one* star\n", "{\\pard\\sa120 a {\\f1 *} and *one* star\\par}\n"},
      {"**open\n", "{\\pard\\sa120 {\\b open}\\par}\n"},
  };
  for (const Case& c : cases) {
    const std::string rtf = GuideRtf(c.markdown);
    const std::size_t body = rtf.find("\\f0\\fs20\n");
    ASSERT_NE(body, std::string::npos);
    EXPECT_EQ(rtf.substr(0, 6), "{\\rtf1");
    EXPECT_EQ(rtf.substr(body + 9), std::string(c.body) + "}\n") << c.markdown;
  }
}

// The whole guide as RTF: ASCII only, its groups balanced.
TEST(GuideRtf, TheWindowsGuideIsBalancedAsciiRtf) {
  const std::string rtf = GuideRtf(GuideEdition(Source(), GuideSystem::Windows));
  int depth = 0;
  for (std::size_t i = 0; i < rtf.size(); ++i) {
    const auto c = static_cast<unsigned char>(rtf[i]);
    ASSERT_LT(c, 0x80) << i;
    if (c == '\\') {
      ++i;
    } else if (c == '{') {
      ++depth;
    } else if (c == '}') {
      ASSERT_GT(--depth, -1) << i;
    }
  }
  EXPECT_EQ(depth, 0);
  EXPECT_NE(rtf.find("HKEY_CURRENT_USER\\\\Software\\\\Orvel\\\\Marklode"), std::string::npos);
}

}  // namespace
}  // namespace marklode
