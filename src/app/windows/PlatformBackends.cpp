#include "app/PlatformBackends.h"

#include "shell/Platform.h"
#include "watch/Delivery.h"

namespace ostrelo::qtui {

// Not on Windows yet (docs/windows.md): GetDiskFreeSpaceExW, WinHTTP, CreateProcessW. Without
// a free-space reading the disk is not watched.
std::unique_ptr<FreeSpace> MakeFreeSpace() { return nullptr; }
std::unique_ptr<Transport> MakeUrlTransport() { return nullptr; }
std::unique_ptr<Transport> MakeCommandTransport() { return nullptr; }

}  // namespace ostrelo::qtui
