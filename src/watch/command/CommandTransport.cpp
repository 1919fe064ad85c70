#include "watch/command/CommandTransport.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace ostrelo {

namespace {

constexpr int kPollMs = 20;

bool Named(const char* entry, const char* name) {
  const size_t n = std::strlen(name);
  return std::strncmp(entry, name, n) == 0 && entry[n] == '=';
}

}  // namespace

std::string CommandTransport::Deliver(const std::string& command, const std::string& event, const Posting& posting) {
  const std::string& json = posting.body;
  // Everything the child needs is made before the fork: between fork and exec, in a
  // program with threads, only async-signal-safe calls are allowed.
  std::vector<std::string> environment{"OSTRELO_EVENT=" + event};
  if (!posting.id.empty()) environment.push_back("OSTRELO_EVENT_ID=" + posting.id);
  for (char** e = environ; *e != nullptr; ++e) {
    if (!Named(*e, "OSTRELO_EVENT") && !Named(*e, "OSTRELO_EVENT_ID")) environment.emplace_back(*e);
  }
  std::vector<char*> envp;
  envp.reserve(environment.size() + 1);
  for (std::string& e : environment) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::string shell = "sh", dashC = "-c", commandLine = command;
  char* argv[] = {shell.data(), dashC.data(), commandLine.data(), nullptr};
  int input[2];
  if (::pipe2(input, O_CLOEXEC) != 0) return std::string("no pipe: ") + std::strerror(errno);
  const pid_t pid = ::fork();
  if (pid < 0) {
    ::close(input[0]);
    ::close(input[1]);
    return std::string("cannot start the command: ") + std::strerror(errno);
  }
  if (pid == 0) {
    // A group of its own, which the time-out kills whole, children and all.
    ::setpgid(0, 0);
    ::dup2(input[0], STDIN_FILENO);
    ::execve("/bin/sh", argv, envp.data());
    ::_exit(127);
  }
  // Also here, so that the group exists whichever of the two runs first.
  ::setpgid(pid, pid);
  ::close(input[0]);
  // A command that does not read its input must not hold us: SIGPIPE is ignored for
  // the write, whose failure then says nothing about the delivery.
  struct sigaction ignore {
  }, previous{};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGPIPE, &ignore, &previous);
  size_t done = 0;
  while (done < json.size()) {
    const ssize_t n = ::write(input[1], json.data() + done, json.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  ::close(input[1]);
  ::sigaction(SIGPIPE, &previous, nullptr);
  int status = 0;
  for (int waited = 0;; waited += kPollMs) {
    const pid_t got = ::waitpid(pid, &status, WNOHANG);
    if (got == pid) break;
    if (got < 0 && errno != EINTR) return std::string("lost the command: ") + std::strerror(errno);
    if (waited >= timeoutMs_) {
      ::kill(-pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      return "the command ran longer than " +
             (timeoutMs_ % 1000 == 0 ? std::to_string(timeoutMs_ / 1000) + " s" : std::to_string(timeoutMs_) + " ms");
    }
    const timespec pause{0, kPollMs * 1000000L};
    ::nanosleep(&pause, nullptr);
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return {};
  if (WIFEXITED(status)) return "the command ended with status " + std::to_string(WEXITSTATUS(status));
  return "the command was ended by signal " + std::to_string(WTERMSIG(status));
}

}  // namespace ostrelo
