#include "window/qt/front_end.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QLocale>
#include <QProgressDialog>
#include <QPushButton>

#include "services/platform.h"
#include "services/strings.h"
#include "window/qt/main_window.h"

namespace marklode {

namespace {
QString Q(std::string_view text) {
  return QString::fromUtf8(text.data(), qsizetype(text.size()));
}
}  // namespace

MessageBoxLook LookOfKind(MessageKind kind) {
  MessageBoxLook look;
  switch (kind) {
    case MessageKind::Plain:
      break;
    case MessageKind::Error:
      look.icon = QMessageBox::Critical;
      break;
    case MessageKind::Warning:
      look.icon = QMessageBox::Warning;
      break;
    case MessageKind::Information:
      look.icon = QMessageBox::Information;
      break;
    case MessageKind::Question:
      look.icon = QMessageBox::Question;
      look.buttons = QMessageBox::Ok | QMessageBox::Cancel;
      look.defaultButton = QMessageBox::Cancel;
      break;
  }
  return look;
}

QString MessageBoxText(std::string_view text) {
  QString s = Q(text);
  s.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  return s;
}

int QtMessageSink::Present(std::string_view text, MessageKind kind, std::string_view title) {
  return PresentWithDetails(text, {}, kind, title);
}

int QtMessageSink::PresentWithDetails(std::string_view text, std::string_view details,
                                      MessageKind kind, std::string_view title) {
  if (beforeShow) beforeShow();
  const MessageBoxLook look = LookOfKind(kind);
  // Over the main window when it is open, so the box shows where the user
  // looks; between requests over the one just left, even when the desktop
  // has handed the focus to the guide, which stays open.
  QWidget* parent = QApplication::activeModalWidget();
  if (parent == nullptr) parent = qobject_cast<QtMainWindow*>(QApplication::activeWindow());
  if (parent == nullptr && owner) parent = owner();
  if (parent == nullptr) parent = QApplication::activeWindow();
  QMessageBox box(look.icon, Q(title.empty() ? kAppTitle : title), MessageBoxText(text),
                  look.buttons, parent);
  box.setTextFormat(Qt::PlainText);
  if (!details.empty()) box.setDetailedText(MessageBoxText(details));
  box.setDefaultButton(look.defaultButton);
  box.setEscapeButton(look.buttons.testFlag(QMessageBox::Cancel) ? QMessageBox::Cancel
                                                                 : QMessageBox::Ok);
  return box.exec() == QMessageBox::Cancel ? kButtonCancel : kButtonOk;
}

FileDialogResult QtFileChooser::Choose(const FileDialogRequest& request) {
  QFileDialog dialog(QApplication::activeWindow());
  if (!request.title.empty()) dialog.setWindowTitle(Q(request.title));
  dialog.setAcceptMode(request.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  if (request.save)
    dialog.setFileMode(QFileDialog::AnyFile);
  else if (request.options & kDlgAllowMultiSelect)
    dialog.setFileMode(QFileDialog::ExistingFiles);
  else
    dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setOption(QFileDialog::DontConfirmOverwrite, !(request.options & kDlgOverwritePrompt));
  dialog.setOption(QFileDialog::ReadOnly, false);

  QStringList filters;
  for (const std::string& f : QtNameFilters(request.filter)) filters << Q(f);
  dialog.setNameFilters(filters);
  if (!filters.isEmpty()) dialog.selectNameFilter(filters.front());

  // A preset holding a folder decides where the dialog opens; otherwise the
  // initial folder does when it exists, else the current directory.
  const std::string_view presetFolder = DirectoryPart(request.presetName);
  const std::string_view presetName = FileNamePart(request.presetName);
  QString folder = Q(presetFolder);
  if (folder.isEmpty() && QFileInfo(Q(request.initialFolder)).isDir())
    folder = Q(request.initialFolder);
  if (folder.isEmpty() || !QFileInfo(folder).isDir()) folder = QDir::currentPath();
  dialog.setDirectory(folder);
  // A pattern in the name box is the filter's job in Qt's dialog.
  if (!presetName.empty() && !HasWildcards(presetName)) dialog.selectFile(Q(presetName));

  // Qt's own dialog asks for much room at a large scale; a small screen
  // still shows all of it.
  dialog.adjustSize();
  FitOnScreen(dialog, dialog.parentWidget());

  FileDialogResult result;
  if (dialog.exec() != QDialog::Accepted) return result;
  for (const QString& f : dialog.selectedFiles()) result.files.push_back(f.toStdString());
  result.cancelled = result.files.empty();
  return result;
}

// ---------------------------------------------------------------------------

QtProgressSink::QtProgressSink(std::chrono::milliseconds delay, Clock clock)
    : policy_(delay, std::move(clock)) {}

QtProgressSink::~QtProgressSink() {
  delete dialog_.data();
}

void QtProgressSink::Reading(std::string_view input, int item, int items) {
  policy_.Reading(input, item, items);
}

void QtProgressSink::BeginRun() {
  policy_.BeginRun();
  // The dialog is reused: its own Cancel flag would otherwise cancel every
  // later run at its first report.
  if (dialog_) dialog_->reset();
}

void QtProgressSink::Finish() {
  if (dialog_) dialog_->hide();
}

bool QtProgressSink::Update(std::uint64_t bytesDone, std::uint64_t bytesTotal) {
  if (policy_.cancelled()) return false;
  if (!policy_.Due()) return true;
  if (!dialog_) {
    dialog_ = new QProgressDialog;
    dialog_->setWindowTitle(Q(kAppTitle));
    dialog_->setCancelButtonText(QObject::tr("Cancel"));
    dialog_->setRange(0, 1000);
    dialog_->setMinimumDuration(0);
    dialog_->setAutoClose(false);
    dialog_->setAutoReset(false);
  }
  const QLocale locale;
  const QString label = Q(policy_.Heading()) + QLatin1Char('\n') +
                        QObject::tr("%1 of %2 read")
                            .arg(locale.formattedDataSize(qint64(bytesDone)),
                                 locale.formattedDataSize(qint64(bytesTotal)));
  dialog_->setLabelText(label);
  if (!dialog_->isVisible()) {
    // Over the window the request came from, where the user looks, not
    // mid-screen; that window may have moved since the last request. Placed
    // before setValue(), which shows the dialog.
    dialog_->adjustSize();
    FitOnScreen(*dialog_, owner ? owner() : nullptr);
  }
  dialog_->setValue(ProgressPolicy::Permille(bytesDone, bytesTotal));
  if (!dialog_->isVisible()) dialog_->show();
  QApplication::processEvents();
  if (dialog_ && dialog_->wasCanceled()) {
    policy_.Cancel();
    dialog_->hide();
    return false;
  }
  return true;
}

// ---------------------------------------------------------------------------

QtWindowHost::QtWindowHost(WindowServices services, QtProgressSink* progress)
    : services_(std::move(services)), progress_(progress) {}

QtWindowHost::~QtWindowHost() = default;

QWidget* QtWindowHost::lastWindow() const {
  return window_.get();
}

void QtWindowHost::ShowMainWindowAndWait(WindowState& state) {
  if (progress_ != nullptr) progress_->Finish();
  window_.reset();  // each showing loads a fresh window
  window_ = std::make_unique<QtMainWindow>(state, services_, &guide_);
  QtMainWindow& window = *window_;
  QEventLoop loop;
  // Queued: a window closed before the loop runs still ends it.
  QObject::connect(&window, &QtMainWindow::closed, &loop, &QEventLoop::quit, Qt::QueuedConnection);
  window.show();
  // The window that comes back after a conversion takes the keyboard, so Esc
  // and the mnemonics work without a click first.
  window.raise();
  window.activateWindow();
  if (onShown) onShown(window);
  loop.exec();  // sleeps between events: no polling while the window is open
  if (progress_ != nullptr) progress_->BeginRun();
}

}  // namespace marklode
