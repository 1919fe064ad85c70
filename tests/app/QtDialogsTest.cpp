#include <gtest/gtest.h>

#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <string>

#include "QtTestSupport.h"
#include "app/QtDialogs.h"
#include "shots/ShotProcedure.h"

namespace ostrelo::qtui {
namespace {

struct FilterCase {
  const char* vb;
  const char* qt;
};
class QtNameFilterTest : public ::testing::TestWithParam<FilterCase> {};
TEST_P(QtNameFilterTest, DescriptionAndPatternPairsBecomeQtFilters) {
  EXPECT_EQ(QtNameFilter(GetParam().vb), QString(GetParam().qt));
}
INSTANTIATE_TEST_SUITE_P(Filters, QtNameFilterTest,
                         ::testing::Values(FilterCase{"bmp file|*.bmp", "bmp file (*.bmp)"},
                                           FilterCase{"Pictures|*.bmp;*.dib|All files|*.*",
                                                      "Pictures (*.bmp *.dib);;All files (*.*)"},
                                           FilterCase{"", ""}));

TEST(QtDialogs, InitialDirectoryIsHomeUnlessAFolderOfThisSystem) {
  const QString home = QDir::homePath();
  EXPECT_EQ(InitialDirectory("C:\\"), home);
  EXPECT_EQ(InitialDirectory("d:\\data"), home);
  EXPECT_EQ(InitialDirectory("\\\\server\\share"), home);
  EXPECT_EQ(InitialDirectory(""), home);
  EXPECT_EQ(InitialDirectory("/no/such/folder/here"), home);
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  EXPECT_EQ(InitialDirectory(dir.path().toStdString()), dir.path());
}

TEST(QtDialogs, BusyPointerStaysBalanced) {
  {
    QtDialogs dialogs;
    dialogs.SetBusyPointer(true);
    dialogs.SetBusyPointer(true);
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    dialogs.SetBusyPointer(false);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    dialogs.SetBusyPointer(false);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    dialogs.SetBusyPointer(true);
  }
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);  // restored when the dialogs go
}

TEST(QtDialogs, AskYesNoReportsTheAnswer) {
  QtDialogs dialogs;
  for (QMessageBox::StandardButton answer : {QMessageBox::Yes, QMessageBox::No}) {
    QString text;
    testing::AnswerNextModal([&](QWidget* modal) {
      auto* box = qobject_cast<QMessageBox*>(modal);
      if (box == nullptr) return modal->close(), void();
      text = box->text();
      box->button(answer)->click();
    });
    EXPECT_EQ(dialogs.AskYesNo("Overwrite it?", "Ostrelo"), answer == QMessageBox::Yes);
    EXPECT_EQ(text, "Overwrite it?");
  }
  for (const Answer onEnter : {Answer::Yes, Answer::No}) {
    testing::AnswerNextModal([](QWidget* modal) { QTest::keyClick(modal, Qt::Key_Return), modal->close(); });
    EXPECT_EQ(dialogs.AskYesNo("Overwrite it?", "Ostrelo", onEnter), onEnter == Answer::Yes);
  }
}

TEST(QtDialogs, SaveDialogTakesTheRequestAndLeavesOverwriteQuestionsToTheCaller) {
  QtDialogs dialogs;
  SaveDialogRequest request;
  request.title = "File name of the pictures";
  request.filter = "bmp file|*.bmp";
  request.fileName = "essai";
  request.defaultExt = "bmp";
  request.initDir = "C:\\";

  QFileDialog* seen = nullptr;
  QString title, directory, suffix;
  QStringList filters;
  bool confirms = true;
  testing::AnswerNextModal([&](QWidget* modal) {
    seen = qobject_cast<QFileDialog*>(modal);
    if (seen == nullptr) return modal->close(), void();
    title = seen->windowTitle();
    directory = QDir(seen->directory()).absolutePath();
    suffix = seen->defaultSuffix();
    filters = seen->nameFilters();
    confirms = !seen->testOption(QFileDialog::DontConfirmOverwrite);
    static_cast<QDialog*>(seen)->accept();
  });
  const std::optional<std::string> chosen = dialogs.ShowSave(request);
  ASSERT_NE(seen, nullptr);
  EXPECT_EQ(title, "File name of the pictures");
  EXPECT_EQ(directory, QDir(QDir::homePath()).absolutePath());
  EXPECT_EQ(suffix, "bmp");
  EXPECT_EQ(filters, QStringList{"bmp file (*.bmp)"});
  EXPECT_FALSE(confirms);
  ASSERT_TRUE(chosen.has_value());
  EXPECT_EQ(QString::fromStdString(*chosen), QDir(QDir::homePath()).filePath("essai.bmp"));

  testing::AnswerNextModal([](QWidget* modal) { modal->close(); });
  EXPECT_EQ(dialogs.ShowSave(request), std::nullopt);  // a cancel
}

// A name its caller's check refuses (a folder that does not exist, a name taken by a
// folder) is refused by the dialog itself: it says why and stays open for another.
TEST(QtDialogs, SaveDialogRefusesWhatTheCheckRefusesAndStaysOpen) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  ASSERT_TRUE(QDir(dir.path()).mkdir("im-0001.bmp"));
  QtDialogs dialogs;
  SaveDialogRequest request;
  request.initDir = dir.path().toStdString();
  request.defaultExt = "bmp";
  request.filter = "bmp file|*.bmp";
  request.check = [](const std::string& name) { return ShotFileProblem(name, 1); };

