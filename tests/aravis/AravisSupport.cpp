#include "AravisSupport.h"

#include <chrono>

namespace ostrelo::testing {

AravisOptions FakeCameraOptions() {
  AravisOptions options;
  options.interfaces = {"Fake"};
  return options;
}

int32_t GrabInto(CameraDriver& camera, AcquisitionState& st, int maxWaits) {
  if (st.RequestNumber != -1) {
    if (const int32_t s = camera.ImageRequestUnlock(st.DriverHandle, st.RequestNumber); s != 0) return s;
    st.RequestNumber = -1;
  }
  int32_t used = 0;
  if (const int32_t s = camera.ImageRequestSingle(st.DriverHandle, 0, &used); s != 0) return s;
  int32_t status = -1;
  for (int i = 0; i < maxWaits && status != 0; ++i) {
    status = camera.ImageRequestWaitFor(st.DriverHandle, 200, 0, &st.RequestNumber);
  }
  if (status != 0) return status;
  RequestBufferInfo info;
  if (const int32_t s = camera.GetImageRequestBufferData(st.DriverHandle, st.RequestNumber, &info); s != 0) return s;
  st.ImageWidth = info.width;
  st.ImageHeight = info.height;
  RequestChannelInfo channel;
  char description[1] = {};
  if (const int32_t s =
          camera.GetImageRequestBufferChannelData(st.DriverHandle, st.RequestNumber, 0, &channel, description, 0);
      s != 0) {
    return s;
  }
  return camera.GetImageRequestBufferImageData(st.DriverHandle, st.RequestNumber, 0, 0, st.ImageWidth, st.ImageHeight,
                                               st.FrameBytes.data(), st.FrameByteCount);
}

int64_t WallClockUs() {
  return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

void EnterGain(Form1& form, const std::string& text) {
  form.ui.Text_Gain.caption = text;
  form.Dispatch([&] { form.Text_Gain_KeyPress(kKeyEnter); });
}

}  // namespace ostrelo::testing
