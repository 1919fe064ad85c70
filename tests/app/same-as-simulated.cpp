// same-as-simulated <left> <top> <width> <height> <picture>...: each picture must be byte for
// byte this build's BMP of that area of a frame of the simulated camera at gain 0, the area
// clear of the moving spot: such frames differ only by where the drifting ramp stands.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <set>

#include "camera/sim/SimulatedCamera.h"
#include "shell/AcquisitionState.h"
#include "shots/BitmapWriter.h"

int main(int argc, char** argv) {
  ostrelo::AcquisitionState st;
  st.ImageWidth = ostrelo::SimulatedCamera::kDefaultWidth, st.ImageHeight = ostrelo::SimulatedCamera::kDefaultHeight;
  st.FrameBytes.resize(static_cast<size_t>(st.ImageWidth) * st.ImageHeight);
  st.FrameByteCount = static_cast<int32_t>(st.FrameBytes.size()) - 1;
  for (int i = 0; i < 256; ++i) st.GreyPalette[i] = {uint8_t(i), uint8_t(i), uint8_t(i), 0};  // as start-up sets it
  st.AoiLeft = std::atoi(argv[1]), st.AoiTop = std::atoi(argv[2]), st.AoiWidth = std::atoi(argv[3]);
  st.AoiHeight = std::atoi(argv[4]);
  ostrelo::ManualClock clock;
  ostrelo::SimulatedCamera camera(clock);
  std::set<std::vector<uint8_t>> frames;
  std::vector<uint8_t> bmp;
  for (int drift = 0; drift < 512; ++drift) {  // the ramp's period, at 40 pixels a second
    camera.RenderScene(st.FrameBytes.data(), st.ImageWidth, st.ImageHeight, drift * 25);
    ostrelo::BuildAoiBitmap(st, bmp);
    frames.insert(bmp);
  }
  for (int i = 5; i < argc; ++i) {
    std::ifstream in(argv[i], std::ios::binary);
    if (!frames.contains({std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()})) {
      std::printf("%s: no frame of the simulated camera gives it\n", argv[i]);
      return 1;
    }
  }
}
