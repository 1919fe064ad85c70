#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAccessible>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "QtTestSupport.h"
#include "app/Widgets.h"
#include "daq/nidaqmx/NiDaqmxDriver.h"
#include "daq/sim/SimulatedDaq.h"
#include "shell/ProgramError.h"
#include "shots/SeriesPlan.h"
#include "shots/ShotsTestSupport.h"

namespace ostrelo::qtui {
namespace {

using testing::SimulatedWindow;

QString Q(const std::string& s) { return QString::fromStdString(s); }

// The text a control's widget shows, whatever its kind.
QString ShownText(QWidget* w) {
  if (auto* label = qobject_cast<QLabel*>(w)) return label->text();
  if (auto* button = qobject_cast<QAbstractButton*>(w)) return button->text();
  if (auto* edit = qobject_cast<QLineEdit*>(w)) return edit->text();
  return {};
}

TEST(QtMainWindow, StartsFromTheModelAfterStartUp) {
  SimulatedWindow w;
  ASSERT_TRUE(w.started);
  MainWindow& win = *w.window;
  EXPECT_EQ(win.windowTitle(), "Ostrelo version 1.2 - 201103");
  // On laptops of 1366 x 768 and 1024 x 768, and 1920 x 1080 at a scale factor of 2
  // under a panel, the window fills the screen and scrolls to every control; on a large
  // enough screen it is as laid out.
  for (const QRect& available :
       {QRect(0, 0, 1366, 768), QRect(0, 0, 1024, 768), QRect(0, 24, 960, 516), QRect(0, 0, 1920, 1080)}) {
    win.FitToScreen(available);
    const bool fits = available.width() == 1920;
    EXPECT_TRUE(available.contains(win.frameGeometry())) << available.width();
    EXPECT_EQ(win.frameGeometry().bottom() == available.bottom(), !fits) << available.width();
    EXPECT_EQ(win.verticalScrollBar()->maximum() > 0, !fits) << available.width();
    EXPECT_EQ(win.horizontalScrollBar()->maximum() > 0, available.width() < 1288) << available.width();
    for (const char* name : {"PicZoom", "Histo", "Text_Gain", "InfoContainer", "Command1"}) {
      win.ensureWidgetVisible(win.controlWidget(name), 0, 0);
      EXPECT_FALSE(win.controlWidget(name)->visibleRegion().isEmpty()) << name << " " << available.width();
    }
  }
  EXPECT_EQ(win.size(), QSize(1288, 776));
  EXPECT_EQ(win.pos(), QPoint(0, 0));
  EXPECT_FALSE(win.windowIcon().isNull());
  EXPECT_TRUE(w.dialogs.messages.empty());
  EXPECT_EQ(ShownText(win.controlWidget("InfoCam")), "(0000,0000) - (W:1280 - H:1024)");

  // Every control of the model has its widget at its pixel geometry, with its text,
  // state and tooltip.
  int checked = 0;
  for (const Control* c : w.form().ui.Controls()) {
    QWidget* widget = win.controlWidget(c->name);
    const ControlKind k = c->kind;
    if (k == ControlKind::Line || k == ControlKind::Shape || c->name == "Overlay") {
      EXPECT_EQ(widget, nullptr) << c->name;  // drawn, not widgets
      continue;
    }
    ASSERT_NE(widget, nullptr) << c->name;
    ++checked;
    if (c->name != "InfoContainer") {
      EXPECT_EQ(widget->geometry(), QRect(c->left, c->top, c->width, c->height)) << c->name;
    }
    EXPECT_EQ(widget->isHidden(), !c->visible) << c->name;
    EXPECT_EQ(widget->isEnabled(), c->enabled) << c->name;
    EXPECT_EQ(widget->toolTip(), Q(c->tooltip)) << c->name;
    if (k == ControlKind::Label || k == ControlKind::CommandButton || k == ControlKind::CheckBox ||
        k == ControlKind::OptionButton || k == ControlKind::TextBox) {
      EXPECT_EQ(ShownText(widget), Q(c->caption)) << c->name;
    }
    if (auto* button = qobject_cast<QAbstractButton*>(widget); button != nullptr && button->isCheckable()) {
      EXPECT_EQ(button->isChecked(), c->value == 1) << c->name;
    }
  }
  EXPECT_EQ(checked, 38);

  // Spot checks of what the table above cannot see.
  EXPECT_EQ(win.controlWidget("PicCam")->geometry(), QRect(8, 32, 456, 342));
  EXPECT_EQ(win.controlWidget("Histo")->size(), QSize(569, 41));  // 565 x 37 inside a 2-pixel frame
  EXPECT_EQ(w.form().ui.HistoSurface.width, 565);
  EXPECT_EQ(ShownText(win.controlWidget("NomVoie(0)")), "Canal 0 : ");
  auto* timeText = w.widget<QLineEdit>("TimeText");
  EXPECT_EQ(timeText->palette().color(QPalette::Text), QColor(255, 0, 0));
  EXPECT_TRUE(timeText->alignment() & Qt::AlignRight);
  EXPECT_EQ(w.widget<QPushButton>("Command2")->palette().color(QPalette::Button), QColor(192, 192, 255));
  // Flat faces in exactly the buttons' colours: no gradient from the top.
  for (const auto& [name, face] : {std::pair{"Command1", QColor(192, 255, 192)}, {"Command2", QColor(192, 192, 255)}}) {
    EXPECT_EQ(win.controlWidget(name)->grab().toImage().pixelColor(6, 4), face) << name;
  }
  EXPECT_EQ(w.widget<QCheckBox>("CheckNoSignal")->palette().color(QPalette::WindowText), QColor(0, 128, 0));
  EXPECT_EQ(win.controlWidget("RafLabel")->font().pixelSize(), 18);  // 13.5 pt at 96 dpi
  EXPECT_TRUE(win.controlWidget("Picture1")->font().bold());

  // What a screen reader announces for controls without a caption, and the option pair.
  using A = QAccessible;
  for (const auto& [name, role, spoken] : {std::tuple{"TimeText", A::EditableText, "Wait time"},
                                           {"Text_Gain", A::EditableText, "Gain"},
                                           {"SatText", A::EditableText, "Saturation threshold"},
                                           {"NoText", A::EditableText, "No signal threshold"},
                                           {"PicCam", A::Graphic, "Camera view"},
                                           {"PicZoom", A::Graphic, "Zoom view"},
                                           {"Histo", A::Graphic, "Histogram"},
                                           {"InfoContainer", A::Button, "Ostrelo banner"},
                                           {"Option1(0)", A::RadioButton, "RSE (single ended)"},
                                           {"Option1(1)", A::RadioButton, "DIFF (Differential)"}}) {
    QAccessibleInterface* spokenAs = QAccessible::queryAccessibleInterface(win.controlWidget(name));
    EXPECT_EQ(spokenAs->role(), role) << name;
    EXPECT_EQ(spokenAs->text(A::Name), spoken) << name;
  }
  EXPECT_EQ(QAccessible::queryAccessibleInterface(&win)->role(), A::Window);
  EXPECT_EQ(QAccessible::queryAccessibleInterface(win.banner())->text(A::Description), "Opens the About box");

  // The banner docked to the bottom across the window, saying the devices are simulated.
  EXPECT_EQ(win.banner()->geometry(), QRect(0, 776 - 53, 1288, 53));
  EXPECT_EQ(win.banner()->picture().size(), QSize(1272, 49));
  EXPECT_TRUE(win.banner()->simulatedNote()->isVisible());
  // The disk's time left beside the note, amber, red under an hour.
  for (const bool urgent : {false, true}) {
    w.form().ui.DiskNotice = "Disk full in 5 h 12 min";
    w.form().ui.DiskNoticeUrgent = urgent;
    win.Refresh();
    const QLabel* disk = win.banner()->diskNotice();
    EXPECT_TRUE(disk->isVisible() && disk->text() == "Disk full in 5 h 12 min");
    EXPECT_EQ(disk->palette().color(QPalette::Window), urgent ? QColor(255, 0, 0) : QColor(255, 200, 0));
    EXPECT_LT(disk->geometry().right(), win.banner()->simulatedNote()->x());
  }

  EXPECT_TRUE(win.visuTimer().isActive());
  EXPECT_EQ(win.visuTimer().interval(), 200);
  EXPECT_FALSE(win.shotTimer().isActive());
}

TEST(QtMainWindow, KeyboardFocusFollowsTheTabIndexes) {
  SimulatedWindow w;
  ASSERT_TRUE(w.started);
  std::vector<std::pair<int32_t, QWidget*>> expected;
  for (const Control* c : w.form().ui.Controls()) {
    QWidget* widget = w.window->controlWidget(c->name);
    if (widget != nullptr && widget->focusPolicy() != Qt::NoFocus) expected.emplace_back(c->tabIndex, widget);
  }
  std::sort(expected.begin(), expected.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  // The banner, which opens the About box, comes last whatever its tab index.
  std::stable_partition(expected.begin(), expected.end(),
                        [&w](const auto& e) { return e.second != w.window->banner(); });
  ASSERT_EQ(expected.size(), 15u);
  std::vector<QWidget*> chain;
  QWidget* at = expected.front().second;
  for (size_t i = 0; i < 200 && chain.size() < expected.size(); ++i, at = at->nextInFocusChain()) {
    if (std::any_of(expected.begin(), expected.end(), [at](const auto& e) { return e.second == at; })) {
      chain.push_back(at);
    }
  }
  ASSERT_EQ(chain.size(), expected.size());
  for (size_t i = 0; i < chain.size(); ++i) EXPECT_EQ(chain[i], expected[i].second) << i;
  ASSERT_TRUE(QTest::qWaitForWindowActive(w.window));
  EXPECT_EQ(QApplication::focusWidget(), expected.front().second) << "at start, not on the banner";
}

TEST(QtMainWindow, ModelChangesReachOnlyTheWidgetsThatChanged) {
  SimulatedWindow w;
  ASSERT_TRUE(w.started);
  MainWindowModel& ui = w.form().ui;

  // The area-of-interest logic resizes the zoom view; the warning panel shows over it.
  ui.PicZoom.left = 600;
  ui.PicZoom.width = 300;
  ui.PicZoom.height = 200;
  ui.Picture1.visible = true;
  ui.Picture1Text = "\rPlease don't touch\rTest in progress\r\r55/60s remained";
  ui.RafLabel.caption = "0007";
  ui.Command2.caption = "STOP !";
  ui.Command2.backColour = Rgb(255, 0, 0);
  ui.Command1.enabled = false;
  ui.CheckWarning.visible = true;
  ui.CheckHisto.value = 1;
  ui.Text_Gain.caption = "12.5";
  ui.Text_Gain.selStart = 1;
  ui.Text_Gain.selLength = 2;
  ui.ZoomShape.visible = true;
  ui.CamSurface.Fill(GreyPixel(128));
  w.window->Refresh();

  EXPECT_EQ(w.window->controlWidget("PicZoom")->geometry(), QRect(600, 32, 300, 200));
  auto* panel = qobject_cast<WarningPanel*>(w.window->controlWidget("Picture1"));
  ASSERT_NE(panel, nullptr);
  EXPECT_TRUE(panel->isVisible());
  EXPECT_EQ(panel->lines(), (QStringList{"", "Please don't touch", "Test in progress", "", "55/60s remained"}));
  EXPECT_EQ(QAccessible::queryAccessibleInterface(panel)->text(QAccessible::Name),
            "Please don't touch\nTest in progress\n55/60s remained");
  // Lines 37 pixels apart, Arial's, whatever font stands in: the fifth line fits.
  const QRect ink = testing::InkBounds(panel, Qt::black);
  EXPECT_GT(ink.bottom(), 4 * 37);
  EXPECT_LT(ink.bottom(), 5 * 37);
  // Drawn above the zoom view it covers.
  const QWidgetList order = panel->parentWidget()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
  EXPECT_GT(order.indexOf(panel), order.indexOf(w.window->controlWidget("PicZoom")));
  EXPECT_EQ(ShownText(w.window->controlWidget("RafLabel")), "0007");
  EXPECT_EQ(ShownText(w.window->controlWidget("Command2")), "STOP !");
  // Pure red; a dotted frame shows the focus, and the edge sinks while pressed.
  auto* stop = w.widget<QPushButton>("Command2");
  const QImage raised = stop->grab().toImage();
  EXPECT_EQ(raised.pixelColor(6, 4), QColor(255, 0, 0));
  QApplication::setActiveWindow(w.window);
  stop->setFocus();
  EXPECT_NE(stop->grab().toImage(), raised);
  stop->setDown(true);
  EXPECT_NE(stop->grab().toImage().pixelColor(0, 0), raised.pixelColor(0, 0));
  EXPECT_FALSE(w.window->controlWidget("Command1")->isEnabled());
  EXPECT_TRUE(w.window->controlWidget("CheckWarning")->isVisible());
  EXPECT_TRUE(w.widget<QCheckBox>("CheckHisto")->isChecked());
  auto* gain = w.widget<QLineEdit>("Text_Gain");
  EXPECT_EQ(gain->text(), "12.5");
  EXPECT_EQ(gain->selectionStart(), 1);
  EXPECT_EQ(gain->selectedText(), "2.");
  auto* cam = qobject_cast<SurfaceView*>(w.window->controlWidget("PicCam"));
  ASSERT_NE(cam, nullptr);
  EXPECT_EQ(cam->shownRevision(), ui.CamSurface.revision);

  // A picture of the view shows the surface's pixels and the rectangle shape.
  ui.ZoomShape.left = 100;
  ui.ZoomShape.top = 100;
  ui.ZoomShape.width = 50;
  ui.ZoomShape.height = 40;
  w.window->Refresh();
  const QImage shot = cam->grab().toImage();
  EXPECT_EQ(shot.pixelColor(10, 10), QColor(128, 128, 128));
  EXPECT_EQ(shot.pixelColor(101, 120), QColor(255, 0, 0));
  EXPECT_EQ(shot.pixelColor(125, 120), QColor(128, 128, 128));

  // A file name on one line: a long one loses the middle of its folder, never its own
  // name, and the whole name is in the tooltip and the accessible description.
  const std::string folder =
      "/home/operator/measurements/2011-03-14/camera-pictures-of-the-second-run-with-the-new-lens/";
  for (const auto& [name, file] :
       {std::pair{"Label1", "long-exposure-at-f8-and-a-filter-0001.bmp"}, {"Label3", "x.xls"}}) {
    ui.Find(name)->caption = folder + file;
    w.window->Refresh();
    auto* label = w.widget<QLabel>(name);
    EXPECT_TRUE(label->text().endsWith(Q("/") + file) && label->text().contains(QChar(0x2026))) << name;
    EXPECT_LE(QFontMetrics(label->font()).horizontalAdvance(label->text()), label->contentsRect().width()) << name;
    EXPECT_EQ(label->toolTip(), Q(folder + file)) << name;
    EXPECT_EQ(QAccessible::queryAccessibleInterface(label)->text(QAccessible::Description), label->toolTip()) << name;
  }

  // An unchanged model leaves the user's caret alone.
  gain->setCursorPosition(4);
  w.window->Refresh();
  EXPECT_EQ(gain->cursorPosition(), 4);
}

TEST(QtMainWindow, WidgetEventsReachTheCoreHandlers) {
  SimulatedWindow w;
  ASSERT_TRUE(w.started);
  MainWindowModel& ui = w.form().ui;

  // A user click on "Live" unticks it in the model, and the live timer follows the core.
  QTest::mouseClick(w.window->controlWidget("LiveCheck"), Qt::LeftButton, {}, QPoint(6, 8));
  EXPECT_EQ(ui.LiveCheck.value, 0);
  EXPECT_FALSE(w.window->visuTimer().isActive());
  // Anywhere in the control's rectangle, beyond its caption too.
  QTest::mouseClick(w.window->controlWidget("LiveCheck"), Qt::LeftButton, {}, QPoint(74, 18));
  EXPECT_EQ(ui.LiveCheck.value, 1);
  EXPECT_TRUE(w.window->visuTimer().isActive());

  // Typing edits the model's text and caret.
  auto* timeText = w.widget<QLineEdit>("TimeText");
  timeText->setFocus();
  timeText->selectAll();
  QTest::keyClicks(timeText, "12");
  EXPECT_EQ(ui.TimeText.caption, "12");
  EXPECT_EQ(ui.TimeText.selStart, 2);
  EXPECT_EQ(ui.TimeText.selLength, 0);
  QTest::keyClick(timeText, Qt::Key_Left);
  QTest::keyClick(timeText, Qt::Key_Return);
  EXPECT_EQ(ui.TimeText.selStart, 1);  // the caret as it was at Enter

  // The outage chords, typed in any control, take a simulated device away and back; others do nothing.
  const Qt::KeyboardModifiers chord = Qt::ControlModifier | Qt::ShiftModifier;
  for (const auto& [key, modifiers, camera, card] :
       {std::tuple{Qt::Key_F7, chord, true, false},
        {Qt::Key_F8, chord, true, true},
        {Qt::Key_F7, chord, false, true},
        {Qt::Key_F7, Qt::KeyboardModifiers(Qt::ControlModifier), false, true},
        {Qt::Key_F8, chord, false, false}}) {
    QTest::keyClick(timeText, key, modifiers);
    EXPECT_EQ(w.camera().script.noPicture, camera) << key << "/" << modifiers.toInt();
    EXPECT_EQ(w.session->simulatedDaq()->script.awayUntilMs != 0, card) << key << "/" << modifiers.toInt();
  }
  EXPECT_EQ(ui.TimeText.caption, "12");

  // The option pair selects in the model once enabled.
  ui.Option1[0].enabled = ui.Option1[1].enabled = true;
  w.window->Refresh();
  QTest::mouseClick(w.window->controlWidget("Option1(1)"), Qt::LeftButton, {}, QPoint(110, 18));
  EXPECT_EQ(ui.Option1[1].value, 1);
  EXPECT_EQ(ui.Option1[0].value, 0);
  QTest::mouseClick(w.window->controlWidget("Option1(1)"), Qt::LeftButton, {}, QPoint(6, 10));
  EXPECT_EQ(ui.Option1[1].value, 1);  // a second click keeps it selected
  EXPECT_TRUE(w.widget<QRadioButton>("Option1(1)")->isChecked());
  EXPECT_FALSE(w.widget<QRadioButton>("Option1(0)")->isChecked());
  ui.Option1[1].value = 0;  // the model may also leave both unselected
  w.window->Refresh();
  EXPECT_FALSE(w.widget<QRadioButton>("Option1(1)")->isChecked());
}

TEST(QtMainWindow, CameraViewMouseEventsCarryButtonsKeysAndPositionsEvenOutsideTheView) {
  SimulatedWindow w;
  ASSERT_TRUE(w.started);
  auto* cam = qobject_cast<SurfaceView*>(w.window->controlWidget("PicCam"));
  ASSERT_NE(cam, nullptr);
  QSignalSpy spy(cam, &SurfaceView::mouse);
  QTest::mousePress(cam, Qt::LeftButton, Qt::ShiftModifier, QPoint(10, 20));
  QTest::mouseMove(cam, QPoint(-15, 400));  // dragged past the view's left and bottom edges
  QTest::mouseRelease(cam, Qt::LeftButton, {}, QPoint(-15, 400));
  QTest::mousePress(cam, Qt::RightButton, Qt::ControlModifier, QPoint(30, 40));
  QTest::mouseRelease(cam, Qt::RightButton, {}, QPoint(30, 40));

  struct Seen {
    MouseAction action;
    int32_t button, shift;
    double x, y;
  };
  const Seen expected[] = {{MouseAction::Down, 1, 1, 10, 20},
                           {MouseAction::Move, 1, 0, -15, 400},
                           {MouseAction::Up, 1, 0, -15, 400},
                           {MouseAction::Down, 2, 2, 30, 40},
                           {MouseAction::Up, 2, 0, 30, 40}};
  ASSERT_EQ(spy.count(), 5);
  for (int i = 0; i < 5; ++i) {
    const QList<QVariant>& e = spy.at(i);
    EXPECT_EQ(e.at(0).value<MouseAction>(), expected[i].action) << i;
    EXPECT_EQ(e.at(1).toInt(), expected[i].button) << i;
    EXPECT_EQ(e.at(2).toInt(), expected[i].shift) << i;
    EXPECT_DOUBLE_EQ(e.at(3).toDouble(), expected[i].x) << i;
    EXPECT_DOUBLE_EQ(e.at(4).toDouble(), expected[i].y) << i;
  }
}

TEST(QtMainWindow, DraggingOnTheCameraViewSelectsTheAreaAndFitsTheZoomView) {
  SimulatedWindow w;
  ASSERT_TRUE(w.started);
  MainWindowModel& ui = w.form().ui;
  QWidget* cam = w.window->controlWidget("PicCam");
  QWidget* zoom = w.window->controlWidget("PicZoom");
  const QRect homeZoom = zoom->geometry();

  QTest::mousePress(cam, Qt::LeftButton, {}, QPoint(100, 50));
  QTest::mouseMove(cam, QPoint(300, 90));
  EXPECT_TRUE(ui.ZoomShape.visible);
  EXPECT_FALSE(w.window->visuTimer().isActive());  // the live view waits for the release
  EXPECT_NE(ShownText(w.window->controlWidget("InfoCam")), "(0000,0000) - (W:1280 - H:1024)");
  EXPECT_EQ(ShownText(w.window->controlWidget("InfoCam")), Q(ui.InfoCam.caption));
  QTest::mouseRelease(cam, Qt::LeftButton, {}, QPoint(300, 90));

  // A wide area: a full-width zoom view of reduced height, hanging from the same top.
  EXPECT_FALSE(ui.ZoomShape.visible);
  EXPECT_TRUE(w.window->visuTimer().isActive());
  EXPECT_EQ(zoom->geometry(), QRect(ui.PicZoom.left, ui.PicZoom.top, ui.PicZoom.width, ui.PicZoom.height));
  EXPECT_EQ(zoom->width(), homeZoom.width());
  EXPECT_EQ(zoom->y(), homeZoom.y());
  EXPECT_LT(zoom->height(), homeZoom.height());

  // A right click gives back the whole picture.
  QTest::mouseClick(cam, Qt::RightButton, {}, QPoint(20, 20));
  EXPECT_EQ(zoom->geometry(), homeZoom);
  EXPECT_EQ(ShownText(w.window->controlWidget("InfoCam")), "(0000,0000) - (W:1280 - H:1024)");
}

TEST(QtMainWindow, TimersRestartWhenTheModelStartsThemAgain) {
  SimulatedWindow w;
  ASSERT_TRUE(w.started);
  MainWindowModel& ui = w.form().ui;
  ui.Timer1.SetInterval(1000);
  ui.Timer1.Start();
  w.window->Refresh();
  EXPECT_TRUE(w.window->shotTimer().isActive());
  EXPECT_EQ(w.window->shotTimer().interval(), 1000);
  QTest::qWait(300);
  ui.Timer1.Stop();
  ui.Timer1.Start();  // a new generation: the countdown starts again from now
  w.window->Refresh();
  EXPECT_GT(w.window->shotTimer().remainingTime(), 800);
  ui.Timer1.SetInterval(0);  // never fires
  w.window->Refresh();
  EXPECT_FALSE(w.window->shotTimer().isActive());
}

TEST(QtMainWindow, ClosingTheWindowShutsDownAndNoTickFollows) {
  ostrelo::testing::TempFolder plans;
  SimulatedWindow w(true, plans.path().string());
  ASSERT_TRUE(w.started);
  EXPECT_FALSE(FilePlanStore(plans.path(), "next").owned());
  QSignalSpy ended(w.window, &MainWindow::ended);
  w.form().ui.Timer1.Start();  // a series running
  w.window->Refresh();
  w.camera().calls.clear();

  EXPECT_TRUE(w.window->close());
  EXPECT_EQ(w.form().phase(), Phase::Ended);
  ASSERT_EQ(ended.count(), 1);
  EXPECT_EQ(ended.at(0).at(0).toInt(), 0);
  EXPECT_EQ(w.form().exitCode(), 0);
  EXPECT_FALSE(w.window->visuTimer().isActive());
  EXPECT_FALSE(w.window->shotTimer().isActive());
  EXPECT_FALSE(w.form().ui.Timer1.enabled());
  const std::vector<std::string> shutDown = w.camera().calls;
  ASSERT_GE(shutDown.size(), 3u);
  EXPECT_EQ(shutDown.back(), "DMR_Close");
  EXPECT_EQ(w.camera().lockedRequests(), 0);
  EXPECT_TRUE(FilePlanStore(plans.path(), "next").owned()) << "a program started now keeps the plans";

  // Nothing runs any more: no tick, no event.
  QTest::qWait(450);
  w.window->Dispatch([&] { w.form().VisuTimer_Timer(); });
  EXPECT_EQ(w.camera().calls, shutDown);
  EXPECT_EQ(ended.count(), 1);
}

TEST(QtMainWindow, UncaughtErrorShowsTheQtMessageBoxThenEndsNonZero) {
  SimulatedWindow w(/*injectDialogs=*/false);
  ASSERT_TRUE(w.started);
  QSignalSpy ended(w.window, &MainWindow::ended);
  QString text, title;
  QMessageBox::Icon icon = QMessageBox::Warning;
  QList<QAbstractButton*> buttons;
  testing::AnswerNextModal([&](QWidget* modal) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    if (box == nullptr) {
      modal->close();
      return;
    }
    text = box->text();
    title = box->windowTitle();
    icon = box->icon();
    buttons = box->buttons();
    box->button(QMessageBox::Ok)->click();
  });

  w.window->Dispatch([] { throw ProgramError(-200279, "The application is not able to keep up."); });

  EXPECT_EQ(text, "Run-time error '-200279':\n\nThe application is not able to keep up.");
  EXPECT_EQ(title, "Ostrelo");
  EXPECT_EQ(icon, QMessageBox::NoIcon);
  EXPECT_EQ(buttons.size(), 1);
  ASSERT_EQ(ended.count(), 1);
  EXPECT_NE(ended.at(0).at(0).toInt(), 0);
  EXPECT_EQ(w.form().phase(), Phase::Ended);
  EXPECT_FALSE(w.window->isVisible());
  EXPECT_FALSE(w.window->visuTimer().isActive());
  EXPECT_EQ(w.camera().calls.back(), "DMR_Close");  // released as on a normal close
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST(QtMainWindow, LiveTimerTicksBringThePictureToTheView) {
  SimulatedWindow w;
  ASSERT_TRUE(w.started);
  auto* cam = qobject_cast<SurfaceView*>(w.window->controlWidget("PicCam"));
  ASSERT_NE(cam, nullptr);
  const uint64_t before = w.form().ui.CamSurface.revision;
  QTest::qWait(700);  // a few 200 ms ticks
  EXPECT_GT(w.form().ui.CamSurface.revision, before);
  EXPECT_EQ(cam->shownRevision(), w.form().ui.CamSurface.revision);
  const QImage shown = cam->grab().toImage();
  EXPECT_NE(shown.pixelColor(10, 10), QColor(255, 255, 255));
  int greys = 0;
  for (int x = 0; x < shown.width(); x += 8) greys += shown.pixelColor(x, 200) != shown.pixelColor(0, 200);
  EXPECT_GT(greys, 10);  // a picture, not a plain fill
}

TEST(QtMainWindow, RealDevicesWithoutTheDaqLibraryRunWithAcquisitionOff) {
  if (NiDaqmxDriver().loaded()) GTEST_SKIP() << "NI-DAQmx is installed on this machine";
  ManualClock cameraClock;
  ostrelo::testing::FakeDialogs dialogs;
  SessionOptions options;
  options.dialogs = &dialogs;
  options.makeRealCamera = [&cameraClock] {
    auto camera = std::make_unique<SimulatedCamera>(cameraClock);
    camera->script.instant = true;
    return std::unique_ptr<CameraDriver>(std::move(camera));
  };
  Session session(options);
  ASSERT_TRUE(session.Start());
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(dialogs.messages[0].text, "No NI card found, data acquisition disabled");
  EXPECT_EQ(dialogs.messages[0].title, "Ostrelo");
  MainWindow& win = *session.window();
  auto* acquisition = qobject_cast<QCheckBox*>(win.controlWidget("AcquiCheck"));
  EXPECT_FALSE(acquisition->isChecked());
  EXPECT_FALSE(acquisition->isEnabled());
  EXPECT_FALSE(win.banner()->simulatedNote()->isVisibleTo(win.banner()));  // real devices
  win.close();
  EXPECT_EQ(session.exitCode(), 0);
}

struct NoCameraCase {
  const char* what;
  bool simulate;
  bool failInit;
};
class QtStartUpWithoutCamera : public ::testing::TestWithParam<NoCameraCase> {};
TEST_P(QtStartUpWithoutCamera, ShowsTheMessageAndNeverTheWindow) {
  ostrelo::testing::FakeDialogs dialogs;
  SessionOptions options;
  options.simulate = GetParam().simulate;
  options.instantCamera = true;
  options.dialogs = &dialogs;
  options.makeRealCamera = [] { return std::unique_ptr<CameraDriver>(); };  // backend could not load
  Session session(options);
  if (GetParam().failInit) session.simulatedCamera()->script.failInit = true;

  EXPECT_FALSE(session.Start());
  EXPECT_EQ(session.window(), nullptr);
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(dialogs.messages[0].text, "No camera found, please check USB cable");
  EXPECT_EQ(dialogs.messages[0].title, "Ostrelo");
  EXPECT_NE(session.exitCode(), 0);
  EXPECT_EQ(session.form().phase(), Phase::Ended);
  for (QWidget* t : QApplication::topLevelWidgets()) EXPECT_FALSE(t->isVisible()) << t->objectName().toStdString();
}
INSTANTIATE_TEST_SUITE_P(Backends, QtStartUpWithoutCamera,
                         ::testing::Values(NoCameraCase{"NoBackend", false, false},
                                           NoCameraCase{"SimulatedInitFails", true, true}),
                         [](const auto& info) { return std::string(info.param.what); });

}  // namespace
}  // namespace ostrelo::qtui
