#include "app/MainWindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QIcon>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QStyle>
#include <algorithm>
#include <functional>
#include <vector>

#include "app/AboutWindow.h"
#include "app/ControlLook.h"
#include "app/ScreenReaderQueries.h"
#include "app/Widgets.h"

namespace ostrelo::qtui {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

bool SameGeometry(const Control& a, const Control& b) {
  return a.left == b.left && a.top == b.top && a.width == b.width && a.height == b.height;
}
bool SameFont(const Control& a, const Control& b) {
  return a.fontName == b.fontName && a.fontSize == b.fontSize && a.bold == b.bold;
}
bool SameLine(const Control& a, const Control& b) {
  return SameGeometry(a, b) && a.visible == b.visible && a.foreColour == b.foreColour && a.borderWidth == b.borderWidth;
}

// Sets a colour for the active and inactive window states; disabled controls keep the
// style's greyed colours, as a disabled control of any colour looks greyed.
void SetRole(QPalette& pal, QPalette::ColorRole role, const QColor& c) {
  pal.setColor(QPalette::Active, role, c);
  pal.setColor(QPalette::Inactive, role, c);
}

}  // namespace

MainWindow::MainWindow(Form1& form, QWidget* parent)
    : QScrollArea(parent), form_(form), ui_(form.ui), client_(new QWidget) {
  setWindowIcon(QIcon(":/artwork/ostrelo.ico"));
  setFont(ToQFont(ui_.Form1));
  // The controls lie on a client area that grows with the window and scrolls when the
  // window is smaller than the layout.
  setFrameShape(QFrame::NoFrame);
  setFocusPolicy(Qt::NoFocus);  // the keyboard goes from control to control only
  setWidgetResizable(true);
  setWidget(client_);
  client_->installEventFilter(this);
  if (const QScreen* s = screen()) {
    available_ = s->availableGeometry();
    connect(s, &QScreen::availableGeometryChanged, this, &MainWindow::FitToScreen);
  }
  visuTimer_.setTimerType(Qt::PreciseTimer);
  shotTimer_.setTimerType(Qt::PreciseTimer);
  connect(&visuTimer_, &QTimer::timeout, this, &MainWindow::LiveTick);
  readerWait_.setSingleShot(true);
  connect(&readerWait_, &QTimer::timeout, this, &MainWindow::LiveTick);
  connect(&shotTimer_, &QTimer::timeout, this, [this] { Tick(shotTimer_, [this] { form_.Timer1_Timer(); }); });
  connect(&deviceTimer_, &QTimer::timeout, this, [this] {
    // The devices' visits grab too: like the live view's, they wait while a screen reader
    // asks, for as long as the live view waits.
    const bool readerAsking = SinceScreenReaderQueryMs() < kReaderPauseMs;
    if (readerAsking && (!readerWaiting_ || readerWaitingSince_.elapsed() < kReaderWaitMaxMs)) return;
    Tick(deviceTimer_, [this] { form_.DeviceTimer_Timer(); });
  });
  Build();
  Refresh();
}

MainWindow::~MainWindow() {
  visuTimer_.stop();
  shotTimer_.stop();
  deviceTimer_.stop();
  delete about_.data();
}

// ------------------------------------------------------------------ building

MainWindow::Binding& MainWindow::Bind(Control& model, QWidget* widget) {
  bindings_.push_back(Binding{&model, widget, Control{}, true});
  widget->setObjectName(Q(model.name));
  return bindings_.back();
}

MainWindow::Binding* MainWindow::BindingOf(const Control& model) {
  for (Binding& b : bindings_) {
    if (b.model == &model) return &b;
  }
  return nullptr;
}

// The lambdas below keep plain pointers: the model and the bindings outlive every widget.

