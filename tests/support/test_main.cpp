// main() of the plain test programs: a fresh TARMIN_HOME for every process.
#include <gtest/gtest.h>

namespace tarmin::test {
void init_home();
void remove_home();
}

int main(int argc, char **argv) {
    ::testing::InitGoogleTest(&argc, argv);
    tarmin::test::init_home();
    int rc = RUN_ALL_TESTS();
    tarmin::test::remove_home();
    return rc;
}
