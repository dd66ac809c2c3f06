// Whether there is a display to open the window on, told without the window's
// toolkit, so that the command line can answer before starting the window
// program (POSIX only).
#pragma once

namespace marklode {

// True when a window can be shown: QT_QPA_PLATFORM names a platform, or the
// Wayland or X display named in the environment answers.
bool WindowSystemAvailable();

}  // namespace marklode
