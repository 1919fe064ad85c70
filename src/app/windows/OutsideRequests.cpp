#include "app/OutsideRequests.h"

#include <windows.h>

#include <cstdio>
#include <mutex>

namespace ostrelo::qtui {

namespace {

std::mutex postMutex;
void (*poster)(OutsideRequest) = nullptr;
HANDLE shutDown = nullptr;  // set once the program has shut down

// Runs on a thread the system starts. For the console closing, a log-off or a shutdown the
// process ends as soon as this returns: it waits for the shut-down, within the few
// seconds the system allows.
BOOL WINAPI OnConsoleEvent(DWORD event) {
  {
    const std::lock_guard lock(postMutex);
    if (poster == nullptr) return TRUE;
    poster(OutsideRequest::End);
  }
  if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
    WaitForSingleObject(shutDown, 4500);
  }
  return TRUE;
}

}  // namespace

void ListenForOutsideRequests(void (*post)(OutsideRequest)) {
  shutDown = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  poster = post;
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

void OutsideRequestsDone() {
  {
    const std::lock_guard lock(postMutex);
    poster = nullptr;
  }
  if (shutDown != nullptr) SetEvent(shutDown);
}

// Standard output already handed over (a pipe, a file) is kept.
void UseParentConsole() {
  if (!AttachConsole(ATTACH_PARENT_PROCESS)) return;
  const auto missing = [](DWORD which) {
    const HANDLE h = GetStdHandle(which);
    return h == nullptr || h == INVALID_HANDLE_VALUE;
  };
  if (missing(STD_OUTPUT_HANDLE)) (void)std::freopen("CONOUT$", "w", stdout);
  if (missing(STD_ERROR_HANDLE)) (void)std::freopen("CONOUT$", "w", stderr);
}

}  // namespace ostrelo::qtui
