// The window's helpers and its Qt surroundings: stored numbers, joined
// selections, preset names, dialog filters, message-box looks, the progress
// dialog, and whole cycles of the entry routine with a real window.
#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QtTest>
#include <cstring>

#include "engine/run_main.h"
#include "window/qt/application.h"
#include "window/qt/front_end.h"
#include "window/qt/main_window.h"
#include "window_fixture.h"

using namespace marklode;
using namespace marklode::testing;

using Clock = std::chrono::steady_clock;

class TestFrontEnd : public QObject {
  Q_OBJECT

 private slots:
  void nameFilters_data();
  void nameFilters();
  void messageBoxLook_data();
  void messageBoxLook();
  void messageBoxAnswers_data();
  void messageBoxAnswers();
  void qtFileDialogFollowsRequest_data();
  void qtFileDialogFollowsRequest();
  void progressStaysHiddenForShortRuns();
  void progressCancelStopsTheRun();
  void progressNamesFileOfList_data();
  void progressNamesFileOfList();
  void boxWithoutActiveWindowOpensOverLastWindow();
  void boxBetweenRequestsIgnoresTheGuide();
  void resultBoxShowsTheReportAsDetails();
  void windowCycleConvertsAndComesBack();
  void windowCycleCancelTellsWhatChanged_data();
  void windowCycleCancelTellsWhatChanged();
  void windowCycleRunsAfterCancelComplete();
  void windowCycleStopComesBackToWindow();
  void windowCycleListFromChooser();
  void windowCycleProfileFromCreateProfile();
  void windowCycleFailedOutputWarnsOnce();
  void fileDialogFitsTheScreen_data();
  void fileDialogFitsTheScreen();
  void progressOpensOverTheWindow_data();
  void progressOpensOverTheWindow();
  void windowCycleKeepsGuideOpen();
};

void TestFrontEnd::nameFilters_data() {
  QTest::addColumn<QString>("filter");
  QTest::addColumn<QStringList>("qt");
  QTest::newRow("GPX") << "GPX Files (*.GPX)|*.GPX|All Files (*.*)|*.*"
                       << QStringList{"GPX Files (*.GPX *.gpx)", "All Files (*)"};
  QTest::newRow("new profile") << "ZVP Files (*.ZVP)|*.ZVP"
                               << QStringList{"ZVP Files (*.ZVP *.zvp)"};
  QTest::newRow("several patterns")
      << "Lists|*.csv;*.Txt" << QStringList{"Lists (*.csv *.CSV *.Txt *.TXT *.txt)"};
}

void TestFrontEnd::nameFilters() {
  QFETCH(QString, filter);
  QFETCH(QStringList, qt);
  QStringList got;
  for (const std::string& f : QtNameFilters(filter.toStdString())) got << QString::fromStdString(f);
  QCOMPARE(got, qt);
}

// Each kind keeps the look its box has on Windows.
void TestFrontEnd::messageBoxLook_data() {
  QTest::addColumn<MessageKind>("kind");
  QTest::addColumn<int>("icon");
  QTest::addColumn<bool>("cancel");
  QTest::addColumn<int>("defaultButton");
  QTest::newRow("plain") << MessageKind::Plain << int(QMessageBox::NoIcon) << false
                         << int(QMessageBox::Ok);
  QTest::newRow("error") << MessageKind::Error << int(QMessageBox::Critical) << false
                         << int(QMessageBox::Ok);
  QTest::newRow("warning") << MessageKind::Warning << int(QMessageBox::Warning) << false
                           << int(QMessageBox::Ok);
  QTest::newRow("information") << MessageKind::Information << int(QMessageBox::Information) << false
                               << int(QMessageBox::Ok);
  QTest::newRow("question") << MessageKind::Question << int(QMessageBox::Question) << true
                            << int(QMessageBox::Cancel);
}

void TestFrontEnd::messageBoxLook() {
  QFETCH(MessageKind, kind);
  QFETCH(int, icon);
  QFETCH(bool, cancel);
  QFETCH(int, defaultButton);
  const MessageBoxLook look = LookOfKind(kind);
  QCOMPARE(int(look.icon), icon);
  QVERIFY(look.buttons.testFlag(QMessageBox::Ok));
  QCOMPARE(look.buttons.testFlag(QMessageBox::Cancel), cancel);
  QCOMPARE(int(look.defaultButton), defaultButton);
}

