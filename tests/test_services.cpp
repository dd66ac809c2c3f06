#include <gtest/gtest.h>

#include <functional>
#ifndef _WIN32
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#endif

#include <algorithm>
#include <filesystem>
#include <thread>

#ifndef _WIN32
#include "services/display.h"
#endif
#include "services/os.h"
#include "services/platform.h"
#include "services/settings.h"
#include "services/text_files.h"
#include "test_util.h"

namespace marklode {
namespace {

using test::ReadFile;
using test::WriteFile;

TEST(Settings, ParsesNameValueLines) {
  auto values =
      ParseSettingsText(" ModeGPX = True\r\nInFileGPX=/a b/c.gpx \r\n; note\nnoequals\n=x\n");
  ASSERT_EQ(values.size(), 2u);
  EXPECT_EQ(values[0], (std::pair<std::string, std::string>{"ModeGPX", " True"}));
  EXPECT_EQ(values[1], (std::pair<std::string, std::string>{"InFileGPX", "/a b/c.gpx "}));
}

TEST(Settings, FileStoreReadsWritesAndKeepsOtherLines) {
  test::TempDir dir;
  FileSettingsStore store(dir / "sub/Orvel/Marklode.conf");
  EXPECT_EQ(store.GetRegistryValue("WindowX"), "");  // no file yet
  store.SetRegistryValue("WindowX", "1200");
  store.SetRegistryValue("ModeGPX", "True");
  store.SetRegistryValue("windowx", "1500");  // names without regard to case
  EXPECT_EQ(store.GetRegistryValue("WINDOWX"), "1500");
  EXPECT_EQ(ReadFile(store.path()), "WindowX=1500\nModeGPX=True\n");

  WriteFile(store.path(), "# kept\r\nTruncatePOIname = false\r\n");
  EXPECT_EQ(store.GetRegistryValue("TruncatePOIname"), " false");
  const std::string longValue(5000, 'p');  // read whole, never cut
  store.SetRegistryValue("InFileGPX", longValue);
  EXPECT_EQ(store.GetRegistryValue("InFileGPX"), longValue);
  EXPECT_EQ(ReadFile(store.path()).substr(0, 8), "# kept\r\n");
}

// A file saved by an editor that writes a UTF-8 byte order mark is read
// whole, and a rewrite replaces its first line instead of adding another.
TEST(Settings, FileStartingWithAByteOrderMarkIsReadWhole) {
  test::TempDir dir;
  FileSettingsStore store(dir / "Marklode.conf");
  WriteFile(store.path(), "\xEF\xBB\xBFTruncatePOIname=false\r\nModeGPX=True\r\n");
  EXPECT_EQ(store.GetRegistryValue("TruncatePOIname"), "false");
  EXPECT_EQ(store.GetRegistryValue("ModeGPX"), "True");
  store.SetRegistryValue("TruncatePOIname", "true");
  EXPECT_EQ(ReadFile(store.path()), "\xEF\xBB\xBFTruncatePOIname=true\r\nModeGPX=True\r\n");
}

// A store with a section reads and writes only its own section of an INI
// file: a new file starts with the section's line, a new name goes at the end
// of the section (not after the next one), and other sections stay as they are.
TEST(Settings, IniStoreKeepsToItsSection) {
  test::TempDir dir;
  FileSettingsStore store(dir / "Marklode.ini", "Marklode");
  store.SetRegistryValue("WindowX", "1200");
  store.SetRegistryValue("ModeGPX", "True");
  EXPECT_EQ(ReadFile(store.path()), "[Marklode]\r\nWindowX=1200\r\nModeGPX=True\r\n");

  const struct {
    const char* before;
    const char* read;   // TruncatePOIname as read
    const char* after;  // the file once TruncatePOIname=False is written
  } cases[] = {
      {"[Other]\nTruncatePOIname=x\n[ marklode ]\nA=1\n\n[Last]\nB=2\n", "",
       "[Other]\nTruncatePOIname=x\n[ marklode ]\nA=1\nTruncatePOIname=False\n\n[Last]\nB=2\n"},
      {"TruncatePOIname=x\n[Marklode]\nTruncatePOIname=true\ntruncatepoiname=y\n[Other]\n", "y",
       "TruncatePOIname=x\n[Marklode]\nTruncatePOIname=False\n[Other]\n"},
      {"; mine\r\nA=1\r\n", "", "; mine\r\nA=1\r\n[Marklode]\r\nTruncatePOIname=False\r\n"},
      {"[Marklode]", "", "[Marklode]\nTruncatePOIname=False\n"},
  };
  for (const auto& c : cases) {
    WriteFile(store.path(), c.before);
    EXPECT_EQ(store.GetRegistryValue("TruncatePOIname"), c.read) << c.before;
    store.SetRegistryValue("TruncatePOIname", "False");
    EXPECT_EQ(ReadFile(store.path()), c.after) << c.before;
    EXPECT_EQ(store.GetRegistryValue("TruncatePOIname"), "False") << c.before;
  }
}

TEST(Settings, UnwritableStoreIsSilent) {
  test::TempDir dir;
  WriteFile(dir / "file", "x");
  FileSettingsStore store(dir / "file/Marklode.conf");  // a file where a folder should be
  store.SetRegistryValue("A", "1");
  EXPECT_EQ(store.GetRegistryValue("A"), "");
  EXPECT_TRUE(IsStoredTrue(" TRUE "));
  EXPECT_FALSE(IsStoredTrue("yes"));
}

#ifndef _WIN32  // named pipes, links to devices
// Only a regular file of a sensible size is read as settings, and nothing
// else there is replaced by a write: a named pipe must not block the program,
// a link to a device not fill its memory.
TEST(Settings, OnlyARegularFileIsRead) {
  test::TempDir dir;
  ASSERT_EQ(::mkfifo((dir / "fifo.conf").c_str(), 0600), 0);
  ASSERT_EQ(::symlink("/dev/zero", (dir / "zero.conf").c_str()), 0);
  WriteFile(dir / "big.conf", "ModeGPX=True\n" + std::string(2 << 20, ';'));
  for (const char* name : {"fifo.conf", "zero.conf", "big.conf"}) {
    FileSettingsStore store(dir / name);
    EXPECT_EQ(store.GetRegistryValue("ModeGPX"), "") << name;
    store.SetRegistryValue("ModeGPX", "False");
  }
  struct stat st;
  ASSERT_EQ(::lstat((dir / "fifo.conf").c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
  ASSERT_EQ(::lstat((dir / "zero.conf").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(ReadFile(dir / "big.conf").substr(0, 13), "ModeGPX=True\n");
}
#endif

TEST(DirectoryLookup, MatchesWithoutRegardToCaseAndSkipsFolders) {
  test::TempDir dir;
  WriteFile(dir / "Trip.GPX", "");
  WriteFile(dir / "b.csv", "");
  WriteFile(dir / "a.CSV", "");
  WriteFile(dir / ".hidden.csv", "");
  std::filesystem::create_directory(dir / "folder.csv");
  EXPECT_EQ(FindFiles(dir / "*.csv"), (std::vector<std::string>{"a.CSV", "b.csv"}));
  EXPECT_EQ(FindFiles(dir / "?.csv").size(), 2u);
  EXPECT_EQ(FindFirstFile(dir / "trip.gpx"), "Trip.GPX");
  EXPECT_EQ(ResolveFile(dir / "trip.gpx"), dir / "Trip.GPX");
  EXPECT_EQ(FindFirstFile(dir / "folder.csv"), "");
  EXPECT_EQ(FindFirstFile(dir / ".hidden.csv"), ".hidden.csv");
  EXPECT_EQ(FindFirstFile(dir / "nothing*"), "");
  EXPECT_EQ(FindFirstFile(dir / "nofolder/x.csv"), "");
  EXPECT_EQ(ResolveFile(dir / "*.csv"), "");
}

TEST(OutputFile, ReplacesTheTargetOnlyWhenComplete) {
  test::TempDir dir;
  RecordingMessageSink sink;
  WriteFile(dir / "out.csv", "old");
  {
    OutputFile out(sink, dir / "out.csv");
    ASSERT_TRUE(out.Write("new"));
    EXPECT_EQ(ReadFile(dir / "out.csv"), "old");  // still the old file while writing
  }  // dropped without Commit: the temporary goes, the old file stays
  EXPECT_EQ(test::Listing(dir.path()), std::vector<std::string>{"out.csv"});
  {
    OutputFile out(sink, dir / "out.csv");
    ASSERT_TRUE(out.Write(std::string(600'000, 'x')));  // more than one buffer
    ASSERT_TRUE(out.Park());
    ASSERT_TRUE(out.Write("y"));
    ASSERT_TRUE(out.Commit());
  }
  EXPECT_EQ(ReadFile(dir / "out.csv"), std::string(600'000, 'x') + "y");
  EXPECT_TRUE(sink.boxes.empty());
}

// Chunks come from another thread: what was written before them goes first,
// the space reserved ahead of a big output is given back, and the old file
// stays until Commit.
TEST(OutputFile, ChunksFollowEarlierTextAndReplaceOnlyOnCommit) {
  test::TempDir dir;
  RecordingMessageSink sink;
  std::string expected = "head;";
  for (int i = 0; i < 20; ++i) expected += std::string(i * 60'013, static_cast<char>('a' + i));
  {
    OutputFile out(sink, dir / "out.gpx");
    ASSERT_TRUE(out.Write("head;"));
    ChunkSink* chunks = out.Chunks();
    ASSERT_NE(chunks, nullptr);
    bool ok = true;
    std::thread writer([&] {
      for (int i = 0; i < 20; ++i) {
        ByteBuffer chunk;
        chunk.Append(std::string(i * 60'013, static_cast<char>('a' + i)));
        ok = chunks->Submit(chunk) && chunk.empty() && ok;
      }
    });
    writer.join();
    EXPECT_TRUE(ok);
    ASSERT_TRUE(out.Commit());
  }
  EXPECT_EQ(ReadFile(dir / "out.gpx"), expected);
  {
    OutputFile out(sink, dir / "out.gpx");
    ByteBuffer chunk;
    chunk.Append("new");
    ASSERT_TRUE(out.Chunks()->Submit(chunk));
  }  // dropped without Commit
  EXPECT_EQ(ReadFile(dir / "out.gpx"), expected);
  EXPECT_EQ(test::Listing(dir.path()), std::vector<std::string>{"out.gpx"});
  EXPECT_TRUE(sink.boxes.empty());
}

// A big output reserves its space ahead and gives back what it did not use:
// whatever the estimate (far over, under, impossible to reserve), the file
// that replaces the old one ends exactly at its text. A small one reserves
// nothing beyond its text while it is written.
TEST(OutputFile, ReservedSpaceEndsAtTheText) {
  struct Case {
    std::uint64_t expected;
    std::size_t chunk, chunks;
  };
  const Case cases[] = {
      {64u << 20, 1 << 20, 3},               // far over the estimate's mark
      {1u << 20, 1 << 20, 5},                // past the estimate
      {0, 1 << 20, 4},                       // no estimate
      {std::uint64_t{1} << 62, 1 << 20, 2},  // no file system holds that much
      {1000, 1000, 1},                       // small
  };
  test::TempDir dir;
  RecordingMessageSink sink;
  for (const Case& c : cases) {
    WriteFile(dir / "out.gpx", std::string(8u << 20, 'o'));  // an old, longer file
    std::string expected;
    {
      OutputFile out(sink, dir / "out.gpx");
      ChunkSink* chunks = out.Chunks(c.expected);
      ASSERT_NE(chunks, nullptr);
      for (std::size_t i = 0; i < c.chunks; ++i) {
        ByteBuffer chunk;
        chunk.Append(std::string(c.chunk, static_cast<char>('a' + i)));
        expected.append(chunk.view());
        ASSERT_TRUE(chunks->Submit(chunk)) << c.expected;
      }
      if (c.expected < (1u << 20) && c.chunk < (1u << 20)) {
        EXPECT_EQ(std::filesystem::file_size(out.temporary()), expected.size());
      }
      ASSERT_TRUE(out.Commit()) << c.expected;
    }
    EXPECT_EQ(std::filesystem::file_size(dir / "out.gpx"), expected.size()) << c.expected;
    EXPECT_TRUE(ReadFile(dir / "out.gpx") == expected) << c.expected;
  }
  EXPECT_EQ(test::Listing(dir.path()), std::vector<std::string>{"out.gpx"});
  EXPECT_TRUE(sink.boxes.empty()) << sink.Joined();
}

// Short copies take a path of their own for each size band; each length must
// land exactly, without touching a byte either side.
TEST(CopyBytes, EveryLengthLandsExactly) {
  std::string src(300, '\0');
  for (std::size_t i = 0; i < src.size(); ++i) src[i] = static_cast<char>('A' + i % 53);
  for (std::size_t n = 0; n <= 260; ++n) {
    std::string dst(n + 8, '.');
    const char* end = CopyBytes(dst.data() + 4, src.data() + 1, n);
    EXPECT_EQ(end, dst.data() + 4 + n);
    EXPECT_EQ(dst, "...." + src.substr(1, n) + "....") << n;
  }
  ByteBuffer buf;
  buf.Append(std::string_view());  // a null view adds nothing
  buf.Append("ab");
  buf.Append(std::string_view(src).substr(0, 17));
  EXPECT_EQ(buf.view(), "ab" + src.substr(0, 17));
}

TEST(OutputFile, UncreatableTargetIsReported) {
  test::TempDir dir;
  RecordingMessageSink sink;
  WriteFile(dir / "file", "x");
  OutputFile out(sink, dir / "file/out.csv");  // a file where a folder should be
  EXPECT_FALSE(out.Write("new"));
  EXPECT_FALSE(out.Commit());
  EXPECT_EQ(sink.boxes.at(0).title, "PutTextLine");
  EXPECT_EQ(test::Listing(dir.path()), std::vector<std::string>{"file"});
}

// The window's check of an output: a file there keeps its bytes, a new one
// is not left behind, and what cannot be written says so.
TEST(AppendCheck, LeavesNoTraceAndRefusesWhatCannotBeWritten) {
  test::TempDir dir;
  WriteFile(dir / "old.csv", "kept");
  EXPECT_TRUE(os::CanAppendTo(dir / "old.csv"));
  EXPECT_EQ(ReadFile(dir / "old.csv"), "kept");
  EXPECT_TRUE(os::CanAppendTo(dir / "new.csv"));
  EXPECT_FALSE(test::Exists(dir / "new.csv"));
  EXPECT_FALSE(os::CanAppendTo(dir / "no/new.csv"));
  EXPECT_FALSE(os::CanAppendTo(dir / "old.csv/new.csv"));
  EXPECT_FALSE(os::CanAppendTo(dir.path()));
  EXPECT_EQ(test::Listing(dir.path()), std::vector<std::string>{"old.csv"});
}

#ifndef _WIN32
TEST(AppendCheck, ARefusedFileIsRefused) {
  test::TempDir dir;
  test::OpenToOthers(dir.path());
  WriteFile(dir / "locked.csv", "kept");
  ASSERT_EQ(::chmod((dir / "locked.csv").c_str(), 0444), 0);
  const std::string said = test::AsUnprivileged(
      [&] { return std::string(os::CanAppendTo(dir / "locked.csv") ? "open" : "refused"); });
  EXPECT_EQ(said, "refused");
  EXPECT_EQ(ReadFile(dir / "locked.csv"), "kept");
}
#endif

#ifndef _WIN32  // file modes and another user
// Read as a user who may see the file but not read it (root reads anything).
TEST(InputFile, AnUnreadableFileIsReported) {
  test::TempDir dir;
  test::OpenToOthers(dir.path());
  WriteFile(dir / "locked.gpx", "<gpx/>");
  ASSERT_EQ(::chmod((dir / "locked.gpx").c_str(), 0), 0);
  const std::string said = test::AsUnprivileged([&] {
    RecordingMessageSink sink;
    InputFile in(sink);
    const bool opened = in.Open(dir / "locked.gpx");
    return (opened ? "opened\n" : "") + sink.Joined();
  });
  EXPECT_EQ(said, "SYSgetTextLine: Permission denied.  (" + dir / "locked.gpx" + ").\n");
}
#endif

TEST(InputFile, AFolderIsReportedNotRead) {
  test::TempDir dir;
  RecordingMessageSink sink;
  InputFile in(sink);
  EXPECT_FALSE(in.Open(dir.path()));
  EXPECT_EQ(sink.Joined(), "SYSgetTextLine: Is a folder, not a file.  (" + dir.path() + ").\n");
}

// Every box shows control characters as "?": a waypoint name must not retitle
// or clear the user's terminal. CR and LF are the text's own line breaks.
TEST(Messages, ControlCharactersShowAsQuestionMarks) {
  RecordingMessageSink sink;
  sink.Show(
      "a\x1b]0;pwned\x07"
      "b\r\nc\x7f\xc2\x9b"
      "2J\xc2\xa0\x01",
      MessageKind::Plain, "T\x1b");
  EXPECT_EQ(sink.boxes.at(0).text, "a?]0;pwned?b\r\nc??2J\xc2\xa0?");  // NBSP stays
  EXPECT_EQ(sink.boxes.at(0).title, "T?");
  EXPECT_EQ(ShowableText(std::string("x\0y\xc2", 4)), "x?y\xc2");  // a cut sequence stays
}

// A lone 0x9B is CSI to a terminal that takes 8-bit controls, and the
// bidirectional controls reorder what the user reads ("exe.txt" shown for
// "txt.exe"); the same bytes inside other characters stay.
TEST(Messages, CsiBytesAndBidiControlsShowAsQuestionMarks) {
  const struct {
    std::string in, shown;
  } cases[] = {
      {"a\x9b"
       "2Jb",
       "a?2Jb"},                                         // raw, as in a Windows-1252 name
      {"\x9b\x9b", "??"},                                // two in a row
      {"\xff\x9b", "\xff?"},                             // after a byte that is never UTF-8
      {"\xc7\x9b\xe2\x80\x9b", "\xc7\x9b\xe2\x80\x9b"},  // U+01DB, U+201B: part of UTF-8
      {"\xe2\x9b", "\xe2?"},                             // a cut sequence: the 0x9B is alone
      {"\xc2\x9b", "?"},                                 // U+009B
      {"a\xe2\x80\xaa\xe2\x80\xab\xe2\x80\xac\xe2\x80\xad\xe2\x80\xae"
       "b",
       "a?????b"},                                                   // U+202A to U+202E
      {"\xe2\x81\xa6\xe2\x81\xa7\xe2\x81\xa8\xe2\x81\xa9", "????"},  // U+2066 to U+2069
      {"\xe2\x80\xa9\xe2\x80\xaf\xe2\x81\xa5\xe2\x81\xaa",
       "\xe2\x80\xa9\xe2\x80\xaf\xe2\x81\xa5\xe2\x81\xaa"},  // their neighbours stay
  };
  for (const auto& c : cases) {
    RecordingMessageSink sink;
    sink.Show(c.in, MessageKind::Plain, c.in);
    EXPECT_EQ(sink.boxes.at(0).text, c.shown) << c.in;
    EXPECT_EQ(sink.boxes.at(0).title, c.shown) << c.in;
  }
}

// However many records go to an output that cannot be created, it is
// reported once.
TEST(OutputFile, AFailedOutputIsReportedOnce) {
  test::TempDir dir;
  RecordingMessageSink sink;
  OutputFile out(sink, dir / "missing/out.csv");
  for (int i = 0; i < 5; ++i) EXPECT_FALSE(out.Write("x"));
  EXPECT_FALSE(out.Commit());
  EXPECT_EQ(sink.Joined(), "PutTextLine: Path not found.  (" + dir / "missing/out.csv" + ").\n");
}

// Any target name the file system takes works, the longest included: the
// temporary's name stays short.
TEST(OutputFile, LongestTargetNamesWork) {
  test::TempDir dir;
  RecordingMessageSink sink;
  for (std::size_t len : {238u, 239u, 250u, 255u}) {
    const std::string target = dir / std::string(len - 4, 'n') + ".csv";
    OutputFile out(sink, target);
    ASSERT_TRUE(out.Write("x")) << len;
    EXPECT_LE(FileNamePart(out.temporary()).size(), 76u);
    ASSERT_TRUE(out.Commit()) << len;
    EXPECT_EQ(ReadFile(target), "x");
  }
  // A name cut at 32 bytes keeps its UTF-8 sequences whole.
  const std::string stem = TemporaryStem("/d/" + std::string(31, 'a') + "\xc3\xa9z.csv");
  EXPECT_EQ(stem.substr(0, 3 + 1 + 31 + 1), "/d/." + std::string(31, 'a') + ".");
  EXPECT_TRUE(sink.boxes.empty()) << sink.Joined();
}

#ifndef _WIN32  // links, pipes, owners
// Whatever sits at a temporary's name before the run, under the names that
// earlier versions computed from the target and under one of today's shape,
// is somebody else's: the output goes to a new file of its own with the
// usual owner and mode, nothing placed there is written, followed or removed,
// and the file a link points to stays as it was. A leftover of the runner's
// own that nobody holds is swept.
TEST(OutputFile, NothingPlacedAtATemporaryNameIsUsed) {
  struct Plant {
    const char* what;
    mode_t folderMode;
    std::function<void(const std::string& at, const std::string& victim)> make;
    bool swept;
  };
  const Plant plants[] = {
      {"a symbolic link", 0700,
       [](const std::string& at, const std::string& victim) {
         ASSERT_EQ(::symlink(victim.c_str(), at.c_str()), 0);
       },
       false},
      {"a hard link", 0700,
       [](const std::string& at, const std::string& victim) {
         ASSERT_EQ(::link(victim.c_str(), at.c_str()), 0);
       },
       false},
      {"a named pipe", 0700,
       [](const std::string& at, const std::string&) { ASSERT_EQ(::mkfifo(at.c_str(), 0666), 0); },
       false},
      {"another user's file in a shared folder", 0777,
       [](const std::string& at, const std::string&) {
         EXPECT_EQ(test::AsUnprivileged([&] {
                     const int fd = ::open(at.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
                     ::fchmod(fd, 0666);
                     return std::string(fd >= 0 && ::close(fd) == 0 ? "made" : "not made");
                   }),
                   "made");
       },
       false},
      {"another user's file in a sticky folder", 01777,
       [](const std::string& at, const std::string&) {
         EXPECT_EQ(test::AsUnprivileged([&] {
                     const int fd = ::open(at.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
                     return std::string(fd >= 0 && ::close(fd) == 0 ? "made" : "not made");
                   }),
                   "made");
       },
       false},
      {"a leftover of a killed run", 0700,
       [](const std::string& at, const std::string&) { WriteFile(at, "stale"); }, true},
  };
  // Past the write buffer, so that a pipe would fill and block.
  const std::string text(40000, 'x');
  const mode_t mask = ::umask(0);
  ::umask(mask);
  for (const Plant& plant : plants) {
    SCOPED_TRACE(plant.what);
    test::TempDir dir;
    ASSERT_EQ(::chmod(dir.path().c_str(), plant.folderMode), 0);
    const std::string victim = dir / "victim.txt", target = dir / "out.csv";
    WriteFile(victim, "precious");
    const std::string stem = TemporaryStem(target);
    const std::vector<std::string> names = {stem + "0", stem + "1", stem + "2", stem + "3",
                                            stem + "0123456789abcdef"};
    for (const std::string& at : names) plant.make(at, victim);
    RecordingMessageSink sink;
    OutputFile out(sink, target);
    ASSERT_TRUE(out.Write(text));
    for (const std::string& at : names) EXPECT_NE(out.temporary(), at);
    ASSERT_TRUE(out.Commit());
    EXPECT_TRUE(sink.boxes.empty()) << sink.Joined();
    EXPECT_EQ(ReadFile(target), text);
    struct stat st;
    ASSERT_EQ(::lstat(target.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_uid, ::geteuid());
    EXPECT_EQ(st.st_nlink, 1u);
    EXPECT_EQ(st.st_mode & 07777, 0666 & ~mask);
    EXPECT_EQ(ReadFile(victim), "precious");
    for (const std::string& at : names)
      EXPECT_EQ(::lstat(at.c_str(), &st) == 0, !plant.swept) << at;
  }
}
#endif

#ifndef _WIN32  // file modes
// A replaced output keeps its target's permissions, but never set-user-ID,
// set-group-ID or sticky.
TEST(OutputFile, ReplacementKeepsPermissionsButNoSpecialBits) {
  test::TempDir dir;
  RecordingMessageSink sink;
  const std::string target = dir / "out.csv";
  WriteFile(target, "old");
  ASSERT_EQ(::chmod(target.c_str(), 07640), 0);
  OutputFile out(sink, target);
  ASSERT_TRUE(out.Write("new"));
  ASSERT_TRUE(out.Commit());
  struct stat st;
  ASSERT_EQ(::stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
}
#endif

// Blocks of megabytes are mapped, smaller ones and those whose mapping fails
// come from the heap; each goes back to the allocator it came from, also
// after being moved (a heap block handed to munmap would leak, which the
// sanitizer build reports).
#ifndef _WIN32  // descriptor limits, fork
// A shell or service that starts the program with a low soft limit (1024 is
// common) would make a profile with a file per category close and reopen its
// outputs for every record: the program takes all the hard limit allows.
TEST(OpenFileLimit, RaisedToTheHardLimit) {
  struct rlimit r;
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &r), 0);
  if (r.rlim_max != RLIM_INFINITY && r.rlim_max < 64) GTEST_SKIP() << "hard limit below 64";
  const pid_t pid = ::fork();  // the test process keeps its own limit
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    struct rlimit low = {32, r.rlim_max};
    if (::setrlimit(RLIMIT_NOFILE, &low) != 0 || os::OpenFileLimit() != 32) ::_exit(3);
    os::RaiseOpenFileLimit();
    const std::size_t got = os::OpenFileLimit();
    ::_exit(got > 32 && (r.rlim_max == RLIM_INFINITY || got == r.rlim_max) ? 0 : 4);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
}
#endif

TEST(ZeroedBlock, ZeroedWritableAndFreedByItsOwnAllocator) {
  const struct {
    std::size_t bytes;
    bool mayMap, mapped;
  } cases[] = {{4u << 20, true, true}, {4u << 20, false, false}, {4096, true, false}};
  for (const auto& c : cases) {
    ZeroedBlock block(c.bytes, c.mayMap);
    EXPECT_EQ(block.mapped(), c.mapped) << c.bytes << " " << c.mayMap;
    auto* p = static_cast<unsigned char*>(block.data());
    ASSERT_NE(p, nullptr);
    EXPECT_TRUE(std::all_of(p, p + c.bytes, [](unsigned char b) { return b == 0; }));
    std::fill(p, p + c.bytes, 0xAB);
    ZeroedBlock moved(std::move(block));
    EXPECT_EQ(moved.data(), p);
    EXPECT_EQ(moved.mapped(), c.mapped);
    EXPECT_EQ(block.data(), nullptr);
    ZeroedBlock assigned;
    assigned = std::move(moved);
    EXPECT_EQ(assigned.data(), p);
  }
}

#ifndef _WIN32
// A display named in the environment but not there must not reach Qt, which
// would end the program; the command line tells before starting the window.
TEST(Display, ProbeAnswersOnlyForAWindowSystemThatIsThere) {
  struct Case {
    const char* what;
    const char* platform;
    const char* display;
    const char* wayland;  // "@socket": a listening socket made here
    bool available;
  };
  const Case cases[] = {
      {"nothing named", "", "", "", false},
      {"platform named", "offscreen", "", "", true},
      {"local X display gone", "", ":987654", "", false},
      {"malformed X display", "", "nonsense", "", false},
      {"remote X display trusted", "", "remote.example:10.0", "", true},
      {"Wayland socket gone", "", "", "/nonexistent/wayland-9", false},
      {"Wayland socket listening", "", ":987654", "@socket", true},
  };
  const char* names[] = {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"};
  std::string saved[3];
  bool had[3];
  for (int i = 0; i < 3; ++i) {
    const char* v = std::getenv(names[i]);
    had[i] = v != nullptr;
    saved[i] = v != nullptr ? v : "";
  }
  auto set = [](const char* name, const std::string& value) {
    if (value.empty())
      ::unsetenv(name);
    else
      ::setenv(name, value.c_str(), 1);
  };
  for (const Case& c : cases) {
    test::TempDir dir;
    std::string wayland = c.wayland;
    int listener = -1;
    if (wayland == "@socket") {
      wayland = dir / "wayland-test";
      listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
      sockaddr_un addr{};
      addr.sun_family = AF_UNIX;
      std::strncpy(addr.sun_path, wayland.c_str(), sizeof(addr.sun_path) - 1);
      ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0) << c.what;
      ASSERT_EQ(::listen(listener, 1), 0) << c.what;
    }
    set("QT_QPA_PLATFORM", c.platform);
    set("DISPLAY", c.display);
    set("WAYLAND_DISPLAY", wayland);
    const bool got = WindowSystemAvailable();
    if (listener >= 0) ::close(listener);
    EXPECT_EQ(got, c.available) << c.what;
  }
  for (int i = 0; i < 3; ++i) {
    if (had[i])
      ::setenv(names[i], saved[i].c_str(), 1);
    else
      ::unsetenv(names[i]);
  }
}
#endif

}  // namespace
}  // namespace marklode
