#include "window/frm_get_command.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDropEvent>
#include <QFile>
#include <QFocusEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTextBrowser>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "engine/batch.h"
#include "engine/profiles.h"
#include "engine/reports.h"
#include "engine/run_main.h"
#include "services/platform.h"
#include "services/settings.h"
#include "services/strings.h"
#include "services/text_files.h"
#include "services/version.h"

// Resources compiled into a static library are registered by hand.
static void InitGuideResource() {
  Q_INIT_RESOURCE(marklode);
}

namespace marklode {

namespace {

constexpr const char* kGpxFilter = "GPX FIles (*.GPX)|*.GPX|All Files (*.*)|*.*";
constexpr const char* kCsvFilter = "CSV FIles (*.CSV)|*.CSV|All Files (*.*)|*.*";
constexpr const char* kProfileFilter = "ZVP FIles (*.ZVP)|*.ZVP|All Files (*.*)|*.*";
constexpr const char* kNewProfileFilter = "ZVP FIles (*.ZVP)|*.ZVP";

constexpr const char* kNameMissing = "File name must be provided!";
constexpr const char* kOverwriteWarning =
    "The output file names will be automatically generated from the input file names.  Any "
    "existing files will be overwitten.";
constexpr const char* kInputMissing = "Can't find input file -- ";
constexpr const char* kSameAsInput = "Same as input but with .";

QString Q(std::string_view text) {
  return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

const char* StoredFlag(bool on) {
  return on ? "True" : "False";
}

// The text before the last "/" of a field: the folder a chooser opens in. A
// text without "/" is its own folder (the toolkit then falls back to the
// current directory), an empty text gives an empty folder.
std::string FolderOf(std::string_view text) {
  const int n = FieldCount(text, kPathSep);
  return std::string(FieldRange(text, 1, n - 1, kPathSep));
}

// The check that an output can be written: open it for appending and close it
// at once, so an existing file keeps its content. A file that did not exist
// before is removed again, so that a refused or cancelled request leaves no
// empty outputs behind; the converter creates the real one.
bool TestOpenForAppend(const std::string& path) {
  std::error_code ec;
  const bool existed = std::filesystem::exists(std::filesystem::path(path), ec);
  std::FILE* f = std::fopen(path.c_str(), "ab");
  if (f == nullptr) return false;
  std::fclose(f);
  if (!existed) std::remove(path.c_str());
  return true;
}

}  // namespace

int TwipsToPixels(double twips) {
  return static_cast<int>(std::lround(twips / kTwipsPerPixel));
}

bool ParseStoredTwips(std::string_view text, double& twips) {
  text = TrimSpaces(text);
  if (text.empty()) return false;
  if (text.front() == '+') text.remove_prefix(1);
  double value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return false;
  // Far beyond any screen: a damaged value, not a position.
  if (!std::isfinite(value) || std::fabs(value) > 1e7) return false;
  twips = value;
  return true;
}

std::string JoinFileSelection(const std::vector<std::string>& files) {
  if (files.empty()) return {};
  std::string joined = files.front();
  const std::string_view folder = DirectoryPart(files.front());
  for (std::size_t i = 1; i < files.size(); ++i) {
    if (DirectoryPart(files[i]) != folder) return {};
    joined.append(";").append(FileNamePart(files[i]));
  }
  return joined;
}

std::string ProfilePresetName(std::string_view baseName, std::string_view ext) {
  std::string name = ReplaceTextNoCase(baseName, ".csv", ".CSV");
  name = ReplaceTextNoCase(name, ".gpx", ".GPX");
  name = ReplaceText(name, ".", "-");
  return "Convert " + name + " to " + std::string(ext) + ".ZVP";
}

std::vector<std::string> QtNameFilters(std::string_view filterList) {
  // Pairs of description and patterns, all joined by "|".
  const int parts = FieldCount(filterList, '|');
  std::vector<std::string> filters;
  for (int i = 1; i + 1 <= parts; i += 2) {
    std::string description(FieldAt(filterList, i, '|'));
    const std::string_view patternList = FieldAt(filterList, i + 1, '|');
    const std::size_t paren = description.rfind(" (");
    if (paren != std::string::npos && description.back() == ')') description.resize(paren);
    std::vector<std::string> patterns;
    auto add = [&patterns](std::string p) {
      if (!p.empty() && std::find(patterns.begin(), patterns.end(), p) == patterns.end())
        patterns.push_back(std::move(p));
    };
    const int n = FieldCount(patternList, ';');
    for (int k = 1; k <= n; ++k) {
      const std::string pattern(TrimSpaces(FieldAt(patternList, k, ';')));
      if (pattern == "*.*") {
        add("*");
      } else {
        add(pattern);
        add(ToUpperAscii(pattern));
        add(ToLowerAscii(pattern));
      }
    }
    std::string joined;
    for (const std::string& p : patterns) joined.append(joined.empty() ? "" : " ").append(p);
    filters.push_back(description + " (" + joined + ")");
  }
  return filters;
}

QString UserGuideText() {
  static const bool registered = (InitGuideResource(), true);
  (void)registered;
  QFile file(QStringLiteral(":/marklode/guide.md"));
  if (!file.open(QIODevice::ReadOnly)) return {};
  return QString::fromUtf8(file.readAll());
}

const char* const kTermsOfUseText =
    "This software is provided on an \"as is\" basis. The Marklode developers make no claim or "
    "warranty of any kind about its accuracy, timeliness, usefulness, completeness or "
    "merchantability, or about its fitness for any particular purpose. To the extent permitted "
    "by law, neither the Marklode developers nor their suppliers shall be liable for any "
    "direct, indirect, consequential, incidental, special, multiple, punitive or other similar "
    "damages, including lost profits, that result from the use of this software or from the "
    "inability to use it, even if they have been advised of the possibility of such damages.";

std::string AboutText() {
  return std::string("Marklode version ") + kVersionText +
         "\r\n\r\nCopyright (C) 2026 The Marklode developers\r\n\r\n"
         "Please report any issues to marklode@example.org";
}

// ---------------------------------------------------------------------------

frmGetCommand::frmGetCommand(RunContext& ctx, const WindowServices& services, QWidget* parent)
    : QMainWindow(parent), ctx_(ctx), services_(services) {
  setObjectName("frmGetCommand");
  setWindowTitle(Q(kAppTitle));
  BuildMenus();
  BuildControls();
  Form_Load();
}

frmGetCommand::~frmGetCommand() = default;

void frmGetCommand::BuildMenus() {
  cmdFileMenu = menuBar()->addMenu(tr("&File"));
  cmdFileMenu->setObjectName("cmdFileMenu");
  cmdCreateProfile = cmdFileMenu->addAction(tr("Create &Profile"));
  cmdCreateProfile->setObjectName("cmdCreateProfile");
  cmdExit = cmdFileMenu->addAction(tr("E&xit"));
  cmdExit->setObjectName("cmdExit");

  cmdOptions = menuBar()->addMenu(tr("&Options"));
  cmdOptions->setObjectName("cmdOptions");
  cmdCMTLineBreak = cmdOptions->addAction(tr("Keep Comment Line Breaks"));
  cmdCMTLineBreak->setObjectName("cmdCMTLineBreak");
  cmdCMTLineBreak->setCheckable(true);

  cmdHelp = menuBar()->addMenu(tr("&Help"));
  cmdHelp->setObjectName("cmdHelp");
  cmdNotes = cmdHelp->addAction(tr("&Notes..."));
  cmdNotes->setObjectName("cmdNotes");
  cmdTerms = cmdHelp->addAction(tr("&Terms of Use..."));
  cmdTerms->setObjectName("cmdTerms");
  cmdAbout = cmdHelp->addAction(tr("&About..."));
  cmdAbout->setObjectName("cmdAbout");

  connect(cmdFileMenu, &QMenu::aboutToShow, this, &frmGetCommand::cmdFileMenu_Click);
  connect(cmdCreateProfile, &QAction::triggered, this, &frmGetCommand::cmdCreateProfile_Click);
  connect(cmdExit, &QAction::triggered, this, &frmGetCommand::cmdExit_Click);
  connect(cmdCMTLineBreak, &QAction::triggered, this, &frmGetCommand::cmdCMTLineBreak_Click);
  connect(cmdNotes, &QAction::triggered, this, &frmGetCommand::cmdNotes_Click);
  connect(cmdTerms, &QAction::triggered, this, &frmGetCommand::cmdTerms_Click);
  connect(cmdAbout, &QAction::triggered, this, &frmGetCommand::cmdAbout_Click);
}

void frmGetCommand::BuildControls() {
  auto* client = new QWidget(this);
  client->setObjectName("client");
  setCentralWidget(client);

  // Every control sits where the design puts it, in twips; the pixels follow
  // once the scale for the desktop's font is known.
  struct Placed {
    QWidget* widget;
    int left, top, width, height;
  };
  std::vector<Placed> placed;
  auto place = [&placed](QWidget* w, const char* name, int left, int top, int width, int height) {
    w->setObjectName(name);
    placed.push_back({w, left, top, width, height});
  };
  auto line = [client](const char* name, QPalette::ColorRole role) {
    auto* w = new QWidget(client);
    w->setObjectName(name);
    w->setAutoFillBackground(true);
    w->setBackgroundRole(role);
    return w;
  };
  Line1 = line("Line1", QPalette::Dark);
  Line2 = line("Line2", QPalette::Light);

  // Mnemonics clear of the menus (F, O, H) and of Close (C).
  Option1 = new QRadioButton(tr("&GPX --> POI"), client);
  place(Option1, "Option1", 1230, 345, 1320, 225);
  Option1->setChecked(true);
  Option2 = new QRadioButton(tr("&POI --> GPX"), client);
  place(Option2, "Option2", 3030, 345, 1320, 225);

  // The captions end short of their fields, so that nothing of them is drawn
  // under a field.
  Label2 = new QLabel(tr("&Input file(s):"), client);
  place(Label2, "Label2", 300, 885, 915, 285);
  Text1 = new QLineEdit(client);
  place(Text1, "Text1", 1245, 855, 2355, 315);
  Command3 = new QPushButton(tr("Browse..."), client);
  place(Command3, "Command3", 3750, 855, 1365, 315);

  Label1 = new QLabel(tr("Ou&tput File:"), client);
  place(Label1, "Label1", 300, 1470, 915, 285);
  Text2 = new QLineEdit(client);
  place(Text2, "Text2", 1245, 1440, 2355, 315);
  Command1 = new QPushButton(tr("Browse..."), client);
  place(Command1, "Command1", 3750, 1440, 1365, 315);

  Check1 = new QCheckBox(tr("&Use Conversion Profile:"), client);
  place(Check1, "Check1", 1245, 2010, 2265, 300);
  Label3 = new QLabel(tr("P&rofile File:"), client);
  place(Label3, "Label3", 300, 2385, 915, 285);
  Text3 = new QLineEdit(client);
  place(Text3, "Text3", 1245, 2355, 2355, 315);
  Command2 = new QPushButton(tr("Browse..."), client);
  place(Command2, "Command2", 3750, 2355, 1365, 315);

  Command4 = new QPushButton(tr("Con&vert"), client);
  place(Command4, "Command4", 1245, 2940, 2355, 315);
  cmdCancel = new QPushButton(tr("&Close"), client);
  place(cmdCancel, "cmdCancel", 3750, 2940, 1365, 315);

  Label2->setBuddy(Text1);
  Label1->setBuddy(Text2);
  Label3->setBuddy(Text3);
  for (QLabel* label : {Label1, Label2, Label3})
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);

