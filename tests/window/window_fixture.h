// Shared pieces of the window tests: a window over an in-memory settings store,
// recorded message boxes, file dialogs answered from a queue, and a scratch
// folder that also becomes the current directory for the test's duration.
#pragma once

#include <QTemporaryDir>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "engine/run_context.h"
#include "services/messages.h"
#include "services/platform.h"
#include "services/settings.h"
#include "tests/test_util.h"
#include "window/frm_get_command.h"
#include "window/window_services.h"

namespace marklode::testing {

class FakeFileChooser : public FileChooser {
 public:
  std::vector<FileDialogRequest> requests;
  std::deque<FileDialogResult> answers;  // a cancel when it runs dry

  FileDialogResult Choose(const FileDialogRequest& request) override {
    requests.push_back(request);
    if (answers.empty()) return {};
    FileDialogResult r = answers.front();
    answers.pop_front();
    return r;
  }
  void Answer(std::vector<std::string> files) { answers.push_back({false, std::move(files)}); }
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
  RunContext ctx{messages, settings};
  FakeFileChooser chooser;
  std::unique_ptr<frmGetCommand> window;

  frmGetCommand& Load() {
    window.reset();
    window = std::make_unique<frmGetCommand>(ctx, WindowServices{chooser});
    return *window;
  }
  std::string Stored(const std::string& name) { return settings.GetRegistryValue(name); }
  std::string LastMessage() const {
    return messages.boxes.empty() ? "" : messages.boxes.back().text;
  }
};

}  // namespace marklode::testing
