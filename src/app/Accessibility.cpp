#include "app/Accessibility.h"

#include <QAccessible>
#include <QAccessibleWidget>

#include "app/AboutWindow.h"
#include "app/MainWindow.h"
#include "app/Widgets.h"

namespace ostrelo::qtui {

namespace {

class BannerAccessible final : public QAccessibleWidget {
 public:
  explicit BannerAccessible(Banner* banner) : QAccessibleWidget(banner, QAccessible::Button) {}
  QStringList actionNames() const override { return {pressAction()}; }
  void doAction(const QString& action) override {
    if (action == pressAction()) emit static_cast<Banner*>(widget())->clicked();
  }
};

QAccessibleInterface* Interface(const QString& className, QObject* object) {
  // Announced as windows, as Qt's own main windows and dialogs are, not as the scroll
  // area and plain widget they are built from.
  if (className == QLatin1String(MainWindow::staticMetaObject.className())) {
    return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Window);
  }
  if (className == QLatin1String(AboutWindow::staticMetaObject.className())) {
    return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Dialog);
  }
  if (className == QLatin1String(Banner::staticMetaObject.className())) {
    return new BannerAccessible(static_cast<Banner*>(object));
  }
  if (className == QLatin1String(SurfaceView::staticMetaObject.className())) {
    return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Graphic);
  }
  if (className == QLatin1String(WarningPanel::staticMetaObject.className())) {
    return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::StaticText);
  }
  return nullptr;
}

}  // namespace

void InstallAccessibility() { QAccessible::installFactory(Interface); }

}  // namespace ostrelo::qtui