// The real box, answered by pressing keys once it is up.
void TestFrontEnd::messageBoxAnswers_data() {
  QTest::addColumn<MessageKind>("kind");
  QTest::addColumn<int>("key");
  QTest::addColumn<int>("answer");
  QTest::newRow("Enter on a notice") << MessageKind::Plain << int(Qt::Key_Return) << kButtonOk;
  QTest::newRow("Enter on the question takes Cancel")
      << MessageKind::Question << int(Qt::Key_Return) << kButtonCancel;
  QTest::newRow("Esc on the question")
      << MessageKind::Question << int(Qt::Key_Escape) << kButtonCancel;
  QTest::newRow("Esc on a notice") << MessageKind::Information << int(Qt::Key_Escape) << kButtonOk;
}

void TestFrontEnd::messageBoxAnswers() {
  QFETCH(MessageKind, kind);
  QFETCH(int, key);
  QFETCH(int, answer);
  QtMessageSink sink;
  QString shownText, shownTitle;
  QTimer::singleShot(0, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    QVERIFY(box != nullptr);
    shownText = box->text();
    shownTitle = box->windowTitle();
    QTest::keyClick(box, Qt::Key(key));
  });
  QCOMPARE(sink.Show("one\r\ntwo", kind), answer);
  QCOMPARE(shownText, QString("one\ntwo"));
  QCOMPARE(shownTitle, QString("Marklode"));
}

// Qt's own dialog, driven through its name box: the request's folder, filters
// and mode arrive, and the chosen names come back as full paths.
void TestFrontEnd::qtFileDialogFollowsRequest_data() {
  QTest::addColumn<bool>("save");
  QTest::addColumn<uint>("options");
  QTest::addColumn<QString>("preset");
  QTest::addColumn<QString>("typed");
  QTest::addColumn<QStringList>("chosen");
  QTest::addColumn<int>("mode");
  QTest::newRow("open several") << false << 0x281204u << "*.GPX"
                                << "\"a.gpx\" \"b.GPX\"" << QStringList{"a.gpx", "b.GPX"}
                                << int(QFileDialog::ExistingFiles);
  QTest::newRow("open one, preset with folder")
      << false << 0x281004u << "@/b.GPX"
      << "" << QStringList{"b.GPX"} << int(QFileDialog::ExistingFile);
  QTest::newRow("save a new name")
      << true << 0x200806u << ""
      << "new.csv" << QStringList{"new.csv"} << int(QFileDialog::AnyFile);
}

void TestFrontEnd::qtFileDialogFollowsRequest() {
  QFETCH(bool, save);
  QFETCH(uint, options);
  QFETCH(QString, preset);
  QFETCH(QString, typed);
  QFETCH(QStringList, chosen);
  QFETCH(int, mode);
  ScratchDir dir;
  const QString folder = QString::fromStdString(dir.path());
  WriteFile(dir / "a.gpx", "x");
  WriteFile(dir / "b.GPX", "x");
  ChangeDirectory("/");
  FileDialogRequest request;
  request.save = save;
  request.title = "Pick";
  request.filter = "GPX Files (*.GPX)|*.GPX|All Files (*.*)|*.*";
  request.initialFolder = dir.path();
  request.presetName = QString(preset).replace("@", folder).toStdString();
  request.options = options;

  QString seenFolder, seenFilter, seenTitle;
  int seenMode = -1;
  QTimer::singleShot(0, [&] {
    auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    QVERIFY(dialog != nullptr);
    seenFolder = dialog->directory().absolutePath();
    seenFilter = dialog->selectedNameFilter();
    seenTitle = dialog->windowTitle();
    seenMode = int(dialog->fileMode());
    if (!typed.isEmpty()) dialog->findChild<QLineEdit*>("fileNameEdit")->setText(typed);
    static_cast<QDialog*>(dialog)->accept();  // as the Open or Save button does
  });
  const FileDialogResult result = QtFileChooser().Choose(request);

  QCOMPARE(seenFolder, folder);
  QCOMPARE(seenFilter, QString("GPX Files (*.GPX *.gpx)"));
  QCOMPARE(seenTitle, QString("Pick"));
  QCOMPARE(seenMode, mode);
  QVERIFY(!result.cancelled);
  QStringList files;
  for (const std::string& f : result.files) files << QString::fromStdString(f);
  for (QString& c : chosen) c = folder + "/" + c;
  QCOMPARE(files, chosen);
}

void TestFrontEnd::progressStaysHiddenForShortRuns() {
  Clock::time_point now{};
  QtProgressSink progress(std::chrono::milliseconds(500), [&now] { return now; });
  progress.BeginRun();
  for (int i = 0; i <= 10; ++i) {
    now += std::chrono::milliseconds(40);
    QVERIFY(progress.Update(std::uint64_t(i) * 100, 1000));
  }
  QVERIFY(progress.dialog() == nullptr);
}

