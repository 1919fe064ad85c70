#include "app/Session.h"

#include <QApplication>
#include <QIcon>
#include <QStyleFactory>
#include <QSysInfo>
#include <QTimer>

#include <cstdio>

#include "app/AbsentDevices.h"
#include "app/Accessibility.h"
#include "app/ControlLook.h"
#include "app/MainWindow.h"
#include "app/OutageRehearsal.h"
#include "app/PlatformBackends.h"
#include "app/QtDialogs.h"
#include "app/ScreenReaderQueries.h"
#include "camera/sim/SimulatedCamera.h"
#include "daq/nidaqmx/NiDaqmxDriver.h"
#include "daq/sim/SimulatedDaq.h"
#include "shots/SeriesPlan.h"
#include "watch/Notifications.h"
#include "watch/Watcher.h"

#ifdef OSTRELO_HAVE_ARAVIS
#include "camera/aravis/AravisCamera.h"
#endif

namespace ostrelo::qtui {

namespace {

std::unique_ptr<CameraDriver> DefaultRealCamera() {
#ifdef OSTRELO_HAVE_ARAVIS
  return MakeAravisCamera();
#else
  return nullptr;
#endif
}

}  // namespace

#ifndef OSTRELO_VERSION
#define OSTRELO_VERSION "unknown"
#endif

void ConfigureApplication() {
  QApplication::setApplicationName("Ostrelo");
  QApplication::setApplicationVersion(OSTRELO_VERSION);
  // Fusion honours the controls' own colours (text boxes, check boxes) on every desktop.
  QApplication::setStyle(QStyleFactory::create("Fusion"));
  QApplication::setWindowIcon(QIcon(":/artwork/ostrelo.ico"));
  QApplication::setQuitOnLastWindowClosed(false);
  InstallFontSubstitutes();
  InstallAccessibility();
  WatchScreenReaderQueries();
}

Session::Session(const SessionOptions& options) {
  if (options.dialogs == nullptr) qtDialogs_ = std::make_unique<QtDialogs>();
  Dialogs& dialogs = options.dialogs != nullptr ? *options.dialogs : *qtDialogs_;

  if (options.simulate) {
    auto camera = std::make_unique<SimulatedCamera>(clock_);
    camera->script.instant = options.instantCamera;
    simCamera_ = camera.get();
    camera_ = std::move(camera);
    auto daq = std::make_unique<SimulatedDaq>(clock_);
    simDaq_ = daq.get();
    daq_ = std::move(daq);
  } else {
    camera_ = options.makeRealCamera ? options.makeRealCamera() : DefaultRealCamera();
    daq_ = LoadNiDaqmx();
  }
  // A backend that could not be loaded at all is a device that is not there: start-up
  // then reports the missing camera or card in its usual way.
  outages_ = std::make_unique<OutageRehearsal>(simCamera_, simDaq_);
  if (!camera_) camera_ = std::make_unique<AbsentCamera>();
  if (!daq_) daq_ = std::make_unique<AbsentDaq>();

  if (!options.planFolder.empty()) {
    auto plans = std::make_unique<FilePlanStore>(options.planFolder, OSTRELO_VERSION);
    // Another program keeps the plans: this one's series are not kept.
    if (plans->owned()) plans_ = std::move(plans);
  }
  freeSpace_ = MakeFreeSpace();
  form_ = std::make_unique<Form1>(
      Devices{*camera_, nullptr, *daq_, clock_, dialogs, SystemNumberLocale(), plans_.get(), freeSpace_.get()});
  form_->ui.SimulatedDevices = options.simulate;
  form_->ResumeWithoutAsking = options.resume;
  const bool notifying = !options.notifyUrls.empty() || !options.notifyCommand.empty();
  if (notifying) {
    NotifyOptions notify;
    notify.urls = options.notifyUrls;
    notify.command = options.notifyCommand;
    notify.events.awayMs = int64_t{options.notifyAfterSeconds} * 1000;
    notify.events.dailyMinute = options.notifyDailyMinute;
    notify.events.host = QSysInfo::machineHostName().toStdString();
    notifications_ =
        std::make_unique<Notifications>(notify, MakeUrlTransport, MakeCommandTransport,
                                        [](const std::string& line) { std::fputs((line + "\n").c_str(), stderr); });
  }
  if (!options.statusFile.empty() || notifying) {
    watcher_ = std::make_unique<Watcher>(*form_, options.statusFile);
    watcher_->SetEvents(notifications_ ? &notifications_->events() : nullptr);
    form_->afterEvent = [this] { watcher_->Update(); };
  }
}

Session::~Session() {
  // The window refers to the form: it goes first.
  watchTimer_.reset();
  window_.reset();
  ReleasePlans();
  // What is still queued is delivered last, for a bounded time.
  watcher_.reset();
  notifications_.reset();
}

void Session::ReleasePlans() {
  form_->dev.plans = nullptr;
  plans_.reset();
}

bool Session::Start() {
  bool loaded = false;
  form_->Dispatch([&] { loaded = form_->Load(); });
  if (!loaded || form_->phase() == Phase::Ended) return false;
  window_ = std::make_unique<MainWindow>(*form_);
  if (qtDialogs_) qtDialogs_->setParent(window_.get());
  QObject::connect(window_.get(), &MainWindow::ended, [this] { ReleasePlans(); });
  if (watcher_) {
    // Between events too, so a run that stalls is still seen.
    watchTimer_ = std::make_unique<QTimer>();
    QObject::connect(watchTimer_.get(), &QTimer::timeout, [this] { watcher_->Update(); });
    watchTimer_->start(1000);
  }
  return true;
}

}  // namespace ostrelo::qtui
