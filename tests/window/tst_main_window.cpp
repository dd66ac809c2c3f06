// The main window itself: controls and captions, layout on resize, what it
// restores from and saves to the store, directions, profile mode, closing,
// the menus and the help texts.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSet>
#include <QSignalSpy>
#include <QTextBrowser>
#include <QtTest>

#include "window/form/window_geometry.h"
#include "window/qt/main_window.h"
#include "window_fixture.h"

using namespace marklode;
using namespace marklode::testing;

namespace {

QColor Base(const QLineEdit* field) {
  return field->palette().color(QPalette::Base);
}

}  // namespace

class TestMainWindow : public QObject {
  Q_OBJECT

 private slots:
  void controlsFollowTheFormsDesign();
  void menuCaptions_data();
  void menuCaptions();
  void tabOrderFollowsDesign();
  void layoutKeepsHeightAndWidensFields_data();
  void layoutKeepsHeightAndWidensFields();
  void layoutShowsEndOfLongPaths();
  void firstStartShowsDesign();
  void restoresPosition_data();
  void restoresPosition();
  void captionsFitTheFont_data();
  void captionsFitTheFont();
  void keepsWindowOnScreen_data();
  void keepsWindowOnScreen();
  void maximisedWidensFields();
  void mnemonicsAndTooltips();
  void restoresWidth_data();
  void restoresWidth();
  void restoresFlags_data();
  void restoresFlags();
  void directionSwitchReloadsFields();
  void severalInputsDisableOutput_data();
  void severalInputsDisableOutput();
  void profileModeEnablesOnlyProfileControls_data();
  void profileModeEnablesOnlyProfileControls();
  void commentLineBreakItemIsStored();
  void enteringOutputFieldSelectsIt();
  void leavingOutputFieldAsksAgain_data();
  void leavingOutputFieldAsksAgain();
  void closingWays_data();
  void closingWays();
  void enterConvertsAndEscCloses();
  void createProfileAvailability_data();
  void createProfileAvailability();
  void aboutAndTerms();
  void notesShowsGuide();
  void guideFitsTheScreen_data();
  void guideFitsTheScreen();
  void droppedFileNamesOutput_data();
  void droppedFileNamesOutput();
  void closingMaximisedStoresNormalPlace();
  void browseButtonsSayWhatTheyFill_data();
  void browseButtonsSayWhatTheyFill();
};

// Every control of the form's design, built and placed as the form says.
void TestMainWindow::controlsFollowTheFormsDesign() {
  WindowFixture f;
  QtMainWindow& w = f.Load();
  QCOMPARE(w.windowTitle(), QString("Marklode"));
  const ClientLayout layout = LayoutForWidth(w.width(), w.Scale());
  for (std::size_t i = 0; i < kControlDesign.size(); ++i) {
    const ControlDesign& d = kControlDesign[i];
    QWidget* control = w.findChild<QWidget*>(d.name);
    QVERIFY2(control != nullptr, d.name);
    const PixelRect& r = layout.controls[i];
    QCOMPARE(control->geometry(), QRect(r.left, r.top, r.width, r.height));
    // Nothing of a caption is cut off or drawn under its neighbour.
    if (!qobject_cast<QLineEdit*>(control))
      QVERIFY2(control->sizeHint().width() <= control->width(), d.name);
    if (auto* label = qobject_cast<QLabel*>(control)) {
      QVERIFY(label->geometry().right() < w.inputField->x());
      QVERIFY(label->buddy() != nullptr);
      QCOMPARE(label->text(), QString(d.caption));
    }
    if (auto* button = qobject_cast<QAbstractButton*>(control))
      QCOMPARE(button->text(), QString(d.caption));
    if (auto* field = qobject_cast<QLineEdit*>(control)) QCOMPARE(field->text(), QString());
  }
}

void TestMainWindow::menuCaptions_data() {
  QTest::addColumn<QString>("menu");
  QTest::addColumn<QStringList>("items");
  QTest::newRow("File") << "FileMenu" << QStringList{"&File", "Create &Profile", "E&xit"};
  QTest::newRow("Options") << "OptionsMenu" << QStringList{"&Options", "Keep Comment Line Breaks"};
  QTest::newRow("Help") << "HelpMenu"
                        << QStringList{"&Help", "&Notes...", "&Terms of Use...", "&About..."};
}

void TestMainWindow::menuCaptions() {
  QFETCH(QString, menu);
  QFETCH(QStringList, items);
  WindowFixture f;
  QMenu* m = f.Load().findChild<QMenu*>(menu);
  QVERIFY(m != nullptr);
  QStringList captions{m->title()};
  for (QAction* a : m->actions()) captions << a->text();
  QCOMPARE(captions, items);
}

