#include <gtest/gtest.h>

#include <QAccessible>
#include <QLabel>
#include <QScreen>
#include <QTest>
#include <string>

#include "QtTestSupport.h"
#include "app/AboutWindow.h"
#include "app/Widgets.h"
#include "shell/Numbers.h"

namespace ostrelo::qtui {
namespace {

using testing::SettleEvents;
using testing::SimulatedWindow;

void ClickBanner(SimulatedWindow& w) {
  QTest::mouseClick(w.window->banner(), Qt::LeftButton, {}, QPoint(300, 20));
  SettleEvents();
}

// Where the centred box's client area lands on the offscreen screen, pixels.
QPoint CentredPlace() {
  const QRect screen = QGuiApplication::primaryScreen()->geometry();
  return {RoundToInt32((screen.width() * 15.0 - 8025) / 2 / 15),
          RoundToInt32((screen.height() * 15.0 - 4320) / 2 / 15)};
}

TEST(QtAboutBox, BannerClickOpensOneCentredBox) {
  SimulatedWindow w;
  ASSERT_TRUE(w.started);
  EXPECT_EQ(w.window->aboutWindow(), nullptr);
  ClickBanner(w);
  AboutWindow* about = w.window->aboutWindow();
  ASSERT_NE(about, nullptr);
  EXPECT_TRUE(about->isVisible());
  EXPECT_FALSE(about->isModal());
  EXPECT_EQ(about->windowTitle(), "About ...");
  EXPECT_EQ(about->size(), QSize(535, 288));
  EXPECT_EQ(about->geometry().topLeft(), CentredPlace());
  EXPECT_EQ(about->palette().color(QPalette::Window), QColor(255, 255, 255));
  auto* name = qobject_cast<QLabel*>(about->controlWidget("Etiquette5"));
  ASSERT_NE(name, nullptr);
  EXPECT_EQ(name->text(), "Ostrelo");
  EXPECT_EQ(name->geometry(), QRect(15, 11, 473, 25));
  // Whatever font stands in for Arial, no caption is cut and both address lines show.
  for (const char* label : {"Etiquette3(0)", "Etiquette3(1)", "Etiquette4(0)", "Etiquette4(1)", "Etiquette4(3)"}) {
    const QRect ink = testing::InkBounds(about->controlWidget(label), Qt::white);
    EXPECT_TRUE(about->controlWidget(label)->rect().adjusted(0, 0, -1, -1).contains(ink)) << label;
    EXPECT_GE(ink.bottom(), std::string(label) == "Etiquette3(1)" ? 20 : 8) << label;
  }
  auto* date = qobject_cast<QLabel*>(about->controlWidget("Etiquette7"));
  EXPECT_EQ(date->text(), "Septembre 2010");
  EXPECT_EQ(date->palette().color(QPalette::WindowText), QColor(255, 0, 0));
  // The pictures at their sizes, the photo hidden.
  auto* photo = qobject_cast<QLabel*>(about->controlWidget("Photo"));
  EXPECT_EQ(photo->pixmap().size(), QSize(348, 260));
  EXPECT_EQ(photo->size(), QSize(350, 262));
  EXPECT_TRUE(photo->isHidden());
  EXPECT_EQ(qobject_cast<QLabel*>(about->controlWidget("Image1(0)"))->pixmap().size(), QSize(150, 156));
  EXPECT_EQ(qobject_cast<QLabel*>(about->controlWidget("Image1(1)"))->pixmap().size(), QSize(138, 34));
  // Announced as a dialog, its pictures by name.
  EXPECT_EQ(QAccessible::queryAccessibleInterface(about)->role(), QAccessible::Dialog);
  for (const char* picture : {"Photo", "Image1(0)", "Image1(1)"}) {
    const QString spoken =
        QAccessible::queryAccessibleInterface(about->controlWidget(picture))->text(QAccessible::Name);
    EXPECT_TRUE(!spoken.isEmpty() && spoken.toStdString() == w.form().about.Find(picture)->accessibleName) << picture;
  }

  // The main window stays usable, and a second click, here a screen reader's press of
  // the banner, brings the same box forward.
  EXPECT_TRUE(w.window->isEnabled());
  QAccessible::queryAccessibleInterface(w.window->banner())
      ->actionInterface()
      ->doAction(QAccessibleActionInterface::pressAction());
  SettleEvents();
  EXPECT_EQ(w.window->aboutWindow(), about);
  EXPECT_EQ(w.form().about.raiseCount, 1);
  EXPECT_EQ(w.form().about.instance, 1u);
}

// The banner takes the focus after the last control, shows it, and opens the box with
// Enter or Space.
TEST(QtAboutBox, BannerWithTheFocusOpensTheBoxFromTheKeyboard) {
  SimulatedWindow w;
  ASSERT_TRUE(w.started);
  for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Space}) {
    QApplication::setActiveWindow(w.window);
    w.window->controlWidget("Text_Gain")->setFocus();
    const QImage unfocused = w.window->banner()->grab().toImage();
    QTest::keyClick(w.window->controlWidget("Text_Gain"), Qt::Key_Tab);
    EXPECT_NE(w.window->banner()->grab().toImage(), unfocused) << key;
    QTest::keyClick(w.window->banner(), key);
    SettleEvents();
    ASSERT_NE(w.window->aboutWindow(), nullptr) << key;
    w.window->aboutWindow()->close();
    SettleEvents();
  }
}

