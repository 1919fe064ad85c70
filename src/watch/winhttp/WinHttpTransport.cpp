#include "watch/winhttp/WinHttpTransport.h"

#include <windows.h>
#include <winhttp.h>

#include "shell/windows/WideText.h"

#include <algorithm>
#include <chrono>

namespace ostrelo {

namespace {

// The failures a delivery meets, in libcurl's words; any other in WinHTTP's own. Some
// WinHTTPs (Wine's) pass the socket's error on.
std::string Reason(DWORD error) {
  switch (error) {
    case ERROR_WINHTTP_TIMEOUT:
    case WSAETIMEDOUT: return "Timeout was reached";
    case ERROR_WINHTTP_NAME_NOT_RESOLVED: return "Couldn't resolve host name";
    case ERROR_WINHTTP_CANNOT_CONNECT:
    case WSAECONNREFUSED: return "Couldn't connect to server";
    case ERROR_WINHTTP_INVALID_SERVER_RESPONSE: return "Weird server reply";
    case ERROR_WINHTTP_CONNECTION_ERROR: return "Failure when receiving data from the peer";
    case ERROR_WINHTTP_SECURE_FAILURE: return "SSL peer certificate or SSH remote key was not OK";
    default: break;
  }
  return SystemReason(error, "WinHTTP failed", GetModuleHandleW(L"winhttp.dll"));
}

// Closes a WinHTTP handle at the end of its scope.
struct Handle {
  HINTERNET h;
  ~Handle() {
    if (h != nullptr) WinHttpCloseHandle(h);
  }
};

}  // namespace

WinHttpTransport::WinHttpTransport(long timeoutMs)
    : timeoutMs_(timeoutMs),
      session_(WinHttpOpen(L"Ostrelo", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                           WINHTTP_NO_PROXY_BYPASS, 0)) {}

WinHttpTransport::~WinHttpTransport() {
  if (session_ != nullptr) WinHttpCloseHandle(session_);
}

std::string WinHttpTransport::Deliver(const std::string& url, const std::string& event, const Posting& posting) {
  if (session_ == nullptr) return "WinHTTP could not start";
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs_);
  const std::wstring wideUrl = Utf16(url);
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof parts;
  parts.dwHostNameLength = parts.dwUrlPathLength = parts.dwExtraInfoLength = static_cast<DWORD>(-1);
  if (wideUrl.empty() || !WinHttpCrackUrl(wideUrl.c_str(), static_cast<DWORD>(wideUrl.size()), 0, &parts)) {
    return "URL using bad/illegal format or missing URL";
  }
  if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) {
    return "Unsupported protocol";
  }
  const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
  std::wstring object(parts.lpszUrlPath, parts.dwUrlPathLength);
  if (object.empty()) object = L"/";
  // The fragment stays with the sender, as libcurl leaves it.
  const std::wstring extra(parts.lpszExtraInfo, parts.dwExtraInfoLength);
  object += extra.substr(0, extra.find(L'#'));
  const Handle connection{WinHttpConnect(session_, host.c_str(), parts.nPort, 0)};
  if (connection.h == nullptr) return Reason(GetLastError());
  const Handle request{WinHttpOpenRequest(connection.h, L"POST", object.c_str(), nullptr, WINHTTP_NO_REFERER,
                                          WINHTTP_DEFAULT_ACCEPT_TYPES,
                                          parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0)};
  if (request.h == nullptr) return Reason(GetLastError());
  // A redirection is an answer, as with libcurl: the event is not posted again elsewhere.
  DWORD noRedirects = WINHTTP_DISABLE_REDIRECTS;
  WinHttpSetOption(request.h, WINHTTP_OPTION_DISABLE_FEATURE, &noRedirects, sizeof noRedirects);
  const int timeout = static_cast<int>(timeoutMs_);
  WinHttpSetTimeouts(request.h, timeout, timeout, timeout, timeout);
  // The answer's headers have a time of their own (90 s unless set).
  DWORD answerMs = static_cast<DWORD>(timeoutMs_);
  WinHttpSetOption(request.h, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &answerMs, sizeof answerMs);
  std::string headers = "X-Ostrelo-Event: " + event;
  for (const std::string& header : posting.headers) headers += "\r\n" + header;
  const std::wstring wideHeaders = Utf16(headers);
  const auto size = static_cast<DWORD>(posting.body.size());
  if (!WinHttpSendRequest(request.h, wideHeaders.c_str(), static_cast<DWORD>(wideHeaders.size()),
                          const_cast<char*>(posting.body.data()), size, size, 0)) {
    return Reason(GetLastError());
  }
  // The answer gets what is left of the time-out.
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
  const int rest = static_cast<int>(std::max<int64_t>(1, left.count()));
  WinHttpSetTimeouts(request.h, rest, rest, rest, rest);
  answerMs = static_cast<DWORD>(rest);
  WinHttpSetOption(request.h, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &answerMs, sizeof answerMs);
  if (!WinHttpReceiveResponse(request.h, nullptr)) return Reason(GetLastError());
  DWORD status = 0;
  DWORD statusSize = sizeof status;
  if (!WinHttpQueryHeaders(request.h, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                           WINHTTP_HEADER_NAME_BY_INDEX, &status, &statusSize, WINHTTP_NO_HEADER_INDEX)) {
    return Reason(GetLastError());
  }
  if (status < 200 || status >= 300) return "the server answered " + std::to_string(status);
  return {};
}

}  // namespace ostrelo