void TestMainWindow::tabOrderFollowsDesign() {
  WindowFixture f;
  QtMainWindow& w = f.Load();
  const std::vector<QWidget*> order{w.gpxToPoi,    w.poiToGpx,     w.inputField,    w.browseInput,
                                    w.outputField, w.browseOutput, w.convertButton, w.closeButton,
                                    w.useProfile,  w.profileField, w.browseProfile, w.gpxToPoi};
  for (std::size_t i = 0; i + 1 < order.size(); ++i) {
    QWidget* next = order[i]->nextInFocusChain();
    while (!(next->focusPolicy() & Qt::TabFocus) || !next->isVisibleTo(&w))
      next = next->nextInFocusChain();
    QCOMPARE(next->objectName(), order[i + 1]->objectName());
  }
  QVERIFY(w.convertButton->isDefault());
}

void TestMainWindow::layoutKeepsHeightAndWidensFields_data() {
  QTest::addColumn<int>("widthChange");
  QTest::addColumn<int>("heightChange");
  QTest::addColumn<int>("growth");
  QTest::newRow("narrower snaps back") << -60 << 0 << 0;
  QTest::newRow("taller snaps back") << 0 << 40 << 0;
  QTest::newRow("shorter snaps back") << 0 << -30 << 0;
  QTest::newRow("wider by 1500 twips") << 100 << 0 << 100;
  QTest::newRow("wider and taller") << 37 << 25 << 37;
}

void TestMainWindow::layoutKeepsHeightAndWidensFields() {
  QFETCH(int, widthChange);
  QFETCH(int, heightChange);
  QFETCH(int, growth);
  WindowFixture f;
  QtMainWindow& w = f.Load();
  w.show();
  QVERIFY(QTest::qWaitForWindowExposed(&w));
  w.resize(w.DesignWidth() + widthChange, w.DesignHeight() + heightChange);
  QTRY_COMPARE(w.width(), w.DesignWidth() + growth);
  QCOMPARE(w.height(), w.DesignHeight());
  QCOMPARE(w.centralWidget()->height(), w.Px(3555));

  // Every control where the form lays it out for the width.
  const ClientLayout layout = LayoutForWidth(w.width(), w.Scale());
  for (std::size_t i = 0; i < kControlDesign.size(); ++i) {
    const PixelRect& r = layout.controls[i];
    QCOMPARE(w.findChild<QWidget*>(kControlDesign[i].name)->geometry(),
             QRect(r.left, r.top, r.width, r.height));
  }
  const PixelRect& line = layout.separator;
  QCOMPARE(w.separatorDark->geometry(), QRect(line.left, line.top, line.width, 1));
  QCOMPARE(w.separatorLight->geometry(), QRect(line.left, line.top + 1, line.width, 1));
  QCOMPARE(f.Stored("WindowWidth"), std::to_string((w.DesignWidth() + growth) * 15));
}

void TestMainWindow::layoutShowsEndOfLongPaths() {
  WindowFixture f;
  const std::string longPath = "/home/someone/" + std::string(120, 'x') + "/trip.gpx";
  f.settings.values = {{"InFileGPX", longPath},
                       {"OutFileGPX", longPath + ".csv"},
                       {"ProfileFile", longPath + ".zvp"}};
  QtMainWindow& w = f.Load();
  w.resize(w.DesignWidth() + 20, w.DesignHeight());
  w.LayOut();
  for (QLineEdit* field : {w.inputField, w.outputField, w.profileField})
    QCOMPARE(field->cursorPosition(), int(field->text().size()));
}

void TestMainWindow::firstStartShowsDesign() {
  WindowFixture f;
  QtMainWindow& w = f.Load();
  QVERIFY(w.gpxToPoi->isChecked());
  QVERIFY(!w.useProfile->isChecked());
  QVERIFY(!w.keepLineBreaksItem->isChecked());
  QVERIFY(!w.testAttribute(Qt::WA_Moved));  // the platform chooses the place
  QCOMPARE(w.width(), w.Px(5460));
  for (QLineEdit* field : {w.inputField, w.outputField, w.profileField})
    QVERIFY(field->text().isEmpty());
  QVERIFY(!w.profileField->isEnabled());
  QVERIFY(!w.browseProfile->isEnabled());
  QVERIFY(w.inputField->isEnabled() && w.outputField->isEnabled() && w.browseOutput->isEnabled());
  QVERIFY(w.editableModel->isHidden());
  QCOMPARE(Base(w.inputField), Base(w.editableModel));
  QCOMPARE(Base(w.profileField), w.palette().color(QPalette::Window));
}

