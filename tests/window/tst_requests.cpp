// What the window hands on: Convert's checks, messages, request and stored
// values; the three file choosers; Create Profile; files dropped on the input.
#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QUrl>
#include <QtTest>

#include "engine/profiles.h"
#include "window/qt/main_window.h"
#include "window_fixture.h"

using namespace marklode;
using namespace marklode::testing;

namespace {

constexpr const char* kWarning =
    "The output file names will be automatically generated from the input file names.  Any "
    "existing files will be overwitten.";

// "@" in a test table stands for the scratch folder.
std::string At(const WindowFixture& f, const QString& text) {
  return QString(text).replace("@", QString::fromStdString(f.dir.path())).toStdString();
}

}  // namespace

class TestRequests : public QObject {
  Q_OBJECT

 private slots:
  void convertRefuses_data();
  void convertRefuses();
  void convertSingleRequest_data();
  void convertSingleRequest();
  void convertProfileRequest();
  void convertListAsksOnceAndChecksEveryItem();
  void convertListCancelStoresNothing();
  void listOutputNamesFollowBatchRule_data();
  void listOutputNamesFollowBatchRule();
  void testOpenKeepsExistingOutput();
  void choosersAskWithTheirSettings_data();
  void choosersAskWithTheirSettings();
  void inputChooserJoinsSelection_data();
  void inputChooserJoinsSelection();
  void choosersCancelled_data();
  void choosersCancelled();
  void profileChooserHasItsOwnTitle();
  void createProfileWritesTemplate_data();
  void createProfileWritesTemplate();
  void createProfileCancelledWritesNothing();
  void droppedFilesFillInput_data();
  void droppedFilesFillInput();
};

// ---------------------------------------------------------------------------
// Convert

void TestRequests::convertRefuses_data() {
  QTest::addColumn<bool>("profile");
  QTest::addColumn<bool>("toGpx");
  QTest::addColumn<QString>("input");  // the profile field in profile mode
  QTest::addColumn<QString>("output");
  QTest::addColumn<bool>("reverse");
  QTest::addColumn<QString>("message");
  QTest::addColumn<MessageKind>("kind");
  QTest::addColumn<QString>("title");
  const MessageKind ok = MessageKind::Plain;
  // One refusal of each mode: the form's own tests hold every rule.
  QTest::newRow("profile missing") << true << false << "@/gone.zvp"
                                   << "" << false << "Can't open ZVP file!" << ok << "Marklode";
  QTest::newRow("GPX output with *")
      << false << true << "@/in.csv"
      << "@/*.gpx" << false << "Can't use wildcard for GPX output file: @/*.gpx"
      << MessageKind::Error << "Invalid file";
}

void TestRequests::convertRefuses() {
  QFETCH(bool, profile);
  QFETCH(bool, toGpx);
  QFETCH(QString, input);
  QFETCH(QString, output);
  QFETCH(bool, reverse);
  QFETCH(QString, message);
  QFETCH(MessageKind, kind);
  QFETCH(QString, title);
  WindowFixture f;
  WriteFile(f.dir / "in.gpx", "<gpx/>");
  WriteFile(f.dir / "in.csv", "1,2,\"a\"\r\n");
  f.ctx.ReverseSwitch = reverse;
  f.ctx.OverwriteConfirmed = true;  // lists go straight to their checks
  QtMainWindow& w = f.Load();
  if (toGpx) w.poiToGpx->setChecked(true);
  w.inputField->setText(QString::fromStdString(At(f, input)));
  w.outputField->setText(QString::fromStdString(At(f, output)));
  w.useProfile->setChecked(profile);
  if (profile) w.profileField->setText(QString::fromStdString(At(f, input)));
  f.settings.values.erase("ProfileMode");
  const auto storedBefore = f.settings.values;
  f.ctx.request = Request{};  // cleared by every click, before any check
  QSignalSpy closed(&w, &QtMainWindow::closed);
  w.convertButton->click();

  QCOMPARE(f.messages.boxes.size(), std::size_t(1));
  QCOMPARE(f.messages.boxes[0].text, At(f, message));
  QCOMPARE(f.messages.boxes[0].kind, kind);
  QCOMPARE(QString::fromStdString(f.messages.boxes[0].title), title);
  QVERIFY(!f.messages.StopShown());  // a refusal in the window ends nothing
  QCOMPARE(closed.count(), 0);
  QVERIFY(!f.ctx.request);
  QVERIFY(f.settings.values == storedBefore);
  // The checks leave no empty output behind.
  QVERIFY(!Exists(f.dir / "o.csv") && !Exists(f.dir / "in.CSV"));
}