void TestFrontEnd::progressCancelStopsTheRun() {
  Clock::time_point now{};
  QtProgressSink progress(std::chrono::milliseconds(500), [&now] { return now; });
  progress.BeginRun();
  QVERIFY(progress.Update(0, 4000));
  now += std::chrono::milliseconds(600);
  QVERIFY(progress.Update(1000, 4000));
  QVERIFY(progress.dialog() != nullptr);
  QVERIFY(progress.dialog()->isVisible());
  QCOMPARE(progress.dialog()->value(), 250);
  QVERIFY(progress.dialog()->labelText().contains("of"));

  progress.dialog()->cancel();
  now += std::chrono::milliseconds(100);
  QVERIFY(!progress.Update(2000, 4000));
  QVERIFY(progress.cancelled());
  QVERIFY(!progress.Update(3000, 4000));  // stays cancelled for the rest of the run

  progress.BeginRun();  // the next request starts afresh
  QVERIFY(progress.Update(0, 10));
}

namespace {
// Shows a result box through sink, answers it with Enter, and gives the
// widget it opened over.
QWidget* ParentOfResultBox(QtMessageSink& sink) {
  QWidget* parentSeen = nullptr;
  QTimer::singleShot(0, [&parentSeen] {
    QWidget* box = QApplication::activeModalWidget();
    if (box == nullptr) return;
    parentSeen = box->parentWidget();
    QTest::keyClick(box, Qt::Key_Return);
  });
  if (sink.Show("3 entries converted.", MessageKind::Plain) != kButtonOk) return nullptr;
  return parentSeen;
}
}  // namespace

// Between requests no window is active; the result box still belongs to the
// window the user just left and opens over it.
void TestFrontEnd::boxWithoutActiveWindowOpensOverLastWindow() {
  QWidget last;
  last.setGeometry(40, 50, 300, 200);
  QtMessageSink sink;
  sink.owner = [&last] { return &last; };
  QCOMPARE(ParentOfResultBox(sink), &last);
}

// The guide stays open between requests and may hold the focus then: the
// result box still opens over the window the user left, not over the guide.
void TestFrontEnd::boxBetweenRequestsIgnoresTheGuide() {
  QWidget last;
  last.setGeometry(40, 50, 300, 200);
  GuideViewer guide;
  guide.Show(&last);
  QVERIFY(QTest::qWaitForWindowActive(guide.dialog()));
  QtMessageSink sink;
  sink.owner = [&last] { return &last; };
  QCOMPARE(ParentOfResultBox(sink), &last);
}

// The result box keeps its words; the report is the toolkit's detailed text,
// behind its Show Details... button. A box without details has none.
void TestFrontEnd::resultBoxShowsTheReportAsDetails() {
  QtMessageSink sink;
  QString text, details = QStringLiteral("unset");
  QTimer::singleShot(0, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr) return;
    text = box->text();
    details = box->detailedText();
    QTest::keyClick(box, Qt::Key_Return);
  });
  const std::string report = "trip.gpx: 4 read, 2 written\ntrip.gpx: 1 skipped, no name\n";
  QCOMPARE(sink.ShowWithDetails("2 entries converted.", report, MessageKind::Plain), kButtonOk);
  QCOMPARE(text, QStringLiteral("2 entries converted."));
  QCOMPARE(details, QString::fromStdString(report));

  QTimer::singleShot(0, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr) return;
    details = box->detailedText();
    QTest::keyClick(box, Qt::Key_Return);
  });
  sink.Show("2 entries converted.", MessageKind::Plain);
  QCOMPARE(details, QString());
}