void TestMainWindow::restoresPosition_data() {
  QTest::addColumn<QString>("storedX");
  QTest::addColumn<QString>("storedY");
  QTest::addColumn<QString>("expectX");  // "centre", "keep" or pixels
  QTest::addColumn<QString>("expectY");
  // The form's tests hold every stored value; here the window hands it the screen and places it.
  QTest::newRow("on screen") << "1500"
                             << "900"
                             << "100"
                             << "60";
  QTest::newRow("negative centres") << "-100"
                                    << "-15"
                                    << "centre"
                                    << "centre";
}

void TestMainWindow::restoresPosition() {
  QFETCH(QString, storedX);
  QFETCH(QString, storedY);
  QFETCH(QString, expectX);
  QFETCH(QString, expectY);
  WindowFixture f;
  f.settings.values = {{"WindowX", storedX.toStdString()}, {"WindowY", storedY.toStdString()}};
  QtMainWindow& w = f.Load();
  const QRect screen = QGuiApplication::primaryScreen()->geometry();
  auto expected = [](const QString& e, int screenSize, int windowSize) {
    if (e == "centre") return (screenSize * 15 / 2 - windowSize * 15 / 2) / 15;
    if (e == "keep") return 0;
    return e.toInt();
  };
  QCOMPARE(w.x(), expected(expectX, screen.width(), w.width()));
  QCOMPARE(w.y(), expected(expectY, screen.height(), w.height()));
  if (expectX == "keep" && expectY == "keep") QVERIFY(!w.testAttribute(Qt::WA_Moved));
}

// The desktop's font is used as it is, and the design grows with it, so that
// no caption is cut off.
void TestMainWindow::captionsFitTheFont_data() {
  QTest::addColumn<int>("points");
  QTest::newRow("small") << 7;
  QTest::newRow("usual") << 10;
  QTest::newRow("large") << 16;
  QTest::newRow("very large") << 26;
}

void TestMainWindow::captionsFitTheFont() {
  QFETCH(int, points);
  AppFontSize fontSize(points);
  WindowFixture f;
  QtMainWindow& w = f.Load();
  fontSize.Restore();
  QCOMPARE(w.outputCaption->font().pointSize(), points);
  for (QWidget* control : std::initializer_list<QWidget*>{
           w.gpxToPoi, w.poiToGpx, w.outputCaption, w.inputCaption, w.profileCaption, w.useProfile,
           w.browseOutput, w.browseProfile, w.browseInput, w.convertButton, w.closeButton,
           w.inputField}) {
    QVERIFY2(control->sizeHint().width() <= control->width(), qPrintable(control->objectName()));
    QVERIFY2(control->sizeHint().height() <= control->height(), qPrintable(control->objectName()));
  }
  for (QLabel* label : {w.outputCaption, w.inputCaption, w.profileCaption})
    QVERIFY(label->geometry().right() < w.inputField->x());
  QVERIFY(w.gpxToPoi->geometry().right() < w.poiToGpx->x());
  QVERIFY(w.inputField->geometry().right() < w.browseInput->x());
  QCOMPARE(w.width(), w.DesignWidth());
}

// Stored geometries given in pixels from the screen's right and bottom edges
// ("R-50": 50 pixels left of the right edge) or plain twips.
void TestMainWindow::keepsWindowOnScreen_data() {
  QTest::addColumn<QString>("storedX");
  QTest::addColumn<QString>("storedY");
  QTest::addColumn<QString>("storedWidth");
  // The form's tests hold the rule; here the window applies it, also where it is not placed.
  QTest::newRow("near both edges") << "R-1"
                                   << "B-1"
                                   << "";
  QTest::newRow("wider, not placed") << ""
                                     << ""
                                     << "R+400";
}

void TestMainWindow::keepsWindowOnScreen() {
  QFETCH(QString, storedX);
  QFETCH(QString, storedY);
  QFETCH(QString, storedWidth);
  const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
  auto twips = [&area](QString v) {
    if (v.startsWith('R')) return std::to_string((area.right() + 1 + v.mid(1).toInt()) * 15);
    if (v.startsWith('B')) return std::to_string((area.bottom() + 1 + v.mid(1).toInt()) * 15);
    return v.toStdString();
  };
  WindowFixture f;
  f.settings.values = {{"WindowX", twips(storedX)},
                       {"WindowY", twips(storedY)},
                       {"WindowWidth", twips(storedWidth)}};
  QtMainWindow& w = f.Load();
  QVERIFY2(area.contains(w.geometry()),
           qPrintable(QString("%1,%2 %3x%4").arg(w.x()).arg(w.y()).arg(w.width()).arg(w.height())));
  QCOMPARE(w.inputField->width(), w.Px(2355) + w.width() - w.DesignWidth());
  if (storedWidth == "9000") {
    QCOMPARE(w.pos(), QPoint(100, 60));  // a window that fits stays where it was
    QCOMPARE(w.width(), std::max(600, w.DesignWidth()));
  }
  if (storedX.isEmpty()) QVERIFY(!w.testAttribute(Qt::WA_Moved));
}

