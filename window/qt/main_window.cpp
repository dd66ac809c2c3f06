#include "window/qt/main_window.h"

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
#include "window/form/guide_text.h"

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
  const QByteArray source = file.readAll();
  return QString::fromStdString(
      GuideEdition(std::string_view(source.constData(), source.size()), GuideSystem::Linux));
}

void FitOnScreen(QWidget& window, const QWidget* over) {
  QScreen* screen = over != nullptr ? over->screen() : nullptr;
  if (screen == nullptr) screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) return;
  const QRect area = screen->availableGeometry();
  // The window's own frame is known only once it is shown; one like the
  // owner's is the best guess.
  QMargins frame;
  if (over != nullptr) {
    const QRect framed = over->frameGeometry(), client = over->geometry();
    frame = QMargins(client.left() - framed.left(), client.top() - framed.top(),
                     framed.right() - client.right(), framed.bottom() - client.bottom());
  }
  const QSize room = area.marginsRemoved(frame).size().expandedTo(QSize(1, 1));
  // A layout asking for more than the screen holds gives way: a dialog the
  // user cannot reach the buttons of is worse than a tight one.
  window.setMinimumSize(window.minimumSizeHint().boundedTo(room).expandedTo(QSize(0, 0)));
  window.resize(window.size().boundedTo(room));
  if (over == nullptr) return;
  const QSize outer = window.size().grownBy(frame);
  const QPoint centre = over->frameGeometry().center();
  const int left = std::clamp(centre.x() - outer.width() / 2, area.left(),
                              std::max(area.left(), area.right() + 1 - outer.width()));
  const int top = std::clamp(centre.y() - outer.height() / 2, area.top(),
                             std::max(area.top(), area.bottom() + 1 - outer.height()));
  window.move(left, top);  // a top-level window is placed by its frame's corner
}

QString DroppedOutputName(const QMimeData* mime) {
  if (mime == nullptr || !mime->hasUrls()) return {};
  const QList<QUrl> urls = mime->urls();
  // One output name: several files say nothing about which one is meant.
  if (urls.size() != 1 || !urls.front().isLocalFile()) return {};
  return urls.front().toLocalFile();
}

// ---------------------------------------------------------------------------

GuideViewer::GuideViewer() = default;

GuideViewer::~GuideViewer() {
  delete dialog_.data();
}

QDialog* GuideViewer::dialog() const {
  return dialog_;
}

// The guide is built into the program and shown in a viewer of its own, as
// many desktops have no program for the installed Notes.rtf.
void GuideViewer::Show(const QWidget* over) {
  if (dialog_ == nullptr) {
    // No parent: a main window goes with each request, the guide stays.
    dialog_ = new QDialog(nullptr, Qt::Window);
    dialog_->setObjectName("guide");
    dialog_->setWindowTitle(QObject::tr("Marklode User Guide"));
    auto* text = new QTextBrowser(dialog_);
    text->setObjectName("guideText");
    text->setOpenExternalLinks(true);
    text->setMarkdown(UserGuideText());
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, dialog_);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog_.data(), &QDialog::close);
    auto* layout = new QVBoxLayout(dialog_);
    layout->addWidget(text);
    layout->addWidget(buttons);
    // Room for a line of some 70 characters and a good part of a page, as
    // far as the screen has it.
    const QFontMetrics fm(text->font());
    dialog_->resize(fm.averageCharWidth() * 80, fm.lineSpacing() * 30);
    FitOnScreen(*dialog_, over);
  }
  dialog_->show();
  dialog_->raise();
  dialog_->activateWindow();
}

// ---------------------------------------------------------------------------

QtMainWindow::QtMainWindow(WindowState& ctx, const WindowServices& services, GuideViewer* guide)
    : QMainWindow(nullptr),
      form_(
          std::make_unique<GetCommandForm>(ctx, services.chooser, static_cast<FormView&>(*this))) {
  guide_ = guide;
  setObjectName("QtMainWindow");
  setWindowTitle(Q(kAppTitle));
  BuildMenus();
  BuildControls();
  LoadForm();
}

QtMainWindow::~QtMainWindow() = default;

