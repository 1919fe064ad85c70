// The Qt tests run on the offscreen platform unless told otherwise.

#include <gtest/gtest.h>

#include <QApplication>

#include "app/Session.h"

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  ::testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  ostrelo::qtui::ConfigureApplication();
  return RUN_ALL_TESTS();
}