void TestMainWindow::maximisedWidensFields() {
  WindowFixture f;
  QtMainWindow& w = f.Load();
  w.showMaximized();
  QVERIFY(QTest::qWaitForWindowExposed(&w));
  QTRY_VERIFY(w.width() > w.DesignWidth());
  const int growth = w.width() - w.DesignWidth();
  for (QLineEdit* field : {w.inputField, w.outputField, w.profileField})
    QCOMPARE(field->width(), w.Px(2355) + growth);
  for (QPushButton* browse : {w.browseOutput, w.browseProfile, w.browseInput})
    QCOMPARE(browse->x(), w.Px(3750) + growth);
  w.showNormal();
  QTRY_COMPARE(w.inputField->width(), w.Px(2355) + w.width() - w.DesignWidth());
}

// Alt with a letter reaches every field and the main buttons, without a letter
// taken twice; the fields explain what they take.
void TestMainWindow::mnemonicsAndTooltips() {
  WindowFixture f;
  QtMainWindow& w = f.Load();
  QStringList captions;
  for (QMenu* menu : {w.fileMenu, w.optionsMenu, w.helpMenu}) captions << menu->title();
  for (QAbstractButton* b : std::initializer_list<QAbstractButton*>{
           w.gpxToPoi, w.poiToGpx, w.useProfile, w.convertButton, w.closeButton})
    captions << b->text();
  for (QLabel* label : {w.outputCaption, w.inputCaption, w.profileCaption})
    captions << label->text();
  QSet<QChar> letters;
  for (const QString& caption : captions) {
    const qsizetype amp = caption.indexOf('&');
    QVERIFY2(amp >= 0 && amp + 1 < caption.size(), qPrintable(caption));
    const QChar letter = caption.at(amp + 1).toLower();
    QVERIFY2(!letters.contains(letter), qPrintable(caption));
    letters.insert(letter);
  }
  QCOMPARE(w.inputCaption->buddy(), w.inputField);
  QCOMPARE(w.outputCaption->buddy(), w.outputField);
  QCOMPARE(w.profileCaption->buddy(), w.profileField);
  QVERIFY(w.inputField->toolTip().contains("\";\""));
  QVERIFY(w.inputField->toolTip().contains("*"));
  QVERIFY(w.profileField->toolTip().contains("profile"));
  QVERIFY(!w.outputField->toolTip().isEmpty());
}

void TestMainWindow::restoresWidth_data() {
  QTest::addColumn<QString>("stored");
  QTest::addColumn<int>("width");
  // 0: the designed width.
  QTest::newRow("wider") << "9750" << 650;
  QTest::newRow("below design is raised") << "1000" << 0;
  QTest::newRow("negative") << "-7500" << 0;
  QTest::newRow("not a number") << "wide" << 0;
  QTest::newRow("huge number") << "1e300" << 0;
}

void TestMainWindow::restoresWidth() {
  QFETCH(QString, stored);
  QFETCH(int, width);
  WindowFixture f;
  f.settings.values = {{"WindowWidth", stored.toStdString()}};
  QtMainWindow& w = f.Load();
  width = std::max(width, w.DesignWidth());
  QCOMPARE(w.width(), width);
  QCOMPARE(w.inputField->width(), w.Px(2355) + width - w.Px(5460));
  QCOMPARE(f.Stored("WindowWidth"), std::to_string(width * 15));
}

void TestMainWindow::restoresFlags_data() {
  QTest::addColumn<QString>("modeGPX");
  QTest::addColumn<QString>("profileMode");
  QTest::addColumn<QString>("lineBreaks");
  QTest::addColumn<bool>("option1");
  QTest::addColumn<bool>("profile");
  QTest::addColumn<bool>("checked");
  QTest::newRow("missing keeps design") << ""
                                        << ""
                                        << "" << true << false << false;
  QTest::newRow("True") << "True"
                        << "True"
                        << "True" << true << true << true;
  QTest::newRow("capitals and blanks") << " TRUE "
                                       << "  true"
                                       << "tRuE " << true << true << true;
  QTest::newRow("False") << "False"
                         << "False"
                         << "False" << false << false << false;
  QTest::newRow("other words are not true") << "yes"
                                            << "1"
                                            << "-1" << false << false << false;
}

