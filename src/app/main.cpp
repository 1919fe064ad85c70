// ostrelo: the main window with real devices, or with simulated ones (--simulate).

#include <sys/socket.h>
#include <unistd.h>
#include <QApplication>
#include <QPointer>
#include <QSocketNotifier>
#include <QStringList>
#include <QTimer>
#include <csignal>
#include <cstdio>

#include "app/CommandLine.h"
#include "app/MainWindow.h"
#include "app/Session.h"
#include "camera/sim/SimulatedCamera.h"
#include "daq/sim/SimulatedDaq.h"
#include "shots/SeriesPlan.h"

namespace {

int signalPipe[2] = {-1, -1};
constexpr char kTerminate = 1;
constexpr char kToggleCamera = 2;
constexpr char kToggleCard = 3;

void OnSignal(int signal) {
  const char c = signal == SIGUSR1 ? kToggleCamera : signal == SIGUSR2 ? kToggleCard : kTerminate;
  [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &c, 1);
}

// SIGTERM and SIGINT end the program as the operator would, so the camera and the card
// are released in order even when the session is ended from outside. SIGUSR1 takes the
// simulated camera away and brings it back, to rehearse an outage, and SIGUSR2 does the
// same with the simulated card. A signal that comes
// before the event loop runs waits in the pipe until it does.
void CatchSignals() {
  if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0) return;
  struct sigaction action = {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGUSR1, &action, nullptr);
  sigaction(SIGUSR2, &action, nullptr);
}

// The main window once start-up has built it, and its form.
QPointer<ostrelo::qtui::MainWindow> mainWindow;
ostrelo::Form1* form = nullptr;
// A termination signal came: the program ends as soon as it can.
bool closeRequested = false;
// The simulated camera and card, when the devices are simulated.
ostrelo::SimulatedCamera* simulatedCamera = nullptr;
ostrelo::SimulatedDaq* simulatedDaq = nullptr;

void ToggleSimulatedCamera() {
  if (simulatedCamera == nullptr) {
    std::fputs("SIGUSR1 ignored: the camera is not simulated\n", stderr);
    return;
  }
  bool& away = simulatedCamera->script.noPicture;
  away = !away;
  std::fputs(away ? "Simulated camera away (SIGUSR1 brings it back)\n" : "Simulated camera back\n", stderr);
}

void ToggleSimulatedCard() {
  if (simulatedDaq == nullptr) {
    std::fputs("SIGUSR2 ignored: the DAQ card is not simulated\n", stderr);
    return;
  }
  int64_t& awayUntilMs = simulatedDaq->script.awayUntilMs;
  const bool away = awayUntilMs == 0;
  awayUntilMs = away ? INT64_MAX : 0;
  std::fputs(away ? "Simulated DAQ card away (SIGUSR2 brings it back)\n" : "Simulated DAQ card back\n", stderr);
}

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

}  // namespace

int main(int argc, char** argv) {
  // The command line is read before any window-system connection, so --help and a
  // wrong option work without a display.
  QStringList arguments;
  for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
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

  CatchSignals();
  if (signalPipe[0] >= 0) {
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [] {
      char c = kTerminate;
      [[maybe_unused]] const ssize_t n = ::read(signalPipe[0], &c, 1);
      if (c == kToggleCamera) {
        ToggleSimulatedCamera();
      } else if (c == kToggleCard) {
        ToggleSimulatedCard();
      } else {
        CloseProgram();
      }
    });
  }

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
  simulatedCamera = session.simulatedCamera();
  simulatedDaq = session.simulatedDaq();
  // Start-up runs before the window exists; without a camera it ends the program here.
  if (!session.Start()) return session.exitCode();

  ostrelo::qtui::MainWindow* window = session.window();
  mainWindow = window;
  QObject::connect(window, &ostrelo::qtui::MainWindow::ended, &app,
                   [](int exitCode) { QCoreApplication::exit(exitCode); });
  window->show();
  // Asked to end while start-up ran: end as soon as the event loop runs.
  if (closeRequested) QTimer::singleShot(0, [] { CloseProgram(); });
  const int status = QApplication::exec();
  if (!window->programEnded()) window->close();  // the event loop ended otherwise: shut down
  return window->programEnded() ? session.exitCode() : status;
}
