// The pixel checks and the histogram on synthetic frames, and the switches and
// thresholds that drive them.

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <limits>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "InspectionRig.h"
#include "camera/LineCopy.h"
#include "inspection/CheckPass.h"
#include "shell/VectorLevel.h"
#include "support/ProcessLocale.h"

namespace ostrelo::testing {
namespace {

constexpr uint32_t kWhite = 0xFFFFFFFFu;
constexpr uint32_t kRed = 0xFFFF0000u;
constexpr uint32_t kGreen = 0xFF00FF00u;
constexpr uint32_t kOutline = 0xFF190000u;    // red component 25
constexpr uint32_t kHistoBack = 0xFFE0E0E0u;  // grey 224

class CheckPass : public ::testing::Test {
 protected:
  explicit CheckPass(int32_t width = SimulatedCamera::kDefaultWidth, int32_t height = SimulatedCamera::kDefaultHeight)
      : rig(width, height) {}
  void SetUp() override { ASSERT_TRUE(rig.started); }

  void FillFrame(uint8_t v) { std::fill(st.FrameBytes.begin(), st.FrameBytes.end(), v); }
  void SetArea(int32_t l, int32_t t, int32_t w, int32_t h) {
    st.AoiLeft = l;
    st.AoiTop = t;
    st.AoiWidth = w;
    st.AoiHeight = h;
  }
  // The grab copies the camera view over the whole of Overlay before the checks.
  void Run() {
    ui.OverlaySurface.Fill(kWhite);
    RunCheckPass(f);
  }
  int CountOverlay(uint32_t pixel) const {
    return static_cast<int>(std::count(ui.OverlaySurface.pixels.begin(), ui.OverlaySurface.pixels.end(), pixel));
  }
  void TickSaturation(const std::string& text) {
    ui.SatText.caption = text;
    ui.CheckSaturation.value = 1;
    f.CheckSaturation_Click();
  }
  void TickNoSignal(const std::string& text) {
    ui.NoText.caption = text;
    ui.CheckNoSignal.value = 1;
    f.CheckNoSignal_Click();
  }
  void TickHisto() {
    ui.CheckHisto.value = 1;
    f.CheckHisto_Click();
  }

