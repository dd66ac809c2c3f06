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
#include <cmath>

#include "services/messages.h"
#include "services/strings.h"

// Resources compiled into a static library are registered by hand.
static void InitGuideResource() {
  Q_INIT_RESOURCE(marklode);
}

namespace marklode {

namespace {

QString Q(std::string_view text) {
  return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

}  // namespace

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

// ---------------------------------------------------------------------------

frmGetCommand::frmGetCommand(WindowState& ctx, const WindowServices& services, QWidget* parent)
    : QMainWindow(parent),
      form_(
          std::make_unique<GetCommandForm>(ctx, services.chooser, static_cast<FormView&>(*this))) {
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

  auto line = [client](const char* name, QPalette::ColorRole role) {
    auto* w = new QWidget(client);
    w->setObjectName(name);
    w->setAutoFillBackground(true);
    w->setBackgroundRole(role);
    return w;
  };
  Line1 = line("Line1", QPalette::Dark);
  Line2 = line("Line2", QPalette::Light);

  // Every control sits where the design puts it, in twips; the pixels follow
  // once the scale for the desktop's font is known.
  std::vector<QWidget*> placed;
  for (const ControlDesign& d : kControlDesign) {
    const QString caption = Q(d.caption);
    QWidget* w = nullptr;
    switch (d.id) {
      case Ctl::Option1:
        w = Option1 = new QRadioButton(caption, client);
        break;
      case Ctl::Option2:
        w = Option2 = new QRadioButton(caption, client);
        break;
      case Ctl::Label1:
        w = Label1 = new QLabel(caption, client);
        break;
      case Ctl::Label2:
        w = Label2 = new QLabel(caption, client);
        break;
      case Ctl::Label3:
        w = Label3 = new QLabel(caption, client);
        break;
      case Ctl::Text1:
        w = Text1 = new QLineEdit(client);
        break;
      case Ctl::Text2:
        w = Text2 = new QLineEdit(client);
        break;
      case Ctl::Text3:
        w = Text3 = new QLineEdit(client);
        break;
      case Ctl::Command1:
        w = Command1 = new QPushButton(caption, client);
        break;
      case Ctl::Command2:
        w = Command2 = new QPushButton(caption, client);
        break;
      case Ctl::Command3:
        w = Command3 = new QPushButton(caption, client);
        break;
      case Ctl::Command4:
        w = Command4 = new QPushButton(caption, client);
        break;
      case Ctl::cmdCancel:
        w = cmdCancel = new QPushButton(caption, client);
        break;
      case Ctl::Check1:
        w = Check1 = new QCheckBox(caption, client);
        break;
      case Ctl::cmdCreateProfile:
      case Ctl::cmdCMTLineBreak:
        continue;  // menu items, made with the menus
    }
    w->setObjectName(d.name);
    if (*d.tooltip != '\0') w->setToolTip(Q(d.tooltip));
    placed.push_back(w);
  }
  Option1->setChecked(true);

  // A label captions the field after it in the design.
  for (std::size_t i = 0; i + 1 < kControlDesign.size(); ++i) {
    if (kControlDesign[i].kind != CtlKind::Label) continue;
    auto* label = static_cast<QLabel*>(placed[i]);
    label->setBuddy(placed[i + 1]);
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  }

  // The design fits a small dialog font; a larger desktop font or a high-DPI
  // screen scales the whole design until every caption and field fits.
  scale_ = 1.0;
  for (std::size_t i = 0; i < placed.size(); ++i) {
    const ControlDesign& d = kControlDesign[i];
    scale_ = std::max(scale_, placed[i]->sizeHint().width() / double(TwipsToPixels(d.width)));
    scale_ = std::max(scale_, placed[i]->sizeHint().height() / double(TwipsToPixels(d.height)));
  }
  for (std::size_t i = 0; i < placed.size(); ++i) {
    const ControlDesign& d = kControlDesign[i];
    placed[i]->setGeometry(Px(d.left), Px(d.top), Px(d.width), Px(d.height));
  }
  client->setFixedHeight(Px(kDesignClientHeight));
  client->setMinimumWidth(Px(kDesignClientWidth));
  const int lineWidth = Px(kSeparatorRight) - Px(kSeparatorLeft) + 1;
  Line1->setGeometry(Px(kSeparatorLeft), Px(kSeparatorTop), lineWidth, 1);
  Line2->setGeometry(Px(kSeparatorLeft), Px(kSeparatorTop) + 1, lineWidth, 1);

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

  // The design lists the controls in tab order; labels take no focus.
  QWidget* previous = nullptr;
  for (std::size_t i = 0; i < placed.size(); ++i) {
    if (kControlDesign[i].kind == CtlKind::Label) continue;
    if (previous != nullptr) QWidget::setTabOrder(previous, placed[i]);
    previous = placed[i];
  }

  connect(Option1, &QRadioButton::toggled, this, [this](bool on) {
    if (on) form_->OptionClicked();
  });
  connect(Option2, &QRadioButton::toggled, this, [this](bool on) {
    if (on) form_->OptionClicked();
  });
  connect(Text1, &QLineEdit::textChanged, this, [this] { form_->Text1Changed(); });
  connect(Check1, &QCheckBox::toggled, this, [this] { form_->Check1Clicked(); });
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
  designWidth_ = Px(kDesignClientWidth);
  designHeight_ = layout()->totalMinimumSize().height();
  designFieldWidth_ = Text1->width();
  designBrowseLeft_ = Command1->x();
  designLineX2_ = Line1->geometry().right();
  setMinimumWidth(designWidth_);
  setFixedHeight(designHeight_);
  resize(designWidth_, designHeight_);

  const QScreen* screen = QGuiApplication::primaryScreen();
  const QRect screenRect = screen != nullptr ? screen->geometry() : QRect();
  const StoredGeometry stored =
      form_->LoadGeometry(screenRect.width() * kTwipsPerPixel, screenRect.height() * kTwipsPerPixel,
                          width() * kTwipsPerPixel, height() * kTwipsPerPixel);
  if (stored.hasX) move(TwipsToPixels(stored.x), y());
  if (stored.hasY) move(x(), TwipsToPixels(stored.y));
  if (stored.hasWidth) resize(std::max(TwipsToPixels(stored.width), 1), height());
  KeepOnScreen();
  Form_Resize();
  form_->Load();
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
  for (Ctl field : {Ctl::Text1, Ctl::Text2, Ctl::Text3})
    CaretToEnd(field);  // a long path shows its end
  for (QPushButton* b : {Command1, Command2, Command3}) b->move(designBrowseLeft_ + d, b->y());
  for (QWidget* l : {Line1, Line2}) l->resize(designLineX2_ + d - l->x() + 1, l->height());
  if (normal) form_->StoreWidth(w * kTwipsPerPixel);
  laying_out_ = false;
}

void frmGetCommand::closeEvent(QCloseEvent* event) {
  form_->Unload(pos().x() * kTwipsPerPixel, pos().y() * kTwipsPerPixel);
  event->accept();
  emit closed();
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
      if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
        form_->Text2FocusLost();
    }
  } else if (watched == Text1) {
    const QEvent::Type type = event->type();
    if (type != QEvent::DragEnter && type != QEvent::DragMove && type != QEvent::Drop)
      return QMainWindow::eventFilter(watched, event);
    auto* drop = static_cast<QDropEvent*>(event);
    // Files only; dropped text is the field's own business.
    if (drop->mimeData() == nullptr || !drop->mimeData()->hasUrls())
      return QMainWindow::eventFilter(watched, event);
    std::vector<std::string> files;
    if (!DroppedFiles(event, files) || !form_->DropFiles(files, type == QEvent::Drop)) {
      drop->ignore();
      return true;
    }
    drop->acceptProposedAction();
    return true;
  }
  return QMainWindow::eventFilter(watched, event);
}

