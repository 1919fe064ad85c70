#pragma once
// The backends of the platform the program is built for (posix/, windows/): the free
// space of the picture folder and the notifications' transports.

#include <memory>

namespace ostrelo {
class FreeSpace;
class Transport;
}  // namespace ostrelo

namespace ostrelo::qtui {

std::unique_ptr<FreeSpace> MakeFreeSpace();
std::unique_ptr<Transport> MakeUrlTransport();      // http and https
std::unique_ptr<Transport> MakeCommandTransport();  // --notify-command

}  // namespace ostrelo::qtui
