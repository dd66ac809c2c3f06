// The system layer where Windows differs from POSIX: path and file-name
// rules (plain functions, tried here under both rules on any system), names
// outside ASCII through every file call, binary files, 64-bit offsets, the
// atomic replacement, the temporaries' locks and, on Windows, the registry.
#include <gtest/gtest.h>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// windows.h first: the shell's header needs its types.
#include <shellapi.h>
// The program's own lookup has this name; the system's is not used here.
#undef FindFirstFile
#endif

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "engine/gpx_to_csv.h"
#include "services/case_blind.h"
#include "services/console.h"
#include "services/os.h"
#include "services/platform.h"
#include "services/scratch_file.h"
#include "services/settings.h"
#include "services/strings.h"
#include "services/text_files.h"

namespace marklode {
namespace {

// A fresh folder, its path in UTF-8 ending in the host's separator, removed
// with all it holds.
class Folder {
 public:
  Folder() {
    static int serial = 0;
    const auto base =
        std::filesystem::temp_directory_path() /
        ("marklode-os-" + std::to_string(std::random_device()()) + "-" + std::to_string(++serial));
    std::filesystem::create_directories(base);
    path_ = base;
    const std::u8string u8 = base.u8string();
    text_.assign(u8.begin(), u8.end());
    text_ += kPathSep;
  }
  ~Folder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  std::string operator/(std::string_view name) const { return text_ + std::string(name); }
  const std::string& text() const { return text_; }

  // Every entry, dot files too, sorted.
  std::vector<std::string> Entries() const {
    std::vector<std::string> names;
    os::ListFolder(
        text_, true, [&](std::string_view n, os::Kind) { names.emplace_back(n); }, true);
    std::sort(names.begin(), names.end());
    return names;
  }