void TestMainWindow::restoresFlags() {
  QFETCH(QString, modeGPX);
  QFETCH(QString, profileMode);
  QFETCH(QString, lineBreaks);
  QFETCH(bool, option1);
  QFETCH(bool, profile);
  QFETCH(bool, checked);
  WindowFixture f;
  f.settings.values = {{"ModeGPX", modeGPX.toStdString()},
                       {"ProfileMode", profileMode.toStdString()},
                       {"KeepCommentLineBreak", lineBreaks.toStdString()}};
  QtMainWindow& w = f.Load();
  QCOMPARE(w.gpxToPoi->isChecked(), option1);
  QCOMPARE(w.poiToGpx->isChecked(), !option1);
  QCOMPARE(w.useProfile->isChecked(), profile);
  QCOMPARE(w.profileField->isEnabled(), profile);
  QCOMPARE(w.keepLineBreaksItem->isChecked(), checked);
}

void TestMainWindow::directionSwitchReloadsFields() {
  WindowFixture f;
  f.settings.values = {{"InFileGPX", "/g/in.gpx"},
                       {"OutFileGPX", "/g/out.csv"},
                       {"InFilePOI", "/p/in.csv"},
                       {"OutFilePOI", "/p/out.gpx"}};
  QtMainWindow& w = f.Load();
  QCOMPARE(w.inputField->text(), QString("/g/in.gpx"));
  QCOMPARE(w.outputField->text(), QString("/g/out.csv"));
  w.inputField->setText("/g/unsaved.gpx");
  w.poiToGpx->click();
  QCOMPARE(w.inputField->text(), QString("/p/in.csv"));
  QCOMPARE(w.outputField->text(), QString("/p/out.gpx"));
  w.gpxToPoi->click();
  QCOMPARE(w.inputField->text(), QString("/g/in.gpx"));  // the unsaved edit is gone
  QCOMPARE(w.outputField->text(), QString("/g/out.csv"));
}

void TestMainWindow::severalInputsDisableOutput_data() {
  QTest::addColumn<bool>("gpxToPoi");
  QTest::addColumn<QString>("input");
  QTest::addColumn<QString>("placeholder");
  QTest::newRow("GPX --> POI") << true << "/m/a.gpx;b.gpx"
                               << "Same as input but with .CSV";
  QTest::newRow("POI --> GPX") << false << "/m/a.csv;b.csv;c.csv"
                               << "Same as input but with .GPX";
  QTest::newRow("trailing separator") << true << "/m/a.gpx;"
                                      << "Same as input but with .CSV";
}

void TestMainWindow::severalInputsDisableOutput() {
  QFETCH(bool, gpxToPoi);
  QFETCH(QString, input);
  QFETCH(QString, placeholder);
  WindowFixture f;
  f.settings.values = {{"OutFileGPX", "/m/kept.csv"}, {"OutFilePOI", "/m/kept.gpx"}};
  QtMainWindow& w = f.Load();
  (gpxToPoi ? w.gpxToPoi : w.poiToGpx)->click();
  const QColor windowColour = w.palette().color(QPalette::Window);

  w.inputField->setText(input);
  QCOMPARE(w.outputField->text(), placeholder);
  QVERIFY(!w.outputField->isEnabled());
  QVERIFY(!w.browseOutput->isEnabled());
  QCOMPARE(Base(w.outputField), windowColour);

  w.inputField->setText(input.left(input.indexOf(';')));  // the ";" deleted again
  QCOMPARE(w.outputField->text(), QString());
  QVERIFY(w.outputField->isEnabled());
  QVERIFY(w.browseOutput->isEnabled());
  QCOMPARE(Base(w.outputField), Base(w.inputField));
}

void TestMainWindow::profileModeEnablesOnlyProfileControls_data() {
  QTest::addColumn<bool>("profile");
  QTest::addColumn<QString>("storedInput");
  QTest::newRow("profile on") << true << "/m/a.gpx";
  QTest::newRow("profile off") << false << "/m/a.gpx";
  QTest::newRow("profile off with several inputs") << false << "/m/a.gpx;b.gpx";
}

