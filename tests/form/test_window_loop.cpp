// The window's cycle, driven by a stand-in window that gives one request per
// showing and then closes without one.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "services/messages.h"
#include "services/settings.h"
#include "tests/test_util.h"
#include "window/form/window_loop.h"

namespace marklode::test {
namespace {

class ScriptedWindow : public WindowHost {
 public:
  explicit ScriptedWindow(std::vector<std::string> inputs) : inputs_(std::move(inputs)) {}
  void ShowMainWindowAndWait(WindowState& state) override {
    if (std::size_t(shown++) >= inputs_.size()) return;  // closed without a request
    Request request;
    request.input = inputs_[std::size_t(shown - 1)];
    state.request = request;
  }
  int shown = 0;

 private:
  std::vector<std::string> inputs_;
};

// Cancels while the named input is read.
class CancelAt : public ProgressSink {
 public:
  explicit CancelAt(std::string input) : at_(std::move(input)) {}
  void Reading(std::string_view input, int, int) override { reading_ = input; }
  bool Update(std::uint64_t, std::uint64_t) override { return true; }
  bool Cancelled() override { return reading_ == at_; }

 private:
  std::string at_, reading_;
};

struct Loop {
  TempDir dir;
  MemorySettingsStore settings;
  RecordingMessageSink messages;
  WindowState state{messages, settings};
  Loop() {
    for (const char* name : {"a.gpx", "b.gpx", "c.gpx"})
      WriteFile(dir / name, "<gpx><wpt lat='1' lon='2'><name>A</name></wpt></gpx>");
    WriteFile(dir / "e.gpx", "<gpx></gpx>");
  }
};

TEST(WindowLoop, EachRequestIsSummedUpAndTheWindowComesBack) {
  Loop l;
  ScriptedWindow window({l.dir / "a.gpx;e.gpx", l.dir / "b.gpx"});
  EXPECT_EQ(RunWindow(window, l.state, nullptr), ExitStatus::Done);
  EXPECT_EQ(window.shown, 3);
  EXPECT_EQ(l.messages.Joined(),
            "Marklode: 2 Files processed. 1 entries converted.\n"
            "Marklode: 1 entries converted.\n");
}

// A stop ends its request, not the window; the session ends with the stop's
// status.
TEST(WindowLoop, AStopComesBackToTheWindow) {
  Loop l;
  ScriptedWindow window({l.dir / "gone.gpx", l.dir / "a.gpx"});
  EXPECT_EQ(RunWindow(window, l.state, nullptr), ExitStatus::Stopped);
  EXPECT_EQ(window.shown, 3);
  EXPECT_EQ(l.messages.Joined(), "Can't Find File: Can't Find Input file: " + l.dir / "gone.gpx" +
                                     "\nMarklode: 1 entries converted.\n");
}

// A Cancel names the outputs its own request put in place before it, not
// those of earlier requests of the session.
TEST(WindowLoop, ACancelTellsWhatItsRequestWrote) {
  Loop l;
  CancelAt cancel(l.dir / "c.gpx");
  ScriptedWindow window({l.dir / "a.gpx;b.gpx", l.dir / "a.gpx;b.gpx;c.gpx", l.dir / "b.gpx;c.gpx",
                         l.dir / "c.gpx;a.gpx"});
  EXPECT_EQ(RunWindow(window, l.state, &cancel), ExitStatus::Done);
  EXPECT_EQ(window.shown, 5);
  EXPECT_EQ(l.messages.Joined(),
            "Marklode: 2 Files processed. 2 entries converted.\n"
            "Marklode: The conversion was cancelled after 2 output files were written; the "
            "others were left as they were.\n"
            "Marklode: The conversion was cancelled after 1 output file was written; the others "
            "were left as they were.\n"
            "Marklode: The conversion was cancelled; no file was changed.\n");
}

// The result box says what it always said; the report waits behind its
// Details, for each file of the request.
TEST(WindowLoop, TheResultBoxCarriesTheReportAsDetails) {
  Loop l;
  WriteFile(l.dir / "d.gpx",
            "<gpx>\n<wpt lat='1' lon='2'><name>A</name></wpt>\n"
            "<wpt lat='x' lon='2'><name>B</name></wpt>\n<wpt lat='1' lon='2'/></gpx>");
  ScriptedWindow window({l.dir / "a.gpx;d.gpx"});
  RunWindow(window, l.state, nullptr);
  ASSERT_FALSE(l.messages.boxes.empty());
  const RecordingMessageSink::Box& result = l.messages.boxes.back();
  EXPECT_EQ(result.text, "2 Files processed.\r\n2 entries converted.");
  EXPECT_EQ(result.details, l.dir / "a.gpx" + ": 1 read, 1 written\n" + l.dir / "d.gpx" +
                                ": 3 read, 1 written\n" + l.dir / "d.gpx" +
                                ": 1 skipped, no valid coordinates (line 3)\n" + l.dir / "d.gpx" +
                                ": 1 skipped, no name (line 4)\n");
}

// Where a box has no Details button, the details follow the text in it, up
// to a number of lines.
TEST(WindowLoop, ExpandedResultTextKeepsTheFirstLines) {
  EXPECT_EQ(ExpandedResultText("1 entries converted.", ""), "1 entries converted.");
  EXPECT_EQ(ExpandedResultText("1 entries converted.", "a: 1 read, 1 written\n"),
            "1 entries converted.\r\n\r\na: 1 read, 1 written");
  EXPECT_EQ(ExpandedResultText("N.", "1\n2\n3\n4\n", 2), "N.\r\n\r\n1\r\n2\r\n(2 more lines)");
}

}  // namespace
}  // namespace marklode::test
