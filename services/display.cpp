#include "services/display.h"

#include <cstddef>
#include <string>

#include "services/os.h"

namespace marklode {

namespace {

// A local X display (":N" or "unix:N") answers on its socket; a display on
// another host is taken on trust.
bool X11DisplayReachable(const std::string& display) {
  const std::size_t colon = display.rfind(':');
  if (colon == std::string::npos) return false;
  const std::string host = display.substr(0, colon);
  if (!host.empty() && host != "unix") return true;
  std::string number = display.substr(colon + 1);
  number = number.substr(0, number.find('.'));
  if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos) return false;
  const std::string socketPath = "/tmp/.X11-unix/X" + number;
  return os::LocalSocketAnswers(socketPath, false) || os::LocalSocketAnswers(socketPath, true);
}

bool WaylandDisplayReachable(const std::string& display) {
  const std::string path =
      display.front() == '/' ? display : os::Environment("XDG_RUNTIME_DIR") + "/" + display;
  return os::Stat(path).kind == os::Kind::Socket;
}

}  // namespace

// Qt ends the process when it cannot open the display it is told to use, so
// a display that is named but gone (a stale DISPLAY after a remote login)
// must be found out before Qt starts.
bool WindowSystemAvailable() {
  if (!os::Environment("QT_QPA_PLATFORM").empty()) return true;
  const std::string wayland = os::Environment("WAYLAND_DISPLAY");
  if (!wayland.empty() && WaylandDisplayReachable(wayland)) return true;
  const std::string x11 = os::Environment("DISPLAY");
  return !x11.empty() && X11DisplayReachable(x11);
}

}  // namespace marklode
