// ostrelo: the main window with real devices, or with simulated ones (--simulate).

#include <QApplication>
#include <QCoreApplication>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <cstdio>

#include "app/CommandLine.h"
#include "app/MainWindow.h"
#include "app/OutageRehearsal.h"
#include "app/OutsideRequests.h"
#include "app/Session.h"
#include "shots/SeriesPlan.h"

namespace {

// The main window once start-up has built it, and its form.
QPointer<ostrelo::qtui::MainWindow> mainWindow;
ostrelo::Form1* form = nullptr;
// A termination signal came: the program ends as soon as it can.
bool closeRequested = false;
ostrelo::qtui::OutageRehearsal* outages = nullptr;

// A modal dialog is closed first (its handler then finishes), then the window. A signal
// that comes during start-up, while a start-up message box is up, closes that box;
// start-up then goes on and main() closes the window as soon as it exists.
void CloseProgram() {
  closeRequested = true;
  // Ended from outside (the system shutting down): a running series goes on at the next
  // start, so its plan stays.
  if (form != nullptr) form->PlanSurvivesClose = true;
  if (QWidget* modal = QApplication::activeModalWidget()) {
    modal->close();
    QTimer::singleShot(0, [] { CloseProgram(); });
    return;
  }
  if (mainWindow) mainWindow->close();
}

void TakeRequest(ostrelo::qtui::OutsideRequest request) {
  using ostrelo::qtui::OutsideRequest;
  switch (request) {
    case OutsideRequest::ToggleCamera:
      if (outages != nullptr) outages->ToggleCamera("SIGUSR1");
      break;
    case OutsideRequest::ToggleCard:
      if (outages != nullptr) outages->ToggleCard("SIGUSR2");
      break;
    case OutsideRequest::End: CloseProgram(); break;
  }
}

// Called on the listener's thread: the request is run by the event loop.
void PostRequest(ostrelo::qtui::OutsideRequest request) {
  QMetaObject::invokeMethod(
      qApp, [request] { TakeRequest(request); }, Qt::QueuedConnection);
}

// The command line as the system gave it: on Windows the UTF-16 command line itself, not
// argv in the ANSI code page, so a folder named "Essai ä" arrives whole. Read before any
// window-system connection, so --help and a wrong option work without a display.
QStringList Arguments(int argc, char** argv) {
  const QCoreApplication reader(argc, argv);
  return QCoreApplication::arguments();
}

}  // namespace

int main(int argc, char** argv) {
  ostrelo::qtui::UseParentConsole();
  const QStringList arguments = Arguments(argc, argv);
  const ostrelo::qtui::CommandLine commandLine = ostrelo::qtui::ParseCommandLine(arguments);
  switch (commandLine.action) {
    case ostrelo::qtui::CommandLine::Action::Help:
    case ostrelo::qtui::CommandLine::Action::Version:
      std::fputs(commandLine.text.toLocal8Bit().constData(), stdout);
      return commandLine.exitCode;
    case ostrelo::qtui::CommandLine::Action::Error:
      std::fputs(commandLine.text.toLocal8Bit().constData(), stderr);
      return commandLine.exitCode;
    case ostrelo::qtui::CommandLine::Action::Run: break;
  }

  // Only our own options are on the command line: Qt's own are not taken from it.
  int qtArgc = 1;
  QApplication app(qtArgc, argv);
  ostrelo::qtui::ConfigureApplication();

  // SIGTERM and SIGINT (the console's Ctrl+C or its closing on Windows) end the program as
  // the operator would, so the camera and the card are released in order even when the
  // session is ended from outside.
  ostrelo::qtui::ListenForOutsideRequests(PostRequest);

  ostrelo::qtui::SessionOptions options;
  options.simulate = commandLine.simulate;
  options.resume = commandLine.resume;
  options.planFolder = ostrelo::FilePlanStore::DefaultFolder();
  options.statusFile = commandLine.statusFile.toStdString();
  for (const QString& url : commandLine.notifyUrls) options.notifyUrls.push_back(url.toStdString());
  options.notifyCommand = commandLine.notifyCommand.toStdString();
  options.notifyAfterSeconds = commandLine.notifyAfterSeconds;
  options.notifyDailyMinute = commandLine.notifyDailyMinute;
  ostrelo::qtui::Session session(options);
  form = &session.form();
  outages = &session.outages();
  // Start-up runs before the window exists; without a camera it ends the program here.
  if (!session.Start()) {
    ostrelo::qtui::OutsideRequestsDone();
    return session.exitCode();
  }

  ostrelo::qtui::MainWindow* window = session.window();
  mainWindow = window;
  QObject::connect(window, &ostrelo::qtui::MainWindow::ended, &app,
                   [](int exitCode) { QCoreApplication::exit(exitCode); });
  window->show();
  // Asked to end while start-up ran: end as soon as the event loop runs.
  if (closeRequested) QTimer::singleShot(0, [] { CloseProgram(); });
  const int status = QApplication::exec();
  if (!window->programEnded()) window->close();  // the event loop ended otherwise: shut down
  ostrelo::qtui::OutsideRequestsDone();
  return window->programEnded() ? session.exitCode() : status;
}
