#include "window/qt/application.h"

#include <QApplication>
#include <QIcon>

#include "services/platform.h"
#include "services/version.h"
#include "window/qt/front_end.h"

// Resources compiled into a static library are registered by hand.
static void InitWindowResources() {
  Q_INIT_RESOURCE(marklode);
}

namespace marklode {

namespace {

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

std::unique_ptr<QtFrontEnd> StartQtFrontEnd(int& argc, char** argv) {
  return std::make_unique<FrontEnd>(argc, argv);
}

}  // namespace marklode