namespace {

std::string Gpx(int points) {
  std::string gpx =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<gpx version=\"1.1\" creator=\"test\" xmlns=\"http://www.topografix.com/GPX/1/1\">\n";
  for (int i = 0; i < points; ++i) {
    gpx += "  <wpt lat=\"52." + std::to_string(i) + "\" lon=\"4." + std::to_string(i) +
           "\">\n    <name>Point " + std::to_string(i) + "</name>\n    <cmt>Comment " +
           std::to_string(i) + "</cmt>\n  </wpt>\n";
  }
  return gpx + "</gpx>\n";
}

int CountRecords(const std::string& csv) {
  int n = 0;
  for (std::size_t at = csv.find("\"Point "); at != std::string::npos;
       at = csv.find("\"Point ", at + 1))
    ++n;
  return n;
}

// Writes each "name:points" GPX file in the folder.
void WriteGpxFiles(const ScratchDir& dir, const QStringList& files) {
  for (const QString& file : files) {
    const std::string name = file.section(':', 0, 0).toStdString();
    const std::string folder(DirectoryPart(name));
    if (!folder.empty()) QDir().mkpath(QString::fromStdString(dir / folder));
    WriteFile(dir / name, Gpx(file.section(':', 1).toInt()));
  }
}

// Runs the entry routine with a real window; each shown window gets the next
// step, queued so that it runs inside the window's event loop. A window
// beyond the steps is closed, and the count of windows shown is returned.
int RunWindowCycles(WindowFixture& f, std::vector<std::function<void(QtMainWindow&)>> steps,
                    ExitStatus& status) {
  QtProgressSink progress;
  QtWindowHost host(WindowServices{f.chooser}, &progress);
  int shown = 0;
  host.onShown = [&](QtMainWindow& w) {
    const std::size_t step = std::size_t(shown++);
    if (step < steps.size())
      QTimer::singleShot(0, &w, [&w, &steps, step] { steps[step](w); });
    else
      QTimer::singleShot(0, w.closeButton, &QPushButton::click);
  };
  status = RunWindow(host, f.ctx, &progress);
  return shown;
}

}  // namespace

// Each item of a list is named as it is read, with its place among the
// items the batch converts: empty items are none, a folder may hold ";", and
// items too short to be shown still count.
void TestFrontEnd::progressNamesFileOfList_data() {
  QTest::addColumn<QStringList>("files");
  QTest::addColumn<QString>("input");
  QTest::addColumn<int>("delayMs");
  QTest::addColumn<QStringList>("labels");
  QTest::newRow("single file") << QStringList{"single.gpx:2"} << "single.gpx" << 0
                               << QStringList{"Converting single.gpx"};
  QTest::newRow("list") << QStringList{"a.gpx:2", "b.gpx:2", "c.gpx:2"} << "a.gpx;b.gpx;c.gpx" << 0
                        << QStringList{"Converting a.gpx, file 1 of 3",
                                       "Converting b.gpx, file 2 of 3",
                                       "Converting c.gpx, file 3 of 3"};
  QTest::newRow("empty items") << QStringList{"a.gpx:2", "b.gpx:2"} << "a.gpx;;b.gpx;" << 0
                               << QStringList{"Converting a.gpx, file 1 of 2",
                                              "Converting b.gpx, file 2 of 2"};
  QTest::newRow("folder holding ;")
      << QStringList{"x;y/a.gpx:2", "x;y/b.gpx:2"} << "x;y/a.gpx;b.gpx" << 0
      << QStringList{"Converting a.gpx, file 1 of 2", "Converting b.gpx, file 2 of 2"};
  QTest::newRow("short items unseen")
      << QStringList{"a.gpx:2", "b.gpx:2", "bigpoi.gpx:40000"} << "a.gpx;b.gpx;bigpoi.gpx" << 400
      << QStringList{"Converting bigpoi.gpx, file 3 of 3"};
}

void TestFrontEnd::progressNamesFileOfList() {
  QFETCH(QStringList, files);
  QFETCH(QString, input);
  QFETCH(int, delayMs);
  QFETCH(QStringList, labels);
  ScratchDir dir;
  WriteGpxFiles(dir, files);
  Clock::time_point now{};
  QtProgressSink progress(std::chrono::milliseconds(delayMs),
                          [&now] { return now += std::chrono::milliseconds(100); });
  MemorySettingsStore settings;
  RecordingMessageSink messages;
  RunServices services{messages, settings, &progress};
  Request request;
  request.input = dir / input.toStdString();
  request.output = dir / "out.csv";  // for a single file; a list names its own
  progress.BeginRun();
  QStringList seen;  // the first line of the label, each time it changed
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, [&] {
    if (progress.dialog() == nullptr || !progress.dialog()->isVisible()) return;
    const QString line = progress.dialog()->labelText().section('\n', 0, 0);
    if (seen.isEmpty() || seen.back() != line) seen << line;
  });
  watch.start(0);
  QCOMPARE(RunRequest(request, services).status, RunStatus::Done);
  progress.Finish();
  QCOMPARE(QString::fromStdString(messages.Joined()), QString());
  QCOMPARE(seen, labels);
}

