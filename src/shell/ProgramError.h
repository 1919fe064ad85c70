#pragma once
// The program's error: a number and a description. Raised by the DAQ unit with the
// driver's status and text, and by the picture and record writers. A handler that does not catch it lets it reach the
// event dispatcher, which shows both in a message box and ends the program.

#include <cstdint>
#include <stdexcept>
#include <string>

namespace ostrelo {

// Numbers of the program's own errors. DAQmx statuses are negative (errors) or
// large positive values (warnings, 200000 and up), so these cannot be mistaken for them.
namespace ErrorNumber {
inline constexpr int32_t kDiskFull = 61;            // no space left on the device
inline constexpr int32_t kPermissionDenied = 70;    // no right to write the file
inline constexpr int32_t kFileAccess = 75;          // any other failure to open or write a file
inline constexpr int32_t kPathNotFound = 76;        // the folder does not exist
inline constexpr int32_t kAreaOutsideFrame = 1002;  // the area of interest does not lie inside the picture
}  // namespace ErrorNumber

class ProgramError : public std::runtime_error {
 public:
  ProgramError(int32_t number, std::string description)
      : std::runtime_error(description), number_(number), description_(std::move(description)) {}

  int32_t number() const { return number_; }
  const std::string& description() const { return description_; }

 private:
  int32_t number_;
  std::string description_;
};

// The error for a failed file operation, chosen from errno.
ProgramError FileError(int errnoValue, const std::string& fileName);

}  // namespace ostrelo
