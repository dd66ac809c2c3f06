// The bridge between the entry routine and the Qt window.
#pragma once

#include <memory>

#include "engine/progress.h"
#include "services/messages.h"
#include "window/form/window_loop.h"

namespace marklode {

// Starts the Qt application and returns the window host with the message sink
// that shows real modal boxes. Call only when WindowSystemAvailable()
// (services/display.h).
struct QtFrontEnd {
  virtual ~QtFrontEnd() = default;
  virtual WindowHost& host() = 0;
  virtual MessageSink& messages() = 0;
  virtual ProgressSink& progress() = 0;
};
std::unique_ptr<QtFrontEnd> StartQtFrontEnd(int& argc, char** argv);

}  // namespace marklode