 private:
  std::filesystem::path path_;
  std::string text_;
};

std::string ReadAll(const std::string& path) {
  RecordingMessageSink sink;
  InputFile in(sink);
  if (!in.Open(path)) return "<unreadable>";
  std::string text;
  char buf[4096];
  while (std::size_t n = in.Read(buf, sizeof buf)) text.append(buf, n);
  return text;
}

bool Write(const std::string& path, std::string_view text, MessageSink& sink) {
  OutputFile out(sink, path);
  return out.Write(text) && out.Commit();
}

TEST(PathRules, SplitIntoFolderAndName) {
  struct Case {
    PathRule rule;
    const char* path;
    const char* folder;
    const char* name;
  };
  const Case cases[] = {
      {PathRule::Windows, "sub\\tour.gpx", "sub\\", "tour.gpx"},
      {PathRule::Windows, "C:trip.gpx", "C:", "trip.gpx"},  // the drive's current folder
      {PathRule::Windows, "Z:\\a\\b\\tour", "Z:\\a\\b\\", "tour"},
      {PathRule::Windows, "..\\x.gpx", "..\\", "x.gpx"},
      {PathRule::Windows, "a/b\\c.gpx", "a/b\\", "c.gpx"},
      {PathRule::Windows, "a\\b/c.gpx", "a\\b/", "c.gpx"},
      {PathRule::Windows, "\\\\server\\share\\t.gpx", "\\\\server\\share\\", "t.gpx"},
      {PathRule::Windows, "C:\\", "C:\\", ""},
      {PathRule::Windows, "1:x", "", "1:x"},  // no drive letter
      {PathRule::Windows, "tour.gpx", "", "tour.gpx"},
      {PathRule::Windows, "", "", ""},
      {PathRule::Posix, "sub\\tour.gpx", "", "sub\\tour.gpx"},  // a name like any other
      {PathRule::Posix, "C:trip.gpx", "", "C:trip.gpx"},
      {PathRule::Posix, "/a/b\\c.gpx", "/a/", "b\\c.gpx"},
      {PathRule::Posix, "../x.gpx", "../", "x.gpx"},
      {PathRule::Posix, "/", "/", ""},
  };
  for (const Case& c : cases) {
    const bool win = c.rule == PathRule::Windows;
    EXPECT_EQ(DirectoryPart(c.path, c.rule), c.folder) << c.path << (win ? " (Windows)" : "");
    EXPECT_EQ(FileNamePart(c.path, c.rule), c.name) << c.path << (win ? " (Windows)" : "");
  }
}

TEST(PathRules, SafeFileNames) {
  struct Case {
    const char* given;
    const char* posix;
    const char* windows;
  };
  const Case cases[] = {
      {"Trip 2024", "Trip 2024", "Trip 2024"},
      {"a/b\\c", "a_b\\c", "a_b_c"},
      {"x:*?\"<>|y", "x:*?\"<>|y", "x_______y"},
      {"tab\there\x7F", "tab_here_", "tab_here_"},
      {"line\r\nend", "line__end", "line__end"},
      {"dots...", "dots...", "dots"},  // Windows drops them from a name
      {"space. . ", "space. . ", "space"},
      {"CON", "CON", "CON_"},
      {"con.txt", "con.txt", "con_.txt"},
      {"Nul", "Nul", "Nul_"},
      {"AUX .gpx", "AUX .gpx", "AUX _.gpx"},
      {"COM1", "COM1", "COM1_"},
      {"lpt9.x.y", "lpt9.x.y", "lpt9_.x.y"},
      {"CONOUT$", "CONOUT$", "CONOUT$_"},
      {"conin$.csv", "conin$.csv", "conin$_.csv"},
      {"COM\xc2\xb9.csv", "COM\xc2\xb9.csv", "COM\xc2\xb9_.csv"},  // superscript one
      {"LPT\xc2\xb2", "LPT\xc2\xb2", "LPT\xc2\xb2_"},
      {"COM0", "COM0", "COM0"},  // not a device
      {"LPT10", "LPT10", "LPT10"},
      {"CONSOLE", "CONSOLE", "CONSOLE"},
      {"PRN.", "PRN.", "PRN_"},
      {"Łódź/東京", "Łódź_東京", "Łódź_東京"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SafeFileName(c.given, PathRule::Posix), c.posix) << c.given;
    EXPECT_EQ(SafeFileName(c.given, PathRule::Windows), c.windows) << c.given;
  }
}

// Names a case-blind file system takes for one file have one key; names it
// keeps apart have two, but where in doubt the key joins them: that only puts
// their records in one file.
TEST(CaseBlindKeys, JoinWhatTheFileSystemJoins) {
  struct Case {
    PathRule rule;
    const char* a;
    const char* b;
    bool same;
  };
  const Case cases[] = {
      {PathRule::Windows, "Food.CSV", "FOOD.csv", true},
      {PathRule::Windows, "C:\\Trips\\food.CSV", "c:/TRIPS/Food.CSV", true},  // the folders too
      {PathRule::Windows, "a1.CSV", "a2.CSV", false},
      {PathRule::Windows, "Café Ÿ.CSV", "CAFÉ ÿ.CSV", true},          // Latin-1
      {PathRule::Windows, "Łódź Œ Ő Ž.CSV", "łÓDŹ œ ő ž.CSV", true},  // Latin Extended-A
      {PathRule::Windows, "Ș ǅ.CSV", "ș ǆ.CSV", true},                // Extended-B, titlecase
      {PathRule::Windows, "Άγιος Σ.CSV", "ΆΓΙΟΣ ς.CSV", true},        // final sigma too
      {PathRule::Windows, "Ёжик Ґ.CSV", "ЁЖИК ґ.CSV", true},
      {PathRule::Windows, "Երևան.CSV", "ԵՐևԱՆ.CSV", true},                  // Armenian
      {PathRule::Windows, "ｆｏｏ Ⅻ ⓐ.CSV", "ＦＯＯ ⅻ Ⓐ.CSV", true},        // full width, numerals
      {PathRule::Windows, "Ạ ǻ.CSV", "ạ Ǻ.CSV", true},                      // Vietnamese
      {PathRule::Windows, "Straße.CSV", "STRASSE.CSV", false},              // no one-letter capital
      {PathRule::Windows, "İ.CSV", "i.CSV", false},                         // İ is a capital
      {PathRule::Windows, "ı ſ.CSV", "I S.CSV", true},                      // joined, in doubt
      {PathRule::Windows, "𐐨.CSV", "𐐀.CSV", true},                          // beyond the BMP too
      {PathRule::Windows, "a\xFF.CSV", "a\xC0\x80\xED\xA0\x80.CSV", true},  // not UTF-8: U+FFFD
      {PathRule::Windows, "a\xFF.CSV", "a\xEF\xBF\xBD.CSV", true},
      {PathRule::Windows, "a\xFF.CSV", "a.CSV", false},
      {PathRule::Posix, "/t/Out/Food.CSV", "/t/Out/fOOD.csv", true},
      {PathRule::Posix, "/t/Out/Food.CSV", "/t/OUT/Food.CSV", false},  // only the folder is blind
      {PathRule::Posix, "dir\\Food.CSV", "DIR\\food.csv", true},       // no separator here
  };
  for (const Case& c : cases) {
    const bool win = c.rule == PathRule::Windows;
    EXPECT_EQ(CaseBlindKey(c.a, c.rule) == CaseBlindKey(c.b, c.rule), c.same)
        << c.a << " " << c.b << (win ? " (Windows)" : "");
  }
  EXPECT_EQ(CaseBlindKey("c:/Trips/Über.csv", PathRule::Windows), "C:\\TRIPS\\ÜBER.CSV");
  // An upper-case letter is its own capital: a run of the table that takes
  // a wrong step or distance breaks that somewhere.
  for (char32_t c = 0; c < 0x110000; ++c)
    ASSERT_EQ(UpperCaseChar(UpperCaseChar(c)), UpperCaseChar(c)) << std::hex << +c;
#ifdef _WIN32
  // The system's own upper-casing of every BMP character, by the file
  // system's table: what it joins, the keys join.
  wchar_t zhe = L'ж', up = 0;
  ASSERT_EQ(
      ::LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, &zhe, 1, &up, 1, nullptr, nullptr, 0),
      1);
  ASSERT_EQ(up, L'Ж');  // the system upper-cases beyond ASCII, so the check tells something
  for (wchar_t c = 1; c < 0xFFFF; ++c) {
    if (c >= 0xD800 && c < 0xE000) continue;
    up = 0;
    ASSERT_EQ(
        ::LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, &c, 1, &up, 1, nullptr, nullptr, 0),
        1);
    EXPECT_EQ(UpperCaseChar(up), UpperCaseChar(c)) << std::hex << +c << " " << +up;
  }
#endif
}