// The whole round as a user sees it: the window comes up, the fields are
// filled in, Convert closes it, the entry routine converts and reports, and a
// fresh window comes back with the fields restored; Close ends the program.
void TestFrontEnd::windowCycleConvertsAndComesBack() {
  WindowFixture f;
  const std::string input = f.dir / "club tour.gpx";
  const std::string output = f.dir / "club tour.csv";
  WriteFile(input, Gpx(3));
  QtProgressSink progress;
  QtWindowHost host(WindowServices{f.chooser}, &progress);
  int shown = 0;
  std::vector<std::string> messagesSeenByWindow;
  host.onShown = [&](QtMainWindow& w) {
    ++shown;
    QVERIFY(w.isVisible());
    messagesSeenByWindow.push_back(f.LastMessage());
    if (shown == 1) {
      QTimer::singleShot(0, &w, [&w, input, output] {
        w.inputField->setText(QString::fromStdString(input));
        w.outputField->setText(QString::fromStdString(output));
        QTest::mouseClick(w.convertButton, Qt::LeftButton);
      });
    } else {
      QCOMPARE(w.inputField->text().toStdString(), input);
      QCOMPARE(w.outputField->text().toStdString(), output);
      QTimer::singleShot(0, w.closeButton, &QPushButton::click);
    }
  };

  const ExitStatus status = RunWindow(host, f.ctx, &progress);
  QCOMPARE(status, ExitStatus::Done);
  QCOMPARE(shown, 2);
  QCOMPARE(messagesSeenByWindow, (std::vector<std::string>{"", "3 entries converted."}));
  QCOMPARE(f.messages.boxes.size(), std::size_t(1));
  const std::string csv = ReadFile(output);
  QCOMPARE(CountRecords(csv), 3);
}

// A Cancel says what the request had changed: nothing for a single file or
// the first item of a list, else how many outputs of the list's earlier items
// were put in place; the outputs from the cancelled item on stay as they were.
void TestFrontEnd::windowCycleCancelTellsWhatChanged_data() {
  QTest::addColumn<QStringList>("files");
  QTest::addColumn<QString>("input");
  QTest::addColumn<QString>("output");  // for a single file
  QTest::addColumn<QString>("cancelOn");
  QTest::addColumn<QString>("message");
  QTest::addColumn<QStringList>("written");
  QTest::addColumn<QStringList>("kept");
  const QString nothing = "The conversion was cancelled; no file was changed.";
  QTest::newRow("single file") << QStringList{"big.gpx:20000"} << "big.gpx"
                               << "big.csv"
                               << "Converting big.gpx" << nothing << QStringList{}
                               << QStringList{"big.csv"};
  QTest::newRow("list, in file 1")
      << QStringList{"big.gpx:20000", "a.gpx:2"} << "big.gpx;a.gpx"
      << ""
      << "file 1 of 2" << nothing << QStringList{} << QStringList{"big.CSV", "a.CSV"};
  QTest::newRow("list, in file 2")
      << QStringList{"a.gpx:2", "big.gpx:20000"} << "a.gpx;big.gpx"
      << ""
      << "file 2 of 2"
      << "The conversion was cancelled after 1 output file was written; the others were left "
         "as they were."
      << QStringList{"a.CSV"} << QStringList{"big.CSV"};
  QTest::newRow("list, in file 3")
      << QStringList{"a.gpx:2", "b.gpx:2", "big.gpx:20000", "c.gpx:2"}
      << "a.gpx;b.gpx;big.gpx;c.gpx"
      << ""
      << "file 3 of 4"
      << "The conversion was cancelled after 2 output files were written; the others were left "
         "as they were."
      << QStringList{"a.CSV", "b.CSV"} << QStringList{"big.CSV", "c.CSV"};
}

void TestFrontEnd::windowCycleCancelTellsWhatChanged() {
  QFETCH(QStringList, files);
  QFETCH(QString, input);
  QFETCH(QString, output);
  QFETCH(QString, cancelOn);
  QFETCH(QString, message);
  QFETCH(QStringList, written);
  QFETCH(QStringList, kept);
  WindowFixture f;
  WriteGpxFiles(f.dir, files);
  for (const QStringList& outputs : {written, kept})
    for (const QString& name : outputs) WriteFile(f.dir / name.toStdString(), "old content\r\n");
  // Every report counts as long; Cancel is pressed once the label says so.
  Clock::time_point now{};
  QtProgressSink progress(std::chrono::milliseconds(0),
                          [&now] { return now += std::chrono::milliseconds(100); });
  QtWindowHost host(WindowServices{f.chooser}, &progress);
  int shown = 0;
  host.onShown = [&](QtMainWindow& w) {
    if (++shown == 1) {
      w.inputField->setText(QString::fromStdString(f.dir / input.toStdString()));
      if (!output.isEmpty())
        w.outputField->setText(QString::fromStdString(f.dir / output.toStdString()));
      QTimer::singleShot(0, w.convertButton, &QPushButton::click);
    } else {
      QTimer::singleShot(0, w.closeButton, &QPushButton::click);
    }
  };
  auto cancelWhenShown = std::make_unique<QTimer>();
  QObject::connect(cancelWhenShown.get(), &QTimer::timeout, [&progress, &cancelOn] {
    if (progress.dialog() != nullptr && progress.dialog()->isVisible() &&
        progress.dialog()->labelText().contains(cancelOn))
      progress.dialog()->cancel();
  });
  cancelWhenShown->start(0);

  RunWindow(host, f.ctx, &progress);
  QCOMPARE(shown, 2);
  // A list asks once before it overwrites.
  QCOMPARE(f.messages.boxes.size(), std::size_t(output.isEmpty() ? 2 : 1));
  QCOMPARE(QString::fromStdString(f.LastMessage()), message);
  for (const QString& name : written)
    QCOMPARE(CountRecords(ReadFile(f.dir / name.toStdString())), 2);
  for (const QString& name : kept)
    QCOMPARE(ReadFile(f.dir / name.toStdString()), std::string("old content\r\n"));
}