void TestRequests::convertSingleRequest_data() {
  QTest::addColumn<bool>("gpxToPoi");
  QTest::addColumn<bool>("lineBreaks");
  QTest::addColumn<QString>("inKey");
  QTest::addColumn<QString>("outKey");
  QTest::newRow("GPX --> POI") << true << true << "InFileGPX"
                               << "OutFileGPX";
  QTest::newRow("POI --> GPX") << false << false << "InFilePOI"
                               << "OutFilePOI";
}

void TestRequests::convertSingleRequest() {
  QFETCH(bool, gpxToPoi);
  QFETCH(bool, lineBreaks);
  QFETCH(QString, inKey);
  QFETCH(QString, outKey);
  WindowFixture f;
  WriteFile(f.dir / "Trip.GPX", "<gpx/>");
  QtMainWindow& w = f.Load();
  (gpxToPoi ? w.gpxToPoi : w.poiToGpx)->click();
  if (lineBreaks) w.keepLineBreaksItem->trigger();
  const std::string input = f.dir / "trip.gpx";  // found without regard to case
  const std::string output = f.dir / "trip.out";
  w.inputField->setText(QString::fromStdString(input));
  w.outputField->setText(QString::fromStdString(output));
  QSignalSpy closed(&w, &QtMainWindow::closed);
  w.convertButton->click();

  QVERIFY(f.messages.boxes.empty());
  QCOMPARE(closed.count(), 1);
  QVERIFY(f.ctx.request);
  QCOMPARE(f.ctx.request->input, input);
  QCOMPARE(f.ctx.request->output, output);
  QCOMPARE(f.ctx.request->direction == Direction::GpxToPoi, gpxToPoi);
  QCOMPARE(f.ctx.request->keepCommentLineBreaks, lineBreaks);
  QVERIFY(f.ctx.request->profile.empty());
  QCOMPARE(f.Stored("ModeGPX"), std::string(gpxToPoi ? "True" : "False"));
  QCOMPARE(f.Stored(inKey.toStdString()), input);
  QCOMPARE(f.Stored(outKey.toStdString()), output);
  QVERIFY(!f.settings.values.count("ProfileFile"));
  QVERIFY(!Exists(output));  // only tested: the converter writes it
}

void TestRequests::convertProfileRequest() {
  WindowFixture f;
  QtMainWindow& w = f.Load();
  w.useProfile->setChecked(true);
  const std::string profile = f.dir / "club tours.zvp";
  WriteFile(profile, "[Profile]\r\n");
  w.profileField->setText(QString::fromStdString(profile));
  QSignalSpy closed(&w, &QtMainWindow::closed);
  w.convertButton->click();
  QCOMPARE(closed.count(), 1);
  QVERIFY(f.messages.boxes.empty());
  QVERIFY(f.ctx.request);
  QCOMPARE(f.ctx.request->profile, profile);
  QCOMPARE(f.Stored("ProfileFile"), profile);
  QVERIFY(!f.settings.values.count("ModeGPX"));
}

void TestRequests::convertListAsksOnceAndChecksEveryItem() {
  WindowFixture f;
  const std::string maps = f.dir / "maps";
  QDir().mkpath(QString::fromStdString(maps));
  WriteFile(maps + "/x.y.gpx", "<gpx/>");
  WriteFile(maps + "/b.gpx", "<gpx/>");
  f.settings.values = {{"OutFileGPX", "/earlier/out.csv"}};
  const std::string list = maps + "/x.y.gpx;b.gpx";

  QtMainWindow& w = f.Load();
  w.inputField->setText(QString::fromStdString(list));
  w.convertButton->click();
  QCOMPARE(f.messages.boxes.size(), std::size_t(1));
  QCOMPARE(f.messages.boxes[0].text, std::string(kWarning));
  QCOMPARE(f.messages.boxes[0].kind, MessageKind::Question);
  QVERIFY(f.ctx.OverwriteConfirmed);
  QVERIFY(f.ctx.request);
  QCOMPARE(f.ctx.request->input, list);
  QCOMPARE(f.ctx.request->output, std::string());
  QCOMPARE(f.Stored("InFileGPX"), list);
  QCOMPARE(f.Stored("OutFileGPX"), std::string("/earlier/out.csv"));

  // The next window of the same run does not ask again...
  QtMainWindow& again = f.Load();
  QCOMPARE(again.inputField->text(), QString::fromStdString(list));
  again.convertButton->click();
  QCOMPARE(f.messages.boxes.size(), std::size_t(1));

  // ...unless the output field was entered and left in between.
  QtMainWindow& third = f.Load();
  QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
  QCoreApplication::sendEvent(third.outputField, &out);
  f.messages.answers = {kButtonOk};
  third.convertButton->click();
  QCOMPARE(f.messages.boxes.size(), std::size_t(2));
}

