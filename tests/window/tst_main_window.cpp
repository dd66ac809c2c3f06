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
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSet>
#include <QSignalSpy>
#include <QTextBrowser>
#include <QtTest>

#include "window/frm_get_command.h"
#include "window_fixture.h"

using namespace marklode;
using namespace marklode::testing;

namespace {

// A designed rectangle in twips, in the window's pixels.
QRect Designed(const frmGetCommand& w, int left, int top, int width, int height) {
  return QRect(w.Px(left), w.Px(top), w.Px(width), w.Px(height));
}

QColor Base(const QLineEdit* field) {
  return field->palette().color(QPalette::Base);
}

}  // namespace

class TestMainWindow : public QObject {
  Q_OBJECT

 private slots:
  void controlsAtDesignedPlaces_data();
  void controlsAtDesignedPlaces();
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
};

void TestMainWindow::controlsAtDesignedPlaces_data() {
  QTest::addColumn<QString>("name");
  QTest::addColumn<QString>("caption");
  QTest::addColumn<QRect>("twips");
  QTest::newRow("Option1") << "Option1"
                           << "&GPX --> POI" << QRect(1230, 345, 1320, 225);
  QTest::newRow("Option2") << "Option2"
                           << "&POI --> GPX" << QRect(3030, 345, 1320, 225);
  QTest::newRow("Label2") << "Label2"
                          << "&Input file(s):" << QRect(300, 885, 915, 285);
  QTest::newRow("Text1") << "Text1"
                         << "" << QRect(1245, 855, 2355, 315);
  QTest::newRow("Command3") << "Command3"
                            << "Browse..." << QRect(3750, 855, 1365, 315);
  QTest::newRow("Label1") << "Label1"
                          << "Ou&tput File:" << QRect(300, 1470, 915, 285);
  QTest::newRow("Text2") << "Text2"
                         << "" << QRect(1245, 1440, 2355, 315);
  QTest::newRow("Command1") << "Command1"
                            << "Browse..." << QRect(3750, 1440, 1365, 315);
  QTest::newRow("Check1") << "Check1"
                          << "&Use Conversion Profile:" << QRect(1245, 2010, 2265, 300);
  QTest::newRow("Label3") << "Label3"
                          << "P&rofile File:" << QRect(300, 2385, 915, 285);
  QTest::newRow("Text3") << "Text3"
                         << "" << QRect(1245, 2355, 2355, 315);
  QTest::newRow("Command2") << "Command2"
                            << "Browse..." << QRect(3750, 2355, 1365, 315);
  QTest::newRow("Command4") << "Command4"
                            << "Con&vert" << QRect(1245, 2940, 2355, 315);
  QTest::newRow("cmdCancel") << "cmdCancel"
                             << "&Close" << QRect(3750, 2940, 1365, 315);
}

void TestMainWindow::controlsAtDesignedPlaces() {
  QFETCH(QString, name);
  QFETCH(QString, caption);
  QFETCH(QRect, twips);
  WindowFixture f;
  frmGetCommand& w = f.Load();
  QCOMPARE(w.windowTitle(), QString("Marklode"));
  QWidget* control = w.findChild<QWidget*>(name);
  QVERIFY(control != nullptr);
  QCOMPARE(control->geometry(), Designed(w, twips.x(), twips.y(), twips.width(), twips.height()));
  // Nothing of a caption is cut off or drawn under its neighbour.
  if (!qobject_cast<QLineEdit*>(control))
    QVERIFY2(control->sizeHint().width() <= control->width(), qPrintable(name));
  if (auto* label = qobject_cast<QLabel*>(control)) {
    QVERIFY(label->geometry().right() < w.Text1->x());
    QVERIFY(label->buddy() != nullptr);
  }
  if (auto* label = qobject_cast<QLabel*>(control)) QCOMPARE(label->text(), caption);
  if (auto* button = qobject_cast<QAbstractButton*>(control)) QCOMPARE(button->text(), caption);
  if (auto* field = qobject_cast<QLineEdit*>(control)) QCOMPARE(field->text(), QString());
}

