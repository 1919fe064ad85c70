#pragma once
// The one road by which a picture enters the program.

#include <cstdint>

namespace ostrelo {

class Form1;

// Why a picture is grabbed.
//  Live: a camera that does not answer within kLiveGrabBudgetMs drops the frame; the
//        next tick tries again and the window stays usable in between.
//  Shot: the grab must end with a picture asked for after it began (it is paired with
//        the voltages read just after it). It keeps trying for kShotGrabBudgetMs, then
//        raises ProgramError(ErrorNumber::kNoPicture, "No picture from the camera").
enum class GrabPurpose { Live, Shot };

inline constexpr int32_t kGrabWaitTimeoutMs = 200;   // each wait for the picture
inline constexpr int64_t kLiveGrabBudgetMs = 1000;   // a live grab gives up after this
inline constexpr int64_t kShotGrabBudgetMs = 10000;  // a shot's grab gives up after this
inline constexpr int32_t kGrabRetryPauseMs = 5;      // least time between two tries of a failing call
inline constexpr const char* kNoPictureText = "No picture from the camera";

// Takes one picture and brings every view up to date with it: the camera view, the
// frame buffer, the channel readings (when acquisition is on), the hidden overlay copy
// with the checks, and the zoom. A dropped frame changes none of them.
void GrabFrame(Form1& f, GrabPurpose purpose = GrabPurpose::Live);

}  // namespace ostrelo
