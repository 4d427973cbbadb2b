// Shared main of the GoogleTest binaries: a QApplication (offscreen unless the environment says
// otherwise) exists for every test, so widgets, fonts and Qt SQL work as in the programs.
#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("MOX_SOURCE_DIR"))
        qputenv("MOX_SOURCE_DIR", MOX_TEST_SOURCE_DIR);
    if (qEnvironmentVariableIsEmpty("FONTCONFIG_FILE"))
        qputenv("FONTCONFIG_FILE", MOX_TEST_FONTCONFIG_FILE);
    testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