void QtMainWindow::BuildMenus() {
  fileMenu = menuBar()->addMenu(tr("&File"));
  fileMenu->setObjectName("FileMenu");
  createProfileItem = fileMenu->addAction(tr("Create &Profile"));
  createProfileItem->setObjectName("CreateProfile");
  exitItem = fileMenu->addAction(tr("E&xit"));
  exitItem->setObjectName("Exit");

  optionsMenu = menuBar()->addMenu(tr("&Options"));
  optionsMenu->setObjectName("OptionsMenu");
  keepLineBreaksItem = optionsMenu->addAction(tr("Keep Comment Line Breaks"));
  keepLineBreaksItem->setObjectName("KeepCommentLineBreaks");
  keepLineBreaksItem->setCheckable(true);

  helpMenu = menuBar()->addMenu(tr("&Help"));
  helpMenu->setObjectName("HelpMenu");
  notesItem = helpMenu->addAction(tr("&Notes..."));
  notesItem->setObjectName("Notes");
  termsItem = helpMenu->addAction(tr("&Terms of Use..."));
  termsItem->setObjectName("Terms");
  aboutItem = helpMenu->addAction(tr("&About..."));
  aboutItem->setObjectName("About");

  connect(fileMenu, &QMenu::aboutToShow, this, &QtMainWindow::OnFileMenu);
  connect(createProfileItem, &QAction::triggered, this, &QtMainWindow::OnCreateProfile);
  connect(exitItem, &QAction::triggered, this, &QtMainWindow::OnExit);
  connect(keepLineBreaksItem, &QAction::triggered, this, &QtMainWindow::OnKeepLineBreaks);
  connect(notesItem, &QAction::triggered, this, &QtMainWindow::OnNotes);
  connect(termsItem, &QAction::triggered, this, &QtMainWindow::OnTerms);
  connect(aboutItem, &QAction::triggered, this, &QtMainWindow::OnAbout);
}

void QtMainWindow::BuildControls() {
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
  separatorDark = line("SeparatorDark", QPalette::Dark);
  separatorLight = line("SeparatorLight", QPalette::Light);

  // Every control sits where the design puts it, in twips; the pixels follow
  // once the scale for the desktop's font is known.
  std::vector<QWidget*> placed;
  for (const ControlDesign& d : kControlDesign) {
    const QString caption = Q(d.caption);
    QWidget* w = nullptr;
    switch (d.id) {
      case Ctl::GpxToPoi:
        w = gpxToPoi = new QRadioButton(caption, client);
        break;
      case Ctl::PoiToGpx:
        w = poiToGpx = new QRadioButton(caption, client);
        break;
      case Ctl::OutputCaption:
        w = outputCaption = new QLabel(caption, client);
        break;
      case Ctl::InputCaption:
        w = inputCaption = new QLabel(caption, client);
        break;
      case Ctl::ProfileCaption:
        w = profileCaption = new QLabel(caption, client);
        break;
      case Ctl::InputField:
        w = inputField = new QLineEdit(client);
        break;
      case Ctl::OutputField:
        w = outputField = new QLineEdit(client);
        break;
      case Ctl::ProfileField:
        w = profileField = new QLineEdit(client);
        break;
      case Ctl::BrowseOutput:
        w = browseOutput = new QPushButton(caption, client);
        break;
      case Ctl::BrowseProfile:
        w = browseProfile = new QPushButton(caption, client);
        break;
      case Ctl::BrowseInput:
        w = browseInput = new QPushButton(caption, client);
        break;
      case Ctl::Convert:
        w = convertButton = new QPushButton(caption, client);
        break;
      case Ctl::Close:
        w = closeButton = new QPushButton(caption, client);
        break;
      case Ctl::UseProfile:
        w = useProfile = new QCheckBox(caption, client);
        break;
      case Ctl::CreateProfile:
      case Ctl::KeepCommentLineBreaks:
        continue;  // menu items, made with the menus
    }
    w->setObjectName(d.name);
    if (*d.tooltip != '\0') w->setToolTip(Q(d.tooltip));
    // Three buttons read "Browse...": a screen reader says which field each fills.
    if (d.id == Ctl::BrowseInput) w->setAccessibleName(tr("Browse for the input file"));
    if (d.id == Ctl::BrowseOutput) w->setAccessibleName(tr("Browse for the output file"));
    if (d.id == Ctl::BrowseProfile) w->setAccessibleName(tr("Browse for the profile file"));
    placed.push_back(w);
  }
  gpxToPoi->setChecked(true);

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
  const ClientLayout designed = PlaceControls(0);
  client->setFixedHeight(designed.height);
  client->setMinimumWidth(designed.minWidth);

  // Never shown: it only carries the colour of an editable field.
  editableModel = new QLineEdit(client);
  editableModel->setObjectName("EditableModel");
  editableModel->setGeometry(Px(1245), Px(3480), Px(780), Px(315));
  editableModel->hide();
  editableModel->setFocusPolicy(Qt::NoFocus);

  // Enter runs Convert and Esc runs Close (keyPressEvent); a focused button
  // takes Enter itself, as buttons do on the desktop. Qt buttons need no
  // correction for releases of other mouse buttons: they react to the left
  // button only.
  for (QPushButton* b : {browseOutput, browseProfile, browseInput, convertButton, closeButton})
    b->setAutoDefault(true);
  convertButton->setDefault(true);

  // The design lists the controls in tab order; labels take no focus.
  QWidget* previous = nullptr;
  for (std::size_t i = 0; i < placed.size(); ++i) {
    if (kControlDesign[i].kind == CtlKind::Label) continue;
    if (previous != nullptr) QWidget::setTabOrder(previous, placed[i]);
    previous = placed[i];
  }

  connect(gpxToPoi, &QRadioButton::toggled, this, [this](bool on) {
    if (on) form_->DirectionClicked();
  });
  connect(poiToGpx, &QRadioButton::toggled, this, [this](bool on) {
    if (on) form_->DirectionClicked();
  });
  connect(inputField, &QLineEdit::textChanged, this, [this] { form_->InputChanged(); });
  connect(useProfile, &QCheckBox::toggled, this, [this] { form_->UseProfileClicked(); });
  connect(convertButton, &QPushButton::clicked, this, &QtMainWindow::OnConvert);
  connect(browseInput, &QPushButton::clicked, this, &QtMainWindow::OnBrowseInput);
  connect(browseOutput, &QPushButton::clicked, this, &QtMainWindow::OnBrowseOutput);
  connect(browseProfile, &QPushButton::clicked, this, &QtMainWindow::OnBrowseProfile);
  connect(closeButton, &QPushButton::clicked, this, &QtMainWindow::OnClose);

  // A joined selection of many files is far longer than a line edit's usual
  // limit; every name must arrive whole.
  for (QLineEdit* field : {inputField, outputField, profileField}) field->setMaxLength(1 << 24);
  outputField->installEventFilter(this);
  inputField->installEventFilter(this);
  inputField->setAcceptDrops(true);
}

