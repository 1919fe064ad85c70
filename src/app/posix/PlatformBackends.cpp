#include "app/PlatformBackends.h"

#include "shots/statvfs/StatvfsFreeSpace.h"
#include "watch/command/CommandTransport.h"
#include "watch/curl/CurlTransport.h"

namespace ostrelo::qtui {

std::unique_ptr<FreeSpace> MakeFreeSpace() { return std::make_unique<StatvfsFreeSpace>(); }
std::unique_ptr<Transport> MakeUrlTransport() { return std::make_unique<CurlTransport>(); }
std::unique_ptr<Transport> MakeCommandTransport() { return std::make_unique<CommandTransport>(); }

}  // namespace ostrelo::qtui
