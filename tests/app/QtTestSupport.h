#pragma once
// The window as the executable builds it, with simulated devices, on the offscreen
// platform; and a way to answer the modal dialogs a handler opens.

#include <QApplication>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>

#include "app/MainWindow.h"
#include "app/Session.h"
#include "camera/sim/SimulatedCamera.h"
#include "support/TestRig.h"

namespace ostrelo::qtui::testing {

struct SimulatedWindow {
  // With injectDialogs false the real Qt dialogs are used; the plans are kept in planFolder.
  explicit SimulatedWindow(bool injectDialogs = true, const std::string& planFolder = "") {
    SessionOptions options;
    options.planFolder = planFolder;
    options.simulate = true;
    options.instantCamera = true;
    options.dialogs = injectDialogs ? &dialogs : nullptr;
    session = std::make_unique<Session>(options);
    session->simulatedCamera()->recordCalls = true;
    started = session->Start();
    window = session->window();
    if (window != nullptr) {
      window->show();
      (void)QTest::qWaitForWindowExposed(window);
    }
  }
  Form1& form() { return session->form(); }
  SimulatedCamera& camera() { return *session->simulatedCamera(); }
  template <typename W>
  W* widget(const std::string& name) {
    return qobject_cast<W*>(window->controlWidget(name));
  }

  ostrelo::testing::FakeDialogs dialogs;
  std::unique_ptr<Session> session;
  MainWindow* window = nullptr;
  bool started = false;
};

// Calls handle() with the next modal dialog once it is open; handle must close it.
inline void AnswerNextModal(std::function<void(QWidget*)> handle) {
  auto* poll = new QTimer(qApp);
  QObject::connect(poll, &QTimer::timeout, poll, [poll, handle] {
    if (QWidget* modal = QApplication::activeModalWidget()) {
      poll->stop();
      poll->deleteLater();
      handle(modal);
    }
  });
  poll->start(10);
}

// Where a widget's picture differs from the given background: the bounds of its ink.
inline QRect InkBounds(QWidget* widget, const QColor& background) {
  const QImage shown = widget->grab().toImage();
  QRect ink;
  for (int y = 0; y < shown.height(); ++y) {
    for (int x = 0; x < shown.width(); ++x) ink |= shown.pixelColor(x, y) != background ? QRect(x, y, 1, 1) : QRect();
  }
  return ink;
}

// Lets deferred deletions and posted events run.
inline void SettleEvents() {
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  QCoreApplication::processEvents();
}

}  // namespace ostrelo::qtui::testing