// ---------------------------------------------------------------------------
// Load, layout, unload

void QtMainWindow::LoadForm() {
  // The design as built above, before anything from the store changes it.
  designWidth_ = Px(kDesignClientWidth);
  designHeight_ = layout()->totalMinimumSize().height();
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
  LayOut();
  form_->Load();
}

namespace {
// The frame the last window of this run was given: a new window is kept on
// the screen with it until the window manager has framed that one too.
FrameExtents lastFrame;
}  // namespace

// Whatever the store says, the window comes up whole and usable on the screen
// it lands on: a position saved on a larger monitor, or near its right or
// bottom edge, is pulled in, and a width larger than the screen is cut to it.
void QtMainWindow::KeepOnScreen() {
  // Qt places a window by its frame's corner (pos()); the frame's size is
  // known only once the window manager has framed the window.
  const QRect framed = frameGeometry(), client = geometry();
  FrameExtents frame = lastFrame;
  if (framed != client) {
    frame = {client.left() - framed.left(), client.top() - framed.top(),
             framed.right() - client.right(), framed.bottom() - client.bottom()};
    lastFrame = frame;
  }
  QScreen* screen = QGuiApplication::screenAt(framed.center());
  if (screen == nullptr) screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) return;
  const QRect area = screen->availableGeometry();
  const PixelRect placed = marklode::KeepOnScreen(
      {area.x(), area.y(), area.width(), area.height()},
      {pos().x() + frame.left, pos().y() + frame.top, width(), height()}, frame, minimumWidth());
  if (placed.width != width()) resize(placed.width, height());
  if (!testAttribute(Qt::WA_Moved)) return;  // the platform places the window itself
  const QPoint corner(placed.left - frame.left, placed.top - frame.top);
  if (corner != pos()) move(corner);
}

void QtMainWindow::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (shownOnce_) return;
  shownOnce_ = true;
  QTimer::singleShot(0, this, &QtMainWindow::KeepOnScreen);
  // The frame may come after the first move (some window managers set it
  // later): until it is seen, the window looks for it a while.
  auto* wait = new QTimer(this);
  wait->setInterval(50);
  connect(wait, &QTimer::timeout, this, [this, wait, tries = 0]() mutable {
    if (!framed_ && frameGeometry() != geometry()) {
      framed_ = true;
      KeepOnScreen();
    }
    if (framed_ || ++tries >= 40) wait->deleteLater();
  });
  wait->start();
}