// Names outside ASCII reach the file system whole, through creation,
// replacement, the lookup, the listing and the size, in both directions.
#ifdef _WIN32
std::wstring Wide(const std::string& s) {
  std::filesystem::path p(std::u8string(s.begin(), s.end()));
  return p.wstring();
}

std::string Narrow(const std::wstring& s) {
  const std::u8string u = std::filesystem::path(s).u8string();
  return std::string(u.begin(), u.end());
}
#endif

// The command line as the system's own CommandLineToArgvW takes it apart; on
// Windows each line is also given to that function, which has the last word.
TEST(CommandLine, SplitAsTheSystemSplitsIt) {
  struct Case {
    const char* line;
    std::vector<std::string> args;
  };
  const Case cases[] = {
      {"prog", {"prog"}},
      {"prog a  b\tc ", {"prog", "a", "b", "c"}},
      {"\"C:\\Program Files\\m.exe\" /r x", {"C:\\Program Files\\m.exe", "/r", "x"}},
      {"C:\\a\\m.exe \"\"", {"C:\\a\\m.exe", ""}},  // an empty argument
      {"p \"sub dir\\tour one.gpx\"", {"p", "sub dir\\tour one.gpx"}},
      {"p a\\b\\\\c", {"p", "a\\b\\\\c"}},   // backslashes alone are literal
      {"p \"a\\\\\" b", {"p", "a\\", "b"}},  // 2n before a quote: n, and the quote
      {"p a\\\"b", {"p", "a\"b"}},           // 2n+1: n and a literal quote
      {"p a\\\\\\\"b", {"p", "a\\\"b"}},
      // "" inside: a quote, and outside again, so the next quote opens anew
      {"p \"a\"\"b\" c", {"p", "a\"b c"}},
      {"p \"a\"\"\"b c\"", {"p", "a\"b c"}},
      {"p \"\"\"a\"\"\" b", {"p", "\"a\"", "b"}},
      {"p a\"b c\"d e", {"p", "ab cd", "e"}},
      {"p \"unclosed arg", {"p", "unclosed arg"}},
      {"p \"Z\xC3\xBCrich.gpx\" \xC5\x81\xC3\xB3"
       "d\xC5\xBA.csv",
       {"p", "Z\xC3\xBCrich.gpx",
        "\xC5\x81\xC3\xB3"
        "d\xC5\xBA.csv"}},
      {"\"a b\"c d", {"a b", "c", "d"}},  // the program's name ends at its quote
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(SplitCommandLine(c.line), c.args);
#ifdef _WIN32
    int n = 0;
    const std::wstring wide = Wide(c.line);
    wchar_t** system = ::CommandLineToArgvW(wide.c_str(), &n);
    ASSERT_NE(system, nullptr);
    std::vector<std::string> theirs;
    for (int i = 0; i < n; ++i) theirs.push_back(Narrow(system[i]));
    ::LocalFree(system);
    EXPECT_EQ(SplitCommandLine(c.line), theirs);
#endif
  }
}

