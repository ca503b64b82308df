#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "app/conversion.h"
#include "base/failure.h"
#include "runtime/failurereport.h"
#include "app/modules.h"
#include "runtime/startup.h"
#include "hostplatform/hostplatform.h"

namespace pm {
namespace {

// The host's ExitProcess writes each box shown as
// "box <style> [<caption>] [<text>]" to standard error, then exits.

void Say(const char* what) { std::fprintf(stderr, "%s\n", what); }

void Nothing() {}
void FailCreate() { Raise<EFCreateError>(FormatText("Cannot create file %s", "C:\\Mail\\CFG\\PictoCfg.cfg")); }
void FailRegistry() { Raise<ERegistryException>("Invalid data type for 'HomeDir'"); }
void RunOutOfMemory() { RaiseRuntimeError(RuntimeOutOfMemory, 0x401234); }
void Overflow() { RaiseRuntimeError(RuntimeIntOverflow, 0x401234); }
void FailForeign() { throw 42; }

void UpA() { Say("up A"); }
void DownA() { Say("down A"); }
void UpB() { Say("up B"); }
void DownB() { Say("down B"); }
void UpFails() {
    Say("up F");
    ThrowAt(EOutOfMemory(), 0x00431A2B);
}
void DownF() { Say("down F"); }
void DownFails() {
    Say("down X");
    Raise<EStreamError>("x");
}

const ModuleEntry WithSupport[] = {
    {"A", UpA, DownA},
    {"FailureSupport", FailureSupportStartup, FailureSupportShutdown},
    {"B", UpB, DownB},
};

[[noreturn]] void Start(const ModuleEntry* modules, std::size_t count, void (*run)()) {
    host::Reset();
    FailureSupportShutdown();  // installed by the test program itself
    StartProgram(modules, count, run);
}

TEST(StartupDeathTest, OrdinaryRunEndsWithZeroAfterShutdownInReverse) {
    EXPECT_EXIT(Start(WithSupport, 3, Nothing), ::testing::ExitedWithCode(0),
                "^up A\nup B\ndown B\ndown A\n$");
}

TEST(StartupDeathTest, FailureInTheRunIsReportedWithExitCodeOne) {
    EXPECT_EXIT(Start(WithSupport, 3, FailCreate), ::testing::ExitedWithCode(1),
                "down B\ndown A\nbox 0x2010 \\[Application Error\\] \\[Exception EFCreateError in module "
                "Pictomap.exe at [0-9A-F]{8}\\.\\|Cannot create file C:\\\\Mail\\\\CFG\\\\PictoCfg\\.cfg\\.\\]\n$");
    EXPECT_EXIT(Start(WithSupport, 3, FailRegistry), ::testing::ExitedWithCode(1),
                "\\[Exception ERegistryException in module Pictomap.exe at [0-9A-F]{8}\\.\\|"
                "Invalid data type for 'HomeDir'\\.\\]");
    EXPECT_EXIT(Start(WithSupport, 3, RunOutOfMemory), ::testing::ExitedWithCode(1),
                "\\[Exception EOutOfMemory in module Pictomap.exe at 00400234\\.\\|Out of memory\\.\\]");
    EXPECT_EXIT(Start(WithSupport, 3, Overflow), ::testing::ExitedWithCode(1),
                "\\[Exception EIntOverflow in module Pictomap.exe at 00400234\\.\\|Integer overflow\\.\\]");
    EXPECT_EXIT(Start(WithSupport, 3, FailForeign), ::testing::ExitedWithCode(1),
                "\\[Exception Exception in module Pictomap.exe at 00000000\\.\\|\\]");
}

TEST(StartupDeathTest, ModuleNameIsAfterTheLastRealBackslash) {
    const auto run = [] {
        host::SetModulePath("C:\\\x95\\Tools\\Pict\x95\\map.exe");
        host::SetDbcsLeadBytes({0x95});
        FailCreate();
    };
    EXPECT_EXIT(Start(WithSupport, 3, run), ::testing::ExitedWithCode(1),
                "in module Pict\x95\\\\map\\.exe at");
}

TEST(StartupDeathTest, FailureAtStartUpShowsTheRuntimeErrorBox) {
    const ModuleEntry failingAfterSupport[] = {
        {"A", UpA, DownA},
        {"FailureSupport", FailureSupportStartup, FailureSupportShutdown},
        {"F", UpFails, DownF},
        {"B", UpB, DownB},
    };
    EXPECT_EXIT(Start(failingAfterSupport, 4, FailCreate), ::testing::ExitedWithCode(217),
                "^up A\nup F\ndown F\ndown A\nbox 0x0 \\[Error\\] \\[Runtime error 217 at 00431A2B\\]\n$");
    const ModuleEntry failingFirst[] = {
        {"F", UpFails, DownF},
        {"FailureSupport", FailureSupportStartup, FailureSupportShutdown},
    };
    EXPECT_EXIT(Start(failingFirst, 2, Nothing), ::testing::ExitedWithCode(217),
                "^up F\ndown F\nbox 0x0 \\[Error\\] \\[Runtime error 217 at 00431A2B\\]\n$");
}

TEST(StartupDeathTest, RuntimeErrorWithoutFailureSupportEndsWithItsNumber) {
    const ModuleEntry bare[] = {{"A", UpA, DownA}};
    EXPECT_EXIT(Start(bare, 1, RunOutOfMemory), ::testing::ExitedWithCode(203),
                "^up A\ndown A\nbox 0x0 \\[Error\\] \\[Runtime error 203 at 00401234\\]\n$");
}

TEST(StartupDeathTest, EveryShutdownStepRunsWhenOneFails) {
    const ModuleEntry modules[] = {
        {"A", UpA, DownA},
        {"X", nullptr, DownFails},
        {"B", UpB, DownB},
    };
    EXPECT_EXIT(Start(modules, 3, Nothing), ::testing::ExitedWithCode(217), "down B\ndown X\ndown A\n");
}

// With a debugger attached the failure goes to it where it is raised: no
// clean-up and no shutdown step of ours, no box, the system's exit code.
TEST(StartupDeathTest, WithADebuggerTheFailureGoesToIt) {
    const auto run = [] {
        host::SetDebuggerPresent(true);
        struct CleanUp {
            ~CleanUp() { Say("cleaned up"); }
        } cleanUp;
        FailCreate();
    };
    const auto start = [&] {
        try {
            Start(WithSupport, 3, run);
        } catch (...) {
            Say("went on");
        }
    };
    EXPECT_EXIT(start(), ::testing::ExitedWithCode(static_cast<int>(plat::FailureExceptionCode & 0xFF)),
                "^up A\nup B\ndebugger gets EFCreateError: Cannot create file C:\\\\Mail\\\\CFG\\\\PictoCfg.cfg\n$");
}

TEST(StartupDeathTest, TheProgramsOwnTableRunsTheConversion) {
    std::size_t count = 0;
    const ModuleEntry* modules = ProgramModules(count);
    const auto run = [] {
        // The start-up steps have run: privileges enabled.
        if (host::Adjustments().size() == 2 && host::Adjustments()[0].privilege == "SeTakeOwnershipPrivilege" &&
            host::Adjustments()[1].privilege == "SeChangeNotifyPrivilege")
            RunConversion();
    };
    EXPECT_EXIT(Start(modules, count, run), ::testing::ExitedWithCode(0),
                "^box 0x10 \\[Error\\] \\[Fmmp0000\\.inf not Found\\. See Pictomap\\.txt for Details\\.\\]\n$");
}

}  // namespace
}  // namespace pm
