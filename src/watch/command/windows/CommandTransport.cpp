// The command transport on Windows: cmd.exe runs the command in a job object, so that a
// command that outlasts its time is ended with everything it started.

#include "watch/command/CommandTransport.h"

#include <windows.h>

#include "shell/windows/WideText.h"

#include <algorithm>
#include <cwchar>
#include <string>
#include <vector>

namespace ostrelo {

namespace {

constexpr DWORD kPipeBytes = 65536;  // as a Linux pipe holds: a posting fits whole

std::string Reason(DWORD error) { return SystemReason(error, "error"); }

// Closes a handle at the end of its scope.
struct Owned {
  HANDLE h = nullptr;
  Owned() = default;
  explicit Owned(HANDLE handle) : h(handle == INVALID_HANDLE_VALUE ? nullptr : handle) {}
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;
  ~Owned() { Close(); }
  void Close() {
    if (h != nullptr) CloseHandle(h);
    h = nullptr;
  }
};

// The program's environment with the event's name in OSTRELO_EVENT and its id in
// OSTRELO_EVENT_ID, as a block sorted by name regardless of case, which is how Windows
// expects one.
std::vector<wchar_t> EnvironmentWith(const std::string& event, const std::string& id) {
  std::vector<std::wstring> entries{L"OSTRELO_EVENT=" + Utf16(event), L"OSTRELO_EVENT_ID=" + Utf16(id)};
  if (wchar_t* block = GetEnvironmentStringsW(); block != nullptr) {
    for (const wchar_t* e = block; *e != L'\0'; e += std::wcslen(e) + 1) {
      if (_wcsnicmp(e, L"OSTRELO_EVENT=", 14) != 0 && _wcsnicmp(e, L"OSTRELO_EVENT_ID=", 17) != 0) {
        entries.emplace_back(e);
      }
    }
    FreeEnvironmentStringsW(block);
  }
  auto name = [](const std::wstring& e) { return e.substr(0, e.find(L'=', 1)); };
  std::stable_sort(entries.begin(), entries.end(), [&](const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(name(a).c_str(), -1, name(b).c_str(), -1, TRUE) == CSTR_LESS_THAN;
  });
  std::vector<wchar_t> out;
  for (const std::wstring& e : entries) out.insert(out.end(), e.c_str(), e.c_str() + e.size() + 1);
  out.push_back(L'\0');
  return out;
}

// One of the program's standard handles, made inheritable for the command; none when the
// program has none (a window program started without a console).
Owned InheritableStd(DWORD which) {
  const HANDLE own = GetStdHandle(which);
  HANDLE copy = nullptr;
  if (own == nullptr || own == INVALID_HANDLE_VALUE ||
      !DuplicateHandle(GetCurrentProcess(), own, GetCurrentProcess(), &copy, 0, TRUE, DUPLICATE_SAME_ACCESS)) {
    return Owned();
  }
  return Owned(copy);
}

}  // namespace

std::string CommandTransport::Deliver(const std::string& command, const std::string& event, const Posting& posting) {
  const std::string& json = posting.body;
  const std::wstring wideCommand = Utf16(command);
  if (wideCommand.empty() != command.empty()) return "cannot start the command: it is not UTF-8";
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &inherit, kPipeBytes)) return "no pipe: " + Reason(GetLastError());
  Owned input(readEnd), output(writeEnd);
  // Only the command's end goes to it: a command that holds our end would never see its
  // input end.
  SetHandleInformation(output.h, HANDLE_FLAG_INHERIT, 0);
  const Owned out = InheritableStd(STD_OUTPUT_HANDLE), err = InheritableStd(STD_ERROR_HANDLE);

  // Exactly these handles are inherited, not those another thread makes meanwhile.
  std::vector<HANDLE> handed{input.h};
  for (const HANDLE h : {out.h, err.h}) {
    if (h != nullptr) handed.push_back(h);
  }
  SIZE_T attributesSize = 0;
  InitializeProcThreadAttributeList(nullptr, 1, 0, &attributesSize);
  std::vector<unsigned char> attributesBytes(attributesSize);
  auto* attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributesBytes.data());
  if (!InitializeProcThreadAttributeList(attributes, 1, 0, &attributesSize) ||
      !UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handed.data(),
                                 handed.size() * sizeof(HANDLE), nullptr, nullptr)) {
    return "cannot start the command: " + Reason(GetLastError());
  }
  STARTUPINFOEXW start{};
  start.StartupInfo.cb = sizeof start;
  start.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  start.StartupInfo.hStdInput = input.h;
  start.StartupInfo.hStdOutput = out.h;
  start.StartupInfo.hStdError = err.h;

  // cmd.exe from the system's folder, never one found in the working folder. /d: no
  // AutoRun of the registry; /s /c "...": the line between the outer quotes is run as it is.
  wchar_t system[MAX_PATH];
  const UINT systemLength = GetSystemDirectoryW(system, MAX_PATH);
  if (systemLength == 0 || systemLength >= MAX_PATH) return "cannot start the command: no system folder";
  const std::wstring shell = std::wstring(system, systemLength) + L"\\cmd.exe";
  std::wstring line = L"cmd.exe /d /s /c \"" + wideCommand + L"\"";
  std::vector<wchar_t> environment = EnvironmentWith(event, posting.id);

  // In a job from its first instruction, so that whatever it starts is ended with it.
  const Owned job(CreateJobObjectW(nullptr, nullptr));
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (job.h == nullptr || !SetInformationJobObject(job.h, JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
    DeleteProcThreadAttributeList(attributes);
    return "cannot start the command: " + Reason(GetLastError());
  }
  PROCESS_INFORMATION started{};
  const BOOL made =
      CreateProcessW(shell.c_str(), line.data(), nullptr, nullptr, TRUE,
                     CREATE_NO_WINDOW | CREATE_UNICODE_ENVIRONMENT | CREATE_SUSPENDED | EXTENDED_STARTUPINFO_PRESENT,
                     environment.data(), nullptr, &start.StartupInfo, &started);
  const DWORD startError = GetLastError();
  DeleteProcThreadAttributeList(attributes);
  if (!made) return "cannot start the command: " + Reason(startError);
  const Owned process(started.hProcess), thread(started.hThread);
  if (!AssignProcessToJobObject(job.h, process.h)) {
    const DWORD error = GetLastError();
    TerminateProcess(process.h, 1);
    return "cannot start the command: " + Reason(error);
  }
  ResumeThread(thread.h);
  input.Close();

  // A command that does not read its input ends the writing (ERROR_NO_DATA,
  // ERROR_BROKEN_PIPE), which says nothing about the delivery.
  size_t done = 0;
  while (done < json.size()) {
    DWORD written = 0;
    const auto piece = static_cast<DWORD>(std::min<size_t>(json.size() - done, kPipeBytes));
    if (!WriteFile(output.h, json.data() + done, piece, &written, nullptr) || written == 0) break;
    done += written;
  }
  output.Close();

  const DWORD waited = WaitForSingleObject(process.h, static_cast<DWORD>(timeoutMs_));
  if (waited == WAIT_TIMEOUT) {
    TerminateJobObject(job.h, 1);
    WaitForSingleObject(process.h, INFINITE);
    return "the command ran longer than " +
           (timeoutMs_ % 1000 == 0 ? std::to_string(timeoutMs_ / 1000) + " s" : std::to_string(timeoutMs_) + " ms");
  }
  DWORD status = 0;
  if (waited != WAIT_OBJECT_0 || !GetExitCodeProcess(process.h, &status)) {
    const DWORD error = GetLastError();
    TerminateJobObject(job.h, 1);
    return "lost the command: " + Reason(error);
  }
  if (status == 0) return {};
  return "the command ended with status " + std::to_string(status);
}

}  // namespace ostrelo