  Text1->setToolTip(
      tr("One file; a pattern such as /data/*.csv; or several files of one folder joined by "
         "\";\", such as /data/a.gpx;b.gpx (Browse... can choose several at once)."));
  Text2->setToolTip(
      tr("The file to write. Several inputs are each written beside themselves, under their own "
         "name with the new extension. A GPX output cannot be a pattern."));
  Text3->setToolTip(
      tr("A conversion profile (.ZVP): a text file naming the input, the output, filters and "
         "templates. File > Create Profile writes one for the conversion set up above."));
  Check1->setToolTip(tr("Run the conversion a profile describes instead of the fields above."));

  // The design fits a small dialog font; a larger desktop font or a high-DPI
  // screen scales the whole design until every caption and field fits.
  scale_ = 1.0;
  for (const Placed& p : placed) {
    scale_ = std::max(scale_, p.widget->sizeHint().width() / double(TwipsToPixels(p.width)));
    scale_ = std::max(scale_, p.widget->sizeHint().height() / double(TwipsToPixels(p.height)));
  }
  for (const Placed& p : placed)
    p.widget->setGeometry(Px(p.left), Px(p.top), Px(p.width), Px(p.height));
  client->setFixedHeight(Px(3555));
  client->setMinimumWidth(Px(5460));
  Line1->setGeometry(Px(15), Px(20), Px(5440) - Px(15) + 1, 1);
  Line2->setGeometry(Px(15), Px(20) + 1, Px(5440) - Px(15) + 1, 1);