void TestRequests::convertListCancelStoresNothing() {
  WindowFixture f;
  WriteFile(f.dir / "a.gpx", "<gpx/>");
  WriteFile(f.dir / "b.gpx", "<gpx/>");
  QtMainWindow& w = f.Load();
  w.inputField->setText(QString::fromStdString(f.dir / "a.gpx;b.gpx"));
  const auto storedBefore = f.settings.values;
  f.messages.answers = {kButtonCancel};
  QSignalSpy closed(&w, &QtMainWindow::closed);
  w.convertButton->click();
  QCOMPARE(f.messages.boxes.size(), std::size_t(1));
  QCOMPARE(closed.count(), 0);
  QVERIFY(!f.ctx.OverwriteConfirmed);
  QVERIFY(!f.ctx.request);
  QVERIFY(f.settings.values == storedBefore);
}

// Each list item's output is found by blocking it with a folder of the same
// name: the refusal message then names it.
void TestRequests::listOutputNamesFollowBatchRule_data() {
  QTest::addColumn<bool>("gpxToPoi");
  QTest::addColumn<QString>("folder");
  QTest::addColumn<QStringList>("names");
  QTest::addColumn<QString>("blocked");
  QTest::newRow("dots in the name")
      << true << "m" << QStringList{"x.y.gpx", "b.gpx"} << "m/x.y.CSV";
  QTest::newRow("second item, POI --> GPX")
      << false << "m" << QStringList{"a.csv", "b.csv"} << "m/b.GPX";
  QTest::newRow("no dot in the name, one in the folder")
      << true << "maps.old" << QStringList{"a.gpx", "notes"} << "maps.old/notes.CSV";
}

void TestRequests::listOutputNamesFollowBatchRule() {
  QFETCH(bool, gpxToPoi);
  QFETCH(QString, folder);
  QFETCH(QStringList, names);
  QFETCH(QString, blocked);
  WindowFixture f;
  const std::string dir = f.dir / folder.toStdString();
  QDir().mkpath(QString::fromStdString(dir));
  // A name without an extension is read with the direction's.
  for (const QString& n : names)
    WriteFile(dir + "/" + n.toStdString() + (n.contains('.') ? "" : ".gpx"), "x");
  QDir().mkpath(QString::fromStdString(f.dir / blocked.toStdString()));
  f.ctx.OverwriteConfirmed = true;
  QtMainWindow& w = f.Load();
  (gpxToPoi ? w.gpxToPoi : w.poiToGpx)->click();
  w.inputField->setText(QString::fromStdString(dir + "/") + names.join(';'));
  w.convertButton->click();
  QCOMPARE(f.LastMessage(), "Can't create output file -- " + (f.dir / blocked.toStdString()));
}

void TestRequests::testOpenKeepsExistingOutput() {
  WindowFixture f;
  WriteFile(f.dir / "in.gpx", "<gpx/>");
  WriteFile(f.dir / "out.csv", "kept\r\n");
  QtMainWindow& w = f.Load();
  w.inputField->setText(QString::fromStdString(f.dir / "in.gpx"));
  w.outputField->setText(QString::fromStdString(f.dir / "out.csv"));
  w.convertButton->click();
  QVERIFY(f.messages.boxes.empty());
  QCOMPARE(ReadFile(f.dir / "out.csv"), std::string("kept\r\n"));
}

// ---------------------------------------------------------------------------
// File choosers