  QStringList told;
  bool stayedOpen = true, fits = true, readyToRetype = true;
  testing::AnswerNextModal([&](QWidget* modal) {
    auto* dialog = qobject_cast<QFileDialog*>(modal);
    if (dialog == nullptr) return modal->close(), void();
    QTimer boxes;
    QObject::connect(&boxes, &QTimer::timeout, [&] {
      if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        told << box->text();
        // The whole box on the screen, and its text not cut.
        auto* text = box->findChild<QLabel*>("qt_msgbox_label");
        fits = fits && box->screen()->availableGeometry().contains(box->frameGeometry()) && text != nullptr &&
               text->height() >= text->heightForWidth(text->width());
        box->accept();
      }
    });
    boxes.start(10);
    auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
    auto* save = dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Save);
    // Short enough for the dialog, too long once the shot's number is added.
    const QString tooLong = QString(250, 'n') + "-.bmp";
    for (const QString& refused : {QString("typo/im-.bmp"), QString("im-.bmp"), tooLong}) {
      name->setText(QDir(dir.path()).filePath(refused));  // as typed: selectFile leaves a focused field alone
      QTest::mouseClick(save, Qt::LeftButton);
      stayedOpen = stayedOpen && dialog->isVisible();
      // The refused name selected in the focused name field, to be typed over.
      readyToRetype = readyToRetype && dialog->focusWidget() == name && !name->text().isEmpty() &&
                      name->selectedText() == name->text();
    }
    // Typed whole over the refused name: the first Enter saves it.
    QTest::keyClicks(name, QDir(dir.path()).filePath("good-.bmp"));
    QTest::keyClick(QApplication::activePopupWidget() != nullptr ? QApplication::activePopupWidget() : name,
                    Qt::Key_Return);
    if (dialog->isVisible()) dialog->reject();
  });
  const std::optional<std::string> chosen = dialogs.ShowSave(request);
  ASSERT_EQ(told.size(), 3);
  EXPECT_TRUE(told[0].contains("does not exist")) << told[0].toStdString();
  EXPECT_TRUE(told[1].contains("is the name of a folder")) << told[1].toStdString();
  EXPECT_TRUE(told[2].contains("is too long for its folder")) << told[2].toStdString();
  EXPECT_TRUE(stayedOpen);
  EXPECT_TRUE(fits);
  EXPECT_TRUE(readyToRetype);
  EXPECT_EQ(chosen, QDir(dir.path()).filePath("good-.bmp").toStdString());
}

}  // namespace
}  // namespace ostrelo::qtui