void MainWindow::AddTextBox(Control& box, void (Form1::*keyPress)(int32_t), void (Form1::*change)()) {
  auto* edit = new TextBox(client_);
  Control* model = &box;
  Binding* binding = &Bind(box, edit);
  // The caret and the selection as the core reads them.
  auto syncCaret = [edit, model, binding] {
    model->selStart = edit->hasSelectedText() ? edit->selectionStart() : edit->cursorPosition();
    model->selLength = static_cast<int32_t>(edit->selectedText().size());
    binding->shown.selStart = model->selStart;
    binding->shown.selLength = model->selLength;
  };
  connect(edit, &TextBox::keyTyped, this, [this, keyPress, syncCaret](int32_t keyAscii) {
    Dispatch([this, keyPress, syncCaret, keyAscii] {
      syncCaret();
      std::invoke(keyPress, form_, keyAscii);
    });
  });
  connect(edit, &QLineEdit::textEdited, this, [this, model, binding, change, syncCaret](const QString& text) {
    Dispatch([this, model, binding, change, syncCaret, text] {
      model->caption = text.toStdString();
      binding->shown.caption = model->caption;
      syncCaret();
      if (change != nullptr) std::invoke(change, form_);
    });
  });
}

void MainWindow::AddCheckBox(Control& box, void (Form1::*click)()) {
  auto* check = new CheckBox(client_);
  Control* model = &box;
  Binding* binding = &Bind(box, check);
  connect(check, &QCheckBox::clicked, this, [this, model, binding, click](bool checked) {
    binding->shown.value = checked ? 1 : 0;  // what the widget shows after the user's click
    Dispatch([this, model, click, checked] {
      model->value = checked ? 1 : 0;
      std::invoke(click, form_);
    });
  });
}

void MainWindow::AddButton(Control& button, void (Form1::*click)()) {
  auto* push = new FaceButton(client_);
  push->setAutoDefault(false);
  Bind(button, push);
  connect(push, &QPushButton::clicked, this, [this, click] { Dispatch([this, click] { std::invoke(click, form_); }); });
}

