#pragma once
// The core's modal dialogs and busy pointer, with Qt.

#include <QPointer>
#include <QString>
#include <QWidget>
#include <string>

#include "shell/Platform.h"

namespace ostrelo::qtui {

// "bmp file|*.bmp" (description|pattern pairs, patterns separated by ';') as a Qt
// name filter: "bmp file (*.bmp)".
QString QtNameFilter(const std::string& filter);
// The folder the save dialog opens in: a folder of another system ("C:\") or one that
// does not exist here gives the user's home folder.
QString InitialDirectory(const std::string& initDir);

class QtDialogs final : public Dialogs {
 public:
  QtDialogs() = default;
  ~QtDialogs() override;
  QtDialogs(const QtDialogs&) = delete;
  QtDialogs& operator=(const QtDialogs&) = delete;

  // The window the dialogs belong to once it exists.
  void setParent(QWidget* parent) { parent_ = parent; }

  void MessageBox(const std::string& text, const std::string& title) override;
  bool AskYesNo(const std::string& text, const std::string& title, Answer onEnter = Answer::Yes) override;
  std::optional<std::string> ShowSave(const SaveDialogRequest& request) override;
  void SetBusyPointer(bool busy) override;
  bool busy() const { return busy_; }

 private:
  QPointer<QWidget> parent_;
  bool busy_ = false;
};

// The decimal separator of the user's locale, as the core reads numbers with it.
NumberLocale SystemNumberLocale();

}  // namespace ostrelo::qtui