  InspectionRig rig;
  Form1& f = rig.form;
  AcquisitionState& st = rig.form.st;
  MainWindowModel& ui = rig.form.ui;
};

// ---- Thresholds -------------------------------------------------------------------

struct ThresholdCase {
  const char* name;
  bool saturation;  // SatText / CheckSaturation, else NoText / CheckNoSignal
  const char* text;
  int32_t expected;
};
void PrintTo(const ThresholdCase& c, std::ostream* os) { *os << c.name; }

class ThresholdReading : public CheckPass,
                         public ::testing::WithParamInterface<std::tuple<ThresholdCase, const char*>> {};

TEST_P(ThresholdReading, IsTheLeadingNumberRoundedAndClamped) {
  const auto& [c, locale] = GetParam();
  const testing::ProcessLocale inLocale(locale);
  Control& text = c.saturation ? ui.SatText : ui.NoText;
  int32_t& threshold = c.saturation ? st.SaturationThreshold : st.NoSignalThreshold;
  text.caption = c.text;
  // By Enter, with the box unticked.
  if (c.saturation) {
    f.SatText_KeyPress(kKeyEnter);
  } else {
    f.NoText_KeyPress(kKeyEnter);
  }
  EXPECT_EQ(threshold, c.expected);
  EXPECT_EQ(c.saturation ? st.SaturationCheckOn : st.NoSignalCheckOn, false);
  // By ticking the box, from another value.
  threshold = 123;
  if (c.saturation) {
    TickSaturation(c.text);
    EXPECT_TRUE(st.SaturationCheckOn);
  } else {
    TickNoSignal(c.text);
    EXPECT_TRUE(st.NoSignalCheckOn);
  }
  EXPECT_EQ(threshold, c.expected);
  // The box keeps what was typed.
  EXPECT_EQ(text.caption, c.text);
}

INSTANTIATE_TEST_SUITE_P(
    Thresholds, ThresholdReading,
    ::testing::Combine(
        ::testing::Values(ThresholdCase{"Sat300", true, "300", 255}, ThresholdCase{"Sat5", true, "5", 10},
                          ThresholdCase{"Sat12_5", true, "12.5", 12}, ThresholdCase{"Sat13_5", true, " 13.5 ", 14},
                          ThresholdCase{"SatAbc", true, "abc", 10}, ThresholdCase{"SatEmpty", true, "", 10},
                          ThresholdCase{"Sat200Units", true, "200 grey", 200},
                          ThresholdCase{"Sat255", true, "255", 255}, ThresholdCase{"SatHuge", true, "1e99", 255},
                          ThresholdCase{"SatHugeNegative", true, "-1e99", 10},
                          ThresholdCase{"SatBeyondDouble", true, "1e999", 255},
                          ThresholdCase{"SatBeyondInt32", true, "4294967551", 255},
                          ThresholdCase{"NoMinus3", false, "-3", 0}, ThresholdCase{"No250", false, "250", 240},
                          ThresholdCase{"NoAbc", false, "abc", 0}, ThresholdCase{"No2_5", false, "2.5", 2},
                          ThresholdCase{"No240", false, "240", 240}, ThresholdCase{"NoHuge", false, "1e300", 240},
                          ThresholdCase{"NoHugeNegative", false, "-1e300", 0},
                          ThresholdCase{"NoBeyondInt32", false, "-4294967296", 0},
                          ThresholdCase{"Sat13_5C", true, "13,5", 14}, ThresholdCase{"No2_5C", false, "2 , 5", 2}),
        ::testing::ValuesIn(testing::kOperatorLocales)),
    [](const auto& info) { return testing::NameInLocale(info, std::get<0>(info.param).name); });

TEST_F(CheckPass, ThresholdsHoldZeroUntilReadAndUntickingKeepsThem) {
  EXPECT_EQ(st.SaturationThreshold, 0);
  EXPECT_EQ(st.NoSignalThreshold, 0);
  TickSaturation("200");
  ui.CheckSaturation.value = 0;
  ui.SatText.caption = "100";
  f.CheckSaturation_Click();
  EXPECT_FALSE(st.SaturationCheckOn);
  EXPECT_EQ(st.SaturationThreshold, 200);
  // Keys other than Enter are left to the text box.
  f.SatText_KeyPress('1');
  f.NoText_KeyPress(10);
  EXPECT_EQ(st.SaturationThreshold, 200);
  EXPECT_EQ(st.NoSignalThreshold, 0);
}

// A typed threshold counts from Enter or from the next tick, not before.
TEST_F(CheckPass, TypedThresholdTakesEffectOnEnterOrTick) {
  FillFrame(60);
  TickSaturation("100");
  Run();
  EXPECT_EQ(CountOverlay(kRed), 0);

  ui.SatText.caption = "50";  // typed, no Enter yet
  Run();
  EXPECT_EQ(CountOverlay(kRed), 0);
  f.SatText_KeyPress(kKeyEnter);
  Run();
  EXPECT_GT(CountOverlay(kRed), 0);

  // Enter in NoText with its box unticked sets the threshold but marks nothing.
  ui.NoText.caption = "70";
  f.NoText_KeyPress(kKeyEnter);
  EXPECT_EQ(st.NoSignalThreshold, 70);
  Run();
  EXPECT_EQ(CountOverlay(kGreen), 0);
  // Ticking reads the text again.
  TickNoSignal("59");
  Run();
  EXPECT_EQ(CountOverlay(kGreen), 0);
  TickNoSignal("60");
  Run();
  EXPECT_GT(CountOverlay(kGreen), 0);
  EXPECT_EQ(CountOverlay(kRed), 0);  // every red dot is covered by green
}

TEST_F(CheckPass, WarningTickHidesThePanelAndUntickLeavesIt) {
  ui.Picture1.visible = true;
  ui.CheckWarning.value = 0;
  f.CheckWarning_Click();
  EXPECT_TRUE(ui.Picture1.visible);
  ui.CheckWarning.value = 1;
  f.CheckWarning_Click();
  EXPECT_FALSE(ui.Picture1.visible);
  ui.CheckWarning.value = 0;
  f.CheckWarning_Click();
  EXPECT_FALSE(ui.Picture1.visible);
}

// ---- The walk ---------------------------------------------------------------------

// Line 0 and column 0 hold grey 7, the rest grey 200: a whole-picture area must never
// count or mark a 7.
TEST_F(CheckPass, WholePictureAreaNeverExaminesLineZeroOrColumnZero) {
  const int32_t w = st.ImageWidth;
  FillFrame(200);
  for (int32_t i = 0; i <= st.FrameByteCount; ++i) {
    if (i < w || i % w == 0) st.FrameBytes[i] = 7;
  }
  TickNoSignal("7");
  TickHisto();
  Run();
  EXPECT_EQ(st.HistogramBins[7], 0.0);
  EXPECT_EQ(st.HistogramBins[200], 100.0);
  EXPECT_EQ(CountOverlay(kGreen), 0);
}

// A 30-pixel-wide picture: the sample every 12 bytes falls on a different column on
// each line (line 1: columns 6 and 18; line 2: 0, 12, 24; ...).
class CheckPassNarrow : public CheckPass {
 protected:
  CheckPassNarrow() : CheckPass(30, 20) {}
};

TEST_F(CheckPassNarrow, MarksSitWhereTheSampledPixelsMapOnOverlay) {
  ASSERT_EQ(st.FrameByteCount, 600);
  ASSERT_EQ(st.OverlayWidth, 456);
  ASSERT_EQ(st.OverlayHeight, 342);
  FillFrame(100);
  st.FrameBytes[36] = 255;   // line 1, column 6: x = 6 * 456 / 30 = 91, y = 342 / 20 = 17
  st.FrameBytes[37] = 255;   // line 1, column 7: never sampled
  st.FrameBytes[60] = 255;   // line 2, column 0: sampled, outside the area
  st.FrameBytes[588] = 255;  // line 19, column 18: x = 273, y = 19 * 342 / 20 = 324
  st.FrameBytes[600] = 255;  // the spare byte: sampled, line 20 is outside
  TickSaturation("255");
  Run();
  const Surface& o = ui.OverlaySurface;
  // A 4-pixel dot at (x, y) covers x-2 .. x+1 and y-2 .. y+1.
  for (int32_t y = 15; y <= 18; ++y) {
    for (int32_t x = 89; x <= 92; ++x) EXPECT_EQ(o.At(x, y), kRed) << x << "," << y;
  }
  EXPECT_EQ(o.At(88, 17), kWhite);
  EXPECT_EQ(o.At(93, 17), kWhite);
  EXPECT_EQ(o.At(91, 14), kWhite);
  EXPECT_EQ(o.At(91, 19), kWhite);
  EXPECT_EQ(o.At(271, 322), kRed);
  EXPECT_EQ(o.At(274, 325), kRed);
  EXPECT_EQ(o.At(0, 34), kWhite);
  EXPECT_EQ(CountOverlay(kRed), 32);
}

TEST_F(CheckPassNarrow, GreenCoversRedWhenBothHold) {
  FillFrame(100);
  st.FrameBytes[36] = 200;  // saturated (with 10) and signal-less (with 240)
  st.FrameBytes[48] = 5;    // signal-less only
  st.FrameBytes[72] = 245;  // saturated only (above 240)
  TickSaturation("5");      // 10
  TickNoSignal("240");
  // The other pixels are 100: both hold for them too.
  Run();
  const Surface& o = ui.OverlaySurface;
  EXPECT_EQ(o.At(91, 17), kGreen);
  EXPECT_EQ(o.At(18 * 456 / 30, 17), kGreen);
  EXPECT_EQ(o.At(12 * 456 / 30, 2 * 342 / 20), kRed);
  EXPECT_EQ(CountOverlay(kRed), 16);
}

TEST_F(CheckPassNarrow, SamplesOutsideTheAreaAreNotExamined) {
  FillFrame(255);
  TickSaturation("255");
  TickHisto();
  SetArea(5, 1, 13, 3);  // columns 6..17, lines 2..3 strictly inside
  Run();
  // Line 2: samples at 60 (column 0), 72 (12), 84 (24); line 3: 96 (6), 108 (18).
  // Strictly inside: 12 on line 2 and 6 on line 3; 18 is the area's right edge.
  EXPECT_EQ(CountOverlay(kRed), 32);
  EXPECT_EQ(ui.OverlaySurface.At(12 * 456 / 30, 2 * 342 / 20), kRed);
  EXPECT_EQ(ui.OverlaySurface.At(6 * 456 / 30, 3 * 342 / 20), kRed);
  EXPECT_EQ(st.HistogramMax, 2.0);
}

// ---- Against a plain walk over every twelfth byte ---------------------------------

struct Reference {
  std::vector<uint32_t> overlay;
  std::array<double, 256> counts{};
};

// The checks as the simplest possible loop: every twelfth byte, its line and column by
// division, the four strict comparisons, then the marks and the count.
Reference ReferencePass(const AcquisitionState& st, const Surface& start, int32_t drawWidth) {
  Surface o = start;
  Reference r;
  const int64_t w = st.ImageWidth, h = st.ImageHeight;
  for (int64_t i = 0; i <= st.FrameByteCount; i += 12) {
    const int64_t row = i / w, column = i % w;
    if (!(st.AoiLeft < column && column < int64_t{st.AoiLeft} + st.AoiWidth)) continue;
    if (!(st.AoiTop < row && row < int64_t{st.AoiTop} + st.AoiHeight)) continue;
    const uint8_t v = st.FrameBytes[static_cast<size_t>(i)];
    const auto x = static_cast<int32_t>(column * st.OverlayWidth / w);
    const auto y = static_cast<int32_t>(row * st.OverlayHeight / h);
    if (v >= st.SaturationThreshold && st.SaturationCheckOn) o.Point(x, y, kRed, drawWidth);
    if (v <= st.NoSignalThreshold && st.NoSignalCheckOn) o.Point(x, y, kGreen, drawWidth);
    r.counts[v] += 1;
  }
  r.overlay = o.pixels;
  return r;
}

struct WalkCase {
  const char* name;
  int32_t width, height;
  int32_t left, top, areaWidth, areaHeight;  // areaWidth 0: the whole picture; -1: one drawn from the seed
  const char *sat, *no;
  uint32_t seed;
  bool histogram = true;
};
void PrintTo(const WalkCase& c, std::ostream* os) { *os << c.name; }

class WalkMatchesReference : public ::testing::TestWithParam<WalkCase> {};

TEST_P(WalkMatchesReference, MarksAndCountsTheSamePixelsInTheSameOrder) {
  const WalkCase& c = GetParam();
  InspectionRig rig(c.width, c.height);
  ASSERT_TRUE(rig.started);
  Form1& f = rig.form;
  AcquisitionState& st = f.st;
  // Noisy grey with runs, so that dots of both colours overlap in every order.
  uint32_t s = c.seed;
  for (auto& b : st.FrameBytes) {
    s = s * 1664525u + 1013904223u;
    b = static_cast<uint8_t>((s >> 24) < 40 ? 0 : (s >> 24) > 215 ? 255 : (s >> 16) & 0xFF);
  }
  if (c.areaWidth > 0) {
    st.AoiLeft = c.left;
    st.AoiTop = c.top;
    st.AoiWidth = c.areaWidth;
    st.AoiHeight = c.areaHeight;
  } else if (c.areaWidth < 0) {
    st.AoiLeft = static_cast<int32_t>(s % c.width) - 3;
    st.AoiTop = static_cast<int32_t>(s / 7 % c.height) - 3;
    st.AoiWidth = static_cast<int32_t>(s / 11 % (c.width + 9));
    st.AoiHeight = static_cast<int32_t>(s / 13 % (c.height + 9));
  }
  f.ui.SatText.caption = c.sat;
  f.ui.CheckSaturation.value = 1;
  f.CheckSaturation_Click();
  f.ui.NoText.caption = c.no;
  f.ui.CheckNoSignal.value = 1;
  f.CheckNoSignal_Click();
  f.ui.CheckHisto.value = c.histogram ? 1 : 0;
  f.CheckHisto_Click();
  f.ui.OverlaySurface.Fill(kWhite);
  const Reference expected = ReferencePass(st, f.ui.OverlaySurface, f.ui.OverlayDrawWidth);
  double largest = 1.0;
  for (double n : expected.counts) largest = std::max(largest, n);

  // Walked over the frame buffer, then as a copy from padded lines shows its first two
  // thirds (the rest already in the buffer), then as it shows them all; the same from
  // lines that follow one another, which a wide walk copies itself.
  const std::vector<uint8_t> frame = st.FrameBytes;
  const int64_t pitch = c.width + 5;
  std::vector<uint8_t> padded(static_cast<size_t>(pitch * c.height), 0xA5);
  for (int64_t y = 0; y < c.height; ++y) std::copy_n(&frame[y * c.width], c.width, &padded[y * pitch]);
  // The copy on every vector level this processor has, the plain one included.
  std::vector<uint8_t> dense = frame;
  for (const VectorLevel level : {VectorLevel::Plain, VectorLevel::Sse2, VectorLevel::Avx2, VectorLevel::Avx512})
    for (const auto& [shown, from] : {std::pair{0, &padded},
                                      {c.height * 2 / 3, &padded},
                                      {c.height, &padded},
                                      {c.height * 2 / 3, &dense},
                                      {c.height, &dense}}) {
      CapVectors(level);
      SCOPED_TRACE(::testing::Message() << "level " << static_cast<int>(Vectors()) << ", shown " << shown
                                        << (from == &dense ? ", unpadded" : ""));
      f.ui.OverlaySurface.Fill(kWhite);
      CheckWalk walk(f);
      std::fill_n(st.FrameBytes.begin(), static_cast<size_t>(shown) * c.width, 0x5A);
      CopyLinesShown(from->data(), from == &dense ? c.width : pitch, c.width, shown, st.FrameBytes.data(), &walk);
      walk.Finish();
      CapVectors(VectorLevel::Avx512);
      ASSERT_TRUE(st.FrameBytes == frame);
      EXPECT_TRUE(f.ui.OverlaySurface.pixels == expected.overlay) << "overlay differs";
      if (!c.histogram) continue;  // the marks alone
      EXPECT_EQ(st.HistogramMax, largest);
      for (int v = 0; v < 256; ++v) EXPECT_EQ(st.HistogramBins[v], expected.counts[v] / largest * 100.0) << v;
    }
}

INSTANTIATE_TEST_SUITE_P(Frames, WalkMatchesReference,
                         ::testing::Values(WalkCase{"Default1280", 1280, 1024, 0, 0, 0, 0, "200", "40", 1},
                                           WalkCase{"OverlappingThresholds", 1280, 1024, 0, 0, 0, 0, "100", "150", 2},
                                           WalkCase{"WidthMultipleOf12", 1200, 900, 0, 0, 0, 0, "128", "128", 3},
                                           WalkCase{"OddWidth", 173, 91, 0, 0, 0, 0, "120", "130", 4},
                                           WalkCase{"NarrowerThanAStep", 7, 5, 0, 0, 0, 0, "10", "240", 5},
                                           WalkCase{"WiderThanOverlay", 2448, 2048, 0, 0, 0, 0, "250", "5", 6},
                                           WalkCase{"SmallArea", 640, 480, 100, 50, 37, 23, "100", "150", 7},
                                           WalkCase{"AreaAtTheFarCorner", 1281, 1023, 1200, 950, 81, 73, "90", "160",
                                                    8},
                                           WalkCase{"AreaOneWide", 640, 480, 100, 50, 2, 300, "10", "240", 9},
                                           WalkCase{"RandomArea", 1283, 517, 0, 0, -1, 0, "231", "19", 10},
                                           WalkCase{"RandomAreaIn2448x2048", 2448, 2048, 0, 0, -1, 0, "180", "-1", 11},
                                           WalkCase{"RandomAreaOddWidth", 997, 611, 0, 0, -1, 0, "256", "77", 12},
                                           WalkCase{"RandomAreaIn5472Wide", 5472, 1216, 0, 0, -1, 0, "254", "1", 13},
                                           WalkCase{"MarksAlone", 2448, 2048, 0, 0, -1, 0, "200", "9", 14, false},
                                           WalkCase{"HistogramAlone", 2448, 2048, 0, 0, -1, 0, "256", "-1", 15},
                                           WalkCase{"OtherAreaIn2448", 2448, 2048, 0, 0, -1, 0, "77", "33", 16}),
                         [](const auto& info) { return std::string(info.param.name); });

// Areas no selection can give (the limits of the types, or past the frame) are walked
// without reading outside the frame or overflowing.
struct OddAreaCase {
  const char* name;
  int32_t left, top, width, height;
};
void PrintTo(const OddAreaCase& c, std::ostream* os) { *os << c.name; }

class OddAreas : public CheckPass, public ::testing::WithParamInterface<OddAreaCase> {};

TEST_P(OddAreas, StayInsideTheFrameAndMatchThePlainWalk) {
  const OddAreaCase& c = GetParam();
  FillFrame(255);
  for (int32_t i = 0; i <= st.FrameByteCount; i += 7) st.FrameBytes[i] = 0;
  SetArea(c.left, c.top, c.width, c.height);
  TickSaturation("255");
  TickNoSignal("0");
  TickHisto();
  ui.OverlaySurface.Fill(kWhite);
  const Reference expected = ReferencePass(st, ui.OverlaySurface, ui.OverlayDrawWidth);
  RunCheckPass(f);
  EXPECT_TRUE(ui.OverlaySurface.pixels == expected.overlay);
  EXPECT_EQ(st.HistogramMax, std::max(1.0, std::max(expected.counts[0], expected.counts[255])));
}

constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
INSTANTIATE_TEST_SUITE_P(Frames, OddAreas,
                         ::testing::Values(OddAreaCase{"AllMax", kMax, kMax, kMax, kMax},
                                           OddAreaCase{"MinCornerMaxSize", kMin, kMin, kMax, kMax},
                                           OddAreaCase{"NegativeCornerLarge", -5, -5, 100000, 100000},
                                           OddAreaCase{"HangingOverTheFarEdges", 1270, 1000, 500, 500},
                                           OddAreaCase{"NegativeSize", 100, 100, -50, -50},
                                           OddAreaCase{"Empty", 0, 0, 0, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

// A later picture that reports another size than the buffer was made for.
TEST_F(CheckPass, PictureSizeChangedAfterStartUpStaysWithinTheBuffer) {
  FillFrame(255);
  TickSaturation("255");
  TickHisto();
  for (auto [w, h] : {std::pair{2560, 2048}, std::pair{640, 100}, std::pair{1, 1}, std::pair{kMax, kMax}}) {
    SCOPED_TRACE(w);
    st.ImageWidth = w;
    st.ImageHeight = h;
    SetArea(0, 0, w, h);
    ui.OverlaySurface.Fill(kWhite);
    const Reference expected = ReferencePass(st, ui.OverlaySurface, ui.OverlayDrawWidth);
    RunCheckPass(f);
    EXPECT_TRUE(ui.OverlaySurface.pixels == expected.overlay);
    EXPECT_EQ(st.HistogramMax, std::max(1.0, expected.counts[255]));
  }
}

// ---- The histogram ----------------------------------------------------------------

struct ScaleCase {
  double user;
  int32_t pixel;
};

TEST(HistoScale, EndsOfEachAxisFallOnTheEdgePixels) {
  // Columns: x * 564 / 255; lines: (100 - y) * 36 / 100; both rounded half to even.
  for (ScaleCase c : {ScaleCase{0, 0}, ScaleCase{255, 564}, ScaleCase{1, 2}, ScaleCase{77, 170}, ScaleCase{128, 283},
                      ScaleCase{254, 562}}) {
    EXPECT_EQ(HistoColumn(c.user, 565), c.pixel) << c.user;
  }
  for (ScaleCase c : {ScaleCase{100, 0}, ScaleCase{0, 36}, ScaleCase{50, 18}, ScaleCase{25, 27}, ScaleCase{98.62, 0},
                      ScaleCase{98.6, 1}}) {
    EXPECT_EQ(HistoLine(c.user, 37), c.pixel) << c.user;
  }
}

TEST_F(CheckPass, AreaTooSmallForAnySampleGivesEmptyBinsAndFlatOutline) {
  FillFrame(128);
  st.HistogramBins.fill(42.0);
  TickHisto();
  TickSaturation("10");
  SetArea(5, 5, 1, 1);
  Run();
  for (double b : st.HistogramBins) EXPECT_EQ(b, 0.0);
  EXPECT_EQ(st.HistogramMax, 1.0);
  EXPECT_EQ(CountOverlay(kRed), 0);
  const Surface& h = ui.HistoSurface;
  ASSERT_EQ(h.width, 565);
  ASSERT_EQ(h.height, 37);
  // Zero-height bars under the outline along the bottom edge; nothing else.
  for (int32_t x = 0; x < 565; ++x) {
    EXPECT_EQ(h.At(x, 36), kOutline) << x;
    for (int32_t y = 0; y < 36; ++y) ASSERT_EQ(h.At(x, y), kHistoBack) << x << "," << y;
  }
}

struct GreyCase {
  int32_t grey;
  int32_t column;  // HistoColumn(grey): grey * 564 / 255 rounded
};
void PrintTo(const GreyCase& c, std::ostream* os) { *os << "grey " << c.grey; }

class SingleGreyLevel : public CheckPass, public ::testing::WithParamInterface<GreyCase> {};

TEST_P(SingleGreyLevel, DrawsOneFullBarAndAnOutlineRisingToIt) {
  const GreyCase& c = GetParam();
  FillFrame(static_cast<uint8_t>(c.grey));
  TickHisto();
  Run();
  // Samples strictly inside the whole 1280 x 1024 picture, counted plainly.
  double samples = 0;
  for (int64_t i = 0; i <= st.FrameByteCount; i += 12) {
    if (i % 1280 > 0 && i / 1280 > 0 && i / 1280 < 1024) samples += 1;
  }
  EXPECT_EQ(st.HistogramMax, samples);
  for (int v = 0; v < 256; ++v) EXPECT_EQ(st.HistogramBins[v], v == c.grey ? 100.0 : 0.0) << v;

  const Surface& h = ui.HistoSurface;
  // The bar: red from the bottom to about the middle, the outline meeting at its top.
  EXPECT_EQ(h.At(c.column, 36), kRed);
  EXPECT_EQ(h.At(c.column, 18), kRed);
  EXPECT_EQ(h.At(c.column, 0), kOutline);
  // Far from it, the outline lies on the bottom edge over an empty background.
  const int32_t far = c.column > 282 ? 100 : 450;
  EXPECT_EQ(h.At(far, 36), kOutline);
  EXPECT_EQ(h.At(far, 35), kHistoBack);
  EXPECT_EQ(h.At(far, 0), kHistoBack);
  // No other bar rises: apart from the outline's climb and fall next to the bar, every
  // line above the bottom is background.
  for (int32_t x = 0; x < 565; ++x) {
    if (x >= c.column - 3 && x <= c.column + 3) continue;
    for (int32_t y = 0; y < 36; ++y) ASSERT_EQ(h.At(x, y), kHistoBack) << x << "," << y;
  }
}

INSTANTIATE_TEST_SUITE_P(Histogram, SingleGreyLevel,
                         ::testing::Values(GreyCase{1, 2}, GreyCase{77, 170}, GreyCase{254, 562}, GreyCase{255, 564}));

TEST_F(CheckPass, HistoClearsToItsBackgroundAndBarsScaleToTheLargestBin) {
  // About three quarters of the samples at 50, a quarter at 200: bars of 100 and about 33 %.
  for (int32_t i = 0; i <= st.FrameByteCount; ++i) st.FrameBytes[i] = (i / 12) % 4 == 0 ? 200 : 50;
  ui.HistoSurface.Fill(0xFF123456u);
  TickHisto();
  Run();
  const double low = st.HistogramBins[50], high = st.HistogramBins[200];
  EXPECT_EQ(low, 100.0);
  EXPECT_NEAR(high, 100.0 / 3.0, 1.0);
  const Surface& h = ui.HistoSurface;
  EXPECT_EQ(std::count(h.pixels.begin(), h.pixels.end(), 0xFF123456u), 0);
  // Grey 200 at column round(200 * 564 / 255) = 442; its top at line round((100 - high) * 0.36) = 24.
  ASSERT_EQ(HistoLine(high, 37), 24);
  EXPECT_EQ(h.At(442, 30), kRed);
  EXPECT_EQ(h.At(442, 24), kOutline);
  EXPECT_EQ(h.At(442, 20), kHistoBack);
  // Grey 50 at column round(50 * 564 / 255) = 111: full height.
  EXPECT_EQ(h.At(111, 20), kRed);
  EXPECT_EQ(h.At(111, 0), kOutline);
}

TEST_F(CheckPass, UntickedHistogramFreezesTheLastOne) {
  FillFrame(90);
  TickHisto();
  TickSaturation("10");
  Run();
  const std::vector<uint32_t> drawn = ui.HistoSurface.pixels;
  const uint64_t revision = ui.HistoSurface.revision;
  const auto bins = st.HistogramBins;
  ui.CheckHisto.value = 0;
  f.CheckHisto_Click();
  EXPECT_FALSE(st.HistogramOn);
  FillFrame(30);
  Run();
  EXPECT_GT(CountOverlay(kRed), 0);  // the pass did run
  EXPECT_EQ(ui.HistoSurface.pixels, drawn);
  EXPECT_EQ(ui.HistoSurface.revision, revision);
  EXPECT_EQ(st.HistogramBins, bins);
}

}  // namespace
}  // namespace ostrelo::testing