void TestMainWindow::profileModeEnablesOnlyProfileControls() {
  QFETCH(bool, profile);
  QFETCH(QString, storedInput);
  WindowFixture f;
  f.settings.values = {{"InFileGPX", storedInput.toStdString()}, {"OutFileGPX", "/m/o.csv"}};
  QtMainWindow& w = f.Load();
  w.useProfile->setChecked(true);
  if (!profile) w.useProfile->setChecked(false);
  QCOMPARE(f.Stored("ProfileMode"), std::string(profile ? "True" : "False"));

  const bool list = storedInput.contains(';');
  QCOMPARE(w.inputField->isEnabled(), !profile);
  QCOMPARE(w.browseInput->isEnabled(), !profile);
  QCOMPARE(w.gpxToPoi->isEnabled(), !profile);
  QCOMPARE(w.poiToGpx->isEnabled(), !profile);
  QCOMPARE(w.outputField->isEnabled(), !profile && !list);
  QCOMPARE(w.browseOutput->isEnabled(), !profile && !list);
  QCOMPARE(w.profileField->isEnabled(), profile);
  QCOMPARE(w.browseProfile->isEnabled(), profile);
  const QColor windowColour = w.palette().color(QPalette::Window);
  const QColor fieldColour = Base(w.editableModel);
  QCOMPARE(Base(w.inputField), profile ? windowColour : fieldColour);
  QCOMPARE(Base(w.profileField), profile ? fieldColour : windowColour);
  QCOMPARE(Base(w.outputField), profile || list ? windowColour : fieldColour);
  // Leaving profile mode gives the output field back with its text.
  QCOMPARE(w.outputField->text(),
           list ? QString("Same as input but with .CSV") : QString("/m/o.csv"));
}

void TestMainWindow::commentLineBreakItemIsStored() {
  WindowFixture f;
  QtMainWindow& w = f.Load();
  w.keepLineBreaksItem->trigger();
  QVERIFY(w.keepLineBreaksItem->isChecked());
  QCOMPARE(f.Stored("KeepCommentLineBreak"), std::string("True"));
  w.keepLineBreaksItem->trigger();
  QVERIFY(!w.keepLineBreaksItem->isChecked());
  QCOMPARE(f.Stored("KeepCommentLineBreak"), std::string("False"));
}

void TestMainWindow::enteringOutputFieldSelectsIt() {
  WindowFixture f;
  f.settings.values = {{"OutFileGPX", "/m/out.csv"}};
  QtMainWindow& w = f.Load();
  QVERIFY(!w.outputField->hasSelectedText());
  QFocusEvent in(QEvent::FocusIn, Qt::MouseFocusReason);
  QCoreApplication::sendEvent(w.outputField, &in);
  QTRY_COMPARE(w.outputField->selectedText(), QString("/m/out.csv"));
}

void TestMainWindow::leavingOutputFieldAsksAgain_data() {
  QTest::addColumn<int>("reason");
  QTest::addColumn<bool>("stillConfirmed");
  QTest::newRow("tab to another control") << int(Qt::TabFocusReason) << false;
  QTest::newRow("mouse on another control") << int(Qt::MouseFocusReason) << false;
  QTest::newRow("a message box takes the focus") << int(Qt::ActiveWindowFocusReason) << true;
  QTest::newRow("a menu opens") << int(Qt::PopupFocusReason) << true;
}

void TestMainWindow::leavingOutputFieldAsksAgain() {
  QFETCH(int, reason);
  QFETCH(bool, stillConfirmed);
  WindowFixture f;
  QtMainWindow& w = f.Load();
  f.ctx.OverwriteConfirmed = true;
  QFocusEvent out(QEvent::FocusOut, Qt::FocusReason(reason));
  QCoreApplication::sendEvent(w.outputField, &out);
  QCOMPARE(f.ctx.OverwriteConfirmed, stillConfirmed);
}

void TestMainWindow::closingWays_data() {
  QTest::addColumn<QString>("way");
  QTest::addColumn<bool>("requestCleared");
  QTest::newRow("Close button") << "Close" << true;
  QTest::newRow("File Exit") << "Exit" << false;
  QTest::newRow("close box") << "box" << false;
}

void TestMainWindow::closingWays() {
  QFETCH(QString, way);
  QFETCH(bool, requestCleared);
  WindowFixture f;
  QtMainWindow& w = f.Load();
  w.show();
  QVERIFY(QTest::qWaitForWindowExposed(&w));
  w.move(90, 45);
  QTRY_COMPARE(w.pos(), QPoint(90, 45));
  f.ctx.request = Request{};
  QSignalSpy closed(&w, &QtMainWindow::closed);
  if (way == "Close")
    w.closeButton->click();
  else if (way == "Exit")
    w.exitItem->trigger();
  else
    w.close();
  QCOMPARE(closed.count(), 1);
  QVERIFY(!w.isVisible());
  QCOMPARE(!f.ctx.request, requestCleared);
  QCOMPARE(f.Stored("WindowX"), std::string("1350"));
  QCOMPARE(f.Stored("WindowY"), std::string("675"));
}

void TestMainWindow::enterConvertsAndEscCloses() {
  WindowFixture f;
  QtMainWindow& w = f.Load();
  w.show();
  QVERIFY(QTest::qWaitForWindowExposed(&w));
  QSignalSpy closed(&w, &QtMainWindow::closed);
  QTest::keyClick(w.inputField, Qt::Key_Return);  // Convert, with nothing filled in
  QCOMPARE(f.LastMessage(), std::string("File name must be provided!"));
  QCOMPARE(closed.count(), 0);
  f.ctx.request = Request{};
  QTest::keyClick(w.outputField, Qt::Key_Escape);
  QCOMPARE(closed.count(), 1);
  QVERIFY(!f.ctx.request);
}

