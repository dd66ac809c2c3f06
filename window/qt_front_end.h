// The Qt pieces behind the window's interfaces: modal message boxes, the file
// dialog, the document opener, the progress dialog of long conversions, and the
// host that shows the window and waits for it.
#pragma once

#include <QMessageBox>
#include <QPointer>
#include <QProgressDialog>
#include <chrono>
#include <functional>
#include <string>

#include "engine/run_main.h"
#include "services/messages.h"
#include "window/window_services.h"

namespace marklode {

class frmGetCommand;

// How a message-box style code looks: its icon, its buttons and the button
// that Enter presses.
struct MessageBoxLook {
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QMessageBox::StandardButtons buttons = QMessageBox::Ok;
  QMessageBox::StandardButton defaultButton = QMessageBox::Ok;
};
MessageBoxLook LookOfStyle(int style);

// "\r\n" as the toolkit's line break.
QString MessageBoxText(std::string_view text);

class QtMessageSink : public MessageSink {
 public:
  // Called before each box, so that nothing of a finished run stays over it.
  std::function<void()> beforeShow;

 protected:
  int Present(std::string_view text, int style, std::string_view title) override;
};

class QtFileChooser : public FileChooser {
 public:
  FileDialogResult Choose(const FileDialogRequest& request) override;
};

class DesktopDocumentOpener : public DocumentOpener {
 public:
  void Open(const std::string& path) override;
};

// Shows "bytes read of total" with Cancel once a conversion has run longer
// than the delay; short runs show nothing. Events are serviced while the
// dialog is up, at most every 50 ms, so that Cancel can be pressed.
class QtProgressSink : public ProgressSink {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;
  explicit QtProgressSink(std::chrono::milliseconds delay = std::chrono::milliseconds(500),
                          Clock clock = &std::chrono::steady_clock::now);
  ~QtProgressSink() override;

  void BeginRun();  // a new request: the clock starts at its first report
  void Finish();    // the request is over: the dialog goes
  bool Update(std::uint64_t bytesDone, std::uint64_t bytesTotal) override;
  bool cancelled() const { return cancelled_; }
  QProgressDialog* dialog() const { return dialog_; }

 private:
  std::chrono::milliseconds delay_;
  Clock clock_;
  bool started_ = false;
  bool cancelled_ = false;
  std::chrono::steady_clock::time_point start_, lastPump_;
  QPointer<QProgressDialog> dialog_;
};

class QtWindowHost : public WindowHost {
 public:
  QtWindowHost(WindowServices services, QtProgressSink* progress)
      : services_(std::move(services)), progress_(progress) {}

  void ShowMainWindowAndWait(RunContext& ctx) override;

  // Run once each window is shown, before events are serviced (tests and the
  // picture of the window use it to act on the window).
  std::function<void(frmGetCommand&)> onShown;

 private:
  WindowServices services_;
  QtProgressSink* progress_;
};

// The installed documentation folder and the one beside the program, in the
// order Notes.rtf is looked for.
std::vector<std::string> NotesFolders(const std::string& programFolder);

}  // namespace marklode
