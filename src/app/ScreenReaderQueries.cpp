#include "app/ScreenReaderQueries.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <limits>

namespace ostrelo::qtui {

namespace {

// Started at each question of a screen reader; invalid before the first.
QElapsedTimer lastQuery;

// Qt's AT-SPI bridge answers each question on this thread: the question comes as a call
// posted to its adaptor object.
class QueryWatch final : public QObject {
 public:
  using QObject::QObject;
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::MetaCall && qstrcmp(watched->metaObject()->className(), "AtSpiAdaptor") == 0) {
      lastQuery.start();
    }
    return false;
  }
};

}  // namespace

void WatchScreenReaderQueries() {
  if (auto* app = QCoreApplication::instance()) app->installEventFilter(new QueryWatch(app));
}

int64_t SinceScreenReaderQueryMs() {
  return lastQuery.isValid() ? lastQuery.elapsed() : std::numeric_limits<int64_t>::max();
}

}  // namespace ostrelo::qtui
