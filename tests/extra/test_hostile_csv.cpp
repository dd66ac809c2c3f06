// Hostile POI-CSV through the program as users run it: unreadable inputs
// leave the output as it was, and huge or odd records convert whole. The big
// inputs are made here, never kept in the repository.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <unistd.h>
#endif

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/extra/extra_util.h"

namespace marklode {
namespace {

using test::ReadFile;
using test::RunMarklode;
using test::WriteFile;
namespace fs = std::filesystem;

#ifndef _WIN32  // file modes, running as another user
// One CSV of a pattern that cannot be opened: the GPX that was there stays,
// and the status says a file could not be read.
TEST(HostileCsv, UnreadableInputLeavesTheOldGpx) {
  const bool root = ::geteuid() == 0;
  if (root && !test::HaveTool("setpriv"))
    GTEST_SKIP() << "runs as root, who reads any file, and setpriv (util-linux) is missing to "
                    "run the program as another user";
  test::TempDir dir;
  fs::permissions(dir.path(), fs::perms::all);
  WriteFile(dir / "a.csv", "1,2,A\r\n");
  WriteFile(dir / "b.csv", "3,4,B\r\n");
  WriteFile(dir / "a.GPX", "OLD");
  fs::permissions(dir / "a.csv", fs::perms::none);
  const auto run = [&](const std::vector<std::string>& args) {
    std::vector<std::string> argv;
    if (root) argv = {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
    argv.push_back(MARKLODE_BINARY);
    argv.insert(argv.end(), args.begin(), args.end());
    return test::RunCommand(argv);
  };
  auto ran = run({"/r", dir / "a.csv"});
  EXPECT_EQ(ran.status, 2);
  EXPECT_EQ(ran.err, "SYSgetTextLine: Permission denied.  (" + dir / "a.csv" + ").\n");
  EXPECT_EQ(ReadFile(dir / "a.GPX"), "OLD");
  EXPECT_EQ(test::Listing(dir.path()), (std::vector<std::string>{"a.GPX", "a.csv", "b.csv"}));
  fs::permissions(dir / "a.csv", fs::perms::owner_read | fs::perms::owner_write);
}
#endif

// Lines of ten megabytes: commas only, quotes only, and many short fields
// give one point each, with every further column that is not empty.
TEST(HostileCsv, HugeLinesOfFieldsConvertWhole) {
  test::TempDir dir;
  const std::size_t n = 10u << 20;
  std::string few;
  for (std::size_t i = 0; i < n / 4; ++i) few += i % 1000 ? ",," : ",x";
  WriteFile(dir / "h.csv", "1,2,Commas," + std::string(n, ',') + "\r\n" +  //
                               "3,4,\"" + std::string(n, '"') + "\r\n" +   //
                               "5,6,Few,c" + few + "\r\n");
  const auto ran = RunMarklode({"/r", dir / "h.csv"});
  EXPECT_EQ(ran.status, 0) << ran.err;
  const std::string gpx = ReadFile(dir / "h.GPX");
  EXPECT_NE(gpx.find("<name>Commas</name>\r\n    <cmt></cmt>"), std::string::npos);
  EXPECT_NE(gpx.find("<name></name>"), std::string::npos);  // the quotes go
  std::string comment = "c";
  for (std::size_t i = 0; i < n / 4; i += 1000) comment += ", x";
  EXPECT_NE(gpx.find("<name>Few</name>\r\n    <cmt>" + comment + "</cmt>"), std::string::npos);
  MARKLODE_EXPECT_VALID_GPX(dir / "h.GPX");
}

// GNU time reports the peak; a sanitizer's quarantine would hold what is freed.
#if !defined(_WIN32) && !defined(__SANITIZE_ADDRESS__)
// The most memory the program held at once (resident, kB) converting file,
// as GNU time measures it: the program is its child, started from a small
// process, so that none of this one's memory is counted in.
long PeakKb(const std::string& file, std::string* said = nullptr) {
  const auto ran = test::RunMarklodeAt("/usr/bin/time", {"-f", "%M", MARKLODE_BINARY, "/r", file});
  const std::size_t line = ran.err.find_last_of('\n', ran.err.size() - 2);
  if (said) *said = ran.err.substr(0, line == std::string::npos ? 0 : line + 1);
  return std::atol(ran.err.c_str() + (line == std::string::npos ? 0 : line + 1));
}

// One long record is held about twice at a time: in the reader's buffer and
// in its copy on the way to the writer, which then keeps the name in its set
// of names. It is never held once more for every buffer it passes through,
// nor as the whole escaped text of its point. (Columns past the fourth are
// joined into the comment, a copy of their own: three times.)
TEST(HostileCsv, OneLongRecordIsHeldTwiceOrThreeTimes) {
  if (!fs::exists("/usr/bin/time")) GTEST_SKIP() << "GNU time (/usr/bin/time) is missing";
  test::TempDir dir;
  WriteFile(dir / "small.csv", "1,2,\"a\"\r\n");
  const long baseKb = PeakKb(dir / "small.csv");
  ASSERT_GT(baseKb, 0);
  const std::size_t n = 24u << 20;
  const struct {
    const char* what;
    std::string record;
    double most;  // times the record's size
  } cases[] = {
      {"a long name", "1,2,\"" + std::string(n, 'n') + "\"\r\n3,4,\"b\"\r\n", 2.5},
      {"a long name escaped four times over", "1,2,\"" + std::string(n, '<') + "\"\r\n", 2.5},
      {"a long comment", "1,2,\"a\",\"" + std::string(n, 'c') + "\"\r\n", 2.5},
      {"a long further column", "1,2,a,b," + std::string(n, 'r') + "\r\n", 3.5},
      // Reported, quoting only the start of its name.
      {"a long name with bad coordinates", "x,y,\"" + std::string(n, 'n') + "\"\r\n", 1.5},
  };
  for (const auto& c : cases) {
    WriteFile(dir / "long.csv", c.record);
    std::string said;
    const long peakKb = PeakKb(dir / "long.csv", &said);
    if (c.record[0] == 'x') {
      EXPECT_TRUE(said.starts_with("Marklode: Invalid lon/lat for: nnn")) << said.substr(0, 80);
      EXPECT_NE(said.find("n....  Skipping...\n"), std::string::npos);
      EXPECT_LT(said.size(), 2000u);
    } else {
      EXPECT_EQ(said, "") << c.what;
    }
    EXPECT_LE(peakKb - baseKb,
              static_cast<long>(c.most * static_cast<double>(c.record.size()) / 1024))
        << c.what << ": " << peakKb << " kB at the peak, " << baseKb << " kB for a small file";
    fs::remove(dir / "long.GPX");
  }
}
#endif

// One stray Windows-1252 byte garbles no other record; a file wholly in
// Windows-1252 is an ordinary file.
TEST(HostileCsv, EncodingPerRecord) {
  test::TempDir dir;
  WriteFile(dir / "m.csv", "1,2,Z\xC3\xBCrich\r\n3,4,M\xFCnchen\r\n5,6,K\xC3\xB6ln\r\n");
  WriteFile(dir / "w.csv", "1,2,Caf\xE9\r\n3,4,\x80uro\r\n");
  for (const char* name : {"m.csv", "w.csv"}) {
    const auto ran = RunMarklode({"/r", dir / name});
    EXPECT_EQ(ran.status, 0) << ran.err;
    EXPECT_EQ(ran.err, "");
  }
  const std::string m = ReadFile(dir / "m.GPX");
  for (const char* name : {"Zürich", "München", "Köln"})
    EXPECT_NE(m.find(std::string("<name>") + name + "</name>"), std::string::npos) << name;
  const std::string w = ReadFile(dir / "w.GPX");
  EXPECT_NE(w.find("<name>Café</name>"), std::string::npos);
  EXPECT_NE(w.find("<name>€uro</name>"), std::string::npos);
}

}  // namespace
}  // namespace marklode
