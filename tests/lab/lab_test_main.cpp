// Runs the lab tests; with the windows built, inside one QApplication on the platform that
// QT_QPA_PLATFORM names (offscreen when it is unset).

#include <gtest/gtest.h>

#include <csignal>

#ifdef CORVALINK_LAB_GUI
#include <QApplication>
#endif

int main(int argc, char** argv) {
  // A program that ends before it reads the input a test hands it (a refused command line)
  // must fail that test's checks, not end the whole run with SIGPIPE.
  std::signal(SIGPIPE, SIG_IGN);
#ifdef CORVALINK_LAB_GUI
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
#endif
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
