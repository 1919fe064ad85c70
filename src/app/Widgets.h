#pragma once
// The window's own widgets: a picture box showing a model surface, the warning panel,
// the banner, a text box that reports typed characters, and a label that reports its
// mouse events.

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QWidget>
#include <cstdint>
#include <string>

#include "shell/MainWindowModel.h"
#include "shell/Surface.h"

namespace ostrelo::qtui {

// Mouse buttons and modifier keys as the window events take them: 1 left, 2 right,
// 4 middle; 1 Shift, 2 Ctrl, 4 Alt.
int32_t ButtonCode(Qt::MouseButtons buttons);
int32_t ShiftCode(Qt::KeyboardModifiers modifiers);

enum class MouseAction { Down, Move, Up };

// A picture box: the surface's pixels shown as they are, no copy, inside an optional
// sunken frame; optionally a rectangle shape drawn over it.
class SurfaceView final : public QWidget {
  Q_OBJECT
 public:
  SurfaceView(const Surface& surface, int32_t border, QWidget* parent);
  // Where the shape is, when the box holds one.
  void setShape(const Control* shape) { shape_ = shape; }
  void setBackColour(const QColor& c);
  // A notice drawn over the picture, with a red frame, while not empty.
  void setNotice(const QString& notice);
  const QString& notice() const { return notice_; }
  // Repaints when the surface or the shape changed since the last call.
  void SyncFromModel();
  uint64_t shownRevision() const { return shownRevision_; }

 signals:
  void mouse(MouseAction action, int32_t button, int32_t shift, double x, double y);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  const Surface& surface_;
  int32_t border_;
  QColor back_;
  const Control* shape_ = nullptr;
  uint64_t shownRevision_ = ~0ull;
  Control shownShape_;
  QString notice_;
};

// The warning panel: lines of text printed from the top-left corner, Arial's line
// height apart.
class WarningPanel final : public QWidget {
  Q_OBJECT
 public:
  explicit WarningPanel(QWidget* parent);
  void setText(const std::string& text);  // carriage returns start new lines
  void setColours(const QColor& back, const QColor& fore);
  const QStringList& lines() const { return lines_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QStringList lines_;
  QColor back_, fore_;
};

// The banner at the bottom: its picture from the top-left corner; a click, or Enter or
// Space while it has the focus, opens the About box. A small note says when the devices
// are simulated; a red notice says that the camera does not answer; the disk's notice
// says how long the disk lasts, red when it is urgent.
class Banner final : public QWidget {
  Q_OBJECT
 public:
  explicit Banner(QWidget* parent);
  void setSimulated(bool simulated);
  void setCameraNotice(const QString& notice);             // hidden when empty
  void setDiskNotice(const QString& notice, bool urgent);  // hidden when empty
  QLabel* simulatedNote() const { return note_; }
  QLabel* cameraNotice() const { return cameraNotice_; }
  QLabel* diskNotice() const { return diskNotice_; }
  const QPixmap& picture() const { return picture_; }

 signals:
  void clicked();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  QPixmap picture_;
  QLabel* note_;
  QLabel* cameraNotice_;
  QLabel* diskNotice_;
  bool diskUrgent_ = false;
  bool pressed_ = false;
};

// A command button with a flat face in exactly its button colour, a raised edge that
// sinks while it is pressed, and a dotted frame while it has the focus.
class FaceButton final : public QPushButton {
  Q_OBJECT
 public:
  explicit FaceButton(QWidget* parent);

 protected:
  void paintEvent(QPaintEvent* event) override;
};

// Check boxes and option buttons that take a click anywhere in their rectangle, not
// only on the box and the caption.
template <typename Button>
class WholeAreaButton final : public Button {
 public:
  explicit WholeAreaButton(QWidget* parent) : Button(parent) {}

 protected:
  bool hitButton(const QPoint& pos) const override { return this->rect().contains(pos); }
};
using CheckBox = WholeAreaButton<QCheckBox>;
using OptionButton = WholeAreaButton<QRadioButton>;

// A label for a file's full name, on one line: a name too long for it loses the middle
// of its folder, so the file's own name always shows; the whole name is in its tooltip
// and accessible description.
class FileNameLabel final : public QLabel {
  Q_OBJECT
 public:
  explicit FileNameLabel(QWidget* parent);
  void setFullName(const QString& name);
  const QString& fullName() const { return fullName_; }

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void Elide();
  QString fullName_;
};

// A text box that reports each typed character before it edits the text, and Enter.
class TextBox final : public QLineEdit {
  Q_OBJECT
 public:
  explicit TextBox(QWidget* parent);

 signals:
  void keyTyped(int32_t keyAscii);  // Enter is 13

 protected:
  void keyPressEvent(QKeyEvent* event) override;
};

// A label or picture that reports presses, releases and clicks (press and release of
// the left button on it) and keeps them from reaching the window behind it. Its text
// lines are printed with Arial's line spacing.
class ClickLabel final : public QLabel {
  Q_OBJECT
 public:
  explicit ClickLabel(QWidget* parent);

 signals:
  void pressed(int32_t button, int32_t shift, double x, double y);
  void released(int32_t button, int32_t shift, double x, double y);
  void clicked();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  bool leftDown_ = false;
};

}  // namespace ostrelo::qtui
