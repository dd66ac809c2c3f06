// The program's one window: the user sets up a conversion request here and
// hands it to the entry routine through the RunContext, chooses files, writes
// new profiles and reads the help texts. The window never converts anything
// itself; it closes and the entry routine runs what it left behind.
#pragma once

#include <QMainWindow>
#include <string>
#include <string_view>
#include <vector>

#include "engine/run_context.h"
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

// Designed geometry is kept in twips (1/1440 inch), the unit in which the
// window's position and width are stored; 15 twips make one logical pixel.
constexpr int kTwipsPerPixel = 15;
int TwipsToPixels(double twips);

// A stored geometry value as a number of twips, or false when the text is
// empty or not a plain number (such a value counts as missing).
bool ParseStoredTwips(std::string_view text, double& twips);

// Several chosen files as the entry routine's lists take them: the first with
// its folder, the others as bare names, all joined by ";". A single file is
// its own path. Empty when the files do not all share one folder.
std::string JoinFileSelection(const std::vector<std::string>& files);

// "Convert <name> to <EXT>.ZVP": the name the Create Profile dialog proposes.
std::string ProfilePresetName(std::string_view baseName, std::string_view ext);

// "Description (*.X)|*.X|All Files (*.*)|*.*" as Qt name filters. Patterns
// match either letter case, and "*.*" also matches names without a dot.
std::vector<std::string> QtNameFilters(std::string_view filterList);

// The user guide built into the program, as Markdown.
QString UserGuideText();

extern const char* const kTermsOfUseText;
std::string AboutText();

class frmGetCommand : public QMainWindow {
  Q_OBJECT

 public:
  frmGetCommand(RunContext& ctx, const WindowServices& services, QWidget* parent = nullptr);
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
  void BuildControls();
  void BuildMenus();
  void Form_Load();
  void Form_Unload();
  void KeepOnScreen();
  void LoadModeFields();
  void ApplyProfileMode();
  void RefreshOutputField();
  void Check1_Click();
  void Text2_Validate();
  void CaretToEnd(std::initializer_list<QLineEdit*> fields);
  void SetFieldColour(QLineEdit* field, const QColor& colour);
  QColor WindowColour() const;
  QColor EnabledFieldColour() const;
  std::string Text(const QLineEdit* field) const;
  void SetText(QLineEdit* field, const std::string& text);
  std::string Stored(std::string_view name) const;
  void Store(std::string_view name, std::string_view value);
  FileDialogResult ShowFileDlg(FileDialogRequest request);
  bool AcceptDrop(const QEvent* event, std::string* joined) const;

  RunContext& ctx_;
  WindowServices services_;
  std::string fileDlgTitle_;  // the shared dialog's title stays as last set
  bool laying_out_ = false;
  bool unloaded_ = false;
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
