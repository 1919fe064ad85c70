#pragma once
// The few socket calls of a test's server on 127.0.0.1: POSIX sockets, or Winsock.

#include <cstdint>
#include <thread>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace ostrelo::testing {

#ifdef _WIN32
using Socket = SOCKET;
inline constexpr Socket kNoSocket = INVALID_SOCKET;
inline void CloseSocket(Socket s) { ::closesocket(s); }
#else
using Socket = int;
inline constexpr Socket kNoSocket = -1;
inline void CloseSocket(Socket s) { ::close(s); }
#endif

// Listens on 127.0.0.1:port, any free port for 0; port is then the one taken.
inline Socket ListenOnLoopback(uint16_t& port) {
#ifdef _WIN32
  static WSADATA data;
  static const bool started = ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
  const Socket s = started ? ::socket(AF_INET, SOCK_STREAM, 0) : kNoSocket;
#else
  const Socket s = ::socket(AF_INET, SOCK_STREAM, 0);
  const int one = 1;  // a port given up is taken again at once, as on Windows
  ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
#endif
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof a;
  if (::bind(s, reinterpret_cast<sockaddr*>(&a), size) != 0 || ::listen(s, 8) != 0 ||
      ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &size) != 0) {
    CloseSocket(s);
    return kNoSocket;
  }
  port = ntohs(a.sin_port);
  return s;
}

// Ends a listening socket and the thread in its accept, which Linux wakes by a shutdown
// (not by a close) and Winsock by the close.
inline void StopListening(Socket s, std::thread& acceptor) {
#ifndef _WIN32
  ::shutdown(s, SHUT_RDWR);
  acceptor.join();
#endif
  CloseSocket(s);
  if (acceptor.joinable()) acceptor.join();
}

}  // namespace ostrelo::testing