void MainWindow::Build() {
  // Picture boxes first: the controls placed on them later stay visible above them.
  cam_ = new SurfaceView(ui_.CamSurface, ui_.PicCam.borderWidth, client_);
  cam_->setShape(&ui_.ZoomShape);
  Bind(ui_.PicCam, cam_);
  connect(cam_, &SurfaceView::mouse, this,
          [this](MouseAction action, int32_t button, int32_t shift, double x, double y) {
            Dispatch([=, this] {
              switch (action) {
                case MouseAction::Down: form_.PicCam_MouseDown(button, shift, x, y); break;
                case MouseAction::Move: form_.PicCam_MouseMove(button, shift, x, y); break;
                case MouseAction::Up: form_.PicCam_MouseUp(button, shift, x, y); break;
              }
            });
          });

  zoom_ = new SurfaceView(ui_.ZoomSurface, ui_.PicZoom.borderWidth, client_);
  Bind(ui_.PicZoom, zoom_);
  histo_ = new SurfaceView(ui_.HistoSurface, ui_.Histo.borderWidth, client_);
  Bind(ui_.Histo, histo_);

  banner_ = new Banner(client_);
  Bind(ui_.InfoContainer, banner_);
  connect(banner_, &Banner::clicked, this, [this] {
    SetAboutScreen();
    Dispatch([this] { form_.InfoContainer_Click(); });
  });

  AddButton(ui_.Command1, &Form1::Command1_Click);
  AddButton(ui_.Command2, &Form1::Command2_Click);
  AddCheckBox(ui_.CheckWarning, &Form1::CheckWarning_Click);
  AddCheckBox(ui_.AcquiCheck, &Form1::AcquiCheck_Click);
  AddCheckBox(ui_.LiveCheck, &Form1::LiveCheck_Click);
  AddCheckBox(ui_.CheckNoSignal, &Form1::CheckNoSignal_Click);
  AddCheckBox(ui_.CheckSaturation, &Form1::CheckSaturation_Click);
  AddCheckBox(ui_.CheckHisto, &Form1::CheckHisto_Click);
  AddTextBox(ui_.TimeText, &Form1::TimeText_KeyPress, &Form1::TimeText_Change);
  AddTextBox(ui_.Text_Gain, &Form1::Text_Gain_KeyPress, nullptr);
  AddTextBox(ui_.NoText, &Form1::NoText_KeyPress, nullptr);
  AddTextBox(ui_.SatText, &Form1::SatText_KeyPress, nullptr);

  // The option pair has no handler: a click only selects, as the card reads it later.
  // Auto-exclusive, so a screen reader announces radio buttons; the model still says
  // which one is selected.
  for (size_t i = 0; i < ui_.Option1.size(); ++i) {
    auto* radio = new OptionButton(client_);
    Bind(ui_.Option1[i], radio);
    connect(radio, &QRadioButton::clicked, this, [this, i] {
      for (Control& o : ui_.Option1) {
        if (Binding* ob = BindingOf(o)) ob->shown.value = -1;  // show the model's choice again
      }
      Dispatch([this, i] {
        for (size_t k = 0; k < ui_.Option1.size(); ++k) ui_.Option1[k].value = k == i ? 1 : 0;
      });
    });
  }

  for (Control* c : {&ui_.Label5, &ui_.Label4, &ui_.Label3, &ui_.Label2, &ui_.RafLabel, &ui_.Label1, &ui_.InfoCam}) {
    // The names of the record and of the last picture are paths of any length.
    if (c == &ui_.Label3 || c == &ui_.Label1) {
      Bind(*c, new FileNameLabel(client_));
      continue;
    }
    auto* label = new QLabel(client_);
    label->setWordWrap(true);
    Bind(*c, label);
  }
  for (auto* row : {&ui_.NomUnite, &ui_.NomVoie, &ui_.CanalLabel}) {
    for (Control& c : *row) {
      auto* label = new QLabel(client_);
      label->setWordWrap(true);
      Bind(c, label);
    }
  }

  // The warning panel covers part of the zoom view when shown.
  picture1_ = new WarningPanel(client_);
  Bind(ui_.Picture1, picture1_);
  picture1_->raise();

  // Keyboard focus follows the tab indexes of the layout.
  std::vector<Binding*> focusable;
  for (Binding& b : bindings_) {
    const ControlKind k = b.model->kind;
    if (k == ControlKind::TextBox || k == ControlKind::CheckBox || k == ControlKind::OptionButton ||
        k == ControlKind::CommandButton) {
      focusable.push_back(&b);
    }
  }
  std::sort(focusable.begin(), focusable.end(),
            [](const Binding* a, const Binding* b) { return a->model->tabIndex < b->model->tabIndex; });
  for (size_t i = 1; i < focusable.size(); ++i) setTabOrder(focusable[i - 1]->widget, focusable[i]->widget);
  // The banner comes after every control, whatever its tab index.
  if (!focusable.empty()) setTabOrder(focusable.back()->widget, banner_);
  for (const Binding* b : focusable) tabChain_.push_back(b->widget);
}

void MainWindow::FocusFirstControl() {
  // Left to the toolkit, the focus would start on whatever widget was made first (the
  // banner, where Enter opens the About box), not where Tab starts.
  for (QWidget* w : tabChain_) {
    if (w->isEnabled() && !w->isHidden()) {
      w->setFocus(Qt::OtherFocusReason);
      return;
    }
  }
}

AboutWindow* MainWindow::aboutWindow() const { return about_; }

QWidget* MainWindow::controlWidget(const std::string& name) const {
  for (const Binding& b : bindings_) {
    if (b.model->name == name) return b.widget;
  }
  return nullptr;
}

// ------------------------------------------------------------------ events

void MainWindow::Tick(QTimer& timer, const std::function<void()>& handler, uint64_t putOffAt) {
  if (sinceHeld_.isValid() && sinceHeld_.elapsed() < kRightAfterMs && putOffAt != helds_) {
    // Its own timer, due at once but after those that came due meanwhile.
    QTimer::singleShot(1, Qt::PreciseTimer, this, [this, &timer, handler, at = helds_] {
      if (timer.isActive()) Tick(timer, handler, at);
    });
    return;
  }
  Dispatch(handler);
}

void MainWindow::Dispatch(const std::function<void()>& handler) {
  if (ended_) return;
  QElapsedTimer took;
  took.start();
  form_.Dispatch(handler);
  if (took.elapsed() >= kHeldMs) {
    ++helds_;
    sinceHeld_.start();
  }
  if (form_.phase() == Phase::Ended) {
    EndProgram();
    return;
  }
  Refresh();
}

