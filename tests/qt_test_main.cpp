// Test entry for code that needs a Qt application object (the main thread's event loop serves
// notifications from worker threads). Widget tests get a QApplication; they never need a display,
// and CTest runs them to list their cases, so the offscreen platform is the default.
#ifdef VELTRA_TEST_WIDGETS
#include <QApplication>
using TTestApplication = QApplication;
#else
#include <QCoreApplication>
using TTestApplication = QCoreApplication;
#endif
#include <gtest/gtest.h>

int main(int argc, char **argv)
{
#ifdef VELTRA_TEST_WIDGETS
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
#endif
    TTestApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
