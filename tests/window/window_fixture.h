// Shared pieces of the window tests: a window over an in-memory settings store,
// recorded message boxes, file dialogs answered from a queue, and a scratch
// folder that also becomes the current directory for the test's duration.
#pragma once

#include <QApplication>
#include <QFont>
#include <QTemporaryDir>
#include <memory>
#include <string>
#include <vector>

#include "services/messages.h"
#include "services/platform.h"
#include "services/settings.h"
#include "tests/scripted_chooser.h"
#include "tests/test_util.h"
#include "window/form/window_loop.h"
#include "window/qt/main_window.h"
#include "window/window_services.h"

namespace marklode::testing {

// The application's font at another size until Restore() or the end of the
// scope, for what a window does with large or small text.
class AppFontSize {
 public:
  explicit AppFontSize(int points) : before_(QApplication::font()) {
    QFont font = before_;
    font.setPointSize(points);
    QApplication::setFont(font);
  }
  ~AppFontSize() { Restore(); }
  void Restore() {
    if (restored_) return;
    restored_ = true;
    QApplication::setFont(before_);
  }

 private:
  QFont before_;
  bool restored_ = false;
};

using test::Exists;
using test::ReadFile;
using test::WriteFile;

// A scratch folder, entered for the fixture's life (the choosers move the
// current directory; every test starts and ends in a known one).
class ScratchDir {
 public:
  ScratchDir() : previous_(CurrentDirectory()) { ChangeDirectory(path()); }
  ~ScratchDir() { ChangeDirectory(previous_); }
  std::string path() const { return dir_.path().toStdString(); }
  std::string operator/(const std::string& name) const { return path() + "/" + name; }

 private:
  QTemporaryDir dir_;
  std::string previous_;
};

struct WindowFixture {
  ScratchDir dir;
  MemorySettingsStore settings;
  RecordingMessageSink messages;
  WindowState ctx{messages, settings};
  test::ScriptedChooser chooser;
  std::unique_ptr<QtMainWindow> window;

  QtMainWindow& Load() {
    window.reset();
    window = std::make_unique<QtMainWindow>(ctx, WindowServices{chooser});
    return *window;
  }
  std::string Stored(const std::string& name) { return settings.GetRegistryValue(name); }
  std::string LastMessage() const {
    return messages.boxes.empty() ? "" : messages.boxes.back().text;
  }
};

}  // namespace marklode::testing
