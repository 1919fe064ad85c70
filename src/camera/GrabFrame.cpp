#include "camera/GrabFrame.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <optional>
#include <utility>

#include "camera/CameraOutage.h"
#include "daq/GestionES_NI.h"
#include "inspection/CheckPass.h"
#include "shell/CameraDriver.h"
#include "shell/Form1.h"

namespace ostrelo {

namespace {

// Paces the tries of the camera calls of one grab. A failing call is tried again until
// the grab's time is spent; a call that fails at once is tried again no sooner than
// kGrabRetryPauseMs later, so a camera that refuses everything neither spins the
// processor nor escapes the time limit (on a simulated clock, time moves only by
// sleeping). The count of tries is a second bound in case the clock does not move.
class Retries {
 public:
  Retries(Clock& clock, int64_t budgetMs)
      : clock_(clock),
        deadline_(clock.SteadyMs() + budgetMs),
        triesLeft_(budgetMs / kGrabRetryPauseMs + 16),
        tryStart_(clock.SteadyMs()) {}

  // Runs then() once, after a failed try at atMs or later.
  void WhenSilentAt(int64_t atMs, std::function<void()> then) {
    silentAtMs_ = atMs;
    whenSilent_ = std::move(then);
  }

  // After a failed try: whether another may follow (having paused if need be).
  bool Again() {
    if (whenSilent_ && clock_.SteadyMs() >= silentAtMs_) std::exchange(whenSilent_, nullptr)();
    const int64_t now = clock_.SteadyMs();
    if (now >= deadline_ || --triesLeft_ <= 0) return false;
    const int64_t spent = now - tryStart_;
    if (spent < kGrabRetryPauseMs) {
      clock_.SleepMs(static_cast<int32_t>(std::min<int64_t>(kGrabRetryPauseMs - spent, deadline_ - now)));
    }
    tryStart_ = clock_.SteadyMs();
    return true;
  }

  // The time-out of the next wait for a picture: the last one ends with the budget.
  // A wait also ends when then() is due.
  int32_t WaitTimeoutMs() const {
    const int64_t now = clock_.SteadyMs();
    int64_t left = deadline_ - now;
    if (whenSilent_ && silentAtMs_ > now) left = std::min(left, silentAtMs_ - now);
    return static_cast<int32_t>(std::clamp<int64_t>(left, 1, kGrabWaitTimeoutMs));
  }

 private:
  Clock& clock_;
  int64_t deadline_;
  int64_t triesLeft_;
  int64_t tryStart_;
  int64_t silentAtMs_ = 0;
  std::function<void()> whenSilent_;
};

enum class Outcome { Picture, Dropped, GaveUp };

// The card's deadline in a grab begun at startMs: what is left of the grab's hold of the
// window, never less than a read needs.
int64_t CardDeadlineMs(Clock& clock, int64_t startMs) {
  return std::clamp<int64_t>(startMs + kGrabHoldMs - clock.SteadyMs(), kCardLeastDeadlineMs, kCardDeadlineMs);
}

// The card read begun while the camera is silent: the grab's one visit to the card then.
// Small enough to be called back without an allocation on every grab.
struct EarlyCardRead {
  Form1& f;
  int64_t startMs;
  bool due = false;  // begun, or asked for and refused
  bool begun = false;
  int64_t untilMs = 0;

  void Begin() {
    due = true;
    untilMs = std::max(startMs + kGrabHoldMs, f.dev.clock.SteadyMs() + kCardLeastDeadlineMs);
    begun = BeginDaqRead(f);
  }
};

// Shows each band of the copy to the checks, then to the display.
class ChecksThenDisplay final : public LineObserver {
 public:
  ChecksThenDisplay(LineObserver& checks, LineObserver* display) : checks_(checks), display_(display) {}
  void Lines(int32_t first, int32_t count, const uint8_t* pixels, int64_t pitch) override {
    checks_.Lines(first, count, pixels, pitch);
    if (display_ != nullptr) display_->Lines(first, count, pixels, pitch);
  }
  bool CopyLines(int32_t first, int32_t count, const uint8_t* pixels, int64_t pitch, uint8_t* destination) override {
    if (!checks_.CopyLines(first, count, pixels, pitch, destination)) return false;
    if (display_ != nullptr) display_->Lines(first, count, pixels, pitch);
    return true;
  }

