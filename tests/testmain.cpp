// Test programs run with the failure support installed, as the program
// does, so that checked positions and counts raise failures, and with the
// fault layer in front of the system's calls, idle until a test tells it
// to fail, hide or cut a call.
#include <gtest/gtest.h>

#include "runtime/startup.h"
#include "support/faults.h"

int main(int argc, char** argv) {
    pm::faults::Install();
    pm::FailureSupportStartup();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
