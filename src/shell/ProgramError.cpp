#include "shell/ProgramError.h"

#include <cerrno>
#include <cstring>

namespace ostrelo {

ProgramError FileError(int errnoValue, const std::string& fileName) {
  int32_t number = ErrorNumber::kFileAccess;
  switch (errnoValue) {
    case ENOSPC:
#ifdef EDQUOT  // no quotas in Windows' C library
    case EDQUOT:
#endif
    case EFBIG: number = ErrorNumber::kDiskFull; break;
    case EACCES:
    case EPERM:
    case EROFS: number = ErrorNumber::kPermissionDenied; break;
    case ENOENT:
    case ENOTDIR: number = ErrorNumber::kPathNotFound; break;
    default: break;
  }
  return ProgramError(number, std::string("Cannot write ") + fileName + ": " + std::strerror(errnoValue));
}

}  // namespace ostrelo
