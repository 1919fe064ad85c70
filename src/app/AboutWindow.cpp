#include "app/AboutWindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPixmap>

#include "app/ControlLook.h"
#include "app/Widgets.h"
#include "shell/Numbers.h"

namespace ostrelo::qtui {

namespace {

// The pictures of the box, by control name.
const char* PictureOf(const std::string& name) {
  if (name == "Photo") return ":/artwork/photo.bmp";
  if (name == "Image1(0)") return ":/artwork/image1-0.gif";
  if (name == "Image1(1)") return ":/artwork/image1-1.bmp";
  return nullptr;
}

}  // namespace

AboutWindow::AboutWindow(AboutBoxModel& model, Dispatcher dispatch, QWidget* parent)
    : QWidget(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      model_(model),
      dispatch_(std::move(dispatch)) {
  setAttribute(Qt::WA_DeleteOnClose, false);
  setObjectName("APropos");
  setWindowTitle(QString::fromStdString(model.APropos.caption));
  setWindowIcon(QIcon());
  const QPalette base = QApplication::palette();
  QPalette pal = palette();
  pal.setColor(QPalette::Window, ToQColor(model.APropos.backColour, base));
  setPalette(pal);
  setAutoFillBackground(true);
  setFont(ToQFont(model.APropos));
  setFixedSize(model.APropos.width, model.APropos.height);
  // Placed by the client area's top-left corner, rounded from the centred twips.
  setGeometry(RoundToInt32(model.leftTwips / kTwipsPerPixel), RoundToInt32(model.topTwips / kTwipsPerPixel),
              model.APropos.width, model.APropos.height);

  // Created in reverse layout order, so the photo, first in the layout, lies on top.
  const std::vector<Control*> controls = model.Controls();
  for (auto it = controls.rbegin(); it != controls.rend(); ++it) {
    const Control& c = **it;
    auto* label = new ClickLabel(this);
    label->setObjectName(QString::fromStdString(c.name));
    label->setGeometry(c.left, c.top, c.width, c.height);
    label->setFont(ToQFont(c));
    QPalette lp = label->palette();
    lp.setColor(QPalette::WindowText, ToQColor(c.foreColour, base));
    lp.setColor(QPalette::Window, ToQColor(c.backColour, base));
    label->setPalette(lp);
    label->setAutoFillBackground(true);
    if (const char* picture = PictureOf(c.name)) {
      label->setPixmap(QPixmap(picture));
      label->setAlignment(Qt::AlignLeft | Qt::AlignTop);  // a larger picture is clipped
      if (c.borderWidth > 0) {
        label->setFrameStyle(QFrame::Box | QFrame::Plain);
        label->setLineWidth(c.borderWidth);
      }
    } else {
      label->setText(QString::fromStdString(c.caption));
      label->setAlignment(ToQtAlignment(c.alignment) | Qt::AlignTop);
    }
    if (!c.accessibleName.empty()) label->setAccessibleName(QString::fromStdString(c.accessibleName));
    label->setVisible(c.visible);
    widgets_[c.name] = label;

    const std::string& n = c.name;
    const int32_t index = n.size() > 3 && n.back() == ')' ? n[n.size() - 2] - '0' : 0;
    auto onClick = [this](const std::function<void()>& handler) { return [this, handler] { dispatch_(handler); }; };
    if (n.rfind("Etiquette3", 0) == 0) {
      connect(label, &ClickLabel::clicked, this, onClick([this, index] { model_.Etiquette3_Click(index); }));
    } else if (n.rfind("Etiquette4", 0) == 0) {
      connect(label, &ClickLabel::clicked, this, onClick([this, index] { model_.Etiquette4_Click(index); }));
    } else if (n == "Etiquette5") {
      connect(label, &ClickLabel::clicked, this, onClick([this] { model_.Etiquette5_Click(); }));
    } else if (n == "Etiquette7") {
      connect(label, &ClickLabel::clicked, this, onClick([this] { model_.Etiquette7_Click(); }));
    } else if (n.rfind("Image1", 0) == 0) {
      connect(label, &ClickLabel::clicked, this, onClick([this, index] { model_.Image1_Click(index); }));
    } else if (n.rfind("Etiquette6", 0) == 0) {
      // Coordinates in the box's unit, twips.
      connect(label, &ClickLabel::pressed, this, [this, index](int32_t button, int32_t shift, double x, double y) {
        dispatch_(
            [=, this] { model_.Etiquette6_MouseDown(index, button, shift, x * kTwipsPerPixel, y * kTwipsPerPixel); });
      });
      connect(label, &ClickLabel::released, this, [this, index](int32_t button, int32_t shift, double x, double y) {
        dispatch_(
            [=, this] { model_.Etiquette6_MouseUp(index, button, shift, x * kTwipsPerPixel, y * kTwipsPerPixel); });
      });
    }
    // The photo has no handler: a click on it does nothing.
  }
  photo_ = widgets_.at("Photo");
}

QWidget* AboutWindow::controlWidget(const std::string& name) const {
  auto it = widgets_.find(name);
  return it == widgets_.end() ? nullptr : it->second;
}

void AboutWindow::Refresh() {
  if (photo_->isHidden() == model_.Photo.visible) photo_->setVisible(model_.Photo.visible);
}

void AboutWindow::mousePressEvent(QMouseEvent* event) { leftDown_ = event->button() == Qt::LeftButton; }

void AboutWindow::mouseReleaseEvent(QMouseEvent* event) {
  const bool click = leftDown_ && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
  leftDown_ = false;
  if (click) dispatch_([this] { model_.Click(); });
}

void AboutWindow::keyPressEvent(QKeyEvent* event) {
  // Escape closes the box as it closes any dialog, the way its close button does.
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    if (model_.exists) dispatch_([this] { model_.Unload(); });
    return;
  }
  QWidget::keyPressEvent(event);
}

void AboutWindow::closeEvent(QCloseEvent* event) {
  // The title bar's close button unloads the box like a click does; the main window
  // then destroys this widget.
  event->ignore();
  if (model_.exists) dispatch_([this] { model_.Unload(); });
}

}  // namespace ostrelo::qtui
