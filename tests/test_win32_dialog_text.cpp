// What the Windows window hands to the system's dialogs and reads back from
// them: the filter in its NUL-separated form, a multi-selection's buffer as
// full paths, and the progress window's text.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "window/win32/dialog_text.h"

namespace marklode {
namespace {

// A literal with the NULs inside it, without the closing one C++ adds.
template <std::size_t N>
std::wstring Nul(const wchar_t (&text)[N]) {
  return std::wstring(text, N - 1);
}

// A buffer as the dialog leaves it: the parts, each ended by a NUL, and one
// NUL more, in a buffer with room to spare.
std::wstring Buffer(const std::vector<std::wstring>& parts) {
  std::wstring b;
  for (const std::wstring& p : parts) b.append(p).push_back(L'\0');
  b.push_back(L'\0');
  b.append(8, L'\0');
  return b;
}

TEST(Win32DialogText, FilterBecomesNulSeparatedPairsWithClosingNul) {
  struct Case {
    const char* filter;
    std::wstring expected;
  };
  const std::vector<Case> cases = {
      {"GPX Files (*.GPX)|*.GPX|All Files (*.*)|*.*",
       Nul(L"GPX Files (*.GPX)\0*.GPX\0All Files (*.*)\0*.*\0\0")},
      {"ZVP Files (*.ZVP)|*.ZVP", Nul(L"ZVP Files (*.ZVP)\0*.ZVP\0\0")},
      // A closing "|" ends the last part already: still one NUL more, not two.
      {"CSV (*.CSV)|*.CSV|", Nul(L"CSV (*.CSV)\0*.CSV\0\0")},
      // Text outside ASCII arrives as UTF-16, not as bytes.
      {"Fichiers \xC3\xA9t\xC3\xA9 (*.X)|*.X", Nul(L"Fichiers \u00e9t\u00e9 (*.X)\0*.X\0\0")},
      {"", std::wstring()},
  };
  for (const Case& c : cases) EXPECT_EQ(DialogFilter(c.filter), c.expected) << c.filter;
}

TEST(Win32DialogText, SelectionBecomesFullPathsInOrder) {
  struct Case {
    std::vector<std::wstring> parts;
    std::vector<std::string> expected;
  };
  const std::vector<Case> cases = {
      // One file: its full path as it is.
      {{L"C:\\maps\\club tour.gpx"}, {"C:\\maps\\club tour.gpx"}},
      // Several: the folder, then the names in the order given.
      {{L"C:\\maps", L"b.csv", L"a.csv", L"c.csv"},
       {"C:\\maps\\b.csv", "C:\\maps\\a.csv", "C:\\maps\\c.csv"}},
      // A drive's root already ends in a separator.
      {{L"D:\\", L"x.csv", L"y.csv"}, {"D:\\x.csv", "D:\\y.csv"}},
      {{L"\\\\server\\share\\pois", L"\u00fcber.csv", L"z.csv"},
       {"\\\\server\\share\\pois\\\xC3\xBC"
        "ber.csv",
        "\\\\server\\share\\pois\\z.csv"}},
      {{}, {}},
  };
  for (const Case& c : cases) {
    const std::wstring buffer = Buffer(c.parts);
    EXPECT_EQ(SelectedFiles(buffer.data(), buffer.size()), c.expected);
  }
}

TEST(Win32DialogText, SelectionNeverReadsPastTheBuffer) {
  // A full buffer without its closing NULs: the names inside it count, and
  // nothing after it is read.
  const std::wstring full = Nul(L"C:\\f\0a.csv\0b.c");
  EXPECT_EQ(SelectedFiles(full.data(), full.size()),
            (std::vector<std::string>{"C:\\f\\a.csv", "C:\\f\\b.c"}));
  EXPECT_TRUE(SelectedFiles(full.data(), 0).empty());
}

TEST(Win32DialogText, ByteCountsInTheirUnit) {
  struct Case {
    std::uint64_t bytes;
    const char* text;
  };
  const std::vector<Case> cases = {
      {0, "0 bytes"},
      {1, "1 byte"},
      {1023, "1023 bytes"},
      {1024, "1.0 KB"},
      {1536, "1.5 KB"},
      {1048575, "1.0 MB"},  // not "1024.0 KB"
      {20u * 1048576, "20.0 MB"},
      {5ull << 30, "5.0 GB"},
  };
  for (const Case& c : cases) EXPECT_EQ(ByteCountText(c.bytes), c.text) << c.bytes;
}

// The heading is the progress policy's (tests/form/test_progress_policy.cpp).
TEST(Win32DialogText, ProgressPutsTheBytesReadUnderTheHeading) {
  EXPECT_EQ(ProgressText("Converting b.csv, file 2 of 3", 1536, 1048576),
            "Converting b.csv, file 2 of 3\r\n1.5 KB of 1.0 MB read");
  EXPECT_EQ(ProgressText("Converting...", 1, 2), "Converting...\r\n1 byte of 2 bytes read");
}

TEST(Win32DialogText, GuideLosesItsMarkdownMarks) {
  EXPECT_EQ(
      GuidePlainText("# Marklode User Guide\n\n## The window\n"
                     "- **Close** (or Esc) ends; `marklode trip.gpx` converts.\n"),
      "Marklode User Guide\n\nThe window\n- Close (or Esc) ends; marklode trip.gpx converts.\n");
  // Only a run of "#" and a space at a line's start is a heading; a lone
  // "*" (a pattern) and a "#" inside a line (a digit in a filter) stay.
  EXPECT_EQ(GuidePlainText("#1 pick\nuse `*.csv` or #: one digit\n##x\n"),
            "#1 pick\nuse *.csv or #: one digit\n##x\n");
}

TEST(Win32DialogText, LineFeedsBecomeCrLfOnce) {
  EXPECT_EQ(WithCrLf(L"# Guide\n\nline\r\nend\n"), L"# Guide\r\n\r\nline\r\nend\r\n");
  EXPECT_EQ(WithCrLf(L"\n"), L"\r\n");
  EXPECT_EQ(WithCrLf(L""), L"");
}

}  // namespace
}  // namespace marklode