TEST(SystemFiles, NamesOutsideAsciiRoundTrip) {
  Folder dir;
  RecordingMessageSink sink;
  const std::vector<std::string> names = {"Zürich.gpx", "Łódź.CSV", "東京.gpx"};
  for (const std::string& name : names) {
    ASSERT_TRUE(Write(dir / name, "old " + name, sink)) << name;
    ASSERT_TRUE(Write(dir / name, "new " + name, sink)) << name;  // over an existing file
    EXPECT_EQ(ReadAll(dir / name), "new " + name);
    EXPECT_EQ(FileSize(dir / name), 4 + name.size());
    EXPECT_EQ(FindFiles(dir / name), std::vector<std::string>{name});
    EXPECT_EQ(ResolveFile(dir / name), dir / name);
  }
  EXPECT_TRUE(sink.boxes.empty());
  EXPECT_EQ(FindFiles(dir / "*.gpx"), (std::vector<std::string>{"Zürich.gpx", "東京.gpx"}));
  EXPECT_EQ(FindFiles(dir / "?ód?.csv"), std::vector<std::string>{"Łódź.CSV"});
  EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"Zürich.gpx", "Łódź.CSV", "東京.gpx"}));

  // A folder of such a name, and a scratch file in it.
  const std::string sub = dir / "Kraków";
  os::CreateFolders(sub);
  EXPECT_EQ(os::Stat(sub).kind, os::Kind::Folder);
  ASSERT_TRUE(Write(sub + kPathSep + "plik.gpx", "x", sink));
  EXPECT_EQ(FindFiles(sub + kPathSep + "*"), std::vector<std::string>{"plik.gpx"});
  {
    ScratchFile scratch(sub + kPathSep);
    ASSERT_TRUE(scratch.ok());
    EXPECT_EQ(scratch.Write("route text"), 0);
    char buf[32];
    int err = 0;
    EXPECT_EQ(std::string(buf, scratch.Read(buf, sizeof buf, err)), "route text");
    EXPECT_EQ(err, 0);
  }
  std::vector<std::string> left;  // the scratch file is gone with its owner
  os::ListFolder(sub + kPathSep, true, [&](std::string_view n, os::Kind) { left.emplace_back(n); });
  EXPECT_EQ(left, std::vector<std::string>{"plik.gpx"});
}

// Paths longer than Windows' classic limit of 260 characters work throughout.
TEST(SystemFiles, LongPaths) {
  Folder dir;
  RecordingMessageSink sink;
  std::string sub = dir.text();
  for (const std::string& part : {std::string(100, 'a'), std::string(100, 'b')}) {
    sub += part;
    sub += kPathSep;
  }
  for (int i = 0; i < 100; ++i) sub += "ü";
  os::CreateFolders(sub);
  sub += kPathSep;
  const std::string path = sub + "Łódź.gpx";
  ASSERT_GT(path.size(), 320u);
  ASSERT_TRUE(Write(path, "old", sink)) << sink.boxes.size();
  ASSERT_TRUE(Write(path, "new", sink));
  EXPECT_EQ(ReadAll(path), "new");
  EXPECT_EQ(FileSize(path), 3u);
  EXPECT_EQ(FindFiles(sub + "*.GPX"), std::vector<std::string>{"Łódź.gpx"});
  EXPECT_EQ(ResolveFile(path), path);
  EXPECT_TRUE(SameFile(path, sub + "." + kPathSep + "Łódź.gpx"));
  ScratchFile scratch(sub);
  EXPECT_TRUE(scratch.ok());
  EXPECT_TRUE(sink.boxes.empty());
}

// Bytes go out and come back as they are: no CR added before LF, none taken
// away, no end at byte 0x1A, and a parked output appends without a second CR.
TEST(SystemFiles, BinaryThroughParkAndReopen) {
  Folder dir;
  RecordingMessageSink sink;
  const std::string first = std::string("a\r\nb\nc\x1A", 7) + std::string(1, '\0') + "d\r";
  OutputFile out(sink, dir / "t.csv");
  ASSERT_TRUE(out.Write(first));
  ASSERT_TRUE(out.Park());
  ASSERT_TRUE(out.Write("\r\ne\n"));
  ASSERT_TRUE(out.Commit());
  EXPECT_EQ(ReadAll(dir / "t.csv"), first + "\r\ne\n");
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"t.csv"});  // no temporary left
}

TEST(SystemFiles, OffsetsBeyondFourGiB) {
  Folder dir;
  constexpr std::uint64_t kSize = (5ull << 30) + 7;
  os::File f = os::kNoFile;
  std::string path;
  os::FileId id;
  ASSERT_EQ(os::CreateTemporary(dir / ".big.", path, f, id), 0);
  ASSERT_EQ(os::Truncate(f, kSize - 4), 0);  // sparse where the file system can
  ASSERT_EQ(os::WriteAt(f, "tail", 4, kSize - 4), 0);
  std::uint64_t size = 0;
  EXPECT_EQ(os::SizeOf(f, size), 0);
  EXPECT_EQ(size, kSize);
  os::Close(f);
  EXPECT_EQ(FileSize(path), kSize);

  RecordingMessageSink sink;
  InputFile in(sink);
  ASSERT_TRUE(in.Open(path));
  EXPECT_EQ(in.Size(), kSize);
  ASSERT_TRUE(in.Seek(kSize - 4));
  char buf[8];
  EXPECT_EQ(std::string(buf, in.Read(buf, sizeof buf)), "tail");
}