void QtMainWindow::moveEvent(QMoveEvent* event) {
  QMainWindow::moveEvent(event);
  // The window manager has put its frame around the window: check once more
  // with the frame's real size.
  if (shownOnce_ && !framed_ && frameGeometry() != geometry()) {
    framed_ = true;
    QTimer::singleShot(0, this, &QtMainWindow::KeepOnScreen);
  }
}

int QtMainWindow::Px(double twips) const {
  return ScaledPixels(twips, scale_);
}

ClientLayout QtMainWindow::PlaceControls(int clientWidth) {
  const ClientLayout layout = LayoutForWidth(clientWidth, scale_);
  auto rect = [](const PixelRect& r) { return QRect(r.left, r.top, r.width, r.height); };
  for (std::size_t i = 0; i < kControlDesign.size(); ++i)
    Widget(kControlDesign[i].id)->setGeometry(rect(layout.controls[i]));
  const PixelRect& line = layout.separator;
  separatorDark->setGeometry(line.left, line.top, line.width, 1);
  separatorLight->setGeometry(line.left, line.top + 1, line.width, 1);
  return layout;
}

void QtMainWindow::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  LayOut();
}

// Only the width can change; the form lays the client area out for it.
void QtMainWindow::LayOut() {
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
  PlaceControls(w);
  for (QLineEdit* field : {inputField, outputField, profileField}) field->setCursorPosition(0);
  for (Ctl field : {Ctl::InputField, Ctl::OutputField, Ctl::ProfileField})
    CaretToEnd(field);  // a long path shows its end
  if (normal) form_->StoreWidth(w * kTwipsPerPixel);
  laying_out_ = false;
}

void QtMainWindow::closeEvent(QCloseEvent* event) {
  // Maximised, the window stands at the screen's corner; the place it comes
  // back to is the one it had before, its frame's corner as for a normal one.
  QPoint corner = pos();
  if (windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen)) {
    const QRect normal = normalGeometry();
    if (normal.isValid()) corner = normal.topLeft() - QPoint(lastFrame.left, lastFrame.top);
  }
  form_->Unload(corner.x() * kTwipsPerPixel, corner.y() * kTwipsPerPixel);
  event->accept();
  emit closed();
}

void QtMainWindow::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
      convertButton->click();
      return;
    case Qt::Key_Escape:
      closeButton->click();
      return;
    default:
      QMainWindow::keyPressEvent(event);
  }
}

