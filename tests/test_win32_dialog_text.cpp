// What the Windows window hands to the system's dialogs and reads back from
// them: the filter in its NUL-separated form, a multi-selection's buffer as
// full paths, and the progress window's text.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "engine/plan.h"
#include "services/messages.h"
#include "services/settings.h"
#include "test_util.h"
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
      {"GPX FIles (*.GPX)|*.GPX|All Files (*.*)|*.*",
       Nul(L"GPX FIles (*.GPX)\0*.GPX\0All Files (*.*)\0*.*\0\0")},
      {"ZVP FIles (*.ZVP)|*.ZVP", Nul(L"ZVP FIles (*.ZVP)\0*.ZVP\0\0")},
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

TEST(Win32DialogText, ProgressNamesTheFileAndItsPlaceInAList) {
  MemorySettingsStore settings;
  RecordingMessageSink messages;
  RunContext ctx(messages, settings);
  const struct {
    const char* input;
    int item, items;
    std::uint64_t done, total;
    const char* text;
  } cases[] = {
      {"C:\\maps\\tour.gpx", 0, 0, 1536, 1048576, "Converting tour.gpx\r\n1.5 KB of 1.0 MB read"},
      {"C:\\maps\\b.csv", 2, 3, 10, 20,
       "Converting b.csv, file 2 of 3\r\n10 bytes of 20 bytes read"},
      {"C:\\maps\\a.csv", 1, 1, 0, 0, "Converting a.csv\r\n0 bytes of 0 bytes read"},
      {"", 0, 0, 1, 2, "Converting...\r\n1 byte of 2 bytes read"},
  };
  for (const auto& c : cases) {
    ctx.InputSpec = c.input;
    ctx.ListItem = c.item;
    ctx.ListItems = c.items;
    EXPECT_EQ(ProgressText(&ctx, c.done, c.total), c.text);
  }
  EXPECT_EQ(ProgressText(nullptr, 1, 2), "Converting...\r\n1 byte of 2 bytes read");
}

// The window's text at each report of a real list: the place the batch
// tells, whatever was shown before (short items are never shown) and
// however the list is written.
class ProgressLines : public ProgressSink {
 public:
  explicit ProgressLines(const RunContext& ctx) : ctx_(ctx) {}
  bool Update(std::uint64_t done, std::uint64_t total) override {
    const std::string text = ProgressText(&ctx_, done, total);
    const std::string first = text.substr(0, text.find('\r'));
    if (lines.empty() || lines.back() != first) lines.push_back(first);
    return true;
  }
  std::vector<std::string> lines;

 private:
  const RunContext& ctx_;
};

TEST(Win32DialogText, ProgressOfAListCountsItsItems) {
  test::TempDir dir;
  std::filesystem::create_directory(test::FsPath(dir / "x;y"));
  for (const char* name : {"a.csv", "b.csv", "bigpoi.csv", "x;y/c.csv"})
    test::WriteFile(dir / name, "1,2,P\r\n");
  const struct {
    std::string list;
    std::vector<std::string> lines;
  } cases[] = {
      {dir / "a.csv;b.csv;bigpoi.csv",
       {"Converting a.csv, file 1 of 3", "Converting b.csv, file 2 of 3",
        "Converting bigpoi.csv, file 3 of 3"}},
      {dir / "a.csv;;bigpoi.csv;",
       {"Converting a.csv, file 1 of 2", "Converting bigpoi.csv, file 2 of 2"}},
      {dir / "x;y/c.csv", {"Converting c.csv"}},
  };
  for (const auto& c : cases) {
    MemorySettingsStore settings;
    RecordingMessageSink messages;
    RunContext ctx(messages, settings);
    ProgressLines progress(ctx);
    ctx.progress = &progress;
    ctx.InputSpec = c.list;
    std::int32_t entries = 0, files = 0;
    EXPECT_EQ(RunBatch(ctx, entries, files), RunStatus::Done) << messages.Joined();
    EXPECT_EQ(progress.lines, c.lines) << c.list;
  }
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