// Temporaries are always new files under random names, held while open:
// another run can neither remove one nor take it back after it was parked,
// and once its owner lets go it is a leftover to sweep.
TEST(SystemFiles, TemporariesAreNewHeldAndKnownAgain) {
  Folder dir;
  const std::string stem = dir / ".t.gpx.marklode-";
  os::File mine = os::kNoFile, theirs = os::kNoFile;
  std::string minePath, theirPath;
  os::FileId mineId, theirId;
  ASSERT_EQ(os::CreateTemporary(stem, minePath, mine, mineId), 0);
  ASSERT_EQ(os::CreateTemporary(stem, theirPath, theirs, theirId), 0);
  EXPECT_NE(minePath, theirPath);
  EXPECT_FALSE(mineId == theirId);
  EXPECT_EQ(minePath.size(), stem.size() + 16);
  ASSERT_EQ(os::WriteAll(mine, "half", 4), 0);
  os::RemoveStale(minePath);  // held
  EXPECT_EQ(os::Stat(minePath).kind, os::Kind::Regular);
  os::Close(mine);
  // Known again only as the same file of the same size.
  EXPECT_EQ(os::ReopenTemporary(minePath, mineId, 3, mine), os::kBusy);
  EXPECT_EQ(os::ReopenTemporary(minePath, theirId, 4, mine), os::kBusy);
  ASSERT_EQ(os::ReopenTemporary(minePath, mineId, 4, mine), 0);
  ASSERT_EQ(os::WriteAll(mine, "!", 1), 0);
  os::Close(mine);
  EXPECT_EQ(ReadAll(minePath), "half!");
  os::RemoveStale(minePath);  // now a leftover
  EXPECT_EQ(os::Stat(minePath).kind, os::Kind::Missing);
  os::Close(theirs);
  os::RemoveStale(theirPath);
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{});
}

// The same through an output: the next run for a target sweeps what killed
// runs left (under today's names and the slot names of earlier versions),
// leaves what a running process holds, and writes to a new file of its own.
TEST(SystemFiles, OutputsSweepLeftoversAndSkipHeldTemporaries) {
  Folder dir;
  RecordingMessageSink sink;
  const std::string target = dir / "Łódź.csv";
  const std::string stem = TemporaryStem(target);
  os::File held = os::kNoFile, left = os::kNoFile;
  std::string heldPath, leftPath;
  os::FileId id;
  ASSERT_EQ(os::CreateTemporary(stem, heldPath, held, id), 0);  // a running process's
  ASSERT_EQ(os::CreateTemporary(stem, leftPath, left, id), 0);
  ASSERT_EQ(os::WriteAll(left, "stale", 5), 0);
  os::Close(left);
  std::ofstream(std::filesystem::path(std::u8string(stem.begin(), stem.end()) + u8"3")) << "stale";
  {
    OutputFile out(sink, target);
    ASSERT_TRUE(out.Write("new"));
    EXPECT_NE(out.temporary(), heldPath);
    EXPECT_EQ(os::Stat(leftPath).kind, os::Kind::Missing);
    EXPECT_EQ(os::Stat(stem + "3").kind, os::Kind::Missing);
    ASSERT_TRUE(out.Commit());
  }
  EXPECT_EQ(os::Stat(heldPath).kind, os::Kind::Regular);
  os::Close(held);
  os::RemoveStale(heldPath);
  EXPECT_EQ(ReadAll(target), "new");
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"Łódź.csv"});
  EXPECT_TRUE(sink.boxes.empty()) << sink.Joined();
}

// Links placed at the names that earlier versions computed for a target's
// temporary, and at one of today's shape, are never written through: the
// output goes to a new file, the file they lead to stays as it was, and the
// links stay where they were put. (Symbolic links where they can be made.)
TEST(SystemFiles, LinksAtTemporaryNamesAreNeverWritten) {
  const auto fs = [](const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
  };
  for (const bool symbolic : {false, true}) {
    SCOPED_TRACE(symbolic ? "symbolic links" : "hard links");
    Folder dir;
    RecordingMessageSink sink;
    const std::string victim = dir / "victim.txt", target = dir / "Łódź.csv";
    std::ofstream(fs(victim), std::ios::binary) << "precious";  // the sweep has not seen the folder
    const std::string stem = TemporaryStem(target);
    std::vector<std::string> names;
    for (const char* tail : {"0", "1", "2", "3", "0123456789abcdef"}) {
      std::error_code ec;
      names.push_back(stem + tail);
      if (symbolic) {
        std::filesystem::create_symlink(fs(victim), fs(names.back()), ec);
        if (ec) GTEST_SKIP() << "no symbolic links here: " << ec.message();
      } else {
        std::filesystem::create_hard_link(fs(victim), fs(names.back()), ec);
        ASSERT_FALSE(ec) << ec.message();
      }
    }
    const std::string text(40000, 'x');
    ASSERT_TRUE(Write(target, text, sink));
    EXPECT_TRUE(sink.boxes.empty()) << sink.Joined();
    EXPECT_EQ(ReadAll(target), text);
    EXPECT_EQ(ReadAll(victim), "precious");
    for (const std::string& at : names) {
      std::error_code ec;
      EXPECT_TRUE(std::filesystem::exists(std::filesystem::symlink_status(fs(at), ec))) << at;
    }
  }
}

