#include "shell/qt/QtDialogs.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
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
  const QString dir = QString::fromStdString(initDir);
  static const QRegularExpression windowsPath(R"(^([A-Za-z]:|\\\\))");
  if (dir.isEmpty() || windowsPath.match(dir).hasMatch() || !QDir(dir).exists()) return QDir::homePath();
  return dir;
}

QtDialogs::~QtDialogs() {
  if (busy_) QApplication::restoreOverrideCursor();
}

void QtDialogs::MessageBox(const std::string& text, const std::string& title) {
  QMessageBox box(QMessageBox::NoIcon, QString::fromStdString(title), QString::fromStdString(text), QMessageBox::Ok,
                  parent_);
  box.exec();
}

bool QtDialogs::AskYesNo(const std::string& text, const std::string& title) {
  QMessageBox box(QMessageBox::NoIcon, QString::fromStdString(title), QString::fromStdString(text),
                  QMessageBox::Yes | QMessageBox::No, parent_);
  box.setDefaultButton(QMessageBox::Yes);
  return box.exec() == QMessageBox::Yes;
}

std::optional<std::string> QtDialogs::ShowSave(const SaveDialogRequest& request) {
  QFileDialog dialog(parent_, QString::fromStdString(request.title), InitialDirectory(request.initDir),
                     QtNameFilter(request.filter));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setDefaultSuffix(QString::fromStdString(request.defaultExt));
  // The caller asks its own question before overwriting a file.
  dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
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
  if (!point.isEmpty() && point.at(0).unicode() < 128) locale.decimalSeparator = static_cast<char>(point.at(0).unicode());
  return locale;
}

}  // namespace ostrelo::qtui
