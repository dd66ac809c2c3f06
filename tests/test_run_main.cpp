#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "engine/poi_to_gpx.h"
#include "engine/run_main.h"
#include "process_runner.h"
#include "test_util.h"

namespace marklode {
namespace {

using test::ReadFile;
using test::WriteFile;

TEST(CommandLine, SwitchesAndRequest) {
  const std::string inProg = std::string("/prog") + test::kSep + "b.zvp";
  struct Case {
    std::vector<std::string> args;
    std::string request;
    bool reverse, profile;
    std::string profileFile;
    std::string misplaced = "";
  } cases[] = {
      {{}, "", false, false, ""},
      {{"/r"}, "", true, false, ""},
      {{"/R", "pts.csv"}, "pts.csv", true, false, ""},
      {{"my", "trip.gpx"}, "my trip.gpx", false, false, ""},
      {{"/p", "/a/b.zvp"}, "/a/b.zvp", false, true, "/a/b.zvp"},
      {{"/P", "b.zvp"}, "b.zvp", false, true, inProg},
      {{"/p", "x.zvp", "/r"}, "", true, false, "", "/r"},  // "/r" would drop "x.zvp"
      {{"trip.csv", "/R"}, "", true, false, "", "/R"},
      {{"/r", "a.csv", "/p", "b.zvp"}, "b.zvp", true, true, inProg, "/p"},
      {{"/r", "/p", "/a/b.zvp"}, "/a/b.zvp", true, true, "/a/b.zvp"},
      {{"/p"}, "", false, false, ""},
      {{"x/r"}, "x/r", false, false, ""},  // a switch is a whole argument
      {{"/p", "\"/a/b.zvp\""}, "\"/a/b.zvp\"", false, true, "/a/b.zvp"},  // pasted
  };
  for (const Case& c : cases) {
    CommandLine cmd = ParseCommandLine(c.args, "/prog");
    EXPECT_EQ(cmd.request, c.request);
    EXPECT_EQ(cmd.reverse, c.reverse) << c.request;
    EXPECT_EQ(cmd.profile, c.profile) << c.request;
    EXPECT_EQ(cmd.profileFile, c.profileFile) << c.request;
    EXPECT_EQ(cmd.misplacedSwitch, c.misplaced) << c.request;
  }
}

TEST(CommandLine, HelpIsAskedForByEachOfItsSpellingsAlone) {
  struct Case {
    std::vector<std::string> args;
    bool help;
  } cases[] = {
      {{"--help"}, true}, {{"-h"}, true},      {{"/?"}, true},       {{"/h"}, true},
      {{"/H"}, true},     {{"-H"}, false},     {{"/?", "x"}, false}, {{"/r", "/?"}, false},
      {{"/hh"}, false},   {{"/?.gpx"}, false}, {{"--HELP"}, false},  {{}, false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(AsksForHelp(c.args), c.help) << (c.args.empty() ? "" : c.args.back());
}

// Runs the real program; returns its exit status and what it wrote to stderr
// and stdout.
struct Result {
  int status;
  std::string err, out;
};

Result RunProgram(const std::vector<std::string>& args,
                  const std::vector<std::pair<std::string, std::string>>& env = {}) {
  test::TempDir tmp;
  test::ProcessRequest req;
  req.argv = {MARKLODE_BINARY};
  req.argv.insert(req.argv.end(), args.begin(), args.end());
  req.unsetEnv = {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"};
  req.env = {{"XDG_CONFIG_HOME", tmp.path()}};
  req.env.insert(req.env.end(), env.begin(), env.end());
  req.workDir = tmp.path();
  const test::ProcessResult r = test::RunProcess(req);
  return {r.status, r.err + r.failure, r.out};
}

TEST(Program, MissingInputStopsWithStatusOne) {
  Result r = RunProgram({"/x/trip.gpx"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Can't Find File: Can't Find Input file: /x/trip.gpx\n");
}

TEST(Program, ConvertsAndReportsProblemsInTheStatus) {
  test::TempDir dir;
  WriteFile(dir / "my trip.gpx",
            "<gpx><wpt lat='1' lon='2'><name>A</name></wpt>"
            "<wpt lat='x' lon='2'><name>B</name></wpt></gpx>");
  Result r = RunProgram({dir / "my", "trip"});  // a path with a space, taken whole
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "Marklode: Invalid lon/lat for: B.  Skipping...\n");
  EXPECT_EQ(ReadFile(dir / "my trip.CSV"), "2,1,\"A\"");

  WriteFile(dir / "ok.gpx", "<gpx><wpt lat='1' lon='2'><name>A</name></wpt></gpx>");
  r = RunProgram({dir / "ok.gpx"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");

  WriteFile(dir / "nameless.gpx", "<gpx><wpt lat='1' lon='2'/><wpt lat='1' lon='2'></wpt></gpx>");
  r = RunProgram({dir / "nameless.gpx"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "Marklode: 2 waypoints without a name were skipped.\n");
}

TEST(Program, TruncationSettingComesFromTheSettingsFile) {
#ifdef _WIN32
  GTEST_SKIP() << "the settings of the Windows program are in the registry, not in a file";
#endif
  test::TempDir dir;
  const std::string name(45, 'n');
  WriteFile(dir / "t.gpx", "<gpx><wpt lat='1' lon='2'><name>" + name + "</name></wpt></gpx>");
  std::filesystem::create_directories(dir / "cfg/Orvel");
  WriteFile(dir / "cfg/Orvel/Marklode.conf", "TruncatePOIname = FALSE \r\n");
  // The settings folder comes from XDG_CONFIG_HOME, set after the default one.
  RunProgram({dir / "t.gpx"}, {{"XDG_CONFIG_HOME", dir / "cfg"}});
  EXPECT_EQ(ReadFile(dir / "t.CSV"), "2,1,\"" + name + "\"");
}

TEST(Program, HelpVersionAndNoDisplay) {
  for (const char* help : {"--help", "/?", "/H"}) {
    const Result h = RunProgram({help});
    EXPECT_EQ(h.status, 0) << help;
    EXPECT_EQ(h.out.rfind("Usage:", 0), 0u) << help << ": " << h.err;
    EXPECT_NE(h.out.find("/?"), std::string::npos) << help;
  }
  Result r = RunProgram({"--version"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, std::string("Marklode version ") + MARKLODE_PROJECT_VERSION + "\n");
  r = RunProgram({});
  EXPECT_EQ(r.status, 2);
#ifndef _WIN32  // the console program on Windows has no window to miss
  EXPECT_NE(r.err.find("no display"), std::string::npos);
#endif
  EXPECT_NE(r.err.find("Usage:"), std::string::npos);
}

#ifndef _WIN32
// Where no thread can be started (a limit on processes: RLIMIT_NPROC of 1),
// the program converts on one thread: the same bytes, status 0, nothing left
// beside them. The limit binds root only as another user, so root runs the
// program as nobody.
TEST(Program, ConvertsOnOneThreadWhenNoThreadCanStart) {
  test::TempDir dir;
  test::OpenToOthers(dir.path());
  std::string csv;
  for (int i = 0; i < 20000; ++i)
    csv += std::to_string(i % 180) + ".5,1.25,Point " + std::to_string(i % 300) + ",C\r\n";
  WriteFile(dir / "pts.csv", csv);
  Result r = RunProgram({"/r", dir / "pts.csv"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string want = ReadFile(dir / "pts.GPX");
  std::filesystem::remove(test::FsPath(dir / "pts.GPX"));

  test::ProcessRequest req;
  if (::geteuid() == 0) req.argv = {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
  // A copy that the other user may start: the build tree may lie in a
  // folder only its owner can enter.
  const std::string program = dir / "marklode";
  std::filesystem::copy_file(test::FsPath(MARKLODE_BINARY), test::FsPath(program));
  std::filesystem::permissions(test::FsPath(program), std::filesystem::perms::owner_all |
                                                          std::filesystem::perms::group_read |
                                                          std::filesystem::perms::group_exec |
                                                          std::filesystem::perms::others_read |
                                                          std::filesystem::perms::others_exec);
  for (const char* arg : {"prlimit", "--nproc=1"}) req.argv.push_back(arg);
  req.argv.push_back(program);
  req.argv.push_back("/r");
  req.argv.push_back(dir / "pts.csv");
  req.unsetEnv = {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"};
  // The leak checker of a sanitizer build needs a thread of its own at exit.
  req.env = {{"XDG_CONFIG_HOME", dir / "cfg"}, {"ASAN_OPTIONS", "detect_leaks=0"}};
  req.workDir = dir.path();
  const test::ProcessResult limited = test::RunProcess(req);
  EXPECT_EQ(limited.status, 0) << limited.err << limited.failure;
  EXPECT_EQ(limited.err, "");
  EXPECT_TRUE(ReadFile(dir / "pts.GPX") == want) << "the output differs";
  EXPECT_EQ(test::Listing(dir.path()),
            (std::vector<std::string>{"marklode", "pts.GPX", "pts.csv"}));
}
#endif

}  // namespace
}  // namespace marklode

namespace marklode {
namespace {

// The threads of this process (Linux only: 0 elsewhere).
std::size_t ThreadCount() {
  std::size_t n = 0;
#ifndef _WIN32
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/self/task")) ++n;
#endif
  return n;
}

// A cancel in the middle of a POI-CSV file of megabytes, while the GPX is
// being written on its own thread: the thread is gone when the converter
// returns, the earlier output stands unchanged, and no temporary is left.
TEST(Cancel, PoiToGpxMidRunEndsTheWriterAndKeepsTheOldOutput) {
  class CancelAfterRecords : public ProgressSink {
   public:
    bool Update(std::uint64_t, std::uint64_t) override { return true; }
    bool Cancelled() override {
      if (++asked == 100000) threadsThen = ThreadCount();
      return asked >= 100000;
    }
    std::size_t asked = 0, threadsThen = 0;
  } cancel;
  test::TempDir dir;
  const std::string line = "-0.12,51.5,\"Point\",\"a comment\"\r\n";
  std::string csv;
  while (csv.size() < (8u << 20)) csv += line;
  WriteFile(dir / "big.csv", csv);
  WriteFile(dir / "big.GPX", "OLD");
  test::Harness h;
  h.services.progress = &cancel;
  h.request.input = dir / "big.csv";
  [[maybe_unused]] const std::size_t before = ThreadCount();
  EXPECT_EQ(h.ToGpx(), RunStatus::Cancelled);
#ifndef _WIN32
  EXPECT_EQ(cancel.threadsThen, before + 1) << "the writer runs while the input is read";
  EXPECT_EQ(ThreadCount(), before);
#endif
  EXPECT_EQ(ReadFile(dir / "big.GPX"), "OLD");
  EXPECT_EQ(test::Listing(dir.path()), (std::vector<std::string>{"big.GPX", "big.csv"}));
  EXPECT_EQ(h.result.outputsCommitted, 0);
  EXPECT_EQ(h.messages.boxes.size(), 0u);
}

TEST(Program, ReverseListsAndProfiles) {
  test::TempDir dir;
  WriteFile(dir / "pts.csv", "1,2,A\r\n3,4,B\r\n");
  WriteFile(dir / "more.csv", "5,6,C\r\n");
  Result r = RunProgram({"/r", dir / "pts"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(ReadFile(dir / "pts.GPX").find("<name>B</name>"), std::string::npos);

  r = RunProgram({dir / "pts.csv;more.csv"});  // a list converts POI-CSV to GPX
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(ReadFile(dir / "more.GPX").find("<name>C</name>"), std::string::npos);

  r = RunProgram({"/r", dir / "*.csv"});  // a pattern needs an output name
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Invalid file: Can't use wildcard for GPX output file: " + dir / "*.GPX" + "\n");

  WriteFile(dir / "all.zvp",
            "[Profile]\r\nInput=" + dir / "*.csv" + "\r\nOutput=" + dir / "all.gpx" + "\r\n");
  r = RunProgram({"/P", dir / "all.zvp"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(ReadFile(dir / "all.gpx").find("<name>C</name>"), std::string::npos);

  // A path pasted with Explorer's "Copy as path" keeps its quotes where they
  // reach the program (a POSIX shell's single quotes; a Windows console
  // takes a pair off itself): one pair is taken off the input and each item.
  std::filesystem::remove(test::FsPath(dir / "pts.GPX"));
  r = RunProgram({"/r", "\"" + dir / "pts.csv" + "\""});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(ReadFile(dir / "pts.GPX").find("<name>B</name>"), std::string::npos);
  std::filesystem::remove(test::FsPath(dir / "more.GPX"));
  r = RunProgram({"\"" + dir / "pts.csv\";\"more.csv\""});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(ReadFile(dir / "more.GPX").find("<name>C</name>"), std::string::npos);

  r = RunProgram({"/p", "nowhere.zvp"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.substr(0, 30), "Marklode: Can't open ZVP file!");
}

}  // namespace
}  // namespace marklode
