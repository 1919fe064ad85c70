#include "app/OutsideRequests.h"

#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <mutex>
#include <thread>

namespace ostrelo::qtui {

namespace {

int signalPipe[2] = {-1, -1};
std::mutex postMutex;
void (*poster)(OutsideRequest) = nullptr;

void OnSignal(int signal) {
  const char c = static_cast<char>(signal == SIGUSR1   ? OutsideRequest::ToggleCamera
                                   : signal == SIGUSR2 ? OutsideRequest::ToggleCard
                                                       : OutsideRequest::End);
  [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &c, 1);
}

}  // namespace

// The handler only writes a byte: a thread of its own reads it and posts the request.
void ListenForOutsideRequests(void (*post)(OutsideRequest)) {
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0) return;
  poster = post;
  std::thread([] {
    char c = 0;
    while (::read(signalPipe[0], &c, 1) == 1) {
      const std::lock_guard lock(postMutex);
      if (poster != nullptr) poster(static_cast<OutsideRequest>(c));
    }
  }).detach();
  struct sigaction action = {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (const int signal : {SIGTERM, SIGINT, SIGUSR1, SIGUSR2}) sigaction(signal, &action, nullptr);
}

void OutsideRequestsDone() {
  const std::lock_guard lock(postMutex);
  poster = nullptr;
}

void UseParentConsole() {}

}  // namespace ostrelo::qtui