void TestRequests::choosersAskWithTheirSettings_data() {
  QTest::addColumn<QString>("button");
  QTest::addColumn<bool>("gpxToPoi");
  QTest::addColumn<QString>("fieldText");  // put in the chooser's own field
  QTest::addColumn<QString>("outputText");
  QTest::addColumn<bool>("save");
  QTest::addColumn<QString>("title");
  QTest::addColumn<QString>("filter");
  QTest::addColumn<QString>("folder");
  QTest::addColumn<QString>("preset");
  QTest::addColumn<uint>("options");
  const QString gpx = "GPX Files (*.GPX)|*.GPX|All Files (*.*)|*.*";
  const QString csv = "CSV Files (*.CSV)|*.CSV|All Files (*.*)|*.*";
  const QString zvp = "ZVP Files (*.ZVP)|*.ZVP|All Files (*.*)|*.*";
  const QString waypoints =
      "Waypoint Files (*.GPX;*.KML;*.KMZ;*.GEOJSON;*.JSON)|*.GPX;*.KML;*.KMZ;*.GEOJSON;*.JSON|"
      "GPX Files (*.GPX)|*.GPX|KML Files (*.KML;*.KMZ)|*.KML;*.KMZ|"
      "GeoJSON Files (*.GEOJSON;*.JSON)|*.GEOJSON;*.JSON|All Files (*.*)|*.*";
  QTest::newRow("input, empty fields") << "BrowseInput" << true << ""
                                       << "" << false << "Select file for input" << waypoints << ""
                                       << "*.GPX" << 0x281204u;
  QTest::newRow("input opens in the output's folder")
      << "BrowseInput" << false << ""
      << "/out/dir/o.gpx" << false << "Select file for input" << csv << "/out/dir"
      << "*.CSV" << 0x281204u;
  QTest::newRow("input, filled") << "BrowseInput" << true << "/in/t.gpx"
                                 << "" << false << "Select file for input" << waypoints << ""
                                 << "/in/t.gpx" << 0x281204u;
  QTest::newRow("output, empty") << "BrowseOutput" << true << ""
                                 << "" << true << "Select file for output" << csv << ""
                                 << "*.CSV" << 0x200806u;
  QTest::newRow("output, filled") << "BrowseOutput" << false << "/o/x.gpx"
                                  << "/o/x.gpx" << true << "Select file for output" << gpx << "/o"
                                  << "/o/x.gpx" << 0x200806u;
  QTest::newRow("output, bare name")
      << "BrowseOutput" << true << "x.csv"
      << "x.csv" << true << "Select file for output" << csv << "x.csv"
      << "x.csv" << 0x200806u;
  QTest::newRow("profile, empty") << "BrowseProfile" << true << ""
                                  << "" << false << "Select conversion profile" << zvp << ""
                                  << "*.ZVP" << 0x281004u;
  QTest::newRow("profile, filled") << "BrowseProfile" << false << "/p/a.zvp"
                                   << "" << false << "Select conversion profile" << zvp << "/p"
                                   << "/p/a.zvp" << 0x281004u;
}

void TestRequests::choosersAskWithTheirSettings() {
  QFETCH(QString, button);
  QFETCH(bool, gpxToPoi);
  QFETCH(QString, fieldText);
  QFETCH(QString, outputText);
  QFETCH(bool, save);
  QFETCH(QString, title);
  QFETCH(QString, filter);
  QFETCH(QString, folder);
  QFETCH(QString, preset);
  QFETCH(uint, options);
  WindowFixture f;
  QtMainWindow& w = f.Load();
  (gpxToPoi ? w.gpxToPoi : w.poiToGpx)->click();
  if (button == "BrowseProfile") w.useProfile->setChecked(true);
  w.outputField->setText(outputText);
  QLineEdit* field = button == "BrowseInput"    ? w.inputField
                     : button == "BrowseOutput" ? w.outputField
                                                : w.profileField;
  field->setText(fieldText);
  w.findChild<QPushButton*>(button)->click();

  QCOMPARE(f.chooser.requests.size(), std::size_t(1));
  const FileDialogRequest& r = f.chooser.requests[0];
  QCOMPARE(r.save, save);
  QCOMPARE(QString::fromStdString(r.title), title);
  QCOMPARE(QString::fromStdString(r.filter), filter);
  QCOMPARE(QString::fromStdString(r.initialFolder), folder);
  QCOMPARE(QString::fromStdString(r.presetName), preset);
  QCOMPARE(r.options, options);
}

void TestRequests::inputChooserJoinsSelection_data() {
  QTest::addColumn<int>("count");
  QTest::addColumn<int>("nameLength");
  QTest::newRow("one file") << 1 << 6;
  QTest::newRow("three files") << 3 << 6;
  QTest::newRow("beyond any name buffer") << 400 << 120;  // over 48000 characters
}

