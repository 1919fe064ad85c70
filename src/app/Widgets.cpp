#include "app/Widgets.h"

#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>

#include "app/ControlLook.h"

namespace ostrelo::qtui {

int32_t ButtonCode(Qt::MouseButtons buttons) {
  int32_t code = 0;
  if (buttons & Qt::LeftButton) code |= 1;
  if (buttons & Qt::RightButton) code |= 2;
  if (buttons & Qt::MiddleButton) code |= 4;
  return code;
}

int32_t ShiftCode(Qt::KeyboardModifiers modifiers) {
  int32_t code = 0;
  if (modifiers & Qt::ShiftModifier) code |= 1;
  if (modifiers & Qt::ControlModifier) code |= 2;
  if (modifiers & Qt::AltModifier) code |= 4;
  return code;
}

namespace {

// Lines of text from the top of the box, spaced by Arial's line height for the font.
void PrintLines(QPainter& p, const QRect& box, const QStringList& lines, Qt::Alignment alignment) {
  const int size = p.font().pixelSize();
  const QFontMetrics fm(p.font());
  int baseline = box.top() + ArialAscent(size);
  for (const QString& line : lines) {
    int x = box.left();
    if (alignment & Qt::AlignHCenter) x += (box.width() - fm.horizontalAdvance(line)) / 2;
    if (alignment & Qt::AlignRight) x += box.width() - fm.horizontalAdvance(line);
    p.drawText(x, baseline, line);
    baseline += ArialLineAdvance(size);
  }
}

}  // namespace

// ------------------------------------------------------------------ SurfaceView

SurfaceView::SurfaceView(const Surface& surface, int32_t border, QWidget* parent)
    : QWidget(parent), surface_(surface), border_(border) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setMouseTracking(true);  // moves without a button held are events too
}

void SurfaceView::setBackColour(const QColor& c) {
  back_ = c;
  update();
}

void SurfaceView::setNotice(const QString& notice) {
  if (notice == notice_) return;
  notice_ = notice;
  update();
}

void SurfaceView::SyncFromModel() {
  bool changed = surface_.revision != shownRevision_;
  if (shape_ != nullptr) {
    const Control& s = *shape_;
    if (s.visible != shownShape_.visible || s.left != shownShape_.left || s.top != shownShape_.top ||
        s.width != shownShape_.width || s.height != shownShape_.height || s.foreColour != shownShape_.foreColour) {
      shownShape_ = s;
      changed = true;
    }
  }
  if (changed) {
    shownRevision_ = surface_.revision;
    update();
  }
}

void SurfaceView::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), back_);
  if (border_ > 0) {
    // A sunken frame: shadow above and left, light below and right, two lines deep.
    const QPalette& pal = palette();
    const int w = width(), h = height();
    const QColor outerDark = pal.color(QPalette::Mid), innerDark = pal.color(QPalette::Shadow);
    const QColor outerLight = pal.color(QPalette::Light), innerLight = pal.color(QPalette::Midlight);
    p.fillRect(0, 0, w, 1, outerDark);
    p.fillRect(0, 0, 1, h, outerDark);
    p.fillRect(0, h - 1, w, 1, outerLight);
    p.fillRect(w - 1, 0, 1, h, outerLight);
    if (border_ > 1) {
      p.fillRect(1, 1, w - 2, 1, innerDark);
      p.fillRect(1, 1, 1, h - 2, innerDark);
      p.fillRect(1, h - 2, w - 2, 1, innerLight);
      p.fillRect(w - 2, 1, 1, h - 2, innerLight);
    }
  }
  const Surface& s = surface_;
  if (s.width > 0 && s.height > 0 && s.pixels.size() >= static_cast<size_t>(s.width) * s.height) {
    // The model's 0xFFRRGGBB pixels are exactly RGB32: shown in place, never copied.
    const QImage image(reinterpret_cast<const uchar*>(s.pixels.data()), s.width, s.height,
                       static_cast<qsizetype>(s.width) * 4, QImage::Format_RGB32);
    p.setClipRect(border_, border_, width() - 2 * border_, height() - 2 * border_);
    p.drawImage(border_, border_, image);
  }
  if (shape_ != nullptr && shape_->visible) {
    // The dragged area: a clearly visible red rectangle, one pixel inside its bounds.
    QPen pen(ToQColor(shape_->foreColour, palette()));
    pen.setWidth(2);
    pen.setJoinStyle(Qt::MiterJoin);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    p.drawRect(
        QRectF(shape_->left + 1, shape_->top + 1, std::max(0, shape_->width - 2), std::max(0, shape_->height - 2)));
  }
  if (!notice_.isEmpty()) {
    // The picture is frozen: a red frame round it and the notice across its middle.
    const QRect inner = rect().adjusted(border_, border_, -border_, -border_);
    p.setClipRect(inner);
    QPen frame(QColor(255, 0, 0));
    frame.setWidth(6);
    frame.setJoinStyle(Qt::MiterJoin);
    p.setPen(frame);
    p.setBrush(Qt::NoBrush);
    p.drawRect(inner.adjusted(3, 3, -3, -3));
    QFont f = font();
    f.setBold(true);
    f.setPixelSize(16);
    p.setFont(f);
    const QFontMetrics fm(f);
    const QRect band(inner.left(), inner.center().y() - fm.height(), inner.width(), 2 * fm.height());
    p.fillRect(band, QColor(0, 0, 0, 170));
    p.setPen(QColor(255, 80, 80));
    p.drawText(band, Qt::AlignCenter, notice_);
  }
}

