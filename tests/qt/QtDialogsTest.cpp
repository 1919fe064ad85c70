#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <string>

#include "QtTestSupport.h"
#include "shell/qt/QtDialogs.h"

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
INSTANTIATE_TEST_SUITE_P(
    Filters, QtNameFilterTest,
    ::testing::Values(FilterCase{"bmp file|*.bmp", "bmp file (*.bmp)"},
                      FilterCase{"Pictures|*.bmp;*.dib|All files|*.*", "Pictures (*.bmp *.dib);;All files (*.*)"},
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

}  // namespace
}  // namespace ostrelo::qtui