void TestRequests::inputChooserJoinsSelection() {
  QFETCH(int, count);
  QFETCH(int, nameLength);
  WindowFixture f;
  const std::string sel = f.dir / "sel";
  QDir().mkpath(QString::fromStdString(sel));
  std::vector<std::string> files;
  std::string expected;
  for (int i = 0; i < count; ++i) {
    std::string name = std::to_string(i);
    name = std::string(std::size_t(nameLength) - name.size() - 4, 'n') + name + ".gpx";
    files.push_back(sel + "/" + name);
    expected += i == 0 ? files.back() : ";" + name;
  }
  f.chooser.Answer(files);
  QtMainWindow& w = f.Load();
  w.browseInput->click();

  QCOMPARE(w.inputField->text().toStdString(), expected);
  QCOMPARE(CurrentDirectory(), sel);
  QCOMPARE(w.inputField->cursorPosition(), int(expected.size()));
  QCOMPARE(w.outputField->isEnabled(), count == 1);
  if (count > 1) QCOMPARE(w.outputField->text(), QString("Same as input but with .CSV"));
}

void TestRequests::choosersCancelled_data() {
  QTest::addColumn<QString>("button");
  QTest::addColumn<QString>("before");
  QTest::addColumn<QString>("after");
  QTest::newRow("input, empty field stays empty") << "BrowseInput"
                                                  << ""
                                                  << "";
  QTest::newRow("input, filled field kept") << "BrowseInput"
                                            << "/a/b.gpx"
                                            << "/a/b.gpx";
  QTest::newRow("input, typed pattern kept") << "BrowseInput"
                                             << "/a/*.gpx"
                                             << "/a/*.gpx";
  QTest::newRow("output, empty field stays empty") << "BrowseOutput"
                                                   << ""
                                                   << "";
  QTest::newRow("output, filled field kept") << "BrowseOutput"
                                             << "/a/o.csv"
                                             << "/a/o.csv";
  QTest::newRow("profile, empty field gets the pattern") << "BrowseProfile"
                                                         << ""
                                                         << "*.ZVP";
  QTest::newRow("profile, filled field kept") << "BrowseProfile"
                                              << "/p/a.zvp"
                                              << "/p/a.zvp";
}

void TestRequests::choosersCancelled() {
  QFETCH(QString, button);
  QFETCH(QString, before);
  QFETCH(QString, after);
  WindowFixture f;
  QtMainWindow& w = f.Load();
  if (button == "BrowseProfile") w.useProfile->setChecked(true);
  QLineEdit* field = button == "BrowseInput"    ? w.inputField
                     : button == "BrowseOutput" ? w.outputField
                                                : w.profileField;
  field->setText(before);
  const std::string cwd = CurrentDirectory();
  w.findChild<QPushButton*>(button)->click();
  QCOMPARE(field->text(), after);
  QCOMPARE(CurrentDirectory(), cwd);
}

// The profile chooser asks for a profile to use, also right after Create
// Profile has asked for one to create.
void TestRequests::profileChooserHasItsOwnTitle() {
  WindowFixture f;
  WriteFile(f.dir / "in.gpx", "<gpx/>");
  QtMainWindow& w = f.Load();
  w.inputField->setText(QString::fromStdString(f.dir / "in.gpx"));
  w.outputField->setText(QString::fromStdString(f.dir / "o.csv"));
  w.createProfileItem->trigger();
  w.useProfile->setChecked(true);
  w.browseProfile->click();
  QCOMPARE(f.chooser.requests.size(), std::size_t(2));
  QCOMPARE(f.chooser.requests[0].title, std::string("Select file to create as profile"));
  QCOMPARE(f.chooser.requests[1].title, std::string("Select conversion profile"));
}

// ---------------------------------------------------------------------------
// Create Profile

void TestRequests::createProfileWritesTemplate_data() {
  QTest::addColumn<bool>("gpxToPoi");
  QTest::addColumn<QString>("file");
  QTest::addColumn<QString>("input");
  QTest::addColumn<bool>("lineBreaks");
  QTest::addColumn<QString>("preset");
  QTest::newRow("GPX --> POI") << true << "Trip.Log.gpx"
                               << "@/Trip.Log.gpx" << true << "Convert Trip-Log-GPX to CSV.ZVP";
  QTest::newRow("POI --> GPX") << false << "points.Csv"
                               << "@/points.Csv" << false << "Convert points-CSV to GPX.ZVP";
  QTest::newRow("pattern takes the first match")
      << false << "b.csv"
      << "@/*.csv" << false << "Convert a-CSV to GPX.ZVP";
}