// Local files only: the form takes names, not addresses.
bool frmGetCommand::DroppedFiles(const QEvent* event, std::vector<std::string>& files) const {
  const QMimeData* mime = static_cast<const QDropEvent*>(event)->mimeData();
  if (mime == nullptr || !mime->hasUrls()) return false;
  for (const QUrl& url : mime->urls()) {
    if (!url.isLocalFile()) return false;
    files.push_back(url.toLocalFile().toStdString());
  }
  return true;
}

// ---------------------------------------------------------------------------
// The user's actions, handed to the form

void frmGetCommand::Command4_Click() {
  form_->Convert();
}

void frmGetCommand::cmdCancel_Click() {
  form_->Cancel();
}

void frmGetCommand::cmdExit_Click() {
  form_->Exit();
}

void frmGetCommand::Command3_Click() {
  form_->ChooseInput();
}

void frmGetCommand::Command1_Click() {
  form_->ChooseOutput();
}

void frmGetCommand::Command2_Click() {
  form_->ChooseProfile();
}

void frmGetCommand::cmdFileMenu_Click() {
  form_->FileMenuOpening();
}

void frmGetCommand::cmdCreateProfile_Click() {
  form_->CreateProfile();
}

void frmGetCommand::cmdCMTLineBreak_Click() {
  // The checkable item has already inverted its mark.
  form_->LineBreakToggled();
}