void TestMainWindow::menuCaptions_data() {
  QTest::addColumn<QString>("menu");
  QTest::addColumn<QStringList>("items");
  QTest::newRow("File") << "cmdFileMenu" << QStringList{"&File", "Create &Profile", "E&xit"};
  QTest::newRow("Options") << "cmdOptions" << QStringList{"&Options", "Keep Comment Line Breaks"};
  QTest::newRow("Help") << "cmdHelp"
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
  frmGetCommand& w = f.Load();
  const std::vector<QWidget*> order{w.Option1, w.Option2,  w.Text1,    w.Command3,
                                    w.Text2,   w.Command1, w.Command4, w.cmdCancel,
                                    w.Check1,  w.Text3,    w.Command2, w.Option1};
  for (std::size_t i = 0; i + 1 < order.size(); ++i) {
    QWidget* next = order[i]->nextInFocusChain();
    while (!(next->focusPolicy() & Qt::TabFocus) || !next->isVisibleTo(&w))
      next = next->nextInFocusChain();
    QCOMPARE(next->objectName(), order[i + 1]->objectName());
  }
  QVERIFY(w.Command4->isDefault());
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
  frmGetCommand& w = f.Load();
  w.show();
  QVERIFY(QTest::qWaitForWindowExposed(&w));
  w.resize(w.DesignWidth() + widthChange, w.DesignHeight() + heightChange);
  QTRY_COMPARE(w.width(), w.DesignWidth() + growth);
  QCOMPARE(w.height(), w.DesignHeight());
  QCOMPARE(w.centralWidget()->height(), w.Px(3555));

  for (QLineEdit* field : {w.Text1, w.Text2, w.Text3})
    QCOMPARE(field->width(), w.Px(2355) + growth);
  for (QPushButton* browse : {w.Command1, w.Command2, w.Command3})
    QCOMPARE(browse->x(), w.Px(3750) + growth);
  for (QWidget* line : {w.Line1, w.Line2}) QCOMPARE(line->geometry().right(), w.Px(5440) + growth);
  // Everything else keeps its designed place.
  QCOMPARE(w.Command4->geometry(), Designed(w, 1245, 2940, 2355, 315));
  QCOMPARE(w.cmdCancel->geometry(), Designed(w, 3750, 2940, 1365, 315));
  QCOMPARE(w.Check1->geometry(), Designed(w, 1245, 2010, 2265, 300));
  QCOMPARE(w.Option2->geometry(), Designed(w, 3030, 345, 1320, 225));
  QCOMPARE(f.Stored("WindowWidth"), std::to_string((w.DesignWidth() + growth) * 15));
}

void TestMainWindow::layoutShowsEndOfLongPaths() {
  WindowFixture f;
  const std::string longPath = "/home/someone/" + std::string(120, 'x') + "/trip.gpx";
  f.settings.values = {{"InFileGPX", longPath},
                       {"OutFileGPX", longPath + ".csv"},
                       {"ProfileFile", longPath + ".zvp"}};
  frmGetCommand& w = f.Load();
  w.resize(w.DesignWidth() + 20, w.DesignHeight());
  w.Form_Resize();
  for (QLineEdit* field : {w.Text1, w.Text2, w.Text3})
    QCOMPARE(field->cursorPosition(), int(field->text().size()));
}

void TestMainWindow::firstStartShowsDesign() {
  WindowFixture f;
  frmGetCommand& w = f.Load();
  QVERIFY(w.Option1->isChecked());
  QVERIFY(!w.Check1->isChecked());
  QVERIFY(!w.cmdCMTLineBreak->isChecked());
  QVERIFY(!w.testAttribute(Qt::WA_Moved));  // the platform chooses the place
  QCOMPARE(w.width(), w.Px(5460));
  for (QLineEdit* field : {w.Text1, w.Text2, w.Text3}) QVERIFY(field->text().isEmpty());
  QVERIFY(!w.Text3->isEnabled());
  QVERIFY(!w.Command2->isEnabled());
  QVERIFY(w.Text1->isEnabled() && w.Text2->isEnabled() && w.Command1->isEnabled());
  QVERIFY(w.txtActiveModel->isHidden());
  QCOMPARE(Base(w.Text1), Base(w.txtActiveModel));
  QCOMPARE(Base(w.Text3), w.palette().color(QPalette::Window));
}

