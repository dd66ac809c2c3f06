// A file chooser answered from a script, for tests of the window and its form:
// it records every request and hands back the queued answers in turn.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "window/window_services.h"

namespace marklode::test {

class ScriptedChooser : public FileChooser {
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

}  // namespace marklode::test
