// Draws the main window, filled with a sample conversion, into a PNG file:
//   marklode_render_window OUT.png
// Run with QT_QPA_PLATFORM=offscreen; nothing is shown and no setting of the
// user's is read or written.
#include <QApplication>
#include <QPixmap>
#include <cstdio>

#include "services/settings.h"
#include "window/qt/main_window.h"

namespace {
class NoChooser : public marklode::FileChooser {
 public:
  marklode::FileDialogResult Choose(const marklode::FileDialogRequest&) override { return {}; }
};
}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc != 2) {
    std::fputs("usage: marklode_render_window OUT.png\n", stderr);
    return 2;
  }
  marklode::MemorySettingsStore settings;
  settings.values = {{"ModeGPX", "True"},
                     {"InFileGPX", "/home/user/gps/Coast trip.gpx"},
                     {"OutFileGPX", "/home/user/gps/Coast trip.CSV"},
                     {"ProfileFile", "/home/user/gps/Convert Coast trip-GPX to CSV.ZVP"}};
  marklode::RecordingMessageSink messages;
  marklode::WindowState ctx(messages, settings);
  NoChooser chooser;
  marklode::QtMainWindow window(ctx, marklode::WindowServices{chooser});
  window.resize(window.DesignWidth() + 60, window.DesignHeight());
  window.show();
  QApplication::processEvents();
  if (!window.grab().save(QString::fromLocal8Bit(argv[1]), "PNG")) {
    std::fprintf(stderr, "cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