class QtAboutBoxCloses : public ::testing::TestWithParam<const char*> {};
TEST_P(QtAboutBoxCloses, ClickOnListedControlOrBackground) {
  SimulatedWindow w;
  ASSERT_TRUE(w.started);
  ClickBanner(w);
  AboutWindow* about = w.window->aboutWindow();
  ASSERT_NE(about, nullptr);
  const std::string target = GetParam();
  QWidget* widget = target == "APropos" || target == "Escape" ? about : about->controlWidget(target);
  ASSERT_NE(widget, nullptr);
  // The background is clicked where no control lies.
  const QPoint at = target == "APropos" ? QPoint(4, 4) : QPoint(3, 3);
  target == "Escape" ? QTest::keyClick(about->windowHandle(), Qt::Key_Escape)
                     : QTest::mouseClick(widget, Qt::LeftButton, {}, at);
  EXPECT_FALSE(w.form().about.exists);
  SettleEvents();
  EXPECT_EQ(w.window->aboutWindow(), nullptr);
}
INSTANTIATE_TEST_SUITE_P(Targets, QtAboutBoxCloses,
                         ::testing::Values("APropos", "Etiquette3(0)", "Etiquette3(1)", "Etiquette4(0)",
                                           "Etiquette4(1)", "Etiquette4(2)", "Etiquette4(3)", "Etiquette5",
                                           "Etiquette7", "Image1(0)", "Image1(1)", "Escape"),
                         [](const auto& info) {
                           std::string n = info.param;
                           for (char& c : n) {
                             if (c == '(' || c == ')') c = '_';
                           }
                           return n;
                         });

TEST(QtAboutBox, AuthorsNameShowsThePhotoOnlyWhileHeldAndNeverCloses) {
  SimulatedWindow w;
  ASSERT_TRUE(w.started);
  ClickBanner(w);
  AboutWindow* about = w.window->aboutWindow();
  ASSERT_NE(about, nullptr);
  QWidget* author = about->controlWidget("Etiquette6(0)");
  QWidget* photo = about->controlWidget("Photo");
  for (Qt::MouseButton button : {Qt::LeftButton, Qt::RightButton}) {
    QTest::mousePress(author, button, {}, QPoint(20, 8));
    EXPECT_TRUE(photo->isVisible());
    // Drawn above the controls it covers.
    EXPECT_EQ(about->childAt(photo->geometry().center()), photo);
    QTest::mouseRelease(author, button, {}, QPoint(20, 8));
    EXPECT_FALSE(photo->isVisible());
    SettleEvents();
    ASSERT_EQ(w.window->aboutWindow(), about);
    EXPECT_TRUE(w.form().about.exists);
  }
  QTest::mouseClick(author, Qt::LeftButton, {}, QPoint(20, 8));
  SettleEvents();
  EXPECT_EQ(w.window->aboutWindow(), about);
  EXPECT_TRUE(w.form().about.exists);
}

TEST(QtAboutBox, ReopenedFreshCentredWithThePhotoHidden) {
  SimulatedWindow w;
  ASSERT_TRUE(w.started);
  ClickBanner(w);
  AboutWindow* first = w.window->aboutWindow();
  ASSERT_NE(first, nullptr);
  first->move(10, 10);  // moved away by the user
  QTest::mousePress(first->controlWidget("Etiquette6(0)"), Qt::LeftButton, {}, QPoint(20, 8));
  // Closed by its title bar while the photo shows.
  first->close();
  SettleEvents();
  EXPECT_EQ(w.window->aboutWindow(), nullptr);
  EXPECT_FALSE(w.form().about.exists);

  ClickBanner(w);
  AboutWindow* again = w.window->aboutWindow();
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(w.form().about.instance, 2u);
  EXPECT_TRUE(again->controlWidget("Photo")->isHidden());
  EXPECT_EQ(again->geometry().topLeft(), CentredPlace());
}

TEST(QtAboutBox, ClosingTheMainWindowTakesTheBoxAlong) {
  SimulatedWindow w;
  ASSERT_TRUE(w.started);
  ClickBanner(w);
  ASSERT_NE(w.window->aboutWindow(), nullptr);
  w.window->close();
  SettleEvents();
  EXPECT_EQ(w.window->aboutWindow(), nullptr);
  for (QWidget* t : QApplication::topLevelWidgets()) EXPECT_FALSE(t->isVisible()) << t->objectName().toStdString();
}

}  // namespace
}  // namespace ostrelo::qtui