TEST(SystemFiles, IdentityKindsAndProgramFolder) {
  Folder dir;
  RecordingMessageSink sink;
  ASSERT_TRUE(Write(dir / "a.gpx", "x", sink));
  ASSERT_TRUE(Write(dir / "b.gpx", "x", sink));
  const std::string dot = std::string(".") + kPathSep;
  EXPECT_TRUE(SameFile(dir / "a.gpx", dir / (dot + "a.gpx")));
  EXPECT_FALSE(SameFile(dir / "a.gpx", dir / "b.gpx"));
  // Letter case joins names only where the folder ignores it, whether the
  // other name is there or not.
  EXPECT_EQ(SameFile(dir / "a.gpx", dir / "A.GPX"), kHostPathRule == PathRule::Windows);
#ifndef _WIN32
  ASSERT_TRUE(Write(dir / "A.GPX", "y", sink));
  EXPECT_FALSE(SameFile(dir / "a.gpx", dir / "A.GPX"));
#endif
  EXPECT_NE(NotARegularFileText(dir.text(), dir.text()).find("a folder"), std::string::npos);
  EXPECT_EQ(NotARegularFileText(dir / "a.gpx", dir / "a.gpx"), "");

  // The program's folder is its executable's, wherever the run stands.
  const std::string before = ProgramFolder();
  const std::string cwd = CurrentDirectory();
  ASSERT_TRUE(ChangeDirectory(dir.text()));
  EXPECT_EQ(ProgramFolder(), before);
  EXPECT_NE(ProgramFolder(), CurrentDirectory());
  ASSERT_TRUE(ChangeDirectory(cwd));
  EXPECT_FALSE(before.empty());
  EXPECT_NE(before.back(), kPathSep);
}

std::string WriteGpx(const Folder& dir, std::initializer_list<std::string_view> names) {
  std::string gpx = "<gpx>";
  for (std::string_view n : names)
    gpx.append("<wpt lat='1' lon='2'><name>").append(n).append("</name></wpt>");
  gpx += "</gpx>";
  RecordingMessageSink sink;
  Write(dir / "trip.gpx", gpx, sink);
  return dir / "trip.gpx";
}

// Two names of one file as a folder compares them: by their bytes, or,
// where the folder ignores case, by their case-blind keys.
TEST(SameFileNames, CaseCountsOnlyWhereTheFolderIgnoresIt) {
  const struct {
    const char* a;
    const char* b;
    bool ignoresCase;
    PathRule rule;
    bool same;
  } cases[] = {
      {"/d/p.csv", "/d/p.csv", false, PathRule::Posix, true},
      {"/d/p.csv", "/d/P.CSV", false, PathRule::Posix, false},
      {"/d/p.csv", "/d/P.CSV", true, PathRule::Posix, true},
      {"/d/p.csv", "/D/p.csv", true, PathRule::Posix, false},  // the folders above by bytes
      {"/d/Łódź.csv", "/d/ŁÓDŹ.CSV", true, PathRule::Posix, true},
      {"/d/Straße.csv", "/d/STRASSE.csv", true, PathRule::Posix, false},
      {"C:\\d\\p.csv", "c:/D/P.CSV", true, PathRule::Windows, true},
      {"C:\\d\\p.csv", "C:\\d\\q.csv", true, PathRule::Windows, false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(SameFileName(c.a, c.b, c.ignoresCase, c.rule), c.same)
        << c.a << " " << c.b << (c.ignoresCase ? " ignoring case" : "");
}

// Names made from waypoints are ones the system keeps as they are given.
TEST(GeneratedNames, FollowTheSystemsRule) {
  Folder dir;
  RecordingMessageSink messages;
  MemorySettingsStore settings;
  RunServices services{messages, settings};
  Request request;
  request.input = WriteGpx(dir, {"CON", "a:b", "Zürich.", "lpt1.x"});
  request.toPoi = {"", "<W>", ""};
  ASSERT_EQ(RunRequest(request, services).status, RunStatus::Done);
  EXPECT_TRUE(messages.boxes.empty());
#ifdef _WIN32
  EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"CON_.CSV", "Zürich.CSV", "a_b.CSV",
                                                     "lpt1_.x.CSV", "trip.gpx"}));
#else
  EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"CON.CSV", "Zürich..CSV", "a:b.CSV",
                                                     "lpt1.x.CSV", "trip.gpx"}));