// A Cancel ends its own run only: later long runs of the session finish, and
// the progress dialog names the file.
void TestFrontEnd::windowCycleRunsAfterCancelComplete() {
  WindowFixture f;
  const std::string input = f.dir / "big.gpx";
  const std::string output = f.dir / "big.csv";
  WriteFile(input, Gpx(20000));
  Clock::time_point now{};
  QtProgressSink progress(std::chrono::milliseconds(0),
                          [&now] { return now += std::chrono::milliseconds(100); });
  QtWindowHost host(WindowServices{f.chooser}, &progress);
  int shown = 0;
  host.onShown = [&](QtMainWindow& w) {
    if (++shown <= 3) {
      w.inputField->setText(QString::fromStdString(input));
      w.outputField->setText(QString::fromStdString(output));
      QTimer::singleShot(0, w.convertButton, &QPushButton::click);
    } else {
      QTimer::singleShot(0, w.closeButton, &QPushButton::click);
    }
  };
  bool cancelOnce = true;
  QString label;
  auto cancelFirstRun = std::make_unique<QTimer>();
  QObject::connect(cancelFirstRun.get(), &QTimer::timeout, [&] {
    if (progress.dialog() == nullptr || !progress.dialog()->isVisible()) return;
    label = progress.dialog()->labelText();
    if (cancelOnce) progress.dialog()->cancel();
    cancelOnce = false;
  });
  cancelFirstRun->start(0);

  QCOMPARE(RunWindow(host, f.ctx, &progress), ExitStatus::Done);
  QCOMPARE(shown, 4);
  QCOMPARE(f.messages.boxes.size(), std::size_t(3));
  QCOMPARE(f.messages.boxes[0].text,
           std::string("The conversion was cancelled; no file was changed."));
  QCOMPARE(f.messages.boxes[1].text, std::string("20000 entries converted."));
  QCOMPARE(f.messages.boxes[2].text, std::string("20000 entries converted."));
  QCOMPARE(CountRecords(ReadFile(output)), 20000);
  QVERIFY(label.startsWith("Converting big.gpx\n"));
}

// A stop inside a request from the window ends that request, not the
// program: nothing is written, the window comes back and the next request runs.
void TestFrontEnd::windowCycleStopComesBackToWindow() {
  WindowFixture f;
  const std::string profile = f.dir / "trip.zvp";
  const std::string stoppedOutput = f.dir / "trip.gpx";
  const std::string input = f.dir / "next.gpx";
  const std::string output = f.dir / "next.csv";
  WriteFile(profile,
            "[Profile]\r\nInput=" + (f.dir / "gone.csv") + "\r\nOutput=" + stoppedOutput + "\r\n");
  WriteFile(input, Gpx(2));
  auto status = static_cast<ExitStatus>(-1);  // not yet run
  const int shown = RunWindowCycles(f,
                                    {[&](QtMainWindow& w) {
                                       if (!w.useProfile->isChecked()) w.useProfile->click();
                                       w.profileField->setText(QString::fromStdString(profile));
                                       w.convertButton->click();
                                     },
                                     [&](QtMainWindow& w) {
                                       QVERIFY(w.isVisible());
                                       w.useProfile->click();
                                       w.inputField->setText(QString::fromStdString(input));
                                       w.outputField->setText(QString::fromStdString(output));
                                       w.convertButton->click();
                                     }},
                                    status);
  QCOMPARE(shown, 3);
  QCOMPARE(status, ExitStatus::Stopped);  // a stop was shown during the session
  QCOMPARE(f.messages.boxes.size(), std::size_t(2));
  QCOMPARE(f.messages.boxes[0].title, std::string("Can't Find File"));
  QCOMPARE(f.messages.boxes[1].text, std::string("2 entries converted."));
  QVERIFY(!Exists(stoppedOutput));
  QCOMPARE(CountRecords(ReadFile(output)), 2);
}

