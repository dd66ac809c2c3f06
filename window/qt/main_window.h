// The program's one window: the user sets up a conversion request here and
// leaves it in the window's state, chooses files, writes new profiles and
// reads the help texts. The window never converts anything itself; it closes
// and the window's cycle runs the request it left behind. Its rules
// live in GetCommandForm; this is the Qt view of it.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "window/form/get_command_form.h"
#include "window/form/window_geometry.h"
#include "window/form/window_loop.h"
#include "window/window_services.h"

class QAction;
class QCheckBox;
class QDialog;
class QLabel;
class QLineEdit;
class QMenu;
class QMimeData;
class QPushButton;
class QRadioButton;

namespace marklode {

// "Description (*.X)|*.X|All Files (*.*)|*.*" as Qt name filters. Patterns
// match either letter case, and "*.*" also matches names without a dot.
std::vector<std::string> QtNameFilters(std::string_view filterList);

// The user guide built into the program, as Markdown, in its Linux edition.
QString UserGuideText();

// A top-level window made to fit the work area of the screen `over` is on
// (else the primary screen's), with room for a frame like `over`'s: no larger
// than the area, centred over `over` where given, and whole on the area.
void FitOnScreen(QWidget& window, const QWidget* over);

// A file dropped on the output field, as its local path; empty for anything
// else (several files, or an address that is no local file).
QString DroppedOutputName(const QMimeData* mime);

// The user guide's viewer, a window of its own: it belongs to whoever shows
// the main windows, so it stays open while a request runs and a fresh main
// window comes up.
class GuideViewer {
 public:
  GuideViewer();
  ~GuideViewer();
  void Show(const QWidget* over);  // the first time centred over `over`
  QDialog* dialog() const;         // none until first shown

 private:
  QPointer<QDialog> dialog_;
};

class QtMainWindow : public QMainWindow, private FormView {
  Q_OBJECT

 public:
  // The guide's viewer is the caller's when given, else the window's own.
  QtMainWindow(WindowState& ctx, const WindowServices& services, GuideViewer* guide = nullptr);
  ~QtMainWindow() override;
  GuideViewer& guide();

  // The designed size as the layout enforces it, in pixels.
  int DesignWidth() const { return designWidth_; }
  int DesignHeight() const { return designHeight_; }
  // A designed length in twips as pixels at the scale the desktop's font asks for.
  int Px(double twips) const;
  double Scale() const { return scale_; }

 signals:
  void closed();

 public slots:
  void LayOut();
  void OnConvert();
  void OnBrowseInput();    // input chooser
  void OnBrowseOutput();   // output chooser
  void OnBrowseProfile();  // profile chooser
  void OnClose();
  void OnExit();
  void OnFileMenu();  // each time the File menu opens
  void OnCreateProfile();
  void OnKeepLineBreaks();
  void OnNotes();
  void OnTerms();
  void OnAbout();

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // FormView
  std::string Text(Ctl field) const override;
  void SetText(Ctl field, const std::string& text) override;
  bool Checked(Ctl control) const override;
  void SetChecked(Ctl control, bool on) override;
  bool Enabled(Ctl control) const override;
  void SetEnabled(Ctl control, bool on) override;
  void SetLook(Ctl field, FieldLook look) override;
  void CaretToEnd(Ctl field) override;
  void Close() override;
  void ShowGuide() override;

  void BuildControls();
  void BuildMenus();
  void LoadForm();
  ClientLayout PlaceControls(int clientWidth);  // as the form lays them out for the width
  void KeepOnScreen();
  QWidget* Widget(Ctl id) const;
  QLineEdit* Field(Ctl id) const;
  bool DroppedFiles(const QEvent* event, std::vector<std::string>& files) const;

  std::unique_ptr<GetCommandForm> form_;
  bool laying_out_ = false;
  bool shownOnce_ = false, framed_ = false;
  GuideViewer* guide_ = nullptr;
  std::unique_ptr<GuideViewer> ownGuide_;  // made on first use when none was given

  double scale_ = 1.0;  // of the design, for the desktop's font (1: as designed)
  int designWidth_ = 0, designHeight_ = 0;

 public:
  // The controls, named as the form names them.
  QRadioButton* gpxToPoi = nullptr;
  QRadioButton* poiToGpx = nullptr;
  QLabel* outputCaption = nullptr;
  QLabel* inputCaption = nullptr;
  QLabel* profileCaption = nullptr;
  QLineEdit* inputField = nullptr;
  QLineEdit* outputField = nullptr;
  QLineEdit* profileField = nullptr;
  QLineEdit* editableModel = nullptr;
  QPushButton* browseOutput = nullptr;
  QPushButton* browseProfile = nullptr;
  QPushButton* browseInput = nullptr;
  QPushButton* convertButton = nullptr;
  QPushButton* closeButton = nullptr;
  QCheckBox* useProfile = nullptr;
  QWidget* separatorDark =
      nullptr;  // with separatorLight below it, the etched separator under the menu bar
  QWidget* separatorLight = nullptr;
  QMenu* fileMenu = nullptr;
  QMenu* optionsMenu = nullptr;
  QMenu* helpMenu = nullptr;
  QAction* createProfileItem = nullptr;
  QAction* exitItem = nullptr;
  QAction* keepLineBreaksItem = nullptr;
  QAction* notesItem = nullptr;
  QAction* termsItem = nullptr;
  QAction* aboutItem = nullptr;
};

}  // namespace marklode