  // Never shown: it only carries the colour of an editable field.
  txtActiveModel = new QLineEdit(client);
  txtActiveModel->setObjectName("txtActiveModel");
  txtActiveModel->setGeometry(Px(1245), Px(3480), Px(780), Px(315));
  txtActiveModel->hide();
  txtActiveModel->setFocusPolicy(Qt::NoFocus);

  // Enter runs Convert and Esc runs Close (keyPressEvent); a focused button
  // takes Enter itself, as buttons do on the desktop. Qt buttons need no
  // correction for releases of other mouse buttons: they react to the left
  // button only.
  for (QPushButton* b : {Command1, Command2, Command3, Command4, cmdCancel})
    b->setAutoDefault(true);
  Command4->setDefault(true);

  QWidget::setTabOrder(Option1, Option2);
  QWidget::setTabOrder(Option2, Text1);
  QWidget::setTabOrder(Text1, Command3);
  QWidget::setTabOrder(Command3, Text2);
  QWidget::setTabOrder(Text2, Command1);
  QWidget::setTabOrder(Command1, Command4);
  QWidget::setTabOrder(Command4, cmdCancel);
  QWidget::setTabOrder(cmdCancel, Check1);
  QWidget::setTabOrder(Check1, Text3);
  QWidget::setTabOrder(Text3, Command2);

