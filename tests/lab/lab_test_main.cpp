// Runs the lab tests; with the windows built, inside one QApplication on the platform that
// QT_QPA_PLATFORM names (offscreen when it is unset).

#include <gtest/gtest.h>

#ifdef CORVALINK_LAB_GUI
#include <QApplication>
#endif

int main(int argc, char** argv) {
#ifdef CORVALINK_LAB_GUI
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
#endif
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