void TestMainWindow::createProfileAvailability_data() {
  QTest::addColumn<QString>("input");  // "@" stands for the scratch folder
  QTest::addColumn<QString>("output");
  QTest::addColumn<bool>("profile");
  QTest::addColumn<bool>("enabled");
  QTest::newRow("existing input and output") << "@/trip.gpx"
                                             << "o.csv" << false << true;
  QTest::newRow("pattern matching a file") << "@/*.GPX"
                                           << "o.csv" << false << true;
  QTest::newRow("missing input") << "@/gone.gpx"
                                 << "o.csv" << false << false;
  QTest::newRow("empty input") << ""
                               << "o.csv" << false << false;
  QTest::newRow("empty output") << "@/trip.gpx"
                                << "" << false << false;
  QTest::newRow("two inputs") << "@/trip.gpx;more.gpx"
                              << "o.csv" << false << false;
  QTest::newRow("profile mode") << "@/trip.gpx"
                                << "o.csv" << true << false;
}

void TestMainWindow::createProfileAvailability() {
  QFETCH(QString, input);
  QFETCH(QString, output);
  QFETCH(bool, profile);
  QFETCH(bool, enabled);
  WindowFixture f;
  WriteFile(f.dir / "trip.gpx", "<gpx/>");
  WriteFile(f.dir / "more.gpx", "<gpx/>");
  QtMainWindow& w = f.Load();
  w.inputField->setText(input.replace("@", QString::fromStdString(f.dir.path())));
  w.outputField->setText(output);
  w.useProfile->setChecked(profile);
  emit w.fileMenu->aboutToShow();
  QCOMPARE(w.createProfileItem->isEnabled(), enabled);
}

void TestMainWindow::aboutAndTerms() {
  WindowFixture f;
  QtMainWindow& w = f.Load();
  w.aboutItem->trigger();
  w.termsItem->trigger();
  QCOMPARE(f.messages.boxes.size(), std::size_t(2));
  const auto& about = f.messages.boxes[0];
  QCOMPARE(about.title, std::string("Marklode"));
  QCOMPARE(about.kind, MessageKind::Information);
  QCOMPARE(about.text,
           std::string("Marklode version " MARKLODE_PROJECT_VERSION
                       "\r\n\r\nCopyright (C) 2026 The Marklode developers"
                       "\r\n\r\nHow to use it: Help > Notes. How it is built, tested and laid out: "
                       "the README.md that comes with its source."));
  const auto& terms = f.messages.boxes[1];
  QCOMPARE(terms.title, std::string("Marklode Terms of Use"));
  QCOMPARE(terms.kind, MessageKind::Plain);
  QVERIFY(terms.text.find("\"as is\"") != std::string::npos);
  QVERIFY(terms.text.size() > 550 && terms.text.size() < 650);
}

// The guide opens in the program's own viewer, wherever Notes.rtf may be.
void TestMainWindow::notesShowsGuide() {
  WindowFixture f;
  QtMainWindow& w = f.Load();
  w.show();
  w.notesItem->trigger();
  QDialog* guide = w.guide().dialog();
  QVERIFY(guide != nullptr);
  QVERIFY(guide->isVisible());
  QVERIFY(guide->isWindow());
  QVERIFY(guide->parentWidget() == nullptr);  // it outlives the window
  auto* text = guide->findChild<QTextBrowser*>("guideText");
  QVERIFY(text != nullptr);
  QVERIFY(text->isReadOnly());
  const QString shown = text->toPlainText();
  QVERIFY(shown.startsWith("Marklode User Guide"));
  QVERIFY(shown.contains("marklode '/data/a.csv;b.csv'"));
  QVERIFY(!shown.contains("(or pattern)"));
  QVERIFY(f.messages.boxes.empty());
  guide->close();
  w.notesItem->trigger();  // comes back, the same viewer
  QVERIFY(guide->isVisible());
  QCOMPARE(w.guide().dialog(), guide);
}

// At a large scale the guide asks for more than the screen holds: it is cut
// to the work area and lies whole on it; where it fits it keeps its size and
// opens over the window. (Also run on a small screen at double scale.)
void TestMainWindow::guideFitsTheScreen_data() {
  QTest::addColumn<int>("points");
  QTest::newRow("usual font") << 9;
  QTest::newRow("large font") << 26;
}