#endif
}

#ifdef _WIN32

TEST(WindowsFiles, LookupGivesTheStoredNameAndDevicesAreNoFiles) {
  Folder dir;
  RecordingMessageSink sink;
  ASSERT_TRUE(Write(dir / "Tour.gpx", "x", sink));
  EXPECT_EQ(FindFiles(dir / "TOUR.GPX"), std::vector<std::string>{"Tour.gpx"});
  EXPECT_EQ(FindFirstFile(dir / "tour.gpx"), "Tour.gpx");
  EXPECT_TRUE(SameFile(dir / "Tour.gpx", dir / "TOUR.gpx"));
  for (const char* device : {"NUL", "CON", "nul.gpx"})
    EXPECT_NE(NotARegularFileText(device, device).find("a device"), std::string::npos) << device;
}

// A device is written straight through: no file of its name appears, and
// no temporary is left beside it.
TEST(WindowsFiles, DevicesAreWrittenThrough) {
  Folder dir;
  RecordingMessageSink sink;
  for (const char* device : {"NUL", "nul.csv"}) {
    ASSERT_TRUE(Write(dir / device, std::string(40000, 'x'), sink)) << device;
  }
  // Also in chunks from another thread, as big outputs are written.
  OutputFile out(sink, dir / "NUL");
  ChunkSink* chunks = out.Chunks();
  ASSERT_NE(chunks, nullptr);
  ByteBuffer chunk;
  chunk.Append(std::string(40000, 'x'));
  EXPECT_TRUE(chunks->Submit(chunk));
  EXPECT_TRUE(out.Commit());
  EXPECT_TRUE(sink.boxes.empty()) << sink.Joined();
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{});
}

// A target another program holds open without sharing stays as it was; the
// warning gives the system's reason, and the temporary goes.
TEST(WindowsFiles, HeldTargetKeepsItsContent) {
  Folder dir;
  RecordingMessageSink sink;
  const std::string target = dir / "Łódź.CSV";
  ASSERT_TRUE(Write(target, "old", sink));
  HANDLE held = ::CreateFileW(Wide(target).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(Write(target, "new", sink));
  ::CloseHandle(held);
  ASSERT_EQ(sink.boxes.size(), 1u);
  EXPECT_EQ(sink.boxes[0].title, "PutTextLine");
  const std::string text = sink.boxes[0].text;
  EXPECT_NE(text.find(target), std::string::npos) << text;
  const bool reason = text.find(os::ErrorText(ERROR_SHARING_VIOLATION)) == 0 ||
                      text.find(os::ErrorText(ERROR_ACCESS_DENIED)) == 0;
  EXPECT_TRUE(reason) << text;
  EXPECT_EQ(text.find(".."), std::string::npos) << text;  // the system's period trimmed
  EXPECT_EQ(ReadAll(target), "old");
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"Łódź.CSV"});
}