void TestMainWindow::restoresPosition_data() {
  QTest::addColumn<QString>("storedX");
  QTest::addColumn<QString>("storedY");
  QTest::addColumn<QString>("expectX");  // "centre", "keep" or pixels
  QTest::addColumn<QString>("expectY");
  QTest::newRow("on screen") << "1500"
                             << "900"
                             << "100"
                             << "60";
  QTest::newRow("right of the screen centres x") << "300000"
                                                 << "900"
                                                 << "centre"
                                                 << "60";
  QTest::newRow("negative centres") << "-100"
                                    << "-15"
                                    << "centre"
                                    << "centre";
  QTest::newRow("below the screen centres y") << "1500"
                                              << "300000"
                                              << "100"
                                              << "centre";
  QTest::newRow("not numbers count as missing") << "left"
                                                << "12px"
                                                << "keep"
                                                << "keep";
  QTest::newRow("blanks around a number") << " 1500 "
                                          << "  "
                                          << "100"
                                          << "keep";
  QTest::newRow("decimal twips") << "1507.5"
                                 << "0"
                                 << "101"
                                 << "0";
}

void TestMainWindow::restoresPosition() {
  QFETCH(QString, storedX);
  QFETCH(QString, storedY);
  QFETCH(QString, expectX);
  QFETCH(QString, expectY);
  WindowFixture f;
  f.settings.values = {{"WindowX", storedX.toStdString()}, {"WindowY", storedY.toStdString()}};
  frmGetCommand& w = f.Load();
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
  const QFont before = QApplication::font();
  QFont font = before;
  font.setPointSize(points);
  QApplication::setFont(font);
  WindowFixture f;
  frmGetCommand& w = f.Load();
  QApplication::setFont(before);
  QCOMPARE(w.Label1->font().pointSize(), points);
  for (QWidget* control : std::initializer_list<QWidget*>{
           w.Option1, w.Option2, w.Label1, w.Label2, w.Label3, w.Check1, w.Command1, w.Command2,
           w.Command3, w.Command4, w.cmdCancel, w.Text1}) {
    QVERIFY2(control->sizeHint().width() <= control->width(), qPrintable(control->objectName()));
    QVERIFY2(control->sizeHint().height() <= control->height(), qPrintable(control->objectName()));
  }
  for (QLabel* label : {w.Label1, w.Label2, w.Label3})
    QVERIFY(label->geometry().right() < w.Text1->x());
  QVERIFY(w.Option1->geometry().right() < w.Option2->x());
  QVERIFY(w.Text1->geometry().right() < w.Command3->x());
  QCOMPARE(w.width(), w.DesignWidth());
}

// Stored geometries given in pixels from the screen's right and bottom edges
// ("R-50": 50 pixels left of the right edge) or plain twips.
void TestMainWindow::keepsWindowOnScreen_data() {
  QTest::addColumn<QString>("storedX");
  QTest::addColumn<QString>("storedY");
  QTest::addColumn<QString>("storedWidth");
  QTest::newRow("left edge near the right edge") << "R-50"
                                                 << "900"
                                                 << "";
  QTest::newRow("top edge near the bottom edge") << "1500"
                                                 << "B-20"
                                                 << "";
  QTest::newRow("near both edges") << "R-1"
                                   << "B-1"
                                   << "";
  QTest::newRow("wider than the screen") << "0"
                                         << "0"
                                         << "R+400";
  QTest::newRow("wider than the screen, far right") << "R-10"
                                                    << "900"
                                                    << "R+2000";
  QTest::newRow("wider, not placed") << ""
                                     << ""
                                     << "R+400";
  QTest::newRow("fits as stored") << "1500"
                                  << "900"
                                  << "9000";
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
  frmGetCommand& w = f.Load();
  QVERIFY2(area.contains(w.geometry()),
           qPrintable(QString("%1,%2 %3x%4").arg(w.x()).arg(w.y()).arg(w.width()).arg(w.height())));
  QCOMPARE(w.Text1->width(), w.Px(2355) + w.width() - w.DesignWidth());
  if (storedWidth == "9000") {
    QCOMPARE(w.pos(), QPoint(100, 60));  // a window that fits stays where it was
    QCOMPARE(w.width(), std::max(600, w.DesignWidth()));
  }
  if (storedX.isEmpty()) QVERIFY(!w.testAttribute(Qt::WA_Moved));
}

