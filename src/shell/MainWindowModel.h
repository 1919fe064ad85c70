#pragma once
// The main window as data: every control's caption or text, tick, enabled and visible
// state, colours, geometry and tooltip, the two timers, and the picture surfaces.
// Handlers change this model; the Qt view only shows it.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "shell/Surface.h"

namespace ostrelo {

enum class ControlKind { Window, TextBox, PictureBox, CheckBox, OptionButton, CommandButton, Label, Shape, Line };
enum class Alignment { Left, Centre, Right };

// The desktop's own colours, encoded as the window properties hold them.
inline constexpr VbColour kSystemWindow = 0x80000005u;      // window background
inline constexpr VbColour kSystemWindowText = 0x80000008u;  // window text
inline constexpr VbColour kSystemButtonFace = 0x8000000Fu;  // dialog and button face
inline constexpr bool IsSystemColour(VbColour c) { return (c & 0x80000000u) != 0; }

// Twips per screen pixel at 96 dots per inch.
inline constexpr int32_t kTwipsPerPixel = 15;

struct Control {
  std::string name;
  ControlKind kind = ControlKind::Label;
  std::string caption;  // caption, or text of a text box
  int32_t value = 0;    // check box: 0 unticked, 1 ticked; option button: 1 selected
  bool enabled = true;
  bool visible = true;
  VbColour foreColour = kSystemWindowText;
  VbColour backColour = kSystemButtonFace;
  // Position and size in pixels, relative to the container's client area; for a line,
  // left/top is its first end and width/height the offset to its second end.
  int32_t left = 0, top = 0, width = 0, height = 0;
  int32_t tabIndex = -1;  // -1: takes no focus
  std::string tooltip;
  // What a screen reader says of a control that has no caption of its own.
  std::string accessibleName, accessibleDescription;
  std::string fontName = "MS Sans Serif";
  double fontSize = 8.25;
  bool bold = false;
  Alignment alignment = Alignment::Left;
  int32_t borderWidth = 0;  // frame around a picture box's inner area, pixels
  // Text boxes: the caret and the selection, in characters.
  int32_t selStart = 0;
  int32_t selLength = 0;
};

// A window timer. Every start and every change of interval begins a new generation:
// the view (or a simulated event loop) then restarts its countdown from that moment.
class TimerModel {
 public:
  explicit TimerModel(int32_t intervalMs = 200) : interval_(intervalMs) {}
  bool enabled() const { return enabled_; }
  int32_t interval() const { return interval_; }
  uint64_t generation() const { return generation_; }
  void SetEnabled(bool on) {
    if (on != enabled_) ++generation_;
    enabled_ = on;
  }
  void Start() { SetEnabled(true); }
  void Stop() { SetEnabled(false); }
  void SetInterval(int32_t ms) {
    interval_ = ms;
    ++generation_;
  }

 private:
  bool enabled_ = false;
  int32_t interval_;
  uint64_t generation_ = 0;
};

// The device timer's period, and the longest a device it watches goes without a visit.
inline constexpr int32_t kDeviceTimerMs = 250;
inline constexpr int64_t kDeviceVisitMs = 1000;

// Identifies the picture surfaces where a handle is expected.
enum SurfaceId : int32_t { kCamSurface = 1, kOverlaySurface = 2, kZoomSurface = 3, kHistoSurface = 4 };
// The native window handle of PicCam, given to the display at start-up.
inline constexpr int32_t kPicCamWindowHandle = 101;

struct MainWindowModel {
  MainWindowModel();

  Control Form1;
  Control Text_Gain, Picture1, CheckWarning;
  std::array<Control, 2> Option1;
  Control AcquiCheck, TimeText, LiveCheck, Command2, NoText, SatText;
  Control CheckNoSignal, CheckSaturation, CheckHisto, Histo;
  Control PicCam, ZoomShape, PicZoom, InfoContainer, Overlay;
  Control Command1, Label5, Label4, Label3;
  std::array<Control, 4> NomUnite, NomVoie, CanalLabel;
  Control Label2, RafLabel, Label1, InfoCam;
  Control Line1, Line2;

  TimerModel VisuTimer, Timer1;
  // Visits each device at least once a second while one is away or a series runs,
  // whatever the live view and the series' wait (Form1::DeviceTimer_Timer).
  TimerModel DeviceTimer;

  // Inner areas of the picture boxes.
  Surface CamSurface, OverlaySurface, ZoomSurface, HistoSurface;
  // Text printed into the warning panel Picture1 (carriage returns start new lines).
  std::string Picture1Text;
  // Overlay's drawing width: points and lines drawn into it are this many pixels wide.
  int32_t OverlayDrawWidth = 4;

  // Whether the devices are simulated; the view says so in the banner row.
  bool SimulatedDevices = false;
  // While the camera does not answer: the notice the view shows in the banner row and
  // over the camera view ("Camera not answering since 14:02:33"); empty otherwise.
  std::string CameraNotice;
  // While the DAQ card does not answer, shown beside it: "DAQ card not answering since 14:02:33".
  std::string CardNotice;
  // Both away, the card's outage began first: its notice stands first.
  bool CardNoticeFirst = false;
  // The device notices shown, in the order their outages began.
  std::vector<std::string> DeviceNotices() const;
  // While a series runs and the disk holds less than a day of it: "Disk full in 5 h 12 min",
  // urgent (red) under an hour; after the guard has stopped a series, why.
  std::string DiskNotice;
  bool DiskNoticeUrgent = false;

  // Every control, in layout order (ZoomShape included).
  std::vector<Control*> Controls();
  std::vector<const Control*> Controls() const;
  Control* Find(const std::string& name);

  // The surface behind a surface handle, or nullptr.
  Surface* SurfaceById(int32_t id);
};

// Client size of the window as laid out, and its outer size after start-up, pixels.
inline constexpr int32_t kClientWidth = 17520 / kTwipsPerPixel;
inline constexpr int32_t kClientHeight = 11340 / kTwipsPerPixel;
inline constexpr int32_t kWindowWidth = 19320 / kTwipsPerPixel;   // 1288
inline constexpr int32_t kWindowHeight = 11640 / kTwipsPerPixel;  // 776

}  // namespace ostrelo
