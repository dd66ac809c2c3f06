// Bad input and hostile surroundings, through the program as users run it:
// each case gives its message and exit status, never crashes or hangs, and
// leaves every file it should not write exactly as it was.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "tests/extra/extra_util.h"

namespace marklode {
namespace {

using test::ReadFile;
using test::RunMarklode;
using test::WriteFile;
namespace fs = std::filesystem;

constexpr const char* kDirectory = "<directory>";
constexpr const char* kFifo = "<named pipe>";
constexpr const char* kValidGpx = "<a GPX file that validates>";

std::string Fill(std::string text, const std::string& dir) {
  for (std::size_t p = text.find("{dir}"); p != std::string::npos; p = text.find("{dir}"))
    text.replace(p, 5, dir);
  return text;
}

// Every entry of a folder: file contents, or kDirectory.
std::map<std::string, std::string> Snapshot(const std::string& dir) {
  std::map<std::string, std::string> out;
  for (const auto& e : fs::directory_iterator(test::FsPath(dir)))
    out[test::Utf8(e.path().filename())] = e.is_directory() ? kDirectory
                                           : e.is_fifo()    ? kFifo
                                                            : ReadFile(test::Utf8(e.path()));
  return out;
}

std::string Garbage(std::size_t n, std::uint32_t seed) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(rng() & 0xFF);
  return s;
}

const std::string kOneWpt = "<gpx><wpt lat=\"1\" lon=\"2\"><name>A</name></wpt></gpx>";

struct BadCase {
  const char* name;
  std::map<std::string, std::string> before;  // folder contents; kDirectory makes a folder
  std::vector<std::string> args;              // "{dir}" stands for the folder
  int status;
  std::string err;
  std::map<std::string, std::string> after;  // the whole folder afterwards
};

void PrintTo(const BadCase& c, std::ostream* os) {
  *os << c.name;
}

const BadCase kCases[] = {
    {"TruncatedInsideAName",
     {{"a.gpx",
       "<gpx><wpt lat=\"1\" lon=\"2\"><name>A</name></wpt>\n<wpt lat=\"3\" lon=\"4\">"
       "<name>Cut he"}},
     {"{dir}/a.gpx"},
     0,
     "",
     {{"a.gpx",
       "<gpx><wpt lat=\"1\" lon=\"2\"><name>A</name></wpt>\n<wpt lat=\"3\" lon=\"4\">"
       "<name>Cut he"},
      {"a.CSV", "2,1,\"A\"\r\n4,3,\"Cut he\""}}},
    {"TruncatedInsideAStartTag",
     {{"a.gpx", "<gpx><wpt lat=\"1\" lon=\"2\"><name>A</name></wpt><wpt lat=\"3\" lo"}},
     {"{dir}/a.gpx"},
     2,
     "Marklode: 1 waypoint without a name was skipped.\n",
     {{"a.gpx", "<gpx><wpt lat=\"1\" lon=\"2\"><name>A</name></wpt><wpt lat=\"3\" lo"},
      {"a.CSV", "2,1,\"A\""}}},
    {"BinaryGarbageGpxWritesNothing",
     {{"g.gpx", Garbage(1 << 16, 1)}, {"g.CSV", "OLD"}},
     {"{dir}/g.gpx"},
     0,
     "",
     {{"g.gpx", Garbage(1 << 16, 1)}, {"g.CSV", "OLD"}}},
    {"GpxInputIsAFolder",
     {{"d.gpx", kDirectory}, {"d.CSV", "OLD"}},
     {"{dir}/d.gpx"},
     1,
     "Invalid file: The input is a folder, not a file that can be converted: {dir}/d.gpx\n",
     {{"d.gpx", kDirectory}, {"d.CSV", "OLD"}}},
    {"CsvInputIsAFolder",
     {{"d.csv", kDirectory}, {"d.GPX", "OLD"}},
     {"/r", "{dir}/d.csv"},
     1,
     "Invalid file: The input is a folder, not a file that can be converted: {dir}/d.csv\n",
     {{"d.csv", kDirectory}, {"d.GPX", "OLD"}}},
    {"FolderNamedWithoutExtension",
     {{"d", kDirectory}},
     {"{dir}/d"},
     1,
     "Invalid file: The input is a folder, not a file that can be converted: {dir}/d\n",
     {{"d", kDirectory}}},
#ifndef _WIN32  // named pipes and /dev
    {"CsvInputIsANamedPipe",
     {{"p.csv", kFifo}},
     {"/r", "{dir}/p.csv"},
     1,
     "Invalid file: The input is a named pipe, not a file that can be converted: {dir}/p.csv\n",
     {{"p.csv", kFifo}}},
    {"GpxInputIsADevice",
     {},
     {"/dev/null"},
     1,
     "Invalid file: The input is a device, not a file that can be converted: /dev/null\n",
     {}},
#endif
// An output that would replace its own input stops, says why and writes
// nothing; names that differ in case are one file on Windows only.
#ifdef _WIN32
    {"CsvOutputIsItsInputInAnotherCase",
     {{"trip.gpx", "1,2,\"A\"\r\n"}},
     {"/r", "{dir}/trip.gpx"},
     1,
     "Marklode: Can't create output file -- {dir}/trip.GPX  It would replace its own input.\n",
     {{"trip.gpx", "1,2,\"A\"\r\n"}}},
    {"CsvProfileOutputIsItsInputInAnotherCase",
     {{"b.csv", "1,2,\"B\""},
      {"p.zvp", "[Profile]\r\nInput={dir}/b.csv\r\nOutput={dir}/B.CSV\r\n"}},
     {"/p", "{dir}/p.zvp"},
     1,
     "Marklode: Can't create output file -- {dir}/B.CSV  It would replace its own input.\n",
     {{"b.csv", "1,2,\"B\""},
      {"p.zvp", "[Profile]\r\nInput={dir}/b.csv\r\nOutput={dir}/B.CSV\r\n"}}},
    {"ProfileIsTheOutputNamedFromTheInput",
     {{"a.gpx", kOneWpt}, {"a.csv", "[Profile]\r\nInput={dir}/a.gpx\r\n"}},
     {"/p", "{dir}/a.csv"},
     1,
     "Marklode: Can't create output file -- {dir}/a.CSV  It would replace its own input.\n",
     {{"a.gpx", kOneWpt}, {"a.csv", "[Profile]\r\nInput={dir}/a.gpx\r\n"}}},
    {"ListItemInAnotherCase",
     {{"a.gpx", "1,2,\"A\""}, {"b.csv", "1,2,\"B\""}},
     {"{dir}/b.csv;a.gpx"},
     1,
     "Marklode: Can't create output file -- {dir}/a.GPX  It would replace its own input.\n",
     {{"a.gpx", "1,2,\"A\""}, {"b.csv", "1,2,\"B\""}}},
#else
    {"CsvOutputIsItsInputInAnotherCase",
     {{"trip.gpx", "1,2,\"A\"\r\n"}},
     {"/r", "{dir}/trip.gpx"},
     0,
     "",
     {{"trip.gpx", "1,2,\"A\"\r\n"}, {"trip.GPX", kValidGpx}}},
    {"CsvProfileOutputIsItsInputInAnotherCase",
     {{"b.csv", "1,2,\"B\""},
      {"p.zvp", "[Profile]\r\nInput={dir}/b.csv\r\nOutput={dir}/B.CSV\r\n"}},
     {"/p", "{dir}/p.zvp"},
     0,
     "",
     {{"b.csv", "1,2,\"B\""},
      {"B.CSV", kValidGpx},
      {"p.zvp", "[Profile]\r\nInput={dir}/b.csv\r\nOutput={dir}/B.CSV\r\n"}}},
    {"ProfileIsTheOutputNamedFromTheInput",
     {{"a.gpx", kOneWpt}, {"a.csv", "[Profile]\r\nInput={dir}/a.gpx\r\n"}},
     {"/p", "{dir}/a.csv"},
     0,
     "",
     {{"a.gpx", kOneWpt}, {"a.csv", "[Profile]\r\nInput={dir}/a.gpx\r\n"}, {"a.CSV", "2,1,\"A\""}}},
    {"ListItemInAnotherCase",
     {{"a.gpx", "1,2,\"A\""}, {"b.csv", "1,2,\"B\""}},
     {"{dir}/b.csv;a.gpx"},
     0,
     "",
     {{"a.gpx", "1,2,\"A\""}, {"b.csv", "1,2,\"B\""}, {"a.GPX", kValidGpx}, {"b.GPX", kValidGpx}}},
#endif
    {"ProfileOutputIsTheProfile",
     {{"a.gpx", kOneWpt}, {"p.zvp", "[Profile]\r\nInput={dir}/a.gpx\r\nOutput={dir}/p.zvp\r\n"}},
     {"/p", "{dir}/p.zvp"},
     1,
     "Marklode: Can't create output file -- {dir}/p.zvp  It would replace its own input.\n",
     {{"a.gpx", kOneWpt}, {"p.zvp", "[Profile]\r\nInput={dir}/a.gpx\r\nOutput={dir}/p.zvp\r\n"}}},
    {"GpxOutputIsOneOfThePatternsFiles",
     {{"a.csv", "1,2,\"A\""},
      {"b.csv", "1,2,\"B\""},
      {"p.zvp", "[Profile]\r\nInput={dir}/*.csv\r\nOutput={dir}/b.csv\r\n"}},
     {"/p", "{dir}/p.zvp"},
     1,
     "Marklode: Can't create output file -- {dir}/b.csv  It would replace its own input.\n",
     {{"a.csv", "1,2,\"A\""},
      {"b.csv", "1,2,\"B\""},
      {"p.zvp", "[Profile]\r\nInput={dir}/*.csv\r\nOutput={dir}/b.csv\r\n"}}},
    // A GPX output name holding a wildcard stops, however it was named.
    {"WildcardInADerivedGpxOutput",
     {{"a.csv", "1,2,\"A\""}},
     {"/r", "{dir}/?.csv"},
     1,
     "Invalid file: Can't use wildcard for GPX output file: {dir}/?.GPX\n",
     {{"a.csv", "1,2,\"A\""}}},
    {"WildcardInAProfilesGpxOutput",
     {{"a.csv", "1,2,\"A\""},
      {"p.zvp", "[Profile]\r\nInput={dir}/a.csv\r\nOutput={dir}/out?.gpx\r\n"}},
     {"/p", "{dir}/p.zvp"},
     1,
     "Invalid file: Can't use wildcard for GPX output file: {dir}/out?.gpx\n",
     {{"a.csv", "1,2,\"A\""},
      {"p.zvp", "[Profile]\r\nInput={dir}/a.csv\r\nOutput={dir}/out?.gpx\r\n"}}},
    {"WildcardInAListItemWritesNoItem",
     {{"a.csv", "1,2,\"A\""}, {"bx.csv", "1,2,\"B\""}},
     {"{dir}/a.csv;b?.csv"},
     1,
     "Invalid file: Can't use wildcard for GPX output file: {dir}/b?.GPX\n",
     {{"a.csv", "1,2,\"A\""}, {"bx.csv", "1,2,\"B\""}}},
    // In a POI-CSV output "?" stands for the input's name, as "*" does.
    {"WildcardInAProfilesCsvOutputIsTheInputsName",
     {{"a.gpx", kOneWpt}, {"p.zvp", "[Profile]\r\nInput={dir}/a.gpx\r\nOutput={dir}/o?.csv\r\n"}},
     {"/p", "{dir}/p.zvp"},
     0,
     "",
     {{"a.gpx", kOneWpt},
      {"a.CSV", "2,1,\"A\""},
      {"p.zvp", "[Profile]\r\nInput={dir}/a.gpx\r\nOutput={dir}/o?.csv\r\n"}}},
    {"EmptyListItemsAreNoItems",
     {{"b.csv", "1,2,\"B\""}},
     {"{dir}/b.csv;;"},
     0,
     "",
     {{"b.csv", "1,2,\"B\""}, {"b.GPX", kValidGpx}}},
    {"SwitchAfterTheFile",
     {{"b.csv", "1,2,\"B\""}},
     {"{dir}/b.csv", "/r"},
     1,
     "Marklode: Switches come first: \"/r\" came after \"{dir}/b.csv\". Write, for example, "
     "marklode /r FILE.csv or marklode /p PROFILE.zvp.\n",
     {{"b.csv", "1,2,\"B\""}}},
    {"ExampleWithItsOutputInAMissingFolderWarnsOnce",
     {{"club-tour.gpx", ReadFile(MARKLODE_SOURCE_DIR "/examples/club-tour.gpx")},
      {"p.zvp", "[Profile]\r\nInput={dir}/club-tour.gpx\r\nOutput={dir}/no/out.csv\r\n"}},
     {"/p", "{dir}/p.zvp"},
     2,
     "PutTextLine: Path not found.  ({dir}/no/out.csv).\n",
     {{"club-tour.gpx", ReadFile(MARKLODE_SOURCE_DIR "/examples/club-tour.gpx")},
      {"p.zvp", "[Profile]\r\nInput={dir}/club-tour.gpx\r\nOutput={dir}/no/out.csv\r\n"}}},
    {"GpxOutputFolderMissing",
     {{"a.gpx", kOneWpt}, {"p.zvp", "[Profile]\r\nInput={dir}/a.gpx\r\nOutput={dir}/no/a.csv\r\n"}},
     {"/p", "{dir}/p.zvp"},
     2,
     "PutTextLine: Path not found.  ({dir}/no/a.csv).\n",
     {{"a.gpx", kOneWpt},
      {"p.zvp", "[Profile]\r\nInput={dir}/a.gpx\r\nOutput={dir}/no/a.csv\r\n"}}},
    {"CsvOutputFolderMissing",
     {{"b.csv", "1,2,\"B\""},
      {"p.zvp", "[Profile]\r\nInput={dir}/b.csv\r\nOutput={dir}/no/b.gpx\r\n"}},
     {"/p", "{dir}/p.zvp"},
     2,
     "PutTextLine: Path not found.  ({dir}/no/b.gpx).\n",
     {{"b.csv", "1,2,\"B\""},
      {"p.zvp", "[Profile]\r\nInput={dir}/b.csv\r\nOutput={dir}/no/b.gpx\r\n"}}},
    {"GpxOutputIsTheInput",
     {{"a.gpx", kOneWpt}, {"p.zvp", "[Profile]\r\nInput={dir}/a.gpx\r\nOutput={dir}/a.gpx\r\n"}},
     {"/p", "{dir}/p.zvp"},
     0,
     "",
     {{"a.gpx", "2,1,\"A\""},
      {"p.zvp", "[Profile]\r\nInput={dir}/a.gpx\r\nOutput={dir}/a.gpx\r\n"}}},
    {"ListItemWhoseOutputIsItsInputWritesNoItem",
     {{"a.GPX", kOneWpt}, {"b.csv", "1,2,\"B\""}},
     {"{dir}/b.csv;a.GPX"},
     1,
     "Marklode: Can't create output file -- {dir}/a.GPX  It would replace its own input.\n",
     {{"a.GPX", kOneWpt}, {"b.csv", "1,2,\"B\""}}},
};

class BadInput : public ::testing::TestWithParam<BadCase> {};

TEST_P(BadInput, GivesItsMessageAndStatusAndKeepsFiles) {
  const BadCase& c = GetParam();
  test::TempDir dir;
  for (const auto& [name, content] : c.before) {
    if (content == kDirectory) fs::create_directory(dir / name);
#ifndef _WIN32
    else if (content == kFifo)
      ASSERT_EQ(::mkfifo((dir / name).c_str(), 0600), 0);
#endif
    else
      WriteFile(dir / name, Fill(content, dir.path()));
  }
  std::vector<std::string> args;
  for (const auto& a : c.args) args.push_back(Fill(a, dir.path()));
  const auto ran = RunMarklode(args);
  EXPECT_EQ(ran.status, c.status);
  EXPECT_EQ(ran.err, Fill(c.err, dir.path()));

  auto after = Snapshot(dir.path());
  for (const auto& [name, content] : c.after) {
    ASSERT_TRUE(after.count(name)) << name << " is missing";
    if (content == kValidGpx) {
      MARKLODE_EXPECT_VALID_GPX(dir / name);
    } else {
      EXPECT_EQ(after[name], Fill(content, dir.path())) << name;
    }
    after.erase(name);
  }
  for (const auto& [name, content] : after) ADD_FAILURE() << "unexpected file " << name;
}

INSTANTIATE_TEST_SUITE_P(Cases, BadInput, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(BadInputFiles, BinaryGarbageCsvGivesAValidGpx) {
  test::TempDir dir;
  WriteFile(dir / "g.csv", Garbage(1 << 16, 2));
  const auto ran = RunMarklode({"/r", dir / "g.csv"});
  // Garbage lines with enough commas are points without valid coordinates:
  // each is reported and skipped.
  EXPECT_TRUE(ran.status == 0 || ran.status == 2) << ran.status << "\n" << ran.err;
  EXPECT_EQ(ReadFile(dir / "g.csv"), Garbage(1 << 16, 2));
  MARKLODE_EXPECT_VALID_GPX(dir / "g.GPX");
}

#ifndef _WIN32  // file modes and another user
// Run as a user who may see the file but not read it (root reads anything),
// in a folder where that user could write the output.
TEST(BadInputFiles, UnreadableInputIsReportedAndNothingWritten) {
  test::TempDir dir, bin;
  const std::string program = test::ProgramForEveryone(bin);
  test::OpenToOthers(dir.path());
  WriteFile(dir / "u.gpx", kOneWpt);
  WriteFile(dir / "u.CSV", "OLD");
  fs::permissions(dir / "u.gpx", fs::perms::none);
  const std::string said = test::AsUnprivileged([&] {
    const auto ran = test::RunMarklodeAt(program, {dir / "u.gpx"});
    return std::to_string(ran.status) + " " + ran.err;
  });
  EXPECT_EQ(said, "2 SYSgetTextLine: Permission denied.  (" + dir / "u.gpx" + ").\n");
  fs::permissions(dir / "u.gpx", fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(ReadFile(dir / "u.CSV"), "OLD");
  EXPECT_EQ(test::Listing(dir.path()), (std::vector<std::string>{"u.CSV", "u.gpx"}));
}
#endif

// A profile saved by a Windows editor holds its templates in Windows-1252, and
// a template may hold control characters; the GPX must still be proper UTF-8
// XML. (Found by fuzzing the POI-CSV reader with templates.)
TEST(BadInputFiles, ProfileTemplatesInWindows1252StillGiveAValidGpx) {
  test::TempDir dir;
  WriteFile(dir / "b.csv", "1,2,\"A\",\"c\"\r\n");
  WriteFile(dir / "p.zvp", "[Profile]\r\nInput=" + dir / "b.csv" + "\r\nOutput=" + dir / "b.gpx" +
                               "\r\nGenerateWaypointComment=<T>\x02 caf\xe9\r\n"
                               "GenerateCategory=Caf\xe9\r\n");
  const auto ran = RunMarklode({"/p", dir / "p.zvp"});
  EXPECT_EQ(ran.status, 0) << ran.err;
  MARKLODE_EXPECT_VALID_GPX(dir / "b.gpx");
  EXPECT_NE(ReadFile(dir / "b.gpx").find("<gpxx:Category>Caf\xC3\xA9</gpxx:Category>"),
            std::string::npos);
}

#ifndef _WIN32  // tmpfs, ulimit, fork
// A small tmpfs stands for a full disk. Mounting needs root (or the right
// capability); elsewhere the test is skipped and says so.
class FullDisk : public ::testing::Test {
 protected:
  void SetUp() override {
    mnt_ = dir_ / "full";
    fs::create_directory(mnt_);
    if (::mount("tmpfs", mnt_.c_str(), "tmpfs", 0, "size=64k") != 0)
      GTEST_SKIP() << "cannot mount a small tmpfs here to fill (" << std::strerror(errno)
                   << "): needs root or CAP_SYS_ADMIN";
    mounted_ = true;
  }
  void TearDown() override {
    if (mounted_) ::umount(mnt_.c_str());
  }
  test::TempDir dir_;
  std::string mnt_;
  bool mounted_ = false;
};

std::string ManyWaypoints(int n) {
  std::string g = "<gpx>\n";
  for (int i = 0; i < n; ++i)
    g += "<wpt lat=\"1.5\" lon=\"2.5\"><name>Point " + std::to_string(i) +
         " with a longer name</name><cmt>a comment</cmt></wpt>\n";
  return g + "</gpx>\n";
}

TEST_F(FullDisk, GpxToCsvKeepsTheOldOutputAndLeavesNoTemporary) {
  WriteFile(dir_ / "big.gpx", ManyWaypoints(20000));
  WriteFile(mnt_ + "/out.csv", "OLD");
  WriteFile(dir_ / "p.zvp",
            "[Profile]\r\nInput=" + dir_ / "big.gpx" + "\r\nOutput=" + mnt_ + "/out.csv\r\n");
  const auto ran = RunMarklode({"/p", dir_ / "p.zvp"});
  EXPECT_EQ(ran.status, 2);
  EXPECT_EQ(ran.err, "PutTextLine: Disk full.  (" + mnt_ + "/out.csv).\n");
  EXPECT_EQ(ReadFile(mnt_ + "/out.csv"), "OLD");
  EXPECT_EQ(test::Listing(mnt_), std::vector<std::string>{"out.csv"});
}

TEST_F(FullDisk, CsvToGpxKeepsTheOldOutputAndLeavesNoTemporary) {
  std::string csv;
  for (int i = 0; i < 5000; ++i) csv += "2.5,1.5,\"Point " + std::to_string(i) + "\"\r\n";
  WriteFile(dir_ / "big.csv", csv);
  WriteFile(mnt_ + "/out.gpx", "OLD");
  WriteFile(dir_ / "p.zvp",
            "[Profile]\r\nInput=" + dir_ / "big.csv" + "\r\nOutput=" + mnt_ + "/out.gpx\r\n");
  const auto ran = RunMarklode({"/p", dir_ / "p.zvp"});
  EXPECT_EQ(ran.status, 2);
  EXPECT_EQ(ran.err, "PutTextLine: Disk full.  (" + mnt_ + "/out.gpx).\n");
  EXPECT_EQ(ReadFile(mnt_ + "/out.gpx"), "OLD");
  EXPECT_EQ(test::Listing(mnt_), std::vector<std::string>{"out.gpx"});
}
#endif

// Nothing gathers the whole input or a whole line in a fixed buffer: a file
// that is one 100 MB line, and lines of 10 MB, convert whole.
TEST(BadInputFiles, HundredMegabyteSingleLineConvertsEveryWaypoint) {
  test::TempDir dir;
  const std::string wpt = "<wpt lat=\"-12.25\" lon=\"130.5\"><name>P</name><cmt>c</cmt></wpt>";
  const std::size_t n = (100u << 20) / wpt.size() + 1;
  {
    std::ofstream out(dir / "one.gpx", std::ios::binary);
    out << "<?xml version=\"1.0\"?><gpx>";
    for (std::size_t i = 0; i < n; ++i) out << wpt;
    out << "</gpx>";
  }
  ASSERT_GE(fs::file_size(dir / "one.gpx"), 100u << 20);
  const auto ran = RunMarklode({dir / "one.gpx"});
  EXPECT_EQ(ran.status, 0) << ran.err;
  std::string want;
  want.reserve(n * 24);
  for (std::size_t i = 0; i < n; ++i)
    want += (i ? "\r\n" : "") + std::string("130.5,-12.25,\"P\",\"c\"");
  EXPECT_TRUE(ReadFile(dir / "one.CSV") == want) << "the records differ";
}

TEST(BadInputFiles, TenMegabyteLinesConvertWhole) {
  test::TempDir dir;
  const std::string big(10u << 20, 'x');
  WriteFile(dir / "long.gpx", "<gpx>\r\n<wpt lat=\"1\" lon=\"2\">\r\n<name>" + big +
                                  "</name>\r\n<cmt>" + big + "</cmt>\r\n</wpt>\r\n</gpx>\r\n");
  auto ran = RunMarklode({dir / "long.gpx"});
  EXPECT_EQ(ran.status, 0) << ran.err;
  EXPECT_TRUE(ReadFile(dir / "long.CSV") == "2,1,\"" + big.substr(0, 39) + "\",\"" + big + "\"");

  WriteFile(dir / "long.csv", "1,2,\"" + big + "\",\"" + big + "\"\r\n3,4,\"Short\"\r\n");
  ran = RunMarklode({"/r", dir / "long.csv"});
  EXPECT_EQ(ran.status, 0) << ran.err;
  const std::string gpx = ReadFile(dir / "long.GPX");
  EXPECT_NE(gpx.find("<name>" + big + "</name>"), std::string::npos);
  EXPECT_NE(gpx.find("<cmt>" + big + "</cmt>"), std::string::npos);
  EXPECT_NE(gpx.find("<name>Short</name>"), std::string::npos);
  MARKLODE_EXPECT_VALID_GPX(dir / "long.GPX");
}

#ifndef _WIN32  // ulimit, fork and signals
// Runs the program through sh after the shell command limit ("ulimit -n 16"),
// stdin from /dev/null, stderr to errFile; returns the exit status.
int RunLimited(const std::string& limit, const std::vector<std::string>& args,
               const std::string& errFile, const std::string& redirect = "") {
  static test::TempDir config;
  std::string cmd = limit + "; exec env -u DISPLAY -u WAYLAND_DISPLAY XDG_CONFIG_HOME=" +
                    test::Quote(config.path()) + " " + test::Quote(MARKLODE_BINARY);
  // Appended piece by piece: g++ 12 at -O3 sees a false overlap in
  // "literal" + std::string&&.
  for (const auto& a : args) cmd.append(" ").append(test::Quote(a));
  cmd.append(" </dev/null 2>").append(test::Quote(errFile)).append(redirect);
  const int rc = std::system(std::string("sh -c ").append(test::Quote(cmd)).c_str());
  return WIFEXITED(rc) ? WEXITSTATUS(rc) : 128 + WTERMSIG(rc);
}

// The file-size limit makes the write fail, and that is reported like a full
// disk, not a silent death that leaves the temporary behind.
TEST(BadInputFiles, FileSizeLimitIsAFailedWrite) {
  test::TempDir dir;
  std::string gpx = "<gpx>\n";
  for (int i = 0; i < 500; ++i)
    gpx += "<wpt lat=\"1.5\" lon=\"2.5\"><name>Point " + std::to_string(i) + "</name></wpt>\n";
  WriteFile(dir / "t.gpx", gpx + "</gpx>\n");
  WriteFile(dir / "t.CSV", "OLD");
  fs::create_directory(dir / "err");
  const int status = RunLimited("ulimit -f 8", {dir / "t.gpx"}, dir / "err/err");
  EXPECT_EQ(status, 2);
  EXPECT_EQ(ReadFile(dir / "err/err"), "PutTextLine: File too large.  (" + dir / "t.CSV" + ").\n");
  EXPECT_EQ(ReadFile(dir / "t.CSV"), "OLD");
  EXPECT_EQ(test::Listing(dir.path()), (std::vector<std::string>{"err", "t.CSV", "t.gpx"}));
}

// Messages to a reader that went away ("marklode bad.gpx 2>&1 | head -1") must
// not end the run: the output is still written, and the status tells.
TEST(BadInputFiles, ClosedPipeOnStderrDoesNotEndTheRun) {
  test::TempDir dir;
  WriteFile(dir / "bad.gpx",
            "<gpx><wpt lat=\"91\" lon=\"2\"><name>Bad</name></wpt>"
            "<wpt lat=\"92\" lon=\"2\"><name>Bad</name></wpt>"
            "<wpt lat=\"1\" lon=\"2\"><name>Good</name></wpt></gpx>");
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(fds[1], 2);
    ::close(fds[0]);
    ::close(fds[1]);
    ::unsetenv("DISPLAY");
    ::execl(MARKLODE_BINARY, "marklode", (dir / "bad.gpx").c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(fds[1]);
  ::close(fds[0]);  // nobody reads: every message meets a closed pipe
  int status = 0;
  ::waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 2);
  EXPECT_EQ(ReadFile(dir / "bad.CSV"), "2,1,\"Good\"");
  EXPECT_EQ(test::Listing(dir.path()), (std::vector<std::string>{"bad.CSV", "bad.gpx"}));
}

// A one-to-many conversion with far more outputs than the process may hold
// open: outputs are parked and reopened, none is lost, nothing is reported.
TEST(BadInputFiles, FewDescriptorsStillWriteEveryOutput) {
  test::TempDir dir;
  constexpr int kNames = 1000;
  std::string gpx = "<gpx>\n";
  for (int round = 0; round < 2; ++round)
    for (int i = 0; i < kNames; ++i)
      gpx += "<wpt lat=\"1\" lon=\"" + std::to_string(round) + "\"><name>W" + std::to_string(i) +
             "</name></wpt>\n";
  WriteFile(dir / "many.gpx", gpx + "</gpx>\n");
  fs::create_directory(dir / "out");
  WriteFile(dir / "p.zvp", "[Profile]\r\nInput=" + dir / "many.gpx" +
                               "\r\nOutput=" + dir / "out/x.csv\r\nGenerateCSVFileName=<W>\r\n");
  const int status = RunLimited("ulimit -n 16", {"/p", dir / "p.zvp"}, dir / "err");
  EXPECT_EQ(status, 0);
  EXPECT_EQ(ReadFile(dir / "err"), "");
  EXPECT_EQ(test::Listing(dir / "out").size(), static_cast<std::size_t>(kNames));
  EXPECT_EQ(ReadFile(dir / "out/W7.CSV"), "0,1,\"W7\"\r\n1,1,\"W7\"");
  EXPECT_EQ(ReadFile(dir / "out/W999.CSV"), "0,1,\"W999\"\r\n1,1,\"W999\"");
}

// Running out of memory is a stop with a clear word: the output being
// written is removed and the old one stays. The input is one line of a
// gigabyte (a sparse file, so it costs no disk) that the reader must hold.
TEST(BadInputFiles, OutOfMemoryStopsCleanly) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "a sanitized program reserves more address space than any limit allows";
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
  GTEST_SKIP() << "a sanitized program reserves more address space than any limit allows";
#endif
#endif
  test::TempDir dir;
  WriteFile(dir / "big.gpx",
            "<gpx><wpt lat=\"1\" lon=\"2\"><name>A</name></wpt>\n<wpt lat=\"3\" lon=\"4\"><name>");
  fs::resize_file(dir / "big.gpx", 1u << 30);
  WriteFile(dir / "big.CSV", "OLD");
  fs::create_directory(dir / "err");
  const int status = RunLimited("ulimit -v 300000", {dir / "big.gpx"}, dir / "err/err");
  EXPECT_EQ(status, 1);
  EXPECT_EQ(ReadFile(dir / "err/err"),
            "Marklode: Out of memory: the conversion was stopped, and its unfinished output files "
            "were removed.\n");
  EXPECT_EQ(ReadFile(dir / "big.CSV"), "OLD");
  EXPECT_EQ(test::Listing(dir.path()), (std::vector<std::string>{"big.CSV", "big.gpx", "err"}));
}
#endif

}  // namespace
}  // namespace marklode
