#pragma once
// Requests that come from outside the window: to end the program as closing the window
// does (SIGTERM or SIGINT; on Windows Ctrl+C, Ctrl+Break or the console closing), and on
// Linux SIGUSR1 and SIGUSR2, which take the simulated camera or card away and back.
// One file per platform (posix/, windows/) holds the system's side.

namespace ostrelo::qtui {

enum class OutsideRequest { End, ToggleCamera, ToggleCard };

// Starts listening; post() is called on a thread of the listener's own, never in a signal
// handler, once per request, and must hand the request to the event loop. A request that
// comes before the event loop runs waits there until it does.
void ListenForOutsideRequests(void (*post)(OutsideRequest));

// The program has shut down: no request is posted any more, and one that waits for the end
// (Windows ends the process as soon as its console handler returns) may return.
void OutsideRequestsDone();

// Windows: a program of the windows subsystem started from a console writes --help and
// --version there. Elsewhere nothing to do.
void UseParentConsole();

}  // namespace ostrelo::qtui
