// Test programs run with the failure support installed, as the program
// does, so that checked positions and counts raise failures.
#include <gtest/gtest.h>

#include "runtime/startup.h"

int main(int argc, char** argv) {
    pm::FailureSupportStartup();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
