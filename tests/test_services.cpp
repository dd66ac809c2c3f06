#include <gtest/gtest.h>

#include <thread>

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

TEST(Settings, UnwritableStoreIsSilent) {
  test::TempDir dir;
  WriteFile(dir / "file", "x");
  FileSettingsStore store(dir / "file/Marklode.conf");  // a file where a folder should be
  store.SetRegistryValue("A", "1");
  EXPECT_EQ(store.GetRegistryValue("A"), "");
  EXPECT_TRUE(IsStoredTrue(" TRUE "));
  EXPECT_FALSE(IsStoredTrue("yes"));
}

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

TEST(InputFile, AFolderIsReportedNotRead) {
  test::TempDir dir;
  RecordingMessageSink sink;
  InputFile in(sink);
  EXPECT_FALSE(in.Open(dir.path()));
  EXPECT_EQ(sink.Joined(), "SYSgetTextLine: Is a folder, not a file.  (" + dir.path() + ").\n");
}

}  // namespace
}  // namespace marklode