  connect(Option1, &QRadioButton::toggled, this, [this](bool on) {
    if (on) LoadModeFields();  // Option1_Click
  });
  connect(Option2, &QRadioButton::toggled, this, [this](bool on) {
    if (on) LoadModeFields();  // Option2_Click
  });
  connect(Text1, &QLineEdit::textChanged, this, [this] { RefreshOutputField(); });  // Text1_Change
  connect(Check1, &QCheckBox::toggled, this, [this] { Check1_Click(); });
  connect(Command4, &QPushButton::clicked, this, &frmGetCommand::Command4_Click);
  connect(Command3, &QPushButton::clicked, this, &frmGetCommand::Command3_Click);
  connect(Command1, &QPushButton::clicked, this, &frmGetCommand::Command1_Click);
  connect(Command2, &QPushButton::clicked, this, &frmGetCommand::Command2_Click);
  connect(cmdCancel, &QPushButton::clicked, this, &frmGetCommand::cmdCancel_Click);

  // A joined selection of many files is far longer than a line edit's usual
  // limit; every name must arrive whole.
  for (QLineEdit* field : {Text1, Text2, Text3}) field->setMaxLength(1 << 24);
  Text2->installEventFilter(this);
  Text1->installEventFilter(this);
  Text1->setAcceptDrops(true);
}

// ---------------------------------------------------------------------------
// Load, layout, unload

void frmGetCommand::Form_Load() {
  // The design as built above, before anything from the store changes it.
  designWidth_ = Px(5460);
  designHeight_ = layout()->totalMinimumSize().height();
  designFieldWidth_ = Text1->width();
  designBrowseLeft_ = Command1->x();
  designLineX2_ = Line1->geometry().right();
  setMinimumWidth(designWidth_);
  setFixedHeight(designHeight_);
  resize(designWidth_, designHeight_);

  const QScreen* screen = QGuiApplication::primaryScreen();
  const QRect screenRect = screen != nullptr ? screen->geometry() : QRect();
  // A stored edge beyond the screen (or negative) is replaced by the centred
  // one, so a window saved on a monitor that is gone comes back into view.
  auto restoreEdge = [](double stored, double screenSize, double windowSize) {
    if (screenSize > 0 && (stored > screenSize || stored < 0))
      stored = std::floor(screenSize / 2 - windowSize / 2);
    return TwipsToPixels(stored);
  };
  double value = 0;
  if (ParseStoredTwips(Stored("WindowX"), value)) {
    move(restoreEdge(value, screenRect.width() * double(kTwipsPerPixel),
                     width() * double(kTwipsPerPixel)),
         y());
  }
  if (ParseStoredTwips(Stored("WindowY"), value)) {
    move(x(), restoreEdge(value, screenRect.height() * double(kTwipsPerPixel),
                          height() * double(kTwipsPerPixel)));
  }
  if (ParseStoredTwips(Stored("WindowWidth"), value)) {
    resize(std::max(TwipsToPixels(value), 1), height());
  }
  KeepOnScreen();
  Form_Resize();

  const std::string mode = Stored("ModeGPX");
  if (!mode.empty()) (IsStoredTrue(mode) ? Option1 : Option2)->setChecked(true);
  LoadModeFields();
}

// Whatever the store says, the window comes up whole and usable on the screen
// it lands on: a position saved on a larger monitor, or near its right or
// bottom edge, is pulled in, and a width larger than the screen is cut to it.
void frmGetCommand::KeepOnScreen() {
  // The frame counts: its size is known once the window manager has framed
  // the window, so this runs again after the first showing.
  QRect outer = frameGeometry();
  QScreen* screen = QGuiApplication::screenAt(outer.center());
  if (screen == nullptr) screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) return;
  const QRect area = screen->availableGeometry();
  if (outer.width() > area.width()) {
    resize(std::max(area.width() - (outer.width() - width()), minimumWidth()), height());
    outer = frameGeometry();
  }
  if (!testAttribute(Qt::WA_Moved)) return;  // the platform places the window itself
  const int x =
      std::clamp(outer.x(), area.left(), std::max(area.left(), area.right() + 1 - outer.width()));
  const int y =
      std::clamp(outer.y(), area.top(), std::max(area.top(), area.bottom() + 1 - outer.height()));
  if (QPoint(x, y) != outer.topLeft()) move(x, y);
}

