#include "window/window_host.h"

#include <QApplication>
#include <QIcon>
#include <cstdlib>

#include "services/platform.h"
#include "window/qt_front_end.h"

// Resources compiled into a static library are registered by hand.
static void InitWindowResources() {
  Q_INIT_RESOURCE(marklode);
}

namespace marklode {

namespace {

bool Set(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0';
}

class FrontEnd : public QtFrontEnd {
 public:
  FrontEnd(int& argc, char** argv)
      : app_(argc, argv),
        host_(WindowServices{chooser_, opener_, NotesFolders(ProgramFolder())}, &progress_) {
    QApplication::setApplicationName("Marklode");
    QApplication::setOrganizationName("Orvel");
    QApplication::setApplicationVersion(kVersionText);
    QApplication::setDesktopFileName("marklode");
    // The loop in the host decides when the program ends, not the last window.
    QApplication::setQuitOnLastWindowClosed(false);
    InitWindowResources();
    QIcon icon;
    icon.addFile(":/marklode/marklode-16.png", QSize(16, 16));
    icon.addFile(":/marklode/marklode-32.png", QSize(32, 32));
    QApplication::setWindowIcon(icon);
    messages_.beforeShow = [this] { progress_.Finish(); };
  }

  WindowHost& host() override { return host_; }
  MessageSink& messages() override { return messages_; }

 private:
  QApplication app_;
  QtMessageSink messages_;
  QtFileChooser chooser_;
  DesktopDocumentOpener opener_;
  QtProgressSink progress_;
  QtWindowHost host_;
};

}  // namespace

bool WindowSystemAvailable() {
  return Set("DISPLAY") || Set("WAYLAND_DISPLAY") || Set("QT_QPA_PLATFORM");
}

std::unique_ptr<QtFrontEnd> StartQtFrontEnd(int& argc, char** argv) {
  return std::make_unique<FrontEnd>(argc, argv);
}

}  // namespace marklode