bool QtMainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == outputField) {
    const QEvent::Type type = event->type();
    auto* drop = type == QEvent::DragEnter || type == QEvent::DragMove || type == QEvent::Drop
                     ? static_cast<QDropEvent*>(event)
                     : nullptr;
    if (drop != nullptr && drop->mimeData() != nullptr && drop->mimeData()->hasUrls()) {
      // A dropped file names the output by its path, never by its address,
      // which no conversion could write to; other addresses are refused.
      const QString name = DroppedOutputName(drop->mimeData());
      if (name.isEmpty()) {
        drop->ignore();
        return true;
      }
      drop->acceptProposedAction();
      if (type == QEvent::Drop) {
        outputField->setText(name);
        CaretToEnd(Ctl::OutputField);
        form_->OutputFocusLost();  // a new name: a list's overwrite question comes again
      }
      return true;
    }
    if (event->type() == QEvent::FocusIn) {
      // After the click that brought the focus has placed its caret.
      QTimer::singleShot(0, outputField, &QLineEdit::selectAll);
    } else if (event->type() == QEvent::FocusOut) {
      // Leaving the field for another control, not for a message box or a
      // menu, is what asks the overwrite question again.
      const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
      if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
        form_->OutputFocusLost();
    }
  } else if (watched == inputField) {
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
bool QtMainWindow::DroppedFiles(const QEvent* event, std::vector<std::string>& files) const {
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

void QtMainWindow::OnConvert() {
  form_->Convert();
}

void QtMainWindow::OnClose() {
  form_->Cancel();
}

void QtMainWindow::OnExit() {
  form_->Exit();
}

void QtMainWindow::OnBrowseInput() {
  form_->ChooseInput();
}

void QtMainWindow::OnBrowseOutput() {
  form_->ChooseOutput();
}

void QtMainWindow::OnBrowseProfile() {
  form_->ChooseProfile();
}

void QtMainWindow::OnFileMenu() {
  form_->FileMenuOpening();
}

void QtMainWindow::OnCreateProfile() {
  form_->CreateProfile();
}

void QtMainWindow::OnKeepLineBreaks() {
  // The checkable item has already inverted its mark.
  form_->LineBreakToggled();
}

void QtMainWindow::OnNotes() {
  form_->Notes();
}

void QtMainWindow::OnTerms() {
  form_->Terms();
}

void QtMainWindow::OnAbout() {
  form_->About();
}

// ---------------------------------------------------------------------------
// What the form sees of the window

QWidget* QtMainWindow::Widget(Ctl id) const {
  switch (id) {
    case Ctl::GpxToPoi:
      return gpxToPoi;
    case Ctl::PoiToGpx:
      return poiToGpx;
    case Ctl::OutputCaption:
      return outputCaption;
    case Ctl::InputCaption:
      return inputCaption;
    case Ctl::ProfileCaption:
      return profileCaption;
    case Ctl::InputField:
      return inputField;
    case Ctl::OutputField:
      return outputField;
    case Ctl::ProfileField:
      return profileField;
    case Ctl::BrowseOutput:
      return browseOutput;
    case Ctl::BrowseProfile:
      return browseProfile;
    case Ctl::BrowseInput:
      return browseInput;
    case Ctl::Convert:
      return convertButton;
    case Ctl::Close:
      return closeButton;
    case Ctl::UseProfile:
      return useProfile;
    case Ctl::CreateProfile:
    case Ctl::KeepCommentLineBreaks:
      break;
  }
  return nullptr;
}

QLineEdit* QtMainWindow::Field(Ctl id) const {
  return qobject_cast<QLineEdit*>(Widget(id));
}

std::string QtMainWindow::Text(Ctl field) const {
  return Field(field)->text().toStdString();
}

void QtMainWindow::SetText(Ctl field, const std::string& text) {
  Field(field)->setText(Q(text));
}

bool QtMainWindow::Checked(Ctl control) const {
  switch (control) {
    case Ctl::GpxToPoi:
      return gpxToPoi->isChecked();
    case Ctl::PoiToGpx:
      return poiToGpx->isChecked();
    case Ctl::UseProfile:
      return useProfile->isChecked();
    case Ctl::KeepCommentLineBreaks:
      return keepLineBreaksItem->isChecked();
    default:
      return false;
  }
}

void QtMainWindow::SetChecked(Ctl control, bool on) {
  switch (control) {
    case Ctl::GpxToPoi:
      gpxToPoi->setChecked(on);
      break;
    case Ctl::PoiToGpx:
      poiToGpx->setChecked(on);
      break;
    case Ctl::UseProfile:
      useProfile->setChecked(on);
      break;
    case Ctl::KeepCommentLineBreaks:
      keepLineBreaksItem->setChecked(on);
      break;
    default:
      break;
  }
}

bool QtMainWindow::Enabled(Ctl control) const {
  if (control == Ctl::CreateProfile) return createProfileItem->isEnabled();
  if (control == Ctl::KeepCommentLineBreaks) return keepLineBreaksItem->isEnabled();
  return Widget(control)->isEnabled();
}

void QtMainWindow::SetEnabled(Ctl control, bool on) {
  if (control == Ctl::CreateProfile)
    createProfileItem->setEnabled(on);
  else if (control == Ctl::KeepCommentLineBreaks)
    keepLineBreaksItem->setEnabled(on);
  else
    Widget(control)->setEnabled(on);
}

void QtMainWindow::SetLook(Ctl field, FieldLook look) {
  // The window's colour, or that of an editable field, in every colour
  // group (disabled too).
  const QColor colour = look == FieldLook::Window
                            ? palette().color(QPalette::Window)
                            : editableModel->palette().color(QPalette::Active, QPalette::Base);
  QLineEdit* edit = Field(field);
  QPalette p = edit->palette();
  p.setColor(QPalette::Base, colour);
  edit->setPalette(p);
}

void QtMainWindow::CaretToEnd(Ctl field) {
  QLineEdit* edit = Field(field);
  edit->setCursorPosition(int(edit->text().size()));
}

void QtMainWindow::Close() {
  close();
}

GuideViewer& QtMainWindow::guide() {
  if (guide_ == nullptr) {
    ownGuide_ = std::make_unique<GuideViewer>();
    guide_ = ownGuide_.get();
  }
  return *guide_;
}

void QtMainWindow::ShowGuide() {
  guide().Show(this);
}

}  // namespace marklode
