// The command line's progress line: after a conversion has run a second, a
// line "N of M MB read, R MB/s" on stderr, rewritten in place and cleared at
// the end; nothing at all when stderr is not a terminal. And the signals that
// end a run: what they leave and what the program says.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "cli/cli_progress.h"
#include "tests/extra/extra_util.h"

namespace marklode {
namespace {

using namespace std::chrono_literals;
constexpr const char* kClear = "\r\033[K";

// Points fd 2 at another file for the life of the object.
class StderrTo {
 public:
  explicit StderrTo(int fd) : saved_(::dup(2)) { ::dup2(fd, 2); }
  ~StderrTo() {
    ::dup2(saved_, 2);
    ::close(saved_);
  }

 private:
  int saved_;
};

// What can be read from fd now (non-blocking fd), or until its other end
// closes.
std::string Drain(int fd) {
  std::string out;
  char buf[4096];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n <= 0) return out;
    out.append(buf, static_cast<std::size_t>(n));
  }
}

// A clock that stands still until the test moves it.
struct ManualClock {
  std::chrono::steady_clock::time_point now{};
  TerminalProgress::Clock Fn() {
    return [this] { return now; };
  }
};

TEST(TerminalProgress, ShowsAfterASecondOnATerminalAndClearsAtTheEnd) {
  int master = -1, slave = -1;
  ASSERT_EQ(::openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
  ::fcntl(master, F_SETFL, O_NONBLOCK);
  {
    StderrTo redirect(slave);
    ManualClock clock;
    TerminalProgress progress(clock.Fn());
    const std::uint64_t total = 50u << 20;
    EXPECT_TRUE(progress.Update(0, total));
    clock.now += 900ms;
    EXPECT_TRUE(progress.Update(total / 10, total));  // under a second: nothing yet
    EXPECT_EQ(Drain(master), "");
    clock.now += 1100ms;
    EXPECT_TRUE(progress.Update(total / 2, total));
    const std::string shown = Drain(master);
    EXPECT_EQ(shown.rfind(kClear, 0), 0u) << shown;
    EXPECT_NE(shown.find("25 of 50 MB read, 12.5 MB/s"), std::string::npos) << shown;
    clock.now += 100ms;  // drawn at most five times a second
    EXPECT_TRUE(progress.Update(total / 2 + 1, total));
    EXPECT_EQ(Drain(master), "");
    clock.now += 1000ms;
    EXPECT_TRUE(progress.Update(total, total));
    const std::string last = Drain(master);
    EXPECT_NE(last.find("50 of 50 MB read"), std::string::npos) << last;
    EXPECT_EQ(last.substr(last.size() - 4), kClear) << "cleared at the end";
  }
  EXPECT_EQ(Drain(master), "") << "and not again";
  ::close(master);
  ::close(slave);
}

TEST(TerminalProgress, SilentWhenStderrIsNotATerminal) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  {
    StderrTo redirect(fds[1]);
    ManualClock clock;
    TerminalProgress progress(clock.Fn());
    progress.Update(0, 100);
    clock.now += 1500ms;
    progress.Update(50, 100);
    progress.Update(100, 100);
  }
  ::close(fds[1]);
  EXPECT_EQ(Drain(fds[0]), "");
  ::close(fds[0]);
}

// A whole command-line run on a file of some megabytes, read in blocks of a
// megabyte, with a clock that moves on by 300 ms each time it is read: the
// line comes after a few blocks and is gone at the end; with stderr on a
// file, nothing is written there.
class CommandLineProgress : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new test::TempDir;
    std::ofstream out(*dir_ / "big.gpx", std::ios::binary);
    out << "<gpx>\r\n";
    const std::string wpt =
        "  <wpt lat=\"51.5\" lon=\"-0.12\">\r\n    <name>Point</name>\r\n  </wpt>\r\n";
    for (std::size_t size = 0; size < (8u << 20); size += wpt.size()) out << wpt;
    out << "</gpx>\r\n";
  }
  static void TearDownTestSuite() { delete dir_; }

  // Converts big.gpx with stderr on fd; returns the exit status.
  static ExitStatus Run(int fd) {
    StderrTo redirect(fd);
    std::chrono::steady_clock::time_point now{};
    TerminalProgress progress([&now] { return now += 300ms; });
    MemorySettingsStore settings;
    CommandLine cmd;
    cmd.request = *dir_ / "big.gpx";
    return RunFromCommandLine(cmd, settings, progress);
  }

  static test::TempDir* dir_;
};
test::TempDir* CommandLineProgress::dir_ = nullptr;

