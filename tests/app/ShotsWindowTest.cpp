// One shot and a series through the real window: clicks, typing and Enter on the
// widgets, real time, simulated devices; pictures read back with Qt's own BMP reader.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QImage>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <algorithm>
#include <clocale>
#include <cmath>
#include <filesystem>
#include <string>

#include "QtTestSupport.h"
#include "app/QtDialogs.h"
#include "shell/Numbers.h"
#include "shots/BitmapWriter.h"
#include "shots/ShotsTestSupport.h"

namespace ostrelo::qtui {
namespace {

using ostrelo::testing::ReadFile;
using ostrelo::testing::SplitFields;
using ostrelo::testing::SplitLines;
using ostrelo::testing::TempFolder;
using testing::SimulatedWindow;

// Compares a picture read by Qt with the area of interest of a frame.
void ExpectSameAsArea(const QImage& image, const AcquisitionState& st, const std::string& what) {
  ASSERT_FALSE(image.isNull()) << what;
  ASSERT_EQ(image.width(), st.AoiWidth) << what;
  ASSERT_EQ(image.height(), st.AoiHeight) << what;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      const uint8_t expected = st.FrameBytes[static_cast<size_t>(st.AoiTop + y) * st.ImageWidth + st.AoiLeft + x];
      ASSERT_EQ(qGray(image.pixel(x, y)), expected) << what << " at " << x << "," << y;
    }
  }
}

TEST(QtShots, QImageReaderSeesTheAreaUprightWithTheFramesGreyLevels) {
  ostrelo::testing::Rig rig;
  TempFolder folder;
  AcquisitionState& st = rig.form.st;
  for (int i = 0; i < 256; ++i) st.GreyPalette[i] = PaletteEntry{uint8_t(i), uint8_t(i), uint8_t(i), 0};
  st.ImageWidth = 67;
  st.ImageHeight = 45;
  st.FrameByteCount = 67 * 45;
  st.FrameBytes.resize(67 * 45 + 1);
  for (size_t i = 0; i < st.FrameBytes.size(); ++i) st.FrameBytes[i] = static_cast<uint8_t>(i * 37 + i / 67);
  const int32_t areas[][4] = {{0, 0, 67, 45}, {3, 4, 5, 3}, {66, 44, 1, 1}, {10, 2, 33, 40}, {0, 20, 64, 1}};
  for (const auto& a : areas) {
    st.AoiLeft = a[0];
    st.AoiTop = a[1];
    st.AoiWidth = a[2];
    st.AoiHeight = a[3];
    const std::string name = folder / "area.bmp";
    SaveAoiBitmap(rig.form, name);
    QImageReader reader(QString::fromStdString(name));
    EXPECT_EQ(reader.format(), "bmp");
    ExpectSameAsArea(reader.read(), st, std::to_string(a[2]) + "x" + std::to_string(a[3]));
  }
}