void MainWindow::LiveTick() {
  // A grab holds the window longer than the live timer's period, so the window is never
  // idle, while a screen reader asks one question at a time and waits for each answer:
  // reading the window took one grab per question, seconds to minutes. The picture waits
  // while the reader is asking, for a second at most.
  const int64_t sinceQueryMs = SinceScreenReaderQueryMs();
  if (sinceQueryMs < kReaderPauseMs) {
    if (!readerWaiting_) {
      readerWaiting_ = true;
      readerWaitingSince_.start();
    }
    if (readerWaitingSince_.elapsed() < kReaderWaitMaxMs) {
      readerWait_.start(static_cast<int>(kReaderPauseMs - sinceQueryMs));
      return;
    }
  }
  readerWaiting_ = false;
  readerWait_.stop();
  if (!visuTimer_.isActive()) return;  // the live view was stopped meanwhile
  Tick(visuTimer_, [this] { form_.VisuTimer_Timer(); });
}

void MainWindow::EndProgram() {
  if (ended_) return;
  ended_ = true;
  visuTimer_.stop();
  readerWait_.stop();
  shotTimer_.stop();
  deviceTimer_.stop();
  if (about_) {
    about_->hide();
    about_->deleteLater();
    about_ = nullptr;
  }
  hide();
  emit ended(form_.exitCode());
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (!ended_) Dispatch([this] { form_.Unload(); });
  event->accept();
}

void MainWindow::SetAboutScreen() {
  const QScreen* s = screen() != nullptr ? screen() : QGuiApplication::primaryScreen();
  if (s == nullptr) return;
  form_.about.screenWidthTwips = static_cast<double>(s->geometry().width()) * kTwipsPerPixel;
  form_.about.screenHeightTwips = static_cast<double>(s->geometry().height()) * kTwipsPerPixel;
}

// ------------------------------------------------------------------ showing the model

void MainWindow::Refresh() {
  if (ended_) return;
  ApplyForm();
  for (Binding& b : bindings_) Apply(b);
  cam_->SyncFromModel();
  zoom_->SyncFromModel();
  histo_->SyncFromModel();
  if (picture1Fresh_ || ui_.Picture1Text != shownPicture1Text_) {
    picture1_->setText(ui_.Picture1Text);
    shownPicture1Text_ = ui_.Picture1Text;
    picture1Fresh_ = false;
  }
  if (!SameLine(ui_.Line1, shownLine1_) || !SameLine(ui_.Line2, shownLine2_)) {
    shownLine1_ = ui_.Line1;
    shownLine2_ = ui_.Line2;
    client_->update();
  }
  banner_->setSimulated(ui_.SimulatedDevices);
  // With both devices away, their notices stand side by side in the order the outages began.
  std::string notices;
  for (const std::string& notice : ui_.DeviceNotices()) notices += (notices.empty() ? "" : "   ") + notice;
  banner_->setCameraNotice(Q(notices));
  banner_->setDiskNotice(Q(ui_.DiskNotice), ui_.DiskNoticeUrgent);
  cam_->setNotice(Q(ui_.CameraNotice));
  SyncTimer(visuTimer_, ui_.VisuTimer, visuGeneration_);
  SyncTimer(shotTimer_, ui_.Timer1, shotGeneration_);
  SyncTimer(deviceTimer_, ui_.DeviceTimer, deviceGeneration_);
  SyncAbout();
}

void MainWindow::ApplyForm() {
  const Control& m = ui_.Form1;
  if (formFresh_ || m.caption != shownForm_.caption) setWindowTitle(Q(m.caption));
  if (formFresh_ || !SameGeometry(m, shownForm_)) {
    client_->setMinimumSize(m.width, m.height);
    PlaceWindow();
  }
  shownForm_ = m;
  formFresh_ = false;
}

void MainWindow::FitToScreen(const QRect& available) {
  available_ = available;
  PlaceWindow();
}

