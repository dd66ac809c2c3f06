// The program's one window: the user sets up a conversion request here and
// leaves it in the window's state, chooses files, writes new profiles and
// reads the help texts. The window never converts anything itself; it closes
// and the window's cycle runs the request it left behind. Its rules
// live in GetCommandForm; this is the Qt view of it.
#pragma once

#include <QMainWindow>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "window/form/get_command_form.h"
#include "window/form/window_loop.h"
#include "window/window_services.h"

class QAction;
class QCheckBox;
class QDialog;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QRadioButton;

namespace marklode {

// "Description (*.X)|*.X|All Files (*.*)|*.*" as Qt name filters. Patterns
// match either letter case, and "*.*" also matches names without a dot.
std::vector<std::string> QtNameFilters(std::string_view filterList);

// The user guide built into the program, as Markdown.
QString UserGuideText();

class frmGetCommand : public QMainWindow, private FormView {
  Q_OBJECT

 public:
  frmGetCommand(WindowState& ctx, const WindowServices& services, QWidget* parent = nullptr);
  ~frmGetCommand() override;

  // The designed size as the layout enforces it, in pixels.
  int DesignWidth() const { return designWidth_; }
  int DesignHeight() const { return designHeight_; }
  // A designed length in twips as pixels at the scale the desktop's font asks for.
  int Px(double twips) const;

 signals:
  void closed();

 public slots:
  void Form_Resize();
  void Command4_Click();  // Convert
  void Command3_Click();  // input chooser
  void Command1_Click();  // output chooser
  void Command2_Click();  // profile chooser
  void cmdCancel_Click();
  void cmdExit_Click();
  void cmdFileMenu_Click();  // each time the File menu opens
  void cmdCreateProfile_Click();
  void cmdCMTLineBreak_Click();
  void cmdNotes_Click();
  void cmdTerms_Click();
  void cmdAbout_Click();

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
  void Form_Load();
  void KeepOnScreen();
  QWidget* Widget(Ctl id) const;
  QLineEdit* Field(Ctl id) const;
  bool DroppedFiles(const QEvent* event, std::vector<std::string>& files) const;

  std::unique_ptr<GetCommandForm> form_;
  bool laying_out_ = false;
  bool shownOnce_ = false, framed_ = false;
  QDialog* guide_ = nullptr;  // the user guide's viewer, made on first use

  double scale_ = 1.0;  // of the design, for the desktop's font (1: as designed)
  int designWidth_ = 0, designHeight_ = 0;
  int designFieldWidth_ = 0, designBrowseLeft_ = 0, designLineX2_ = 0;

 public:
  // The controls, named as the window's design names them.
  QRadioButton* Option1 = nullptr;
  QRadioButton* Option2 = nullptr;
  QLabel* Label1 = nullptr;
  QLabel* Label2 = nullptr;
  QLabel* Label3 = nullptr;
  QLineEdit* Text1 = nullptr;
  QLineEdit* Text2 = nullptr;
  QLineEdit* Text3 = nullptr;
  QLineEdit* txtActiveModel = nullptr;
  QPushButton* Command1 = nullptr;
  QPushButton* Command2 = nullptr;
  QPushButton* Command3 = nullptr;
  QPushButton* Command4 = nullptr;
  QPushButton* cmdCancel = nullptr;
  QCheckBox* Check1 = nullptr;
  QWidget* Line1 = nullptr;  // with Line2 below it, the etched separator under the menu bar
  QWidget* Line2 = nullptr;
  QMenu* cmdFileMenu = nullptr;
  QMenu* cmdOptions = nullptr;
  QMenu* cmdHelp = nullptr;
  QAction* cmdCreateProfile = nullptr;
  QAction* cmdExit = nullptr;
  QAction* cmdCMTLineBreak = nullptr;
  QAction* cmdNotes = nullptr;
  QAction* cmdTerms = nullptr;
  QAction* cmdAbout = nullptr;
};

}  // namespace marklode