TEST(QtShots, OneShotThenASeriesThroughTheWindow) {
  TempFolder folder;
  SimulatedWindow w;
  ASSERT_TRUE(w.started);
  Form1& form = w.form();
  form.st.DaqAcquisitionOn = false;
  const std::string chosen = folder / "run-.bmp";
  auto picture = [&](int n) { return folder / ("run-" + FormatNumber(n, "0000") + ".bmp"); };
  const std::string record = folder / "run.xls";
  w.dialogs.saveAnswers.push_back(chosen);

  auto* oneShot = w.widget<QPushButton>("Command1");
  auto* series = w.widget<QPushButton>("Command2");
  auto* timeText = w.widget<QLineEdit>("TimeText");
  auto* live = w.widget<QCheckBox>("LiveCheck");
  auto* warning = w.widget<QCheckBox>("CheckWarning");
  ASSERT_TRUE(oneShot && series && timeText && live && warning);

  // One shot: the dialog once, then the picture after the 100 ms tick.
  QTest::mouseClick(oneShot, Qt::LeftButton);
  EXPECT_TRUE(QTest::qWaitFor([&] { return form.ShotCounter == 1; }, 5000));
  EXPECT_EQ(w.dialogs.saveRequests.size(), 1u);
  EXPECT_TRUE(std::filesystem::exists(picture(1)));
  QTest::qWait(50);
  EXPECT_EQ(w.widget<QLabel>("RafLabel")->text(), "0001");
  EXPECT_EQ(w.widget<QLabel>("Label1")->text(), QString::fromStdString(" " + picture(1)));
  EXPECT_EQ(w.widget<QLabel>("Label3")->text(), QString::fromStdString(record));

  // The wait: typing turns the text green, Enter validates it and turns it red.
  timeText->setFocus();
  timeText->selectAll();
  QTest::keyClicks(timeText, "0.3");
  QTest::qWait(20);
  EXPECT_EQ(timeText->palette().color(QPalette::Text), QColor(0, 255, 0));
  QTest::keyClick(timeText, Qt::Key_Return);
  QTest::qWait(20);
  EXPECT_EQ(timeText->palette().color(QPalette::Text), QColor(255, 0, 0));
  EXPECT_DOUBLE_EQ(form.st.WaitTime, 0.3);
  EXPECT_EQ(form.ui.Timer1.interval(), 300);

  // The series with the live view off: the last frame stays in the buffer after STOP.
  QTest::mouseClick(live, Qt::LeftButton);
  QTest::mouseClick(series, Qt::LeftButton);
  EXPECT_EQ(form.ShotCounter, 2) << "the first shot of the series is taken during the click";
  QTest::qWait(20);
  EXPECT_EQ(series->text(), "STOP !");
  EXPECT_FALSE(oneShot->isEnabled());
  EXPECT_TRUE(warning->isVisible());
  EXPECT_TRUE(QTest::qWaitFor([&] { return form.ShotCounter >= 5; }, 10000));
  QTest::mouseClick(series, Qt::LeftButton);
  const int taken = form.ShotCounter;
  QTest::qWait(400);
  EXPECT_EQ(form.ShotCounter, taken) << "STOP stops at once";
  EXPECT_EQ(series->text(), "Multiple shots");
  EXPECT_EQ(series->palette().color(QPalette::Button), QColor(192, 192, 255));
  EXPECT_TRUE(oneShot->isEnabled());
  EXPECT_FALSE(warning->isVisible());
  EXPECT_EQ(w.widget<QLabel>("RafLabel")->text(), QString::fromStdString(FormatNumber(taken, "0000")));
  EXPECT_EQ(w.widget<QLabel>("Label1")->text(), QString::fromStdString(" " + picture(taken)));
  EXPECT_EQ(w.dialogs.saveRequests.size(), 1u);

  // On disk: the pictures in order, the record with one header and a line per shot.
  const auto lines = SplitLines(ReadFile(record));
  ASSERT_EQ(lines.size(), static_cast<size_t>(taken) + 1);
  EXPECT_EQ(lines[0], "Image \tTime");
  for (int n = 1; n <= taken; ++n) {
    const auto fields = SplitFields(lines[static_cast<size_t>(n)]);
    ASSERT_EQ(fields.size(), 2u);
    EXPECT_EQ(fields[0], picture(n));
    QImageReader reader(QString::fromStdString(picture(n)));
    const QImage image = reader.read();
    EXPECT_FALSE(image.isNull()) << picture(n) << ": " << reader.errorString().toStdString();
    EXPECT_EQ(image.width(), form.st.AoiWidth);
    EXPECT_EQ(image.height(), form.st.AoiHeight);
    if (n == taken) ExpectSameAsArea(image, form.st, "the last picture");
  }
}