// Several files chosen together run as a list, each into its own output.
void TestFrontEnd::windowCycleListFromChooser() {
  WindowFixture f;
  const std::string trips = f.dir / "trips";
  QDir().mkpath(QString::fromStdString(trips));
  WriteFile(trips + "/a.gpx", Gpx(2));
  WriteFile(trips + "/b.gpx", Gpx(3));
  f.chooser.Answer({trips + "/a.gpx", trips + "/b.gpx"});
  const std::string list = trips + "/a.gpx;b.gpx";
  auto status = static_cast<ExitStatus>(-1);  // not yet run
  const int shown = RunWindowCycles(f,
                                    {[](QtMainWindow& w) {
                                       w.browseInput->click();
                                       w.convertButton->click();
                                     },
                                     [&](QtMainWindow& w) {
                                       QCOMPARE(w.inputField->text().toStdString(), list);
                                       QVERIFY(!w.outputField->isEnabled());
                                       w.exitItem->trigger();
                                     }},
                                    status);
  QCOMPARE(shown, 2);
  QCOMPARE(status, ExitStatus::Done);
  QCOMPARE(f.messages.boxes.size(), std::size_t(2));
  QCOMPARE(f.messages.boxes[0].kind, MessageKind::Question);
  QCOMPARE(f.messages.boxes[1].text, std::string("2 Files processed.\r\n5 entries converted."));
  QCOMPARE(CountRecords(ReadFile(trips + "/a.CSV")), 2);
  QCOMPARE(CountRecords(ReadFile(trips + "/b.CSV")), 3);
}

// A profile written by Create Profile, then run in profile mode; the close
// box of the next window ends the program without running it again.
void TestFrontEnd::windowCycleProfileFromCreateProfile() {
  WindowFixture f;
  const std::string input = f.dir / "trip.gpx";
  const std::string output = f.dir / "trip-out.csv";
  const std::string profile = f.dir / "trip.ZVP";
  WriteFile(input, Gpx(4));
  f.chooser.Answer({profile});                // Create Profile's save dialog
  f.chooser.Answer({profile});                // the profile chooser
  auto status = static_cast<ExitStatus>(-1);  // not yet run
  const int shown = RunWindowCycles(f,
                                    {[&](QtMainWindow& w) {
                                       w.inputField->setText(QString::fromStdString(input));
                                       w.outputField->setText(QString::fromStdString(output));
                                       emit w.fileMenu->aboutToShow();
                                       QVERIFY(w.createProfileItem->isEnabled());
                                       w.createProfileItem->trigger();
                                       w.useProfile->click();
                                       w.browseProfile->click();
                                       QCOMPARE(w.profileField->text().toStdString(), profile);
                                       w.convertButton->click();
                                     },
                                     [&](QtMainWindow& w) {
                                       QVERIFY(w.useProfile->isChecked());
                                       QCOMPARE(w.profileField->text().toStdString(), profile);
                                       w.close();
                                     }},
                                    status);
  QCOMPARE(shown, 2);
  QCOMPARE(status, ExitStatus::Done);
  QCOMPARE(f.messages.boxes.size(), std::size_t(1));
  QCOMPARE(f.messages.boxes[0].text, std::string("4 entries converted."));
  QCOMPARE(CountRecords(ReadFile(output)), 4);
}

// An output that cannot be created loses every record sent to it, and the
// user hears of it once: one warning box, then the result box.
void TestFrontEnd::windowCycleFailedOutputWarnsOnce() {
  WindowFixture f;
  const std::string input = f.dir / "trip.gpx";
  const std::string output = f.dir / "missing/trip.csv";
  const std::string profile = f.dir / "trip.zvp";
  WriteFile(input, Gpx(40));
  WriteFile(profile, "[Profile]\r\nInput=" + input + "\r\nOutput=" + output + "\r\n");
  auto status = static_cast<ExitStatus>(-1);  // not yet run
  const int shown = RunWindowCycles(f, {[&](QtMainWindow& w) {
                                      if (!w.useProfile->isChecked()) w.useProfile->click();
                                      w.profileField->setText(QString::fromStdString(profile));
                                      w.convertButton->click();
                                    }},
                                    status);
  QCOMPARE(shown, 2);
  QCOMPARE(status, ExitStatus::Warned);
  QCOMPARE(f.messages.boxes.size(), std::size_t(2));
  QCOMPARE(f.messages.boxes[0].title, std::string("PutTextLine"));
  QCOMPARE(f.messages.boxes[0].text, "Path not found.  (" + output + ").");
  QCOMPARE(f.messages.boxes[1].text, std::string("0 entries converted."));
}

