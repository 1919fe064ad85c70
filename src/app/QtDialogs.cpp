#include "app/QtDialogs.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QRegularExpression>
#include <QStringList>

namespace ostrelo::qtui {

QString QtNameFilter(const std::string& filter) {
  const QStringList parts = QString::fromStdString(filter).split('|');
  QStringList filters;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    QStringList patterns = parts[i + 1].split(';', Qt::SkipEmptyParts);
    for (QString& p : patterns) p = p.trimmed();
    filters << parts[i].trimmed() + " (" + patterns.join(' ') + ")";
  }
  return filters.join(";;");
}

QString InitialDirectory(const std::string& initDir) {
  QString dir = QString::fromStdString(initDir);
  static const QRegularExpression windowsPath(R"(^([A-Za-z]:|\\\\))");
  if (dir.isEmpty() || windowsPath.match(dir).hasMatch() || !QDir(dir).exists()) return QDir::homePath();
  return dir;
}

namespace {

// A long name (a path) has no space to wrap at: a message box grows as wide as it and
// then cuts it. Zero-width spaces between its characters let it wrap at the box's
// usual width; words of ordinary length still wrap at their spaces.
QString Wrappable(const std::string& text) {
  constexpr qsizetype kLongWord = 30;
  const QString in = QString::fromStdString(text);
  QString out;
  qsizetype runStart = 0;
  for (qsizetype i = 0; i <= in.size(); ++i) {
    if (i < in.size() && !in.at(i).isSpace()) continue;
    const QString run = in.mid(runStart, i - runStart);
    if (run.size() < kLongWord) {
      out += run;
    } else {
      for (const QChar c : run) out += QString(c) + QChar(0x200B);
    }
    if (i < in.size()) out += in.at(i);
    runStart = i + 1;
  }
  return out;
}

}  // namespace

QtDialogs::~QtDialogs() {
  if (busy_) QApplication::restoreOverrideCursor();
}

void QtDialogs::MessageBox(const std::string& text, const std::string& title) {
  QMessageBox box(QMessageBox::NoIcon, QString::fromStdString(title), Wrappable(text), QMessageBox::Ok, parent_);
  box.exec();
}

bool QtDialogs::AskYesNo(const std::string& text, const std::string& title, Answer onEnter) {
  QMessageBox box(QMessageBox::NoIcon, QString::fromStdString(title), Wrappable(text),
                  QMessageBox::Yes | QMessageBox::No, parent_);
  box.setDefaultButton(onEnter == Answer::Yes ? QMessageBox::Yes : QMessageBox::No);
  return box.exec() == QMessageBox::Yes;
}

namespace {

// A save dialog that refuses a name its caller cannot use: it says why and stays open.
class CheckedSaveDialog final : public QFileDialog {
 public:
  CheckedSaveDialog(QWidget* parent, const SaveDialogRequest& request)
      : QFileDialog(parent, QString::fromStdString(request.title), InitialDirectory(request.initDir),
                    QtNameFilter(request.filter)),
        check_(request.check) {}

  void accept() override {
    TypedNameFirst();
    const QStringList files = selectedFiles();
    // A folder is entered by the dialog itself, as the operator expects.
    if (check_ && !files.isEmpty() && !QFileInfo(files.first()).isDir()) {
      const std::string problem = check_(QDir::toNativeSeparators(files.first()).toStdString());
      if (!problem.empty()) {
        QMessageBox box(QMessageBox::Warning, windowTitle(), Wrappable(problem), QMessageBox::Ok, this);
        box.exec();
        // The operator types the correction at once, over the refused name.
        if (auto* name = findChild<QLineEdit*>("fileNameEdit")) {
          name->setFocus(Qt::OtherFocusReason);
          name->selectAll();
        }
        return;
      }
    }
    QFileDialog::accept();
  }

 private:
  // The dialog takes the list's selection before the name field, and typing a path
  // selects the names it matches in the list as it goes: the first Enter after a whole
  // path went to a name merely passed on the way (a folder, so the dialog only went into
  // it). What the name field holds is what the operator means, unless it is a folder.
  void TypedNameFirst() {
    const auto* name = findChild<QLineEdit*>("fileNameEdit");
    auto* list = findChild<QAbstractItemView*>("listView");
    if (name == nullptr || list == nullptr || list->selectionModel() == nullptr || name->text().isEmpty()) return;
    if (QFileInfo(QDir(directory().absolutePath()).absoluteFilePath(name->text())).isDir()) return;
    list->selectionModel()->clearSelection();
  }

  std::function<std::string(const std::string&)> check_;
};

}  // namespace

std::optional<std::string> QtDialogs::ShowSave(const SaveDialogRequest& request) {
  CheckedSaveDialog dialog(parent_, request);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setDefaultSuffix(QString::fromStdString(request.defaultExt));
  // The caller asks its own question before overwriting a file.
  dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
  // A platform's own dialog would close on any name, without the caller's check.
  dialog.setOption(QFileDialog::DontUseNativeDialog, true);
  if (!request.fileName.empty()) dialog.selectFile(QString::fromStdString(request.fileName));
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  const QStringList files = dialog.selectedFiles();
  if (files.isEmpty()) return std::nullopt;
  return QDir::toNativeSeparators(files.first()).toStdString();
}

void QtDialogs::SetBusyPointer(bool busy) {
  if (busy == busy_) return;  // balanced: one override at most
  busy_ = busy;
  if (busy) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
  } else {
    QApplication::restoreOverrideCursor();
  }
}

NumberLocale SystemNumberLocale() {
  NumberLocale locale;
  const QString point = QLocale::system().decimalPoint();
  // The core reads numbers byte by byte: only a one-byte separator can be used.
  if (!point.isEmpty() && point.at(0).unicode() < 128)
    locale.decimalSeparator = static_cast<char>(point.at(0).unicode());
  return locale;
}

}  // namespace ostrelo::qtui
