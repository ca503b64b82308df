#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "base/checked.h"
#include "base/failure.h"
#include "base/runtimeerror.h"
#include "runtime/failurereport.h"
#include "support/faults.h"
#include "winsys/platform.h"

namespace pm {
namespace {

// The name of this program's own file, as the report shows it.
std::string OwnModuleName() {
    char path[261];
    plat::GetModuleFileName(plat::GetOwnModule(), path, sizeof path);
    const std::string p = path;
    return p.substr(p.rfind('\\') + 1);
}

std::string Compose(const Exception* failure, std::uintptr_t address, std::size_t capacity = 1024) {
    char buffer[1024];
    const std::size_t length = ComposeFailureText(failure, failure ? failure->KindName() : "Foreign", address,
                                                  buffer, capacity);
    EXPECT_EQ(length, std::strlen(buffer));
    return buffer;
}

TEST(FailureReport, ComposesKindModuleAddressAndMessage) {
    // Addresses below every module: shown relative to 4096 in our own file.
    const EFCreateError create("Cannot create file C:\\Mail\\CFG\\PictoCfg.cfg");
    const std::string expected = "Exception EFCreateError in module " + OwnModuleName() +
                                 " at 0000102A.\nCannot create file C:\\Mail\\CFG\\PictoCfg.cfg.";
    EXPECT_EQ(Compose(&create, 4096 + 0x102A), expected);
    // Where the string table cannot give its text, the built-in one says the same.
    faults::FailEveryCall("LoadString");
    EXPECT_EQ(Compose(&create, 4096 + 0x102A), expected);
    faults::Reset();
    const struct {
        const char* message;
        const char* secondLine;
    } rows[] = {
        {"Invalid data type for 'HomeDir'", "Invalid data type for 'HomeDir'."},
        {"Ends with a period.", "Ends with a period."},
        {"", ""},
        {"Two..", "Two.."},
    };
    for (const auto& row : rows) {
        const ERegistryException failure(row.message);
        const std::string text = Compose(&failure, 0);
        EXPECT_EQ(text.substr(text.find('\n') + 1), row.secondLine);
        EXPECT_EQ(text.substr(0, text.find('\n')),
                  "Exception ERegistryException in module " + OwnModuleName() + " at 00000000.");
    }
    EXPECT_EQ(Compose(nullptr, 0), "Exception Foreign in module " + OwnModuleName() + " at 00000000.\n");
}

TEST(FailureReport, PremadeOutOfMemoryAndCutAtCapacity) {
    const EOutOfMemory outOfMemory;
    const std::string text = Compose(&outOfMemory, 0);
    EXPECT_EQ(text.substr(text.find('\n') + 1), "Out of memory.");
    EXPECT_EQ(text.substr(0, 22), "Exception EOutOfMemory");
    EXPECT_EQ(Compose(&outOfMemory, 0, 10), "Exception");
    EXPECT_EQ(Compose(&outOfMemory, 0, 1), "");
    const EWriteError longMessage(std::string(5000, 'w'));
    EXPECT_EQ(Compose(&longMessage, 0).size(), 1023u);
}

TEST(FailureReport, RuntimeErrorTextIsFilledFromTheRight) {
    const struct {
        std::uint32_t code;
        std::uintptr_t address;
        const char* text;
    } rows[] = {
        {217, 0x0040102A, "Runtime error 217 at 0040102A"},
        {203, 0x7C80ABCD, "Runtime error 203 at 7C80ABCD"},
        {1, 0x1F, "Runtime error   1 at 0000001F"},
        {0, 0, "Runtime error   0 at 00000000"},
    };
    for (const auto& row : rows) {
        char text[30];
        FormatRuntimeError(row.code, row.address, text);
        EXPECT_STREQ(text, row.text);
    }
}

// Failures raised by the program's own code, caught as their family would
// be (a stream failure, an integer failure): the report still names the
// exact kind and the message.
TEST(FailureReport, AFailureCaughtAsItsFamilyKeepsItsKind) {
    const auto kindOf = [](void (*raise)()) -> std::string {
        try {
            raise();
        } catch (const EStreamError& failure) {
            return std::string("stream ") + failure.KindName() + ": " + failure.Message();
        } catch (const EIntError& failure) {
            return std::string("integer ") + failure.KindName() + ": " + failure.Message();
        } catch (const EHeapException& failure) {
            return std::string("heap ") + failure.KindName() + ": " + failure.Message();
        }
        return "none";
    };
    const struct {
        void (*raise)();
        const char* caught;
    } rows[] = {
        {[] { Raise<EWriteError>("Stream write error"); }, "stream EWriteError: Stream write error"},
        {[] { Raise<EReadError>("Stream read error"); }, "stream EReadError: Stream read error"},
        {[] { Raise<EFOpenError>("Cannot open file x"); }, "stream EFOpenError: Cannot open file x"},
        {[] { Raise<EFCreateError>("Cannot create file x"); }, "stream EFCreateError: Cannot create file x"},
        {[] { CheckFitsInt32(0x80000000u); }, "integer EIntOverflow: Integer overflow"},
        {[] { RaiseRuntimeError(RuntimeRangeError, 0); }, "integer ERangeError: Range check error"},
        {[] { RaiseRuntimeError(RuntimeOutOfMemory, 0); }, "heap EOutOfMemory: Out of memory"},
    };
    for (const auto& row : rows) EXPECT_EQ(kindOf(row.raise), row.caught);
}

TEST(FailureReport, RaiseRecordsTheAddressAfterTheCall) {
    try {
        Raise<EFOpenError>("Cannot open file x");
    } catch (const EFOpenError& failure) {
        EXPECT_NE(failure.RaiseAddress(), 0u);
        EXPECT_STREQ(failure.Message(), "Cannot open file x");
    }
}

}  // namespace
}  // namespace pm