void SurfaceView::mousePressEvent(QMouseEvent* event) {
  emit mouse(MouseAction::Down, ButtonCode(event->button()), ShiftCode(event->modifiers()), event->position().x(),
             event->position().y());
}

void SurfaceView::mouseMoveEvent(QMouseEvent* event) {
  emit mouse(MouseAction::Move, ButtonCode(event->buttons()), ShiftCode(event->modifiers()), event->position().x(),
             event->position().y());
}

void SurfaceView::mouseReleaseEvent(QMouseEvent* event) {
  emit mouse(MouseAction::Up, ButtonCode(event->button()), ShiftCode(event->modifiers()), event->position().x(),
             event->position().y());
}

// ------------------------------------------------------------------ WarningPanel

WarningPanel::WarningPanel(QWidget* parent) : QWidget(parent) { setAttribute(Qt::WA_OpaquePaintEvent); }

void WarningPanel::setText(const std::string& text) {
  QString t = QString::fromStdString(text);
  t.replace("\r\n", "\r");
  t.replace('\n', '\r');
  lines_ = t.split('\r');
  // Read by a screen reader as the lines show, without the blanks that place them.
  QStringList spoken;
  for (const QString& line : lines_) {
    if (!line.trimmed().isEmpty()) spoken << line.trimmed();
  }
  setAccessibleName(spoken.join('\n'));
  update();
}

void WarningPanel::setColours(const QColor& back, const QColor& fore) {
  back_ = back;
  fore_ = fore;
  update();
}

void WarningPanel::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), back_);
  p.setPen(fore_);
  p.setFont(font());
  PrintLines(p, rect(), lines_, Qt::AlignLeft);
}

// ------------------------------------------------------------------ Banner

Banner::Banner(QWidget* parent)
    : QWidget(parent),
      picture_(":/artwork/banner.bmp"),
      note_(new QLabel(this)),
      cameraNotice_(new QLabel(this)),
      diskNotice_(new QLabel(this)) {
  note_->setText("Simulated camera and DAQ card");
  note_->setAttribute(Qt::WA_TransparentForMouseEvents);
  QFont f = note_->font();
  f.setPixelSize(11);
  f.setItalic(true);
  note_->setFont(f);
  QPalette pal = note_->palette();
  pal.setColor(QPalette::WindowText, QColor(200, 225, 235));
  note_->setPalette(pal);
  note_->adjustSize();
  note_->hide();

  cameraNotice_->setAttribute(Qt::WA_TransparentForMouseEvents);
  QFont bold = cameraNotice_->font();
  bold.setPixelSize(13);
  bold.setBold(true);
  cameraNotice_->setFont(bold);
  cameraNotice_->setAutoFillBackground(true);
  cameraNotice_->setMargin(4);
  QPalette red = cameraNotice_->palette();
  red.setColor(QPalette::Window, QColor(255, 0, 0));
  red.setColor(QPalette::WindowText, QColor(255, 255, 255));
  cameraNotice_->setPalette(red);
  cameraNotice_->hide();
  diskNotice_->setAttribute(Qt::WA_TransparentForMouseEvents);
  diskNotice_->setFont(bold);
  diskNotice_->setAutoFillBackground(true);
  diskNotice_->setMargin(4);
  setDiskNotice({}, false);
  // Last in the Tab order, so the keyboard reaches the About box too.
  setFocusPolicy(Qt::StrongFocus);
}