void TestMainWindow::maximisedWidensFields() {
  WindowFixture f;
  frmGetCommand& w = f.Load();
  w.showMaximized();
  QVERIFY(QTest::qWaitForWindowExposed(&w));
  QTRY_VERIFY(w.width() > w.DesignWidth());
  const int growth = w.width() - w.DesignWidth();
  for (QLineEdit* field : {w.Text1, w.Text2, w.Text3})
    QCOMPARE(field->width(), w.Px(2355) + growth);
  for (QPushButton* browse : {w.Command1, w.Command2, w.Command3})
    QCOMPARE(browse->x(), w.Px(3750) + growth);
  w.showNormal();
  QTRY_COMPARE(w.Text1->width(), w.Px(2355) + w.width() - w.DesignWidth());
}

// Alt with a letter reaches every field and the main buttons, without a letter
// taken twice; the fields explain what they take.
void TestMainWindow::mnemonicsAndTooltips() {
  WindowFixture f;
  frmGetCommand& w = f.Load();
  QStringList captions;
  for (QMenu* menu : {w.cmdFileMenu, w.cmdOptions, w.cmdHelp}) captions << menu->title();
  for (QAbstractButton* b : std::initializer_list<QAbstractButton*>{w.Option1, w.Option2, w.Check1,
                                                                    w.Command4, w.cmdCancel})
    captions << b->text();
  for (QLabel* label : {w.Label1, w.Label2, w.Label3}) captions << label->text();
  QSet<QChar> letters;
  for (const QString& caption : captions) {
    const qsizetype amp = caption.indexOf('&');
    QVERIFY2(amp >= 0 && amp + 1 < caption.size(), qPrintable(caption));
    const QChar letter = caption.at(amp + 1).toLower();
    QVERIFY2(!letters.contains(letter), qPrintable(caption));
    letters.insert(letter);
  }
  QCOMPARE(w.Label2->buddy(), w.Text1);
  QCOMPARE(w.Label1->buddy(), w.Text2);
  QCOMPARE(w.Label3->buddy(), w.Text3);
  QVERIFY(w.Text1->toolTip().contains("\";\""));
  QVERIFY(w.Text1->toolTip().contains("*"));
  QVERIFY(w.Text3->toolTip().contains("profile"));
  QVERIFY(!w.Text2->toolTip().isEmpty());
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
  frmGetCommand& w = f.Load();
  width = std::max(width, w.DesignWidth());
  QCOMPARE(w.width(), width);
  QCOMPARE(w.Text1->width(), w.Px(2355) + width - w.Px(5460));
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
  frmGetCommand& w = f.Load();
  QCOMPARE(w.Option1->isChecked(), option1);
  QCOMPARE(w.Option2->isChecked(), !option1);
  QCOMPARE(w.Check1->isChecked(), profile);
  QCOMPARE(w.Text3->isEnabled(), profile);
  QCOMPARE(w.cmdCMTLineBreak->isChecked(), checked);
}

