#include "app/PlatformBackends.h"

#include "shots/win32/Win32FreeSpace.h"
#include "watch/command/CommandTransport.h"
#include "watch/winhttp/WinHttpTransport.h"

namespace ostrelo::qtui {

std::unique_ptr<FreeSpace> MakeFreeSpace() { return std::make_unique<Win32FreeSpace>(); }
std::unique_ptr<Transport> MakeUrlTransport() { return std::make_unique<WinHttpTransport>(); }
std::unique_ptr<Transport> MakeCommandTransport() { return std::make_unique<CommandTransport>(); }

}  // namespace ostrelo::qtui