TEST_F(CommandLineProgress, ShownOnATerminalAndClearedAtTheEnd) {
  int master = -1, slave = -1;
  ASSERT_EQ(::openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(Run(slave), ExitStatus::Done);
  ::close(slave);
  ::fcntl(master, F_SETFL, O_NONBLOCK);
  const std::string err = Drain(master);
  ::close(master);
  const std::size_t last = err.rfind("MB read");
  ASSERT_NE(last, std::string::npos) << err;
  EXPECT_NE(err.find(" of 8 MB read, "), std::string::npos) << err;
  EXPECT_EQ(err.substr(err.size() - 4), kClear) << "something was left after the progress line";
  EXPECT_NE(test::ReadFile(*dir_ / "big.CSV").find("\"Point\""), std::string::npos);
}

TEST_F(CommandLineProgress, NothingWhenStderrIsNotATerminal) {
  const std::string errFile = *dir_ / "err";
  const int fd = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(Run(fd), ExitStatus::Done);
  ::close(fd);
  EXPECT_EQ(test::ReadFile(errFile), "");
}

// Ends of a run by signal. The program is stopped once it has read a few
// megabytes, the signal is sent while it stands still, and it goes on: the
// signal is seen in the middle of the conversion on every machine.
class Signals : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new test::TempDir;
    std::filesystem::create_directory(*dir_ / "in");
    std::ofstream out(*dir_ / "in/big.csv", std::ios::binary);
    const std::string line = "-0.12,51.5,\"Point\",\"a comment\"\r\n";
    for (std::size_t size = 0; size < (16u << 20); size += line.size()) out << line;
    std::filesystem::create_directory(*dir_ / "gpx");
    std::ofstream gpx(*dir_ / "gpx/big.gpx", std::ios::binary);
    gpx << "<gpx>\r\n";
    const std::string wpt =
        "  <wpt lat=\"51.5\" lon=\"-0.12\">\r\n    <name>Point</name>\r\n  </wpt>\r\n";
    for (std::size_t size = 0; size < (16u << 20); size += wpt.size()) gpx << wpt;
    gpx << "</gpx>\r\n";
    test::WriteFile(*dir_ / "in/a.csv", "1,2,\"A\"\r\n");
    test::WriteFile(*dir_ / "in/b.csv", "3,4,\"B\"\r\n");
  }
  static void TearDownTestSuite() { delete dir_; }
  void SetUp() override {
    for (const char* name : {"a.GPX", "b.GPX", "big.GPX"})
      std::filesystem::remove(*dir_ / ("in/" + std::string(name)));
  }

  // Runs the program with stderr to a file; once it has read more than 4 MB,
  // stops it, sends sig and lets it go on. Returns the exit status, or -1
  // when it ended before it could be stopped.
  static int RunSignalled(const std::vector<std::string>& args, int sig, std::string& err) {
    const std::string errFile = *dir_ / "err";
    const pid_t pid = ::fork();
    if (pid == 0) {
      const int fd = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      ::dup2(fd, 2);
      ::unsetenv("DISPLAY");
      ::unsetenv("WAYLAND_DISPLAY");
      ::setenv("XDG_CONFIG_HOME", dir_->path().c_str(), 1);
      std::vector<char*> argv{const_cast<char*>("marklode")};
      for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      ::execv(MARKLODE_BINARY, argv.data());
      ::_exit(127);
    }
    bool stopped = false;
    const std::string io = "/proc/" + std::to_string(pid) + "/io";
    for (int i = 0; i < 20000 && !stopped; ++i) {
      std::ifstream in(io);
      std::string key;
      unsigned long long value = 0;
      while (in >> key >> value)
        if (key == "rchar:" && value > (4u << 20)) stopped = ::kill(pid, SIGSTOP) == 0;
      siginfo_t info = {};
      if (!in.is_open() || ::waitid(P_PID, pid, &info, WEXITED | WNOHANG | WNOWAIT) != 0 ||
          info.si_pid != 0)
        break;
      if (!stopped) std::this_thread::sleep_for(100us);
    }
    if (stopped) {
      ::kill(pid, sig);
      ::kill(pid, SIGCONT);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    err = test::ReadFile(errFile);
    if (!stopped) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

  static test::TempDir* dir_;
};
test::TempDir* Signals::dir_ = nullptr;

TEST_F(Signals, EndTheRunWithTheirStatusAndChangeNothing) {
  const struct { int sig, status; } cases[] = {{SIGINT, 130}, {SIGTERM, 143}, {SIGHUP, 130}};
  for (const auto& c : cases) {
    std::string err;
    const int status = RunSignalled({"/r", *dir_ / "in/big.csv"}, c.sig, err);
    if (status == -1) GTEST_SKIP() << "the conversion ended before it could be stopped";
    EXPECT_EQ(status, c.status) << c.sig << ": " << err;
    EXPECT_EQ(err, "Marklode: Interrupted; no output file was changed.\n");
    EXPECT_EQ(test::Listing(*dir_ / "in"), (std::vector<std::string>{"a.csv", "b.csv", "big.csv"}));
  }
}

// Ctrl-C in either direction leaves an output of an earlier run as it was.
TEST_F(Signals, AnInterruptKeepsTheEarlierOutputInEitherDirection) {
  const struct {
    std::vector<std::string> args;
    std::string output;
  } cases[] = {{{"/r", *dir_ / "in/big.csv"}, *dir_ / "in/big.GPX"},
               {{*dir_ / "gpx/big.gpx"}, *dir_ / "gpx/big.CSV"}};
  for (const auto& c : cases) {
    test::WriteFile(c.output, "OLD");
    std::string err;
    const int status = RunSignalled(c.args, SIGINT, err);
    if (status == -1) GTEST_SKIP() << "the conversion ended before it could be stopped";
    EXPECT_EQ(status, 130) << err;
    EXPECT_EQ(err, "Marklode: Interrupted; no output file was changed.\n");
    EXPECT_EQ(test::ReadFile(c.output), "OLD");
    std::filesystem::remove(c.output);
  }
  EXPECT_EQ(test::Listing(*dir_ / "gpx"), std::vector<std::string>{"big.gpx"});
  EXPECT_EQ(test::Listing(*dir_ / "in"), (std::vector<std::string>{"a.csv", "b.csv", "big.csv"}));
}

// A list stopped at its third item keeps the outputs of the first two, and
// says so.
TEST_F(Signals, AnInterruptedListSaysWhatWasWritten) {
  std::string err;
  const int status = RunSignalled({*dir_ / "in/a.csv;b.csv;big.csv"}, SIGINT, err);
  if (status == -1) GTEST_SKIP() << "the conversion ended before it could be stopped";
  EXPECT_EQ(status, 130);
  EXPECT_EQ(err,
            "Marklode: Interrupted after 2 output files were written; no other output file was "
            "changed.\n");
  EXPECT_EQ(test::Listing(*dir_ / "in"),
            (std::vector<std::string>{"a.GPX", "a.csv", "b.GPX", "b.csv", "big.csv"}));
}

// A run killed outright leaves its temporary; the next run for the same
// output removes it.
TEST_F(Signals, AKilledRunsTemporaryGoesWithTheNextRun) {
  std::string err;
  const int status = RunSignalled({"/r", *dir_ / "in/big.csv"}, SIGKILL, err);
  if (status == -1) GTEST_SKIP() << "the conversion ended before it could be stopped";
  EXPECT_EQ(status, 128 + SIGKILL);
  EXPECT_EQ(test::Listing(*dir_ / "in").size(), 4u) << "no temporary was left to clean up";
  const auto ran = test::RunMarklode({"/r", *dir_ / "in/a.csv;b.csv;big.csv"});
  EXPECT_EQ(ran.status, 0) << ran.err;
  EXPECT_EQ(test::Listing(*dir_ / "in"),
            (std::vector<std::string>{"a.GPX", "a.csv", "b.GPX", "b.csv", "big.GPX", "big.csv"}));
}

}  // namespace
}  // namespace marklode