void TestMainWindow::guideFitsTheScreen() {
  QFETCH(int, points);
  AppFontSize fontSize(points);
  WindowFixture f;
  QtMainWindow& w = f.Load();
  const QRect area = w.screen()->availableGeometry();
  w.move(area.center() - w.rect().center());
  w.show();
  w.notesItem->trigger();
  QDialog* guide = w.guide().dialog();
  fontSize.Restore();
  QVERIFY(guide != nullptr && guide->isVisible());
  QVERIFY2(area.contains(guide->frameGeometry()), qPrintable(QString("%1,%2 %3x%4")
                                                                 .arg(guide->x())
                                                                 .arg(guide->y())
                                                                 .arg(guide->width())
                                                                 .arg(guide->height())));
  const QFontMetrics fm(guide->findChild<QTextBrowser*>("guideText")->font());
  const QSize wanted(fm.averageCharWidth() * 80, fm.lineSpacing() * 30);
  const QSize frame = w.frameGeometry().size() - w.size();
  const bool fits = wanted.width() + frame.width() <= area.width() &&
                    wanted.height() + frame.height() <= area.height();
  QCOMPARE(guide->size() == wanted, fits);
  if (fits) {  // centred over the window
    QVERIFY(qAbs(guide->geometry().center().x() - w.geometry().center().x()) <= 1);
    QVERIFY(qAbs(guide->geometry().center().y() - w.geometry().center().y()) <= 1);
  }
}

// A file dropped on the output field names it by its path; what is not one
// local file leaves the field as it was.
void TestMainWindow::droppedFileNamesOutput_data() {
  QTest::addColumn<QStringList>("urls");
  QTest::addColumn<QString>("expected");  // "=": the field keeps its text
  QTest::newRow("local file") << QStringList{"file:///data/trip.csv"} << "/data/trip.csv";
  QTest::newRow("escaped space") << QStringList{"file:///data/club%20tour.csv"}
                                 << "/data/club tour.csv";
  QTest::newRow("web address") << QStringList{"https://example.org/trip.csv"} << "=";
  QTest::newRow("two files") << QStringList{"file:///data/a.csv", "file:///data/b.csv"} << "=";
}

void TestMainWindow::droppedFileNamesOutput() {
  QFETCH(QStringList, urls);
  QFETCH(QString, expected);
  WindowFixture f;
  QtMainWindow& w = f.Load();
  w.show();
  QVERIFY(QTest::qWaitForWindowExposed(&w));
  w.outputField->setText("old.csv");
  f.ctx.OverwriteConfirmed = true;
  QMimeData mime;
  QList<QUrl> list;
  for (const QString& u : urls) list << QUrl(u);
  mime.setUrls(list);
  mime.setText(urls.join('\n'));  // file managers offer the addresses as text too
  const QPoint at = w.outputField->rect().center();
  QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(w.outputField, &enter);
  QCOMPARE(enter.isAccepted(), expected != "=");
  QDropEvent drop(QPointF(at), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(w.outputField, &drop);
  QCOMPARE(w.outputField->text(), expected == "=" ? QString("old.csv") : expected);
  QCOMPARE(f.ctx.OverwriteConfirmed, expected == "=");
}

// Closed maximised, the window stores where it stood before, not the
// screen's corner it fills.
void TestMainWindow::closingMaximisedStoresNormalPlace() {
  WindowFixture f;
  QtMainWindow& w = f.Load();
  w.show();
  QVERIFY(QTest::qWaitForWindowExposed(&w));
  w.move(90, 45);
  QTRY_COMPARE(w.pos(), QPoint(90, 45));
  w.showMaximized();
  QTRY_VERIFY(w.pos() != QPoint(90, 45));
  w.close();
  QCOMPARE(f.Stored("WindowX"), std::string("1350"));
  QCOMPARE(f.Stored("WindowY"), std::string("675"));
}

// Three buttons read "Browse...": each tells a screen reader its field.
void TestMainWindow::browseButtonsSayWhatTheyFill_data() {
  QTest::addColumn<QString>("button");
  QTest::addColumn<QString>("name");
  QTest::newRow("input") << "BrowseInput"
                         << "Browse for the input file";
  QTest::newRow("output") << "BrowseOutput"
                          << "Browse for the output file";
  QTest::newRow("profile") << "BrowseProfile"
                           << "Browse for the profile file";
}

void TestMainWindow::browseButtonsSayWhatTheyFill() {
  QFETCH(QString, button);
  QFETCH(QString, name);
  WindowFixture f;
  QtMainWindow& w = f.Load();
  auto* b = w.findChild<QPushButton*>(button);
  QVERIFY(b != nullptr);
  QCOMPARE(b->text(), QString("Browse..."));
  QCOMPARE(b->accessibleName(), name);
}

QTEST_MAIN(TestMainWindow)
#include "tst_main_window.moc"