TEST(QtShots, TheNextShotSavesTheAreaDraggedOnTheCameraView) {
  TempFolder folder;
  SimulatedWindow w;
  ASSERT_TRUE(w.started);
  Form1& form = w.form();
  form.st.DaqAcquisitionOn = false;
  QWidget* cam = w.window->controlWidget("PicCam");
  ASSERT_NE(cam, nullptr);

  // Drag from (100, 50) to (300, 90): 200 x 40 view pixels on a 456 x 342 view of a
  // 1280 x 1024 picture.
  QTest::mousePress(cam, Qt::LeftButton, {}, QPoint(100, 50));
  QTest::mouseMove(cam, QPoint(200, 70));
  QTest::mouseMove(cam, QPoint(300, 90));
  QTest::mouseRelease(cam, Qt::LeftButton, {}, QPoint(300, 90));
  const AcquisitionState& st = form.st;
  const int32_t left = RoundToInt32(100 * 1280.0 / 456), top = RoundToInt32(50 * 1024.0 / 342);
  const int32_t width = RoundToInt32(200 * 1280.0 / 456), height = RoundToInt32(40 * 1024.0 / 342);
  ASSERT_EQ(st.AoiLeft, left);
  ASSERT_EQ(st.AoiTop, top);
  ASSERT_EQ(st.AoiWidth, width);
  ASSERT_EQ(st.AoiHeight, height);
  EXPECT_EQ(w.widget<QLabel>("InfoCam")->text(), QString::fromStdString(AreaText(st)));

  w.dialogs.saveAnswers.push_back(folder / "area-.bmp");
  QTest::mouseClick(w.widget<QPushButton>("Command1"), Qt::LeftButton);
  ASSERT_TRUE(QTest::qWaitFor([&] { return form.ShotCounter == 1; }, 5000));
  QImageReader reader(QString::fromStdString(folder / "area-0001.bmp"));
  const QImage image = reader.read();
  ASSERT_FALSE(image.isNull()) << reader.errorString().toStdString();
  EXPECT_EQ(image.width(), width);
  EXPECT_EQ(image.height(), height);
  ExpectSameAsArea(image, st, "the dragged area");
}

// Run by ctest under LC_ALL=fr_FR.UTF-8 too, where the toolkit has set a decimal comma
// in the C library before the window reads anything typed.
TEST(QtShots, NumbersTypedInTheOperatorsLocale) {
  const char separator = SystemNumberLocale().decimalSeparator;
  ASSERT_EQ(std::string(std::localeconv()->decimal_point), std::string(1, separator))
      << "the C library is not in the operator's locale: is it generated? (scripts/install-deps)";
  TempFolder folder;
  SimulatedWindow w;
  ASSERT_TRUE(w.started);
  Form1& form = w.form();
  form.st.DaqAcquisitionOn = false;
  auto enter = [&](const char* name, const std::string& text) {
    auto* box = w.widget<QLineEdit>(name);
    box->setFocus();
    box->selectAll();
    QTest::keyClicks(box, QString::fromStdString(text));
    QTest::keyClick(box, Qt::Key_Return);
    QTest::qWait(20);
    return box->text().toStdString();
  };
  // The gain is shown in the locale; either box takes a comma or a point.
  const std::string gain = std::string("6") + separator + "5";
  EXPECT_EQ(enter("Text_Gain", gain), gain);
  EXPECT_EQ(enter("Text_Gain", "2dB"), gain) << "a refused entry shows the gain kept";
  EXPECT_EQ(enter("TimeText", "0,1"), "0,1");
  EXPECT_EQ(enter("TimeText", "1.5"), "1.5");
  EXPECT_EQ(form.ui.Timer1.interval(), 1500);

  w.dialogs.saveAnswers.push_back(folder / "fr-.bmp");
  auto* series = w.widget<QPushButton>("Command2");
  QTest::mouseClick(series, Qt::LeftButton);
  EXPECT_TRUE(QTest::qWaitFor([&] { return form.ShotCounter >= 3; }, 10000));
  QTest::mouseClick(series, Qt::LeftButton);

  // The record's stamps end in the seconds since midnight, in hundredths.
  const auto lines = SplitLines(ReadFile(folder / "fr.xls"));
  ASSERT_GE(lines.size(), 4u);
  std::vector<double> seconds;
  for (size_t n = 1; n < lines.size(); ++n) {
    std::string stamp = SplitFields(lines[n]).at(1).substr(8);
    std::replace(stamp.begin(), stamp.end(), separator, '.');
    seconds.push_back(LeadingNumber(stamp));
  }
  for (size_t n = 1; n < seconds.size(); ++n) {
    const double apart = std::fmod(seconds[n] - seconds[n - 1] + 86400, 86400);  // midnight between
    EXPECT_NEAR(apart, 1.5, 0.25) << "shot " << n + 1;
  }
}

}  // namespace
}  // namespace ostrelo::qtui
