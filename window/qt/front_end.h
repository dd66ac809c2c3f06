// The Qt pieces behind the window's interfaces: modal message boxes, the file
// dialog, the document opener, the progress dialog of long conversions, and the
// host that shows the window and waits for it.
#pragma once

#include <QMessageBox>
#include <QPointer>
#include <QProgressDialog>
#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "engine/progress.h"
#include "services/messages.h"
#include "window/form/progress_policy.h"
#include "window/form/window_loop.h"
#include "window/qt/main_window.h"
#include "window/window_services.h"

namespace marklode {

// How a box of a kind looks: its icon, its buttons and the button that Enter
// presses.
struct MessageBoxLook {
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QMessageBox::StandardButtons buttons = QMessageBox::Ok;
  QMessageBox::StandardButton defaultButton = QMessageBox::Ok;
};
MessageBoxLook LookOfKind(MessageKind kind);

// "\r\n" as the toolkit's line break.
QString MessageBoxText(std::string_view text);

class QtMessageSink : public MessageSink {
 public:
  // Called before each box, so that nothing of a finished run stays over it.
  std::function<void()> beforeShow;
  // The window a box belongs to when none is active: between requests the
  // result box opens over the window the user just left, not mid-screen.
  std::function<QWidget*()> owner;

 protected:
  int Present(std::string_view text, MessageKind kind, std::string_view title) override;
  // The toolkit's own Show Details... button opens the details below the text.
  int PresentWithDetails(std::string_view text, std::string_view details, MessageKind kind,
                         std::string_view title) override;
};

class QtFileChooser : public FileChooser {
 public:
  FileDialogResult Choose(const FileDialogRequest& request) override;
};

// Shows "bytes read of total" with Cancel when and as the progress policy
// says (window/form/progress_policy.h).
class QtProgressSink : public ProgressSink {
 public:
  using Clock = ProgressPolicy::Clock;
  explicit QtProgressSink(std::chrono::milliseconds delay = ProgressPolicy::kDelay,
                          Clock clock = &std::chrono::steady_clock::now);
  ~QtProgressSink() override;

  // A new request: the clock starts at its first report, and a Cancel of an
  // earlier run no longer counts. The dialog names the file being read and,
  // for a list, which of how many it is, as the run tells it.
  void BeginRun();
  void Reading(std::string_view input, int item, int items) override;
  void Finish();  // the request is over: the dialog goes
  bool Update(std::uint64_t bytesDone, std::uint64_t bytesTotal) override;
  bool cancelled() const { return policy_.cancelled(); }
  QProgressDialog* dialog() const { return dialog_; }

  // The window the dialog opens over (none: where the platform puts it).
  std::function<QWidget*()> owner;

 private:
  ProgressPolicy policy_;
  QPointer<QProgressDialog> dialog_;
};

class QtWindowHost : public WindowHost {
 public:
  QtWindowHost(WindowServices services, QtProgressSink* progress);
  ~QtWindowHost() override;

  void ShowMainWindowAndWait(WindowState& state) override;
  // The window last shown, kept hidden until the next one comes up, so that
  // the result of its request can be shown over it.
  QWidget* lastWindow() const;

  // Run once each window is shown, before events are serviced (tests and the
  // picture of the window use it to act on the window).
  std::function<void(QtMainWindow&)> onShown;

  // Outlives the windows, so that it stays open between requests.
  GuideViewer& guide() { return guide_; }

 private:
  WindowServices services_;
  QtProgressSink* progress_;
  GuideViewer guide_;  // declared before the window, which may point at it
  std::unique_ptr<QtMainWindow> window_;
};

}  // namespace marklode