void frmGetCommand::cmdNotes_Click() {
  form_->Notes();
}

void frmGetCommand::cmdTerms_Click() {
  form_->Terms();
}

void frmGetCommand::cmdAbout_Click() {
  form_->About();
}

// ---------------------------------------------------------------------------
// What the form sees of the window

QWidget* frmGetCommand::Widget(Ctl id) const {
  switch (id) {
    case Ctl::Option1:
      return Option1;
    case Ctl::Option2:
      return Option2;
    case Ctl::Label1:
      return Label1;
    case Ctl::Label2:
      return Label2;
    case Ctl::Label3:
      return Label3;
    case Ctl::Text1:
      return Text1;
    case Ctl::Text2:
      return Text2;
    case Ctl::Text3:
      return Text3;
    case Ctl::Command1:
      return Command1;
    case Ctl::Command2:
      return Command2;
    case Ctl::Command3:
      return Command3;
    case Ctl::Command4:
      return Command4;
    case Ctl::cmdCancel:
      return cmdCancel;
    case Ctl::Check1:
      return Check1;
    case Ctl::cmdCreateProfile:
    case Ctl::cmdCMTLineBreak:
      break;
  }
  return nullptr;
}

QLineEdit* frmGetCommand::Field(Ctl id) const {
  return qobject_cast<QLineEdit*>(Widget(id));
}

std::string frmGetCommand::Text(Ctl field) const {
  return Field(field)->text().toStdString();
}

void frmGetCommand::SetText(Ctl field, const std::string& text) {
  Field(field)->setText(Q(text));
}

bool frmGetCommand::Checked(Ctl control) const {
  switch (control) {
    case Ctl::Option1:
      return Option1->isChecked();
    case Ctl::Option2:
      return Option2->isChecked();
    case Ctl::Check1:
      return Check1->isChecked();
    case Ctl::cmdCMTLineBreak:
      return cmdCMTLineBreak->isChecked();
    default:
      return false;
  }
}

void frmGetCommand::SetChecked(Ctl control, bool on) {
  switch (control) {
    case Ctl::Option1:
      Option1->setChecked(on);
      break;
    case Ctl::Option2:
      Option2->setChecked(on);
      break;
    case Ctl::Check1:
      Check1->setChecked(on);
      break;
    case Ctl::cmdCMTLineBreak:
      cmdCMTLineBreak->setChecked(on);
      break;
    default:
      break;
  }
}

bool frmGetCommand::Enabled(Ctl control) const {
  if (control == Ctl::cmdCreateProfile) return cmdCreateProfile->isEnabled();
  if (control == Ctl::cmdCMTLineBreak) return cmdCMTLineBreak->isEnabled();
  return Widget(control)->isEnabled();
}

void frmGetCommand::SetEnabled(Ctl control, bool on) {
  if (control == Ctl::cmdCreateProfile)
    cmdCreateProfile->setEnabled(on);
  else if (control == Ctl::cmdCMTLineBreak)
    cmdCMTLineBreak->setEnabled(on);
  else
    Widget(control)->setEnabled(on);
}

void frmGetCommand::SetLook(Ctl field, FieldLook look) {
  // The window's colour, or that of an editable field, in every colour
  // group (disabled too).
  const QColor colour = look == FieldLook::Window
                            ? palette().color(QPalette::Window)
                            : txtActiveModel->palette().color(QPalette::Active, QPalette::Base);
  QLineEdit* edit = Field(field);
  QPalette p = edit->palette();
  p.setColor(QPalette::Base, colour);
  edit->setPalette(p);
}

void frmGetCommand::CaretToEnd(Ctl field) {
  QLineEdit* edit = Field(field);
  edit->setCursorPosition(int(edit->text().size()));
}

void frmGetCommand::Close() {
  close();
}

// The guide is built into the program and shown in a viewer of its own, as
// many desktops have no program for the installed Notes.rtf.
void frmGetCommand::ShowGuide() {
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

}  // namespace marklode