void frmGetCommand::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (shownOnce_) return;
  shownOnce_ = true;
  QTimer::singleShot(0, this, &frmGetCommand::KeepOnScreen);
}

void frmGetCommand::moveEvent(QMoveEvent* event) {
  QMainWindow::moveEvent(event);
  // The window manager has put its frame around the window: check once more
  // with the frame's real size.
  if (shownOnce_ && !framed_ && frameGeometry() != geometry()) {
    framed_ = true;
    QTimer::singleShot(0, this, &frmGetCommand::KeepOnScreen);
  }
}

int frmGetCommand::Px(double twips) const {
  return static_cast<int>(std::lround(twips * scale_ / kTwipsPerPixel));
}

void frmGetCommand::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  Form_Resize();
}

// Only the width can change: the three fields widen, the Browse buttons and
// the separator follow the right edge, everything else keeps its place.
void frmGetCommand::Form_Resize() {
  if (laying_out_ || designWidth_ == 0) return;
  if (windowState() & Qt::WindowMinimized) return;
  // Maximised, the fields still follow the width; only a normal window has
  // its size corrected and stored.
  const bool normal = !(windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen));
  laying_out_ = true;
  int w = width();
  if (normal && (height() != designHeight_ || w < designWidth_)) {
    w = std::max(w, designWidth_);
    resize(w, designHeight_);
  }
  const int d = std::max(w - designWidth_, 0);
  for (QLineEdit* field : {Text1, Text2, Text3})
    field->resize(designFieldWidth_ + d, field->height());
  for (QLineEdit* field : {Text1, Text2, Text3}) field->setCursorPosition(0);
  CaretToEnd({Text1, Text2, Text3});  // a long path shows its end
  for (QPushButton* b : {Command1, Command2, Command3}) b->move(designBrowseLeft_ + d, b->y());
  for (QWidget* l : {Line1, Line2}) l->resize(designLineX2_ + d - l->x() + 1, l->height());
  if (normal) Store("WindowWidth", std::to_string(w * kTwipsPerPixel));
  laying_out_ = false;
}

void frmGetCommand::closeEvent(QCloseEvent* event) {
  Form_Unload();
  event->accept();
  emit closed();
}

void frmGetCommand::Form_Unload() {
  if (unloaded_) return;
  unloaded_ = true;
  Store("WindowX", std::to_string(pos().x() * kTwipsPerPixel));
  Store("WindowY", std::to_string(pos().y() * kTwipsPerPixel));
}

void frmGetCommand::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
      Command4->click();
      return;
    case Qt::Key_Escape:
      cmdCancel->click();
      return;
    default:
      QMainWindow::keyPressEvent(event);
  }
}

bool frmGetCommand::eventFilter(QObject* watched, QEvent* event) {
  if (watched == Text2) {
    if (event->type() == QEvent::FocusIn) {
      // After the click that brought the focus has placed its caret.
      QTimer::singleShot(0, Text2, &QLineEdit::selectAll);  // Text2_GotFocus
    } else if (event->type() == QEvent::FocusOut) {
      // Leaving the field for another control, not for a message box or a
      // menu, is what asks the overwrite question again.
      const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
      if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) Text2_Validate();
    }
  } else if (watched == Text1) {
    const QEvent::Type type = event->type();
    if (type != QEvent::DragEnter && type != QEvent::DragMove && type != QEvent::Drop)
      return QMainWindow::eventFilter(watched, event);
    auto* drop = static_cast<QDropEvent*>(event);
    // Files only; dropped text is the field's own business.
    if (drop->mimeData() == nullptr || !drop->mimeData()->hasUrls())
      return QMainWindow::eventFilter(watched, event);
    std::string joined;
    if (!AcceptDrop(event, &joined)) {
      drop->ignore();
      return true;
    }
    drop->acceptProposedAction();
    if (type == QEvent::Drop) {
      // As the input chooser would have it: joined names, and the current
      // directory at their folder for the bare second and later names.
      ChangeDirectory(std::string(DirectoryPart(joined)));
      SetText(Text1, joined);
      CaretToEnd({Text1, Text2});
      RefreshOutputField();
    }
    return true;
  }
  return QMainWindow::eventFilter(watched, event);
}