// At a large scale Qt's file dialog asks for more than a small screen holds:
// it is cut to the work area and lies whole on it, over its window.
void TestFrontEnd::fileDialogFitsTheScreen_data() {
  QTest::addColumn<int>("points");
  QTest::newRow("usual font") << 9;
  QTest::newRow("large font") << 26;
  QTest::newRow("font too large for the screen") << 40;
}

void TestFrontEnd::fileDialogFitsTheScreen() {
  QFETCH(int, points);
  AppFontSize fontSize(points);
  QWidget owner;
  owner.setGeometry(100, 100, 300, 100);
  owner.show();
  owner.activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(&owner));
  FileDialogRequest request;
  request.title = "Pick";
  request.filter = "GPX Files (*.gpx)|*.gpx|All Files (*.*)|*.*";
  QRect seen;
  QTimer::singleShot(0, [&seen] {
    QWidget* dialog = QApplication::activeModalWidget();
    if (dialog == nullptr) return;
    seen = dialog->frameGeometry();
    static_cast<QDialog*>(dialog)->reject();
  });
  const FileDialogResult result = QtFileChooser().Choose(request);
  fontSize.Restore();
  QVERIFY(result.cancelled);
  const QRect area = owner.screen()->availableGeometry();
  QVERIFY(seen.isValid());
  QVERIFY2(
      area.contains(seen),
      qPrintable(
          QString("%1,%2 %3x%4").arg(seen.x()).arg(seen.y()).arg(seen.width()).arg(seen.height())));
}

// The progress dialog opens over the window the request came from, and stays
// whole on the screen where that window stands near an edge.
void TestFrontEnd::progressOpensOverTheWindow_data() {
  QTest::addColumn<QRect>("window");
  QTest::addColumn<bool>("centred");
  QTest::newRow("mid-screen") << QRect(120, 200, 420, 140) << true;
  QTest::newRow("near the corner") << QRect(0, 0, 420, 20) << false;
}

void TestFrontEnd::progressOpensOverTheWindow() {
  QFETCH(QRect, window);
  QFETCH(bool, centred);
  QWidget owner;
  owner.setGeometry(window);
  Clock::time_point now{};
  QtProgressSink progress(std::chrono::milliseconds(0), [&now] { return now; });
  progress.owner = [&owner] { return &owner; };
  progress.BeginRun();
  QVERIFY(progress.Update(10, 100));
  QProgressDialog* dialog = progress.dialog();
  QVERIFY(dialog != nullptr && dialog->isVisible());
  const QRect shown = dialog->frameGeometry();
  QVERIFY(owner.screen()->availableGeometry().contains(shown));
  QCOMPARE(qAbs(shown.center().x() - window.center().x()) <= 1, true);
  QCOMPARE(qAbs(shown.center().y() - window.center().y()) <= 1, centred);
  progress.Finish();
}

// The guide opened from one window stays open while the request runs and
// when the next window comes up: the same viewer, still showing.
void TestFrontEnd::windowCycleKeepsGuideOpen() {
  WindowFixture f;
  const std::string input = f.dir / "trip.gpx";
  WriteFile(input, Gpx(2));
  QPointer<QDialog> guide;
  bool openAfterRun = false, sameViewer = false;
  ExitStatus status{};
  const int shown =
      RunWindowCycles(f,
                      {[&](QtMainWindow& w) {
                         w.notesItem->trigger();
                         guide = w.guide().dialog();
                         w.inputField->setText(QString::fromStdString(input));
                         w.outputField->setText(QString::fromStdString(f.dir / "trip.csv"));
                         w.convertButton->click();
                       },
                       [&](QtMainWindow& w) {
                         openAfterRun = guide != nullptr && guide->isVisible();
                         w.notesItem->trigger();
                         sameViewer = guide != nullptr && w.guide().dialog() == guide.data();
                         w.closeButton->click();
                       }},
                      status);
  QCOMPARE(status, ExitStatus::Done);
  QCOMPARE(shown, 2);
  QVERIFY(openAfterRun);
  QVERIFY(sameViewer);
  QCOMPARE(f.LastMessage(), std::string("2 entries converted."));
}

QTEST_MAIN(TestFrontEnd)
#include "tst_front_end.moc"
