#pragma once
// The About window APropos in Qt: built afresh from the About model each time the box
// is created; its events go to the model's handlers through the main window's
// dispatcher.

#include <QWidget>
#include <functional>
#include <map>
#include <string>

#include "shell/AboutBox.h"

namespace ostrelo::qtui {

class AboutWindow final : public QWidget {
  Q_OBJECT
 public:
  using Dispatcher = std::function<void(const std::function<void()>&)>;
  AboutWindow(AboutBoxModel& model, Dispatcher dispatch, QWidget* parent);

  // Shows what changed in the model (the photo).
  void Refresh();
  QWidget* controlWidget(const std::string& name) const;

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  AboutBoxModel& model_;
  Dispatcher dispatch_;
  std::map<std::string, QWidget*> widgets_;
  QWidget* photo_ = nullptr;
  bool leftDown_ = false;
};

}  // namespace ostrelo::qtui