void TestMainWindow::directionSwitchReloadsFields() {
  WindowFixture f;
  f.settings.values = {{"InFileGPX", "/g/in.gpx"},
                       {"OutFileGPX", "/g/out.csv"},
                       {"InFilePOI", "/p/in.csv"},
                       {"OutFilePOI", "/p/out.gpx"}};
  frmGetCommand& w = f.Load();
  QCOMPARE(w.Text1->text(), QString("/g/in.gpx"));
  QCOMPARE(w.Text2->text(), QString("/g/out.csv"));
  w.Text1->setText("/g/unsaved.gpx");
  w.Option2->click();
  QCOMPARE(w.Text1->text(), QString("/p/in.csv"));
  QCOMPARE(w.Text2->text(), QString("/p/out.gpx"));
  w.Option1->click();
  QCOMPARE(w.Text1->text(), QString("/g/in.gpx"));  // the unsaved edit is gone
  QCOMPARE(w.Text2->text(), QString("/g/out.csv"));
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
  frmGetCommand& w = f.Load();
  (gpxToPoi ? w.Option1 : w.Option2)->click();
  const QColor windowColour = w.palette().color(QPalette::Window);

  w.Text1->setText(input);
  QCOMPARE(w.Text2->text(), placeholder);
  QVERIFY(!w.Text2->isEnabled());
  QVERIFY(!w.Command1->isEnabled());
  QCOMPARE(Base(w.Text2), windowColour);

  w.Text1->setText(input.left(input.indexOf(';')));  // the ";" deleted again
  QCOMPARE(w.Text2->text(), QString());
  QVERIFY(w.Text2->isEnabled());
  QVERIFY(w.Command1->isEnabled());
  QCOMPARE(Base(w.Text2), Base(w.Text1));
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
  frmGetCommand& w = f.Load();
  w.Check1->setChecked(true);
  if (!profile) w.Check1->setChecked(false);
  QCOMPARE(f.Stored("ProfileMode"), std::string(profile ? "True" : "False"));

  const bool list = storedInput.contains(';');
  QCOMPARE(w.Text1->isEnabled(), !profile);
  QCOMPARE(w.Command3->isEnabled(), !profile);
  QCOMPARE(w.Option1->isEnabled(), !profile);
  QCOMPARE(w.Option2->isEnabled(), !profile);
  QCOMPARE(w.Text2->isEnabled(), !profile && !list);
  QCOMPARE(w.Command1->isEnabled(), !profile && !list);
  QCOMPARE(w.Text3->isEnabled(), profile);
  QCOMPARE(w.Command2->isEnabled(), profile);
  const QColor windowColour = w.palette().color(QPalette::Window);
  const QColor fieldColour = Base(w.txtActiveModel);
  QCOMPARE(Base(w.Text1), profile ? windowColour : fieldColour);
  QCOMPARE(Base(w.Text3), profile ? fieldColour : windowColour);
  QCOMPARE(Base(w.Text2), profile || list ? windowColour : fieldColour);
  // Leaving profile mode gives the output field back with its text.
  QCOMPARE(w.Text2->text(), list ? QString("Same as input but with .CSV") : QString("/m/o.csv"));
}

void TestMainWindow::commentLineBreakItemIsStored() {
  WindowFixture f;
  frmGetCommand& w = f.Load();
  w.cmdCMTLineBreak->trigger();
  QVERIFY(w.cmdCMTLineBreak->isChecked());
  QCOMPARE(f.Stored("KeepCommentLineBreak"), std::string("True"));
  w.cmdCMTLineBreak->trigger();
  QVERIFY(!w.cmdCMTLineBreak->isChecked());
  QCOMPARE(f.Stored("KeepCommentLineBreak"), std::string("False"));
}

void TestMainWindow::enteringOutputFieldSelectsIt() {
  WindowFixture f;
  f.settings.values = {{"OutFileGPX", "/m/out.csv"}};
  frmGetCommand& w = f.Load();
  QVERIFY(!w.Text2->hasSelectedText());
  QFocusEvent in(QEvent::FocusIn, Qt::MouseFocusReason);
  QCoreApplication::sendEvent(w.Text2, &in);
  QTRY_COMPARE(w.Text2->selectedText(), QString("/m/out.csv"));
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
  frmGetCommand& w = f.Load();
  f.ctx.OverwriteConfirmed = true;
  QFocusEvent out(QEvent::FocusOut, Qt::FocusReason(reason));
  QCoreApplication::sendEvent(w.Text2, &out);
  QCOMPARE(f.ctx.OverwriteConfirmed, stillConfirmed);
}