TEST(WindowsFiles, ErrorTextsAreTheSystems) {
  const std::string text = os::ErrorText(ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(text.empty());
  EXPECT_NE(text.back(), '.');
  EXPECT_NE(text.back(), '\n');
  RecordingMessageSink sink;
  InputFile in(sink);
  EXPECT_FALSE(in.Open("no-such-folder-here\\Zürich.gpx"));
  ASSERT_EQ(sink.boxes.size(), 1u);
  EXPECT_NE(sink.boxes[0].text.find("Zürich.gpx"), std::string::npos);
}

// Read back with RegGetValueW, not with the store's own code.
std::wstring RegistryText(const std::wstring& key, const std::wstring& name) {
  DWORD bytes = 0;
  if (::RegGetValueW(HKEY_CURRENT_USER, key.c_str(), name.c_str(), RRF_RT_REG_SZ, nullptr, nullptr,
                     &bytes) != ERROR_SUCCESS)
    return L"<missing>";
  std::wstring buf(bytes / sizeof(wchar_t), L'\0');
  ::RegGetValueW(HKEY_CURRENT_USER, key.c_str(), name.c_str(), RRF_RT_REG_SZ, nullptr, buf.data(),
                 &bytes);
  buf.resize(bytes / sizeof(wchar_t));
  while (!buf.empty() && buf.back() == L'\0') buf.pop_back();
  return buf;
}

TEST(WindowsSettings, RegistryStore) {
  // A key of the test's own, so a real user's settings stay untouched.
  const std::string key =
      "Software\\Orvel\\Marklode-test-" + std::to_string(::GetCurrentProcessId());
  RegistrySettingsStore store(key);
  EXPECT_EQ(store.GetRegistryValue("WindowX"), "");  // no key yet
  store.SetRegistryValue("WindowX", "1200");
  store.SetRegistryValue("windowx", "1500");  // the registry ignores the case of names
  EXPECT_EQ(store.GetRegistryValue("WINDOWX"), "1500");
  EXPECT_EQ(store.GetRegistryValue("Missing"), "");
  const std::string longValue = "C:\\Łódź\\" + std::string(5000, 'p') + "\\東京.gpx";
  store.SetRegistryValue("InFileGPX", longValue);
  EXPECT_EQ(store.GetRegistryValue("InFileGPX"), longValue);  // read whole
  store.SetRegistryValue("TruncatePOIname", " False ");
  EXPECT_FALSE(IsStoredTrue(store.GetRegistryValue("TruncatePOIname")));
  EXPECT_EQ(store.GetRegistryValue("TruncatePOIname"), " False ");

  const std::wstring wkey = Wide(key);
  EXPECT_EQ(RegistryText(wkey, L"WindowX"), L"1500");
  EXPECT_EQ(RegistryText(wkey, L"InFileGPX"), Wide(longValue));
  DWORD type = 0;
  EXPECT_EQ(::RegGetValueW(HKEY_CURRENT_USER, wkey.c_str(), L"WindowX", RRF_RT_ANY, &type, nullptr,
                           nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  ::RegDeleteTreeW(HKEY_CURRENT_USER, wkey.c_str());
  EXPECT_EQ(store.GetRegistryValue("WindowX"), "");

  // The converter reads its setting from there.
  RecordingMessageSink messages;
  RunServices services{messages, store};
  Folder dir;
  const std::string name(45, 'n');
  Request request;
  request.input = WriteGpx(dir, {name});
  request.toPoi.comment.clear();
  for (const char* value : {"", " FALSE ", "no"}) {
    store.SetRegistryValue("truncatepoiname", value);
    ASSERT_EQ(RunRequest(request, services).status, RunStatus::Done);
    const std::size_t kept = std::string_view(value) == " FALSE " ? 45 : 39;
    EXPECT_EQ(ReadAll(dir / "trip.CSV"), "2,1,\"" + name.substr(0, kept) + "\"") << value;
  }
  ::RegDeleteTreeW(HKEY_CURRENT_USER, wkey.c_str());

  // The front ends' store is the registry's, at the program's key.
  auto user = UserSettingsStore();
  auto* registry = dynamic_cast<RegistrySettingsStore*>(user.get());
  ASSERT_NE(registry, nullptr);
  EXPECT_EQ(registry->keyPath(), "Software\\Orvel\\Marklode");
}

// A copy with a file named "portable" beside it keeps its settings in
// Marklode.ini there; without it (or with a folder of that name) the settings
// go to the registry key.
TEST(WindowsSettings, PortableCopyKeepsItsSettingsBesideItself) {
  Folder dir;
  std::string folder = dir.text();
  folder.pop_back();  // as ProgramFolder() gives it
  std::filesystem::create_directory(std::filesystem::u8path(dir / "portable"));
  auto store = UserSettingsStore(folder);
  EXPECT_NE(dynamic_cast<RegistrySettingsStore*>(store.get()), nullptr);
  std::filesystem::remove(std::filesystem::u8path(dir / "portable"));
  std::ofstream(std::filesystem::u8path(dir / "portable")).put('\n');
  store = UserSettingsStore(folder);
  auto* file = dynamic_cast<FileSettingsStore*>(store.get());
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(file->path(), dir / "Marklode.ini");
  EXPECT_EQ(file->section(), "Marklode");
  store->SetRegistryValue("TruncatePOIname", "False");
  EXPECT_EQ(ReadAll(dir / "Marklode.ini"), "[Marklode]\r\nTruncatePOIname=False\r\n");
  EXPECT_EQ(UserSettingsStore(folder)->GetRegistryValue("truncatepoiname"), "False");
  // The running program's own folder has no marker: the registry.
  EXPECT_NE(dynamic_cast<RegistrySettingsStore*>(UserSettingsStore().get()), nullptr);
}

// The system's boxes: the icon, the buttons and the default button of each
// kind, as both Windows programs show them.
TEST(WindowsMessageBoxes, EachKindHasItsIconButtonsAndDefault) {
  const struct {
    MessageKind kind;
    UINT flags;
  } cases[] = {
      {MessageKind::Plain, MB_OK},
      {MessageKind::Error, MB_OK | MB_ICONSTOP},
      {MessageKind::Warning, MB_OK | MB_ICONEXCLAMATION},
      {MessageKind::Information, MB_OK | MB_ICONINFORMATION},
      {MessageKind::Question, MB_OKCANCEL | MB_ICONQUESTION | MB_DEFBUTTON2},
  };
  for (const auto& c : cases)
    EXPECT_EQ(MessageBoxFlags(c.kind), c.flags) << static_cast<int>(c.kind);
}

#endif

}  // namespace
}  // namespace marklode
