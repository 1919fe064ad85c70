#pragma once
// The main window Form1 in Qt: built from the window model, it forwards every widget
// event to the core through Dispatch and then shows what changed in the model.

#include <QElapsedTimer>
#include <QPointer>
#include <QScrollArea>
#include <QTimer>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "shell/Form1.h"

namespace ostrelo::qtui {

class AboutWindow;
class Banner;
class SurfaceView;
class TextBox;
class WarningPanel;

class MainWindow final : public QScrollArea {
  Q_OBJECT
 public:
  explicit MainWindow(Form1& form, QWidget* parent = nullptr);
  ~MainWindow() override;

  // Runs one window event in the core, then shows the model. Once the program has
  // ended nothing runs any more.
  void Dispatch(const std::function<void()>& handler);
  // Shows what changed in the model since the last call.
  void Refresh();
  // Places the window for the screen's available area: as laid out where it fits,
  // otherwise filling the area with its content scrolling.
  void FitToScreen(const QRect& available);

  // The widget showing a control of the model, by the control's name.
  QWidget* controlWidget(const std::string& name) const;
  AboutWindow* aboutWindow() const;
  Banner* banner() const { return banner_; }
  const QTimer& visuTimer() const { return visuTimer_; }
  const QTimer& shotTimer() const { return shotTimer_; }
  bool programEnded() const { return ended_; }

 signals:
  // The program has ended (closed window, fatal error); the process exits with this code.
  void ended(int exitCode);

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool event(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  struct Binding {
    Control* model = nullptr;
    QWidget* widget = nullptr;
    Control shown;      // what the widget shows now
    bool fresh = true;  // nothing applied yet
  };

  void Build();
  Binding& Bind(Control& model, QWidget* widget);
  Binding* BindingOf(const Control& model);
  void Apply(Binding& b);
  void ApplyColours(const Control& m, QWidget* w);
  void ApplyForm();
  void PlaceWindow();
  QMargins FrameMargins() const;
  void DockBanner();
  void PaintLines();
  void SyncTimer(QTimer& timer, const TimerModel& model, uint64_t& shownGeneration);
  void SyncAbout();
  void LiveTick();
  void EndProgram();
  void SetAboutScreen();
  void FocusFirstControl();

  void AddTextBox(Control& box, void (Form1::*keyPress)(int32_t), void (Form1::*change)());
  void AddCheckBox(Control& box, void (Form1::*click)());
  void AddButton(Control& button, void (Form1::*click)());

  Form1& form_;
  MainWindowModel& ui_;
  QWidget* client_;
  QRect available_;
  QMargins placedFrame_;  // the window manager's frame the window was placed for
  std::deque<Binding> bindings_;
  Control shownForm_;
  bool formFresh_ = true;
  Control shownLine1_, shownLine2_;
  std::string shownPicture1Text_;
  bool picture1Fresh_ = true;

  SurfaceView* cam_ = nullptr;
  SurfaceView* zoom_ = nullptr;
  SurfaceView* histo_ = nullptr;
  WarningPanel* picture1_ = nullptr;
  Banner* banner_ = nullptr;
  std::vector<QWidget*> tabChain_;  // the controls in Tab order
  bool focusPlaced_ = false;

  QTimer visuTimer_, shotTimer_, deviceTimer_;
  // A screen reader that has not asked anything for this long has done reading.
  static constexpr int64_t kReaderPauseMs = 50;
  static constexpr int64_t kReaderWaitMaxMs = 1000;
  QTimer readerWait_;  // the live view's next grab, put off for a screen reader
  bool readerWaiting_ = false;
  QElapsedTimer readerWaitingSince_;
  uint64_t visuGeneration_ = ~0ull, shotGeneration_ = ~0ull, deviceGeneration_ = ~0ull;
  // A timer due while a handler held the window fires right after it, before a timer
  // due later that waited meanwhile: the window would be held for both. Such a tick is
  // put off until the loop has turned once.
  static constexpr int64_t kHeldMs = 100;       // a handler this long held the window
  static constexpr int64_t kRightAfterMs = 20;  // a tick this soon after it was due meanwhile
  QElapsedTimer sinceHeld_;
  uint64_t helds_ = 0;  // handlers that held the window so far
  void Tick(QTimer& timer, const std::function<void()>& handler, uint64_t putOffAt = ~0ull);

  QPointer<AboutWindow> about_;
  uint64_t aboutInstance_ = 0;
  int aboutRaised_ = 0;

  bool ended_ = false;
};

}  // namespace ostrelo::qtui