void Banner::setCameraNotice(const QString& notice) {
  if (notice == cameraNotice_->text() && notice.isEmpty() == cameraNotice_->isHidden()) return;
  cameraNotice_->setText(notice);
  cameraNotice_->adjustSize();
  cameraNotice_->setVisible(!notice.isEmpty());
  resizeEvent(nullptr);
}

void Banner::setDiskNotice(const QString& notice, bool urgent) {
  if (notice == diskNotice_->text() && urgent == diskUrgent_ && notice.isEmpty() == diskNotice_->isHidden()) return;
  diskUrgent_ = urgent;
  QPalette look = diskNotice_->palette();
  // Amber while there is time, red as the camera's notice when there is little.
  look.setColor(QPalette::Window, urgent ? QColor(255, 0, 0) : QColor(255, 200, 0));
  look.setColor(QPalette::WindowText, urgent ? QColor(255, 255, 255) : QColor(0, 0, 0));
  diskNotice_->setPalette(look);
  diskNotice_->setText(notice);
  diskNotice_->adjustSize();
  diskNotice_->setVisible(!notice.isEmpty());
  resizeEvent(nullptr);
}

void Banner::setSimulated(bool simulated) {
  if (simulated == !note_->isHidden()) return;
  note_->setVisible(simulated);
  resizeEvent(nullptr);
}

void Banner::resizeEvent(QResizeEvent*) {
  const int right = std::min(width(), picture_.width()) - 12;
  const int rowHeight = std::min(height(), picture_.height());
  note_->move(std::max(0, right - note_->width()), std::max(0, (rowHeight - note_->height()) / 2));
  // Left of the note when it is shown, so both can be read.
  const int noticeRight = note_->isHidden() ? right : note_->x() - 12;
  cameraNotice_->move(std::max(0, noticeRight - cameraNotice_->width()),
                      std::max(0, (rowHeight - cameraNotice_->height()) / 2));
  const int diskRight = cameraNotice_->isHidden() ? noticeRight : cameraNotice_->x() - 12;
  diskNotice_->move(std::max(0, diskRight - diskNotice_->width()),
                    std::max(0, (rowHeight - diskNotice_->height()) / 2));
}

void Banner::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), palette().color(QPalette::Window));
  p.drawPixmap(0, 0, picture_);
  if (hasFocus()) {
    // Dotted black on white, seen on the dark picture and on the window's face alike.
    const QRectF frame(2.5, 2.5, std::min(width(), picture_.width()) - 6, std::min(height(), picture_.height()) - 6);
    p.setPen(QPen(Qt::white, 1));
    p.drawRect(frame);
    QPen dotted(Qt::black, 1);
    dotted.setDashPattern({1.0, 1.0});
    p.setPen(dotted);
    p.drawRect(frame);
  }
}

void Banner::keyPressEvent(QKeyEvent* event) {
  const int key = event->key();
  if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space) {
    if (!event->isAutoRepeat()) emit clicked();
    event->accept();
    return;
  }
  QWidget::keyPressEvent(event);
}

void Banner::mousePressEvent(QMouseEvent* event) { pressed_ = event->button() == Qt::LeftButton; }

void Banner::mouseReleaseEvent(QMouseEvent* event) {
  const bool click = pressed_ && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
  pressed_ = false;
  if (click) emit clicked();
}

// ------------------------------------------------------------------ FaceButton

FaceButton::FaceButton(QWidget* parent) : QPushButton(parent) {}