// Local files from one folder only: a list carries a single folder.
bool frmGetCommand::AcceptDrop(const QEvent* event, std::string* joined) const {
  const QMimeData* mime = static_cast<const QDropEvent*>(event)->mimeData();
  if (mime == nullptr || !mime->hasUrls()) return false;
  std::vector<std::string> files;
  for (const QUrl& url : mime->urls()) {
    if (!url.isLocalFile()) return false;
    files.push_back(url.toLocalFile().toStdString());
  }
  const std::string list = JoinFileSelection(files);
  if (list.empty()) return false;
  if (joined != nullptr) *joined = list;
  return true;
}

// ---------------------------------------------------------------------------
// Modes and fields

void frmGetCommand::LoadModeFields() {
  // The input first: its change may empty a disabled output field, which is
  // then filled from the store.
  if (Option1->isChecked()) {
    SetText(Text1, Stored("InFileGPX"));
    SetText(Text2, Stored("OutFileGPX"));
  } else {
    SetText(Text1, Stored("InFilePOI"));
    SetText(Text2, Stored("OutFilePOI"));
  }
  Check1->setChecked(IsStoredTrue(Stored("ProfileMode")));
  cmdCMTLineBreak->setChecked(IsStoredTrue(Stored("KeepCommentLineBreak")));
  SetText(Text3, Stored("ProfileFile"));
  CaretToEnd({Text1, Text2, Text3});
  ApplyProfileMode();
  RefreshOutputField();
}

void frmGetCommand::ApplyProfileMode() {
  const bool profile = Check1->isChecked();
  Text1->setEnabled(!profile);
  SetFieldColour(Text1, profile ? WindowColour() : EnabledFieldColour());
  Command3->setEnabled(!profile);
  Option1->setEnabled(!profile);
  Option2->setEnabled(!profile);
  Text3->setEnabled(profile);
  SetFieldColour(Text3, profile ? EnabledFieldColour() : WindowColour());
  Command2->setEnabled(profile);
  if (profile) {
    Text2->setEnabled(false);
    SetFieldColour(Text2, WindowColour());
    Command1->setEnabled(false);
  } else {
    Text2->setEnabled(true);
    RefreshOutputField();
  }
}

void frmGetCommand::RefreshOutputField() {
  if (Check1->isChecked()) return;
  if (Text(Text1).find(';') != std::string::npos) {
    // Several inputs: each output is named after its input.
    Text2->setEnabled(false);
    SetFieldColour(Text2, WindowColour());
    SetText(Text2, std::string(kSameAsInput) + (Option1->isChecked() ? "CSV" : "GPX"));
    Command1->setEnabled(false);
  } else {
    if (!Text2->isEnabled()) Text2->clear();
    Text2->setEnabled(true);
    SetFieldColour(Text2, Text1->palette().color(QPalette::Base));
    Command1->setEnabled(true);
  }
}

void frmGetCommand::Check1_Click() {
  ApplyProfileMode();
  Store("ProfileMode", StoredFlag(Check1->isChecked()));
}

void frmGetCommand::Text2_Validate() {
  ctx_.OverwriteConfirmed = false;
}

void frmGetCommand::cmdCMTLineBreak_Click() {
  // The checkable item has already inverted its mark.
  Store("KeepCommentLineBreak", StoredFlag(cmdCMTLineBreak->isChecked()));
}

// ---------------------------------------------------------------------------
// Convert