 private:
  LineObserver& checks_;
  LineObserver* display_;
};

// Shows each band once the next one comes, so that its readers find in the cache the
// band the copy has just read, rather than read it from memory before the copy (the
// grab measured 0.03 to 0.12 x the streaming copy faster); Flush shows the last one.
class OneBandBehind final : public LineObserver {
 public:
  explicit OneBandBehind(LineObserver& readers) : readers_(readers) {}
  void Lines(int32_t first, int32_t count, const uint8_t* pixels, int64_t pitch) override {
    Flush();
    first_ = first;
    count_ = count;
    pixels_ = pixels;
    pitch_ = pitch;
  }
  // A band its readers copy themselves is read as it is copied: nothing to hold.
  bool CopyLines(int32_t first, int32_t count, const uint8_t* pixels, int64_t pitch, uint8_t* destination) override {
    Flush();
    return readers_.CopyLines(first, count, pixels, pitch, destination);
  }
  void Flush() {
    if (count_ > 0) readers_.Lines(first_, count_, pixels_, pitch_);
    count_ = 0;
  }

 private:
  LineObserver& readers_;
  int32_t first_ = 0, count_ = 0;
  const uint8_t* pixels_ = nullptr;
  int64_t pitch_ = 0;
};

// Gives the held request back to the camera (step 1).
bool ReleaseHeldRequest(Form1& f, Retries& retries) {
  AcquisitionState& st = f.st;
  while (st.RequestNumber != -1) {
    if (f.dev.camera.ImageRequestUnlock(st.DriverHandle, st.RequestNumber) == 0) {
      st.RequestNumber = -1;
      return true;
    }
    if (!retries.Again()) return false;
  }
  return true;
}

// Steps 1 to 5: on success a new picture is locked, its number in RequestNumber, and
// its description in info and channel.
Outcome Acquire(Form1& f, GrabPurpose purpose, Retries& retries, RequestBufferInfo& info, RequestChannelInfo& channel) {
  AcquisitionState& st = f.st;
  CameraDriver& camera = f.dev.camera;
  const bool shot = purpose == GrabPurpose::Shot;

  // 1. Release the held request.
  if (!ReleaseHeldRequest(f, retries)) return Outcome::GaveUp;

  // 2 and 3. Ask for one picture and wait for it. A live grab that finds a picture still
  // owed to an earlier grab that gave up waits for that one instead: the camera's queue
  // does not grow while it is silent, and the view does not lag behind once it answers
  // again. A shot asks for its own; requests are served in the order asked, so it gives
  // back unseen the pictures asked for before. While kMaxOwedRequests are owed, or the
  // camera has no room for another request, the owed ones are taken first.
  // A shot tried again keeps waiting for the picture it asked for at an earlier try, still
  // the newest owed: a camera slower than one grab (a long exposure) then serves it too.
  bool asked = shot && f.ShotWaiting && f.ShotRequestOwed && f.QueuedRequests > 0;
  for (;;) {
    const bool ask = shot ? !asked && f.QueuedRequests < kMaxOwedRequests : f.QueuedRequests <= 0;
    if (ask) {
      int32_t requestUsed = 0;
      if (camera.ImageRequestSingle(st.DriverHandle, 0, &requestUsed) == 0) {
        ++f.QueuedRequests;
        f.ShotRequestOwed = shot;
        asked = true;
      } else if (f.QueuedRequests <= 0) {
        if (!retries.Again()) return Outcome::GaveUp;
        continue;
      }
    }
    int32_t finished = -1;
    if (camera.ImageRequestWaitFor(st.DriverHandle, retries.WaitTimeoutMs(), 0, &finished) == 0) {
      f.QueuedRequests = std::max(0, f.QueuedRequests - 1);
      st.RequestNumber = finished;
      if (!shot || (asked && f.QueuedRequests == 0)) {
        f.ShotRequestOwed = false;
        break;
      }
      if (!ReleaseHeldRequest(f, retries)) return Outcome::GaveUp;
      continue;
    }
    if (!retries.Again()) return Outcome::GaveUp;
  }

  // 4. The buffer description. A picture of another size than the one the frame buffer
  //    was made for is dropped: FrameBytes is never resized and its readers index it by
  //    ImageWidth and ImageHeight, so both keep the start-up size.
  if (camera.GetImageRequestBufferData(st.DriverHandle, st.RequestNumber, &info) != 0) return Outcome::Dropped;
  if (info.width != st.ImageWidth || info.height != st.ImageHeight || info.data == nullptr ||
      static_cast<int64_t>(info.width) * info.height != st.FrameByteCount) {
    return Outcome::Dropped;
  }

  // 5. The description of channel 0: its bytes per pixel.
  char noDescription[1] = {'\0'};
  if (camera.GetImageRequestBufferChannelData(st.DriverHandle, st.RequestNumber, 0, &channel, noDescription, 0) != 0) {
    return Outcome::Dropped;
  }
  return Outcome::Picture;
}

}  // namespace

bool GrabFrame(Form1& f, GrabPurpose purpose) {
  AcquisitionState& st = f.st;
  Clock& clock = f.dev.clock;
  // While the camera is away the card is read all the same. The grab's time pays for
  // that reading and for the one a picture brings, so the window is held no longer.
  if (clock.SteadyMs() < f.Outage.restUntilMs) {
    ReadDaqChannelsWithoutPicture(f);
    return false;
  }
  const int64_t startMs = clock.SteadyMs();
  f.Outage.triedMs = startMs;
  const bool away = f.Outage.active;
  if (away) ReadDaqChannelsWithoutPicture(f, CardDeadlineMs(clock, startMs));
  const int64_t cardMs = clock.SteadyMs() - startMs;
  // A camera already away is asked for half the time, and the card read again after:
  // a picture that comes later is taken by the next grab, and the card is read about
  // twice a second whatever the camera does.
  Retries retries(clock, std::max<int64_t>((away ? kGrabBudgetMs / 2 : kGrabBudgetMs) - 2 * cardMs, 1));
  // A camera that has not answered by kCardEarlyMs: the card is read meanwhile, so that
  // the window is held no more than kGrabHoldMs. The grab's one visit to the card is
  // then this one, its voltages shown with or without a picture.
  EarlyCardRead early{f, startMs};
  if (!away && st.DaqAcquisitionOn && f.CardAway.hasRead) {
    retries.WhenSilentAt(startMs + kCardEarlyMs, [&early] { early.Begin(); });
  }

  RequestBufferInfo info;
  RequestChannelInfo channel;
  for (;;) {
    const Outcome outcome = Acquire(f, purpose, retries, info, channel);
    if (outcome == Outcome::Picture) break;
    // A live frame is dropped: everything keeps what it showed or held, the request of
    // a dropped picture stays held, and the next tick starts by releasing it.
    if (outcome == Outcome::Dropped && purpose == GrabPurpose::Live) {
      if (early.begun) EndDaqRead(f, early.untilMs);
      return false;
    }
    // A shot must not save the previous picture under its own number and time: it
    // tries again within its time, then is left for a later tick.
    if (outcome == Outcome::GaveUp || !retries.Again()) {
      NoteCameraSilent(f);
      if (early.begun) EndDaqRead(f, early.untilMs);
      if (away) ReadDaqChannelsWithoutPicture(f, CardDeadlineMs(clock, startMs));
      return false;
    }
  }
  NoteCameraAnswered(f);

  // The display may read the picture until it has been copied: by then the copy has
  // brought it into the cache, and the camera still holds it.
  BorrowScope borrow(f.ui.SurfaceById(st.CamDC));
  // 6. Show the picture.
  f.dev.display->SetImage(st.DisplayHandle, info.data, st.ImageWidth, st.ImageHeight, channel.pixelPitch * 8, 0);
  f.dev.display->Update(st.DisplayHandle);

  // 7. Copy its pixels into the frame buffer; the result is not examined. The checks walk
  // the lines right after the copy has brought them into the cache.
  const auto room = static_cast<int32_t>(
      std::clamp<int64_t>(static_cast<int64_t>(st.FrameBytes.size()), 0, std::max<int32_t>(st.FrameByteCount, 0)));
  std::optional<CheckWalk> checks;
  if (st.NoSignalCheckOn || st.SaturationCheckOn || st.HistogramOn) {
    checks.emplace(f);
    ChecksThenDisplay shown(*checks, f.dev.display->PictureLines(st.DisplayHandle));
    OneBandBehind behind(shown);
    f.dev.camera.GetImageRequestBufferImageLines(st.DriverHandle, st.RequestNumber, 0, 0, st.ImageWidth, st.ImageHeight,
                                                 st.FrameBytes.data(), room, behind);
    behind.Flush();
  } else if (LineObserver* display = f.dev.display->PictureLines(st.DisplayHandle)) {
    // Without checks the display alone takes its lines from the bands in the cache.
    OneBandBehind behind(*display);
    f.dev.camera.GetImageRequestBufferImageLines(st.DriverHandle, st.RequestNumber, 0, 0, st.ImageWidth, st.ImageHeight,
                                                 st.FrameBytes.data(), room, behind);
    behind.Flush();
  } else {
    f.dev.camera.GetImageRequestBufferImageData(st.DriverHandle, st.RequestNumber, 0, 0, st.ImageWidth, st.ImageHeight,
                                                st.FrameBytes.data(), room);
  }
  borrow.End();

  // 8. The channels. A card that never read raises the program's error and ends the
  //    grab here; one that went away leaves a shot without its voltages, to be taken
  //    again, while the views go on.
  //    The card gets what is left of the grab's hold of the window, never less than a
  //    read needs: a line's voltages are read within about a second of its stamp.
  //    A read begun while the camera was silent is waited for until then.
  bool read = false;
  if (early.due) {
    read = EndDaqRead(f, early.untilMs);
  } else if (st.DaqAcquisitionOn) {
    read = ReadDaqChannels(f, CardDeadlineMs(clock, startMs));
  }
  const bool complete = !st.DaqAcquisitionOn || read || purpose != GrabPurpose::Shot;

  Surface* camView = f.ui.SurfaceById(st.CamDC);
  Surface* overlay = f.ui.SurfaceById(st.OverlayDC);
  Surface* zoom = f.ui.SurfaceById(st.ZoomDC);
  if (camView == nullptr || overlay == nullptr || zoom == nullptr) return complete;

  // 9. Copy the camera view as painted onto the hidden overlay.
  StretchCopy(*camView, 0, 0, st.CamViewWidth, st.CamViewHeight, *overlay, 0, 0, st.OverlayWidth, st.OverlayHeight);

  // 10. The checks and the histogram, when one of them is on (the switches cannot change
  // since step 7: a message box of step 8 is modal).
  if (checks) checks->Finish();

  // 11. Refresh the overlay.
  overlay->Touch();

  // 12. The zoom: the overlay's area of interest over the whole zoom view.
  StretchCopy(*overlay, st.OverlaySelLeft, st.OverlaySelTop, st.OverlaySelWidth, st.OverlaySelHeight, *zoom, 0, 0,
              st.ZoomWidth, st.ZoomHeight);
  return complete;
}

void Form1::VisuTimer_Timer() { GrabFrame(*this, GrabPurpose::Live); }

void Form1::LiveCheck_Click() { ui.VisuTimer.SetEnabled(ui.LiveCheck.value == 1); }

}  // namespace ostrelo
