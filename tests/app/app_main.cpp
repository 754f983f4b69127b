// The window tests need one QApplication for the whole program.

#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char* argv[]) {
    // Listing the cases happens outside CTest's environment, and needs no display either.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