void MainWindow::PlaceWindow() {
  const Control& m = ui_.Form1;
  // The window's size is its client area: everything laid out inside it stays visible
  // whatever frame the window manager adds.
  placedFrame_ = FrameMargins();
  const QSize room = available_.size().shrunkBy(placedFrame_);
  const bool wide = m.width > room.width(), tall = m.height > room.height();
  if (available_.isEmpty() || (!wide && !tall)) {
    move(m.left, m.top);
    resize(m.width, m.height);
    return;
  }
  // A screen too small for the layout: the window takes what the screen offers and its
  // content scrolls, the scroll bars beside the layout where there is room for them.
  const int bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
  resize(std::min(m.width + (tall ? bar : 0), room.width()), std::min(m.height + (wide ? bar : 0), room.height()));
  move(available_.topLeft());
}

QMargins MainWindow::FrameMargins() const {
  const QRect frame = frameGeometry(), inner = geometry();
  return {inner.left() - frame.left(), inner.top() - frame.top(), frame.right() - inner.right(),
          frame.bottom() - inner.bottom()};
}

bool MainWindow::event(QEvent* event) {
  // The window manager frames the window only once it is shown: placed again for the
  // room the frame leaves (a maximised window keeps the place the user chose).
  if (event->type() == QEvent::Move && windowState() == Qt::WindowNoState && FrameMargins() != placedFrame_) {
    PlaceWindow();
  }
  if (event->type() == QEvent::Show && !focusPlaced_) {
    focusPlaced_ = true;
    FocusFirstControl();
  }
  return QScrollArea::event(event);
}

void MainWindow::DockBanner() {
  // Docked to the bottom edge across the whole client width.
  const int h = ui_.InfoContainer.height;
  banner_->setGeometry(0, client_->height() - h, client_->width(), h);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == client_ && event->type() == QEvent::Resize) DockBanner();
  if (watched == client_ && event->type() == QEvent::Paint) PaintLines();
  return QScrollArea::eventFilter(watched, event);
}

void MainWindow::ApplyColours(const Control& m, QWidget* w) {
  const QPalette base = QApplication::palette();
  QPalette pal = w->palette();
  const QColor fore = ToQColor(m.foreColour, base);
  const QColor back = ToQColor(m.backColour, base);
  switch (m.kind) {
    case ControlKind::TextBox:
      SetRole(pal, QPalette::Text, fore);
      SetRole(pal, QPalette::Base, back);
      break;
    case ControlKind::CommandButton:
      SetRole(pal, QPalette::ButtonText, fore);
      SetRole(pal, QPalette::Button, back);
      break;
    case ControlKind::PictureBox:
      if (auto* view = qobject_cast<SurfaceView*>(w)) view->setBackColour(back);
      if (auto* panel = qobject_cast<WarningPanel*>(w)) panel->setColours(back, fore);
      SetRole(pal, QPalette::Window, back);
      break;
    default: {
      SetRole(pal, QPalette::WindowText, fore);
      // Labels and boxes on the window's own face let it show through.
      const bool ownBack = m.backColour != kSystemButtonFace;
      w->setAutoFillBackground(ownBack);
      if (ownBack) SetRole(pal, QPalette::Window, back);
      break;
    }
  }
  w->setPalette(pal);
}