void TestRequests::createProfileWritesTemplate() {
  QFETCH(bool, gpxToPoi);
  QFETCH(QString, file);
  QFETCH(QString, input);
  QFETCH(bool, lineBreaks);
  QFETCH(QString, preset);
  WindowFixture f;
  WriteFile(f.dir / file.toStdString(), "x");
  WriteFile(f.dir / "a.csv", "x");
  const std::string in = At(f, input);
  const std::string profile = f.dir / "made.ZVP";
  f.chooser.Answer({profile});
  QtMainWindow& w = f.Load();
  (gpxToPoi ? w.gpxToPoi : w.poiToGpx)->click();
  if (lineBreaks) w.keepLineBreaksItem->trigger();
  w.inputField->setText(QString::fromStdString(in));
  w.outputField->setText("/out/put.file");
  w.createProfileItem->trigger();

  QCOMPARE(f.chooser.requests.size(), std::size_t(1));
  const FileDialogRequest& r = f.chooser.requests[0];
  QCOMPARE(QString::fromStdString(r.presetName), preset);
  QCOMPARE(r.initialFolder, f.dir.path());
  QVERIFY(r.save);
  QCOMPARE(r.title, std::string("Select file to create as profile"));
  QCOMPARE(r.filter, std::string("ZVP Files (*.ZVP)|*.ZVP"));
  QCOMPARE(r.options, 0x200806u);

  const std::string written = ReadFile(profile);
  const std::string templ(LoadProfileTemplate(gpxToPoi ? "GPXTOCSV" : "CSVTOGPX"));
  QCOMPARE(written, FillProfileTemplate(templ, in, "/out/put.file", lineBreaks) + "\r\n");
  QVERIFY(written.find("Input=" + in + "\r\n") != std::string::npos);
  QVERIFY(written.find("Output=/out/put.file\r\n") != std::string::npos);
  QVERIFY(f.messages.boxes.empty());
}

void TestRequests::createProfileCancelledWritesNothing() {
  WindowFixture f;
  WriteFile(f.dir / "t.gpx", "x");
  QtMainWindow& w = f.Load();
  w.inputField->setText(QString::fromStdString(f.dir / "t.gpx"));
  w.outputField->setText("o.csv");
  w.createProfileItem->trigger();  // cancelled
  f.chooser.Answer({f.dir / "*.ZVP"});
  w.createProfileItem->trigger();  // a pattern is no choice
  QCOMPARE(f.chooser.requests.size(), std::size_t(2));
  QCOMPARE(QDir(QString::fromStdString(f.dir.path())).entryList(QDir::Files), QStringList{"t.gpx"});
}

// ---------------------------------------------------------------------------
// Drops

void TestRequests::droppedFilesFillInput_data() {
  QTest::addColumn<QStringList>("files");  // relative to the scratch folder
  QTest::addColumn<QString>("input");      // "" when the drop is refused
  QTest::newRow("one file") << QStringList{"d/a.gpx"} << "@/d/a.gpx";
  QTest::newRow("two files") << QStringList{"d/a.gpx", "d/b.gpx"} << "@/d/a.gpx;b.gpx";
  QTest::newRow("two folders") << QStringList{"d/a.gpx", "e/c.gpx"} << "";
}

void TestRequests::droppedFilesFillInput() {
  QFETCH(QStringList, files);
  QFETCH(QString, input);
  WindowFixture f;
  QList<QUrl> urls;
  for (const QString& name : files) {
    const std::string path = f.dir / name.toStdString();
    QDir().mkpath(QFileInfo(QString::fromStdString(path)).path());
    WriteFile(path, "x");
    urls << QUrl::fromLocalFile(QString::fromStdString(path));
  }
  QtMainWindow& w = f.Load();
  w.inputField->setText("before");
  QMimeData mime;
  mime.setUrls(urls);
  QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(w.inputField, &enter);
  QCOMPARE(enter.isAccepted(), !input.isEmpty());
  QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(w.inputField, &drop);
  if (input.isEmpty()) {
    QCOMPARE(w.inputField->text(), QString("before"));
  } else {
    QCOMPARE(w.inputField->text().toStdString(), At(f, input));
    QCOMPARE(CurrentDirectory(), f.dir / "d");
    QCOMPARE(w.outputField->isEnabled(), files.size() == 1);
  }
}

QTEST_MAIN(TestRequests)
#include "tst_requests.moc"