void FaceButton::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const QPalette& pal = palette();
  const QPalette::ColorGroup group = isEnabled() ? QPalette::Active : QPalette::Disabled;
  const int w = width(), h = height();
  p.fillRect(rect(), pal.color(group, QPalette::Button));
  const QColor light = pal.color(QPalette::Light), dark = pal.color(QPalette::Dark);
  const QColor shadow = pal.color(QPalette::Shadow);
  if (isDown()) {
    // Pressed: a shadow frame with a dark line inside it, the caption one pixel lower right.
    p.fillRect(0, 0, w, h, shadow);
    p.fillRect(1, 1, w - 2, h - 2, dark);
    p.fillRect(2, 2, w - 4, h - 4, pal.color(group, QPalette::Button));
  } else {
    p.fillRect(0, 0, w, 1, light);
    p.fillRect(0, 0, 1, h, light);
    p.fillRect(0, h - 1, w, 1, shadow);
    p.fillRect(w - 1, 0, 1, h, shadow);
    p.fillRect(1, h - 2, w - 2, 1, dark);
    p.fillRect(w - 2, 1, 1, h - 2, dark);
  }
  const QColor ink = pal.color(group, QPalette::ButtonText);
  p.setPen(ink);
  p.setFont(font());
  p.drawText(rect().translated(isDown() ? 1 : 0, isDown() ? 1 : 0), Qt::AlignCenter | Qt::TextShowMnemonic, text());
  if (hasFocus()) {
    QPen dotted(ink, 1);
    dotted.setDashPattern({1.0, 1.0});
    p.setPen(dotted);
    p.drawRect(QRectF(3.5, 3.5, w - 8, h - 8));
  }
}

// ------------------------------------------------------------------ FileNameLabel

FileNameLabel::FileNameLabel(QWidget* parent) : QLabel(parent) {
  setWordWrap(false);
  setTextFormat(Qt::PlainText);
}

void FileNameLabel::setFullName(const QString& name) {
  fullName_ = name;
  setToolTip(name.trimmed());
  setAccessibleDescription(name.trimmed());
  Elide();
}

void FileNameLabel::resizeEvent(QResizeEvent* event) {
  QLabel::resizeEvent(event);
  Elide();
}

void FileNameLabel::changeEvent(QEvent* event) {
  QLabel::changeEvent(event);
  if (event->type() == QEvent::FontChange) Elide();
}

void FileNameLabel::Elide() {
  const QFontMetrics fm(font());
  const int room = contentsRect().width();
  QString shown = fullName_;
  if (fm.horizontalAdvance(shown) > room) {
    const qsizetype fileStart = std::max(fullName_.lastIndexOf('/'), fullName_.lastIndexOf('\\')) + 1;
    const QString file = fullName_.mid(fileStart);
    const int folderRoom = room - fm.horizontalAdvance(file);
    // A file name too long for the label on its own keeps at least its end.
    shown = folderRoom > fm.horizontalAdvance(QChar(0x2026))
                ? fm.elidedText(fullName_.left(fileStart), Qt::ElideMiddle, folderRoom) + file
                : fm.elidedText(fullName_, Qt::ElideLeft, room);
  }
  if (shown != text()) setText(shown);
}

// ------------------------------------------------------------------ TextBox

TextBox::TextBox(QWidget* parent) : QLineEdit(parent) {}

void TextBox::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    emit keyTyped(13);
    event->accept();
    return;
  }
  const QString text = event->text();
  if (text.size() == 1 && !(event->modifiers() & Qt::ControlModifier)) emit keyTyped(text.at(0).unicode());
  QLineEdit::keyPressEvent(event);
}

// ------------------------------------------------------------------ ClickLabel

ClickLabel::ClickLabel(QWidget* parent) : QLabel(parent) {}

void ClickLabel::paintEvent(QPaintEvent* event) {
  if (text().isEmpty()) {
    QLabel::paintEvent(event);
    return;
  }
  QPainter p(this);
  p.setFont(font());
  p.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
  PrintLines(p, contentsRect(), text().split('\n'), alignment());
}

void ClickLabel::mousePressEvent(QMouseEvent* event) {
  event->accept();
  if (event->button() == Qt::LeftButton) leftDown_ = true;
  emit pressed(ButtonCode(event->button()), ShiftCode(event->modifiers()), event->position().x(),
               event->position().y());
}

void ClickLabel::mouseReleaseEvent(QMouseEvent* event) {
  event->accept();
  const bool click = leftDown_ && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
  if (event->button() == Qt::LeftButton) leftDown_ = false;
  emit released(ButtonCode(event->button()), ShiftCode(event->modifiers()), event->position().x(),
                event->position().y());
  if (click) emit clicked();
}

}  // namespace ostrelo::qtui
