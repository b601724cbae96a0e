// gtest entry point with a Qt application object, so tests can use QProcess,
// event pumping and (for gui/ suites, under QT_QPA_PLATFORM=offscreen) widgets.
#include <gtest/gtest.h>

#ifdef RH_WITH_GUI_TESTS
#include <QApplication>
using RhTestApp = QApplication;
#else
#include <QCoreApplication>
using RhTestApp = QCoreApplication;
#endif

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    RhTestApp app(argc, argv);
    return RUN_ALL_TESTS();
}
