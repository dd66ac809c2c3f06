// The Windows window's cycle with its own progress window on a screen (run
// by scripts/win32_window_smoke.sh under Wine on a virtual one): a Cancel
// pressed in the progress window during a list's second item ends the run,
// and the box that follows names what the list had written before it; the
// result box shows the run report below its text.
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "services/messages.h"
#include "services/settings.h"
#include "tests/test_util.h"
#include "window/form/window_loop.h"
#include "window/win32/front_end.h"

namespace marklode::test {
namespace {

class ScriptedWindow : public WindowHost {
 public:
  ScriptedWindow(std::vector<std::string> inputs, Win32ProgressSink& progress)
      : inputs_(std::move(inputs)), progress_(progress) {}
  void ShowMainWindowAndWait(WindowState& state) override {
    progress_.Finish();
    if (std::size_t(shown++) < inputs_.size()) {
      Request request;
      request.input = inputs_[std::size_t(shown - 1)];
      state.request = request;
    }
    progress_.BeginRun();
  }
  int shown = 0;

 private:
  std::vector<std::string> inputs_;
  Win32ProgressSink& progress_;
};

// Clicks the progress window's Cancel, as the button tells its window,
// once the named input is being read; the window itself decides the rest.
class ClickCancelWhile : public ProgressSink {
 public:
  ClickCancelWhile(Win32ProgressSink& view, std::string input)
      : view_(view), input_(std::move(input)) {}
  void Reading(std::string_view input, int item, int items) override {
    reading_ = input == input_;
    view_.Reading(input, item, items);
  }
  bool Update(std::uint64_t done, std::uint64_t total) override {
    if (reading_) {
      if (HWND window = ::FindWindowW(L"MarklodeProgress", nullptr)) {
        ::PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
        ++clicks;
      }
    }
    return view_.Update(done, total);
  }
  int clicks = 0;

 private:
  Win32ProgressSink& view_;
  std::string input_;
  bool reading_ = false;
};

std::string Gpx(int points) {
  std::string gpx = "<gpx>";
  for (int i = 0; i < points; ++i)
    gpx += "<wpt lat=\"1\" lon=\"2\"><name>P" + std::to_string(i) + "</name></wpt>\n";
  return gpx + "</gpx>";
}

TEST(Win32WindowCycle, CancelInTheProgressWindowTellsWhatTheListWrote) {
  TempDir dir;
  WriteFile(dir / "a.gpx", Gpx(2));
  WriteFile(dir / "big.gpx", Gpx(200000));
  WriteFile(dir / "big.CSV", "old content");
  // Every report counts as late enough for the window to show and to turn.
  std::chrono::steady_clock::time_point now{};
  Win32ProgressSink view(std::chrono::milliseconds(0),
                         [&now] { return now += std::chrono::milliseconds(100); });
  ClickCancelWhile progress(view, dir / "big.gpx");
  ScriptedWindow window({dir / "a.gpx;big.gpx"}, view);
  MemorySettingsStore settings;
  RecordingMessageSink messages;
  WindowState state(messages, settings);
  EXPECT_EQ(RunWindow(window, state, &progress), ExitStatus::Done);
  EXPECT_EQ(window.shown, 2);
  EXPECT_GT(progress.clicks, 0);
  EXPECT_EQ(messages.Joined(),
            "Marklode: The conversion was cancelled after 1 output file was written; the others "
            "were left as they were.\n");
  EXPECT_EQ(ReadFile(dir / "a.CSV"), "2,1,\"P0\"\r\n2,1,\"P1\"");
  EXPECT_EQ(ReadFile(dir / "big.CSV"), "old content");
}

// The result box of the window has no Details button: the report shows in
// the box, below the words it always had.
TEST(Win32WindowCycle, TheResultBoxShowsTheReportBelowItsText) {
  Win32MessageSink sink;
  std::wstring shown;
  std::thread reader([&shown] {
    for (int i = 0; i < 500; ++i) {
      if (HWND box = ::FindWindowW(L"#32770", L"Marklode")) {
        wchar_t text[1024] = {};
        ::GetDlgItemTextW(box, 0xFFFF, text, 1024);  // the box's message
        shown = text;
        ::PostMessageW(box, WM_COMMAND, IDOK, 0);
        return;
      }
      ::Sleep(20);
    }
  });
  const int answer = sink.ShowWithDetails("2 entries converted.",
                                          "t.gpx: 4 read, 2 written\nt.gpx: 1 skipped, no name\n",
                                          MessageKind::Plain);
  reader.join();
  EXPECT_EQ(answer, kButtonOk);
  EXPECT_EQ(shown,
            L"2 entries converted.\r\n\r\nt.gpx: 4 read, 2 written\r\nt.gpx: 1 skipped, no name");
}

}  // namespace
}  // namespace marklode::test
