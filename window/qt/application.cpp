#include "window/qt/application.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QApplication>
#include <QIcon>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>

#include "services/platform.h"
#include "services/version.h"
#include "window/qt/front_end.h"

// Resources compiled into a static library are registered by hand.
static void InitWindowResources() {
  Q_INIT_RESOURCE(marklode);
}

namespace marklode {

namespace {

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

bool ConnectsTo(const std::string& socketPath, bool abstract) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  const std::size_t offset = abstract ? 1 : 0;  // abstract names start with a NUL
  if (socketPath.size() + offset >= sizeof(addr.sun_path)) return false;
  std::memcpy(addr.sun_path + offset, socketPath.data(), socketPath.size());
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const socklen_t len = socklen_t(offsetof(sockaddr_un, sun_path) + offset + socketPath.size());
  const bool ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&addr), len) == 0;
  ::close(fd);
  return ok;
}

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
  return ConnectsTo(socketPath, false) || ConnectsTo(socketPath, true);
}

bool WaylandDisplayReachable(const std::string& display) {
  const std::string path =
      display.front() == '/' ? display : Env("XDG_RUNTIME_DIR") + "/" + display;
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode);
}

class FrontEnd : public QtFrontEnd {
 public:
  FrontEnd(int& argc, char** argv) : app_(argc, argv), host_(WindowServices{chooser_}, &progress_) {
    QApplication::setApplicationName("Marklode");
    QApplication::setOrganizationName("Orvel");
    QApplication::setApplicationVersion(kVersionText);
    QApplication::setDesktopFileName("marklode");
    // The loop in the host decides when the program ends, not the last window.
    QApplication::setQuitOnLastWindowClosed(false);
    InitWindowResources();
    QIcon icon;
    for (int size : {16, 32, 48, 64, 128, 256})
      icon.addFile(QString(":/marklode/marklode-%1.png").arg(size), QSize(size, size));
    QApplication::setWindowIcon(icon);
    messages_.beforeShow = [this] { progress_.Finish(); };
    messages_.owner = [this] { return host_.lastWindow(); };
    progress_.owner = [this] { return host_.lastWindow(); };
  }

  WindowHost& host() override { return host_; }
  MessageSink& messages() override { return messages_; }
  ProgressSink& progress() override { return progress_; }

 private:
  QApplication app_;
  QtMessageSink messages_;
  QtFileChooser chooser_;
  QtProgressSink progress_;
  QtWindowHost host_;
};

}  // namespace

// Qt ends the process when it cannot open the display it is told to use, so
// a display that is named but gone (a stale DISPLAY after a remote login)
// must be found out before Qt starts.
bool WindowSystemAvailable() {
  if (!Env("QT_QPA_PLATFORM").empty()) return true;
  const std::string wayland = Env("WAYLAND_DISPLAY");
  if (!wayland.empty() && WaylandDisplayReachable(wayland)) return true;
  const std::string x11 = Env("DISPLAY");
  return !x11.empty() && X11DisplayReachable(x11);
}

std::unique_ptr<QtFrontEnd> StartQtFrontEnd(int& argc, char** argv) {
  return std::make_unique<FrontEnd>(argc, argv);
}

}  // namespace marklode
