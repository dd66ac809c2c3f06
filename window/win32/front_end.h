// The Windows pieces behind the window's interfaces: message boxes over the
// window, the system's file dialogs, the progress window of long conversions
// and the host that shows the window and waits for it.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "engine/progress.h"
#include "services/messages.h"
#include "window/form/progress_policy.h"
#include "window/form/window_loop.h"
#include "window/window_services.h"

namespace marklode {

class Win32MainWindow;

struct Win32FrontEnd {
  virtual ~Win32FrontEnd() = default;
  virtual WindowHost& host() = 0;
  virtual MessageSink& messages() = 0;
  virtual ProgressSink& progress() = 0;
};

// Initialises the common controls and returns the window host with the
// message sink that shows real modal boxes.
std::unique_ptr<Win32FrontEnd> StartWin32FrontEnd();

// Modal boxes with the icon and buttons of each kind, owned by the window
// when it is up and centred over it (or over the window just closed).
class Win32MessageSink : public MessageSink {
 public:
  // Called before each box, so that nothing of a finished run stays over it.
  std::function<void()> beforeShow;
  // The window the boxes belong to (visible or hidden), or null.
  std::function<void*()> owner;

 protected:
  int Present(std::string_view text, MessageKind kind, std::string_view title) override;
  // The box has no Details button: the details show in it, below the text.
  int PresentWithDetails(std::string_view text, std::string_view details, MessageKind kind,
                         std::string_view title) override;
};

class Win32FileChooser : public FileChooser {
 public:
  FileDialogResult Choose(const FileDialogRequest& request) override;
};

// Shows "bytes read of total" with Cancel when and as the progress policy
// says (window/form/progress_policy.h).
class Win32ProgressSink : public ProgressSink {
 public:
  explicit Win32ProgressSink(std::chrono::milliseconds delay = ProgressPolicy::kDelay,
                             ProgressPolicy::Clock clock = &std::chrono::steady_clock::now);
  ~Win32ProgressSink() override;
  Win32ProgressSink(const Win32ProgressSink&) = delete;
  Win32ProgressSink& operator=(const Win32ProgressSink&) = delete;

  // A new request: the clock starts at its first report, and a Cancel of an
  // earlier run no longer counts.
  void BeginRun();
  void Reading(std::string_view input, int item, int items) override;
  void Finish();  // the request is over: the window goes
  bool Update(std::uint64_t bytesDone, std::uint64_t bytesTotal) override;
  // The window to centre over, or null.
  std::function<void*()> over;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

class Win32WindowHost : public WindowHost {
 public:
  Win32WindowHost(FileChooser& chooser, Win32ProgressSink* progress);
  ~Win32WindowHost() override;

  void ShowMainWindowAndWait(WindowState& state) override;
  // The native handle of the window last shown (kept hidden until the next
  // one comes up, so that the result of its request shows over it), or null.
  void* lastWindow() const;

 private:
  FileChooser& chooser_;
  Win32ProgressSink* progress_;
  std::unique_ptr<Win32MainWindow> window_;
};

}  // namespace marklode
