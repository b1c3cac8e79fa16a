// main() of the Qt test programs: a QApplication (offscreen) and a fresh TARMIN_HOME.
#include <QApplication>
#include <gtest/gtest.h>

namespace tarmin::test {
void init_home();
void remove_home();
}

int main(int argc, char **argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    tarmin::test::init_home();
    int rc;
    {
        QApplication app(argc, argv);
        rc = RUN_ALL_TESTS();
    }
    tarmin::test::remove_home();
    return rc;
}
