#pragma once
// The one road by which a picture enters the program.

#include <cstdint>

namespace ostrelo {

class Form1;

// Why a picture is grabbed.
//  Live: any picture of the camera will do; one asked for by an earlier grab that gave
//        up is taken rather than asking for another.
//  Shot: the picture must be asked for after the grab began (it is paired with the
//        voltages read just after it); pictures asked for earlier are given back unseen.
enum class GrabPurpose { Live, Shot };

inline constexpr int32_t kGrabWaitTimeoutMs = 200;  // each wait for the picture
// The longest a grab keeps the window: a camera that does not answer within it leaves
// the grab without a picture, and the window handles its events before the next try.
inline constexpr int64_t kGrabBudgetMs = 1000;
// The longest a grab keeps the window with the card's reading after the picture; the
// card is given at least kCardLeastDeadlineMs (its four reads take 320 ms).
inline constexpr int64_t kGrabHoldMs = 1200;
inline constexpr int64_t kCardLeastDeadlineMs = 500;
// A grab whose camera has not answered by then has the card read meanwhile, and waits
// for that read no later than kGrabHoldMs: the read is given 700 ms, more than
// kCardLeastDeadlineMs, and a camera quicker than this keeps the order picture, then
// voltages.
inline constexpr int64_t kCardEarlyMs = 500;
inline constexpr int32_t kGrabRetryPauseMs = 5;  // least time between two tries of a failing call
// Pictures asked for by grabs that gave up and still owed by the camera: a shot asks
// for its own only while fewer are owed, so a long outage cannot pile them up.
inline constexpr int32_t kMaxOwedRequests = 4;
inline constexpr const char* kNoPictureText = "No picture from the camera";

// Takes one picture and brings every view up to date with it: the camera view, the
// frame buffer, the channel readings (when acquisition is on), the hidden overlay copy
// with the checks, and the zoom. True when a new picture came; without one nothing of
// the views, the frame buffer or the readings changes. Only a DAQ read error raises.
bool GrabFrame(Form1& f, GrabPurpose purpose = GrabPurpose::Live);

}  // namespace ostrelo
