// Shared main of the GoogleTest binaries: a QApplication (offscreen unless the environment says
// otherwise) exists for every test, so widgets, fonts and Qt SQL work as in the programs.
#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