void TestMainWindow::closingWays_data() {
  QTest::addColumn<QString>("way");
  QTest::addColumn<bool>("requestCleared");
  QTest::newRow("Close button") << "cmdCancel" << true;
  QTest::newRow("File Exit") << "cmdExit" << false;
  QTest::newRow("close box") << "box" << false;
}

void TestMainWindow::closingWays() {
  QFETCH(QString, way);
  QFETCH(bool, requestCleared);
  WindowFixture f;
  frmGetCommand& w = f.Load();
  w.show();
  QVERIFY(QTest::qWaitForWindowExposed(&w));
  w.move(90, 45);
  QTRY_COMPARE(w.pos(), QPoint(90, 45));
  f.ctx.request = Request{};
  QSignalSpy closed(&w, &frmGetCommand::closed);
  if (way == "cmdCancel")
    w.cmdCancel->click();
  else if (way == "cmdExit")
    w.cmdExit->trigger();
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
  frmGetCommand& w = f.Load();
  w.show();
  QVERIFY(QTest::qWaitForWindowExposed(&w));
  QSignalSpy closed(&w, &frmGetCommand::closed);
  QTest::keyClick(w.Text1, Qt::Key_Return);  // Convert, with nothing filled in
  QCOMPARE(f.LastMessage(), std::string("File name must be provided!"));
  QCOMPARE(closed.count(), 0);
  f.ctx.request = Request{};
  QTest::keyClick(w.Text2, Qt::Key_Escape);
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
  frmGetCommand& w = f.Load();
  w.Text1->setText(input.replace("@", QString::fromStdString(f.dir.path())));
  w.Text2->setText(output);
  w.Check1->setChecked(profile);
  emit w.cmdFileMenu->aboutToShow();
  QCOMPARE(w.cmdCreateProfile->isEnabled(), enabled);
}

void TestMainWindow::aboutAndTerms() {
  WindowFixture f;
  frmGetCommand& w = f.Load();
  w.cmdAbout->trigger();
  w.cmdTerms->trigger();
  QCOMPARE(f.messages.boxes.size(), std::size_t(2));
  const auto& about = f.messages.boxes[0];
  QCOMPARE(about.title, std::string("Marklode"));
  QCOMPARE(about.kind, MessageKind::Information);
  QCOMPARE(about.text, std::string("Marklode version " MARKLODE_PROJECT_VERSION
                                   "\r\n\r\nCopyright (C) 2026 The Marklode developers"
                                   "\r\n\r\nPlease report any issues to marklode@example.org"));
  const auto& terms = f.messages.boxes[1];
  QCOMPARE(terms.title, std::string("Marklode Terms of Use"));
  QCOMPARE(terms.kind, MessageKind::Plain);
  QVERIFY(terms.text.find("\"as is\"") != std::string::npos);
  QVERIFY(terms.text.size() > 550 && terms.text.size() < 650);
}

// The guide opens in the program's own viewer, wherever Notes.rtf may be.
void TestMainWindow::notesShowsGuide() {
  WindowFixture f;
  frmGetCommand& w = f.Load();
  w.show();
  w.cmdNotes->trigger();
  auto* guide = w.findChild<QDialog*>("guide");
  QVERIFY(guide != nullptr);
  QVERIFY(guide->isVisible());
  QCOMPARE(guide->parentWidget(), &w);
  auto* text = guide->findChild<QTextBrowser*>("guideText");
  QVERIFY(text != nullptr);
  QVERIFY(text->isReadOnly());
  const QString shown = text->toPlainText();
  QVERIFY(shown.startsWith("Marklode User Guide"));
  QVERIFY(shown.contains("marklode '/data/a.csv;b.csv'"));
  QVERIFY(!shown.contains("(or pattern)"));
  QVERIFY(f.messages.boxes.empty());
  guide->close();
  w.cmdNotes->trigger();  // comes back, the same viewer
  QVERIFY(guide->isVisible());
  QCOMPARE(w.findChildren<QDialog*>("guide").size(), 1);
}

QTEST_MAIN(TestMainWindow)
#include "tst_main_window.moc"