void frmGetCommand::Command4_Click() {
  ctx_.ProfileMode = false;

  if (Check1->isChecked()) {
    const std::string profile = Text(Text3);
    if (profile.empty()) {
      ctx_.messages.Show(kNameMissing, kOkOnly);
      return;
    }
    // Found as the profile reader will look for it: a missing profile is
    // refused here, where the user can correct it, and nothing is stored.
    if (ResolveFile(profile).empty()) {
      ctx_.messages.Show(kCantOpenProfile, kOkOnly);
      return;
    }
    Store("ProfileFile", profile);
    ctx_.ProfileFile = profile;
    ctx_.ProfileMode = true;
    close();
    return;
  }

  const std::string input = Text(Text1);
  const std::string output = Text(Text2);
  if (input.empty() || output.empty()) {
    ctx_.messages.Show(kNameMissing, kOkOnly);
    return;
  }
  const bool toCsv = Option1->isChecked();
  // A list is taken apart as the batch takes it; each item is checked under
  // the name the batch will use.
  const FileList list = SplitFileList(input);
  const bool single = list.names.size() == 1;
  // A GPX output is one file; a pattern there would stop the conversion.
  if (!toCsv && single && output.find_first_of("*?") != std::string::npos) {
    ctx_.messages.Show(std::string(kWildcardGpxOutput) + output, kStopIcon, "Invalid file");
    return;
  }
  if (!single && !ctx_.OverwriteConfirmed) {
    if (ctx_.messages.Show(kOverwriteWarning, kOkCancelQuestion) != kButtonOk) return;
    ctx_.OverwriteConfirmed = true;
  }
  for (const std::string_view name : list.names) {
    const std::string item = std::string(list.folder).append(name);
    const std::string outputName = single ? output : BatchOutputName(item, toCsv ? "CSV" : "GPX");
    if ((!single && name.empty()) || FindFirstFile(item).empty()) {
      ctx_.messages.Show(kInputMissing + item, kOkOnly);
      return;
    }
    if (!TestOpenForAppend(outputName) || ctx_.ReverseSwitch) {
      ctx_.messages.Show(std::string(kCantCreateOutput) + outputName, kOkOnly);
      return;
    }
  }

  ctx_.ModeGPX = toCsv;
  ctx_.KeepCommentLineBreak = cmdCMTLineBreak->isChecked();
  ctx_.InputSpec = input;
  ctx_.OutputSpec = output;
  Store("ModeGPX", StoredFlag(toCsv));
  // The generated "Same as input..." text of a list is never stored.
  Store(toCsv ? "InFileGPX" : "InFilePOI", input);
  if (single) Store(toCsv ? "OutFileGPX" : "OutFilePOI", output);
  close();
}

// ---------------------------------------------------------------------------
// Closing without a request

void frmGetCommand::cmdCancel_Click() {
  ctx_.InputSpec.clear();
  ctx_.OutputSpec.clear();
  ctx_.ProfileMode = false;
  close();
}

void frmGetCommand::cmdExit_Click() {
  close();
}

// ---------------------------------------------------------------------------
// File choosers

FileDialogResult frmGetCommand::ShowFileDlg(FileDialogRequest request) {
  // One dialog serves every chooser: a title not set keeps the last one.
  if (request.title.empty())
    request.title = fileDlgTitle_;
  else
    fileDlgTitle_ = request.title;
  FileDialogResult result = services_.chooser.Choose(request);
  if (result.files.empty()) result.cancelled = true;
  // Bare second and later names of a selection are found from here.
  if (!result.cancelled) ChangeDirectory(std::string(DirectoryPart(result.files.front())));
  return result;
}

void frmGetCommand::Command3_Click() {
  const bool toCsv = Option1->isChecked();
  const std::string current = Text(Text1);
  FileDialogRequest request;
  request.title = "Select file for input";
  request.filter = toCsv ? kGpxFilter : kCsvFilter;
  request.initialFolder = FolderOf(Text(Text2));
  request.presetName = current.empty() ? (toCsv ? "*.GPX" : "*.CSV") : current;
  request.options =
      kDlgHideReadOnly | kDlgAllowMultiSelect | kDlgFileMustExist | kDlgExplorer | kDlgLongNames;
  // Qt hands back every chosen name, however many: no name buffer to overflow.
  const FileDialogResult result = ShowFileDlg(request);
  if (result.cancelled) return;  // a typed pattern stays as it was
  std::string chosen = JoinFileSelection(result.files);
  if (chosen.find('*') != std::string::npos) chosen.clear();
  SetText(Text1, chosen);
  CaretToEnd({Text1, Text2});
  RefreshOutputField();
}

void frmGetCommand::Command1_Click() {
  const bool toCsv = Option1->isChecked();
  const std::string current = Text(Text2);
  FileDialogRequest request;
  request.save = true;
  request.title = "Select file for output";
  request.filter = toCsv ? kCsvFilter : kGpxFilter;
  request.initialFolder = FolderOf(current);
  request.presetName = current.empty() ? (toCsv ? "*.CSV" : "*.GPX") : current;
  request.options = kDlgOverwritePrompt | kDlgHideReadOnly | kDlgPathMustExist | kDlgLongNames;
  const FileDialogResult result = ShowFileDlg(request);
  if (result.cancelled) return;
  std::string chosen = result.files.front();
  if (chosen.find('*') != std::string::npos) chosen.clear();
  SetText(Text2, chosen);
  CaretToEnd({Text1, Text2});
}