void MainWindow::Apply(Binding& b) {
  const Control& m = *b.model;
  Control& s = b.shown;
  QWidget* w = b.widget;
  const bool all = b.fresh;

  if (w == banner_) {
    if (all || !SameGeometry(m, s)) DockBanner();
  } else if (all || !SameGeometry(m, s)) {
    w->setGeometry(m.left, m.top, std::max(0, m.width), std::max(0, m.height));
  }
  if (all || m.enabled != s.enabled) w->setEnabled(m.enabled);
  if (all || m.visible != s.visible) w->setVisible(m.visible);
  if (all || m.tooltip != s.tooltip) w->setToolTip(Q(m.tooltip));
  if (!m.accessibleName.empty() && (all || m.accessibleName != s.accessibleName)) {
    w->setAccessibleName(Q(m.accessibleName));
  }
  if (!m.accessibleDescription.empty() && (all || m.accessibleDescription != s.accessibleDescription)) {
    w->setAccessibleDescription(Q(m.accessibleDescription));
  }
  if (all || !SameFont(m, s)) w->setFont(ToQFont(m));
  if (all || m.foreColour != s.foreColour || m.backColour != s.backColour) ApplyColours(m, w);

  switch (m.kind) {
    case ControlKind::Label: {
      auto* label = static_cast<QLabel*>(w);
      if (all || m.caption != s.caption) {
        if (auto* name = qobject_cast<FileNameLabel*>(w)) {
          name->setFullName(Q(m.caption));
        } else {
          label->setText(Q(m.caption));
        }
      }
      if (all || m.alignment != s.alignment) label->setAlignment(ToQtAlignment(m.alignment) | Qt::AlignTop);
      break;
    }
    case ControlKind::CommandButton:
      if (all || m.caption != s.caption) static_cast<QPushButton*>(w)->setText(Q(m.caption));
      break;
    case ControlKind::CheckBox:
    case ControlKind::OptionButton: {
      auto* button = static_cast<QAbstractButton*>(w);
      if (all || m.caption != s.caption) button->setText(Q(m.caption));
      if (all || m.value != s.value) {
        // An auto-exclusive button refuses to be unchecked while it is the checked one.
        const bool exclusive = button->autoExclusive();
        button->setAutoExclusive(false);
        button->setChecked(m.value == 1);
        button->setAutoExclusive(exclusive);
      }
      break;
    }
    case ControlKind::TextBox: {
      auto* edit = static_cast<TextBox*>(w);
      if (all || m.alignment != s.alignment) edit->setAlignment(ToQtAlignment(m.alignment) | Qt::AlignVCenter);
      const bool textChanged = all || m.caption != s.caption;
      if (textChanged) {
        const QSignalBlocker quiet(edit);
        edit->setText(Q(m.caption));
      }
      if (textChanged || m.selStart != s.selStart || m.selLength != s.selLength) {
        const int length = static_cast<int>(edit->text().size());
        const int start = std::clamp(m.selStart, 0, length);
        const int count = std::clamp(m.selLength, 0, length - start);
        if (count > 0) {
          edit->setSelection(start, count);
        } else {
          edit->setCursorPosition(start);
        }
      }
      break;
    }
    default: break;
  }
  s = m;
  b.fresh = false;
}

void MainWindow::SyncTimer(QTimer& timer, const TimerModel& model, uint64_t& shownGeneration) {
  // An interval of 0 never fires, as a window timer's does not.
  if (!model.enabled() || model.interval() <= 0) {
    timer.stop();
    shownGeneration = model.generation();
    return;
  }
  if (!timer.isActive() || shownGeneration != model.generation()) {
    timer.start(model.interval());  // a new generation restarts the countdown from now
    shownGeneration = model.generation();
  }
}

void MainWindow::SyncAbout() {
  AboutBoxModel& about = form_.about;
  if (!about.exists) {
    if (about_) {
      // Possibly inside one of its own events: destroyed once that event is over.
      about_->hide();
      about_->deleteLater();
      about_ = nullptr;
    }
    return;
  }
  if (!about_ || aboutInstance_ != about.instance) {
    if (about_) {
      about_->hide();
      about_->deleteLater();
    }
    about_ = new AboutWindow(
        about, [this](const std::function<void()>& h) { Dispatch(h); }, this);
    aboutInstance_ = about.instance;
    aboutRaised_ = about.raiseCount;
    about_->show();
  } else if (about.raiseCount != aboutRaised_) {
    aboutRaised_ = about.raiseCount;
    about_->show();
    about_->raise();
    about_->activateWindow();
  }
  about_->Refresh();
}

void MainWindow::PaintLines() {
  QPainter p(client_);
  for (const Control* line : {&ui_.Line1, &ui_.Line2}) {
    if (!line->visible) continue;
    QPen pen(ToQColor(line->foreColour, palette()));
    pen.setWidth(std::max(1, line->borderWidth));
    pen.setCapStyle(Qt::FlatCap);
    p.setPen(pen);
    p.drawLine(QPointF(line->left, line->top), QPointF(line->left + line->width, line->top + line->height));
  }
}

}  // namespace ostrelo::qtui
