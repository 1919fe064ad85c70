#include "app/PlatformBackends.h"

#include "shell/Platform.h"
#include "watch/command/CommandTransport.h"
#include "watch/winhttp/WinHttpTransport.h"

namespace ostrelo::qtui {

// No free-space reading on Windows yet (GetDiskFreeSpaceExW, docs/windows.md): the disk is
// not watched.
std::unique_ptr<FreeSpace> MakeFreeSpace() { return nullptr; }
std::unique_ptr<Transport> MakeUrlTransport() { return std::make_unique<WinHttpTransport>(); }
std::unique_ptr<Transport> MakeCommandTransport() { return std::make_unique<CommandTransport>(); }

}  // namespace ostrelo::qtui