void frmGetCommand::Command2_Click() {
  const std::string current = Text(Text3);
  FileDialogRequest request;
  // A title of its own: after Create Profile the shared one would ask to create.
  request.title = "Select conversion profile";
  request.filter = kProfileFilter;
  request.initialFolder = FolderOf(current);
  request.presetName = current.empty() ? "*.ZVP" : current;
  request.options = kDlgHideReadOnly | kDlgFileMustExist | kDlgExplorer | kDlgLongNames;
  const FileDialogResult result = ShowFileDlg(request);
  // A cancel hands back the preset name, pattern and all.
  SetText(Text3, result.cancelled ? request.presetName : result.files.front());
  CaretToEnd({Text3});
}

// ---------------------------------------------------------------------------
// Create Profile

void frmGetCommand::cmdFileMenu_Click() {
  const std::string input = Text(Text1);
  const bool unavailable =
      input.empty() || FindFirstFile(input).empty() || Text(Text2).empty() || Check1->isChecked();
  cmdCreateProfile->setEnabled(!unavailable);
}

void frmGetCommand::cmdCreateProfile_Click() {
  const std::string input = Text(Text1);
  const bool toCsv = Option1->isChecked();
  FileDialogRequest request;
  request.save = true;
  request.title = "Select file to create as profile";
  request.filter = kNewProfileFilter;
  request.initialFolder = FolderOf(input);
  if (request.initialFolder.empty()) request.initialFolder = CurrentDirectory();
  request.presetName = ProfilePresetName(FindFirstFile(input), toCsv ? "CSV" : "GPX");
  request.options = kDlgOverwritePrompt | kDlgHideReadOnly | kDlgPathMustExist | kDlgLongNames;
  const FileDialogResult result = ShowFileDlg(request);
  if (result.cancelled) return;
  const std::string& path = result.files.front();
  if (path.find('*') != std::string::npos) return;
  const std::string text = FillProfileTemplate(LoadProfileTemplate(toCsv ? "GPXTOCSV" : "CSVTOGPX"),
                                               input, Text(Text2), cmdCMTLineBreak->isChecked());
  SysPutTextFile(ctx_.messages, path, text);  // reports its own failures
}

// ---------------------------------------------------------------------------
// Help

// The guide is built into the program and shown in a viewer of its own, as
// many desktops have no program for the installed Notes.rtf.
void frmGetCommand::cmdNotes_Click() {
  if (guide_ == nullptr) {
    guide_ = new QDialog(this);
    guide_->setObjectName("guide");
    guide_->setWindowTitle(tr("Marklode User Guide"));
    auto* text = new QTextBrowser(guide_);
    text->setObjectName("guideText");
    text->setOpenExternalLinks(true);
    text->setMarkdown(UserGuideText());
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, guide_);
    connect(buttons, &QDialogButtonBox::rejected, guide_, &QDialog::close);
    auto* layout = new QVBoxLayout(guide_);
    layout->addWidget(text);
    layout->addWidget(buttons);
    // Room for a line of some 70 characters and a good part of a page.
    const QFontMetrics fm(text->font());
    guide_->resize(fm.averageCharWidth() * 80, fm.lineSpacing() * 30);
  }
  guide_->show();
  guide_->raise();
  guide_->activateWindow();
}

void frmGetCommand::cmdTerms_Click() {
  ctx_.messages.Show(kTermsOfUseText, kOkOnly, "Marklode Terms of Use");
}

void frmGetCommand::cmdAbout_Click() {
  ctx_.messages.Show(AboutText(), kInfoIcon);
}

// ---------------------------------------------------------------------------
// Small helpers

void frmGetCommand::CaretToEnd(std::initializer_list<QLineEdit*> fields) {
  for (QLineEdit* field : fields) field->setCursorPosition(int(field->text().size()));
}

void frmGetCommand::SetFieldColour(QLineEdit* field, const QColor& colour) {
  QPalette palette = field->palette();
  palette.setColor(QPalette::Base, colour);  // in every colour group, disabled too
  field->setPalette(palette);
}

QColor frmGetCommand::WindowColour() const {
  return palette().color(QPalette::Window);
}

QColor frmGetCommand::EnabledFieldColour() const {
  return txtActiveModel->palette().color(QPalette::Active, QPalette::Base);
}

std::string frmGetCommand::Text(const QLineEdit* field) const {
  return field->text().toStdString();
}

void frmGetCommand::SetText(QLineEdit* field, const std::string& text) {
  field->setText(Q(text));
}

std::string frmGetCommand::Stored(std::string_view name) const {
  return ctx_.settings.GetRegistryValue(name);
}

void frmGetCommand::Store(std::string_view name, std::string_view value) {
  ctx_.settings.SetRegistryValue(name, value);
}

}  // namespace marklode
