#include <gtest/gtest.h>

#include <map>

#include "runtime/failure.h"
#include "runtime/linelist.h"
#include "support.h"
#include "winsys/hostplatform.h"

namespace pm {
namespace {

// Every platform call of a save, made to fail in turn: the old file must
// come through byte for byte, with no temporary file left, and the failure
// must be the one that belongs to the call.
TEST(SaveFaults, AFailedSaveLeavesTheOldFileAsItWas) {
    test::ScratchDir dir;
    const std::string old = "old line\r\n\r\nzz\r\n";
    const std::map<std::string, std::string> expectedKind = {
        {"CreateFile", "EFCreateError"}, {"WriteFile", "EWriteError"}, {"FlushFileBuffers", "EWriteError"},
        {"ReplaceFile", "EFCreateError"}, {"MoveFileEx", "EFCreateError"},
    };
    for (const bool existing : {true, false}) {
        int failures = 0;
        for (std::uint64_t n = 1;; ++n) {
            host::Reset();
            if (existing) dir.Write("PictoCfg.cfg", old);
            LineList list;
            list.AddLine("new b");
            list.AddLine("new a");
            host::FailCall(n);
            std::string kind, message;
            try {
                list.WriteLines(dir.Path("PictoCfg.cfg"));
            } catch (const Exception& failure) {
                kind = failure.KindName();
                message = failure.Message();
            }
            const std::string failed = host::FailedCall();
            host::FailCall(0);
            EXPECT_EQ(host::OpenFiles(), 0);
            if (failed.empty()) {
                EXPECT_EQ(kind, "");
                EXPECT_EQ(dir.Read("PictoCfg.cfg"), "new b\r\nnew a\r\n");
                EXPECT_EQ(dir.EntryCount(), 1u);
                break;
            }
            SCOPED_TRACE("call " + std::to_string(n) + ": " + failed);
            if (failed == "DeleteFile") continue;  // only tidying after success
            ++failures;
            ASSERT_TRUE(expectedKind.count(failed)) << failed;
            EXPECT_EQ(kind, expectedKind.at(failed));
            EXPECT_EQ(message, kind == "EWriteError" ? "Stream write error"
                                                     : "Cannot create file " + dir.Path("PictoCfg.cfg"));
            EXPECT_EQ(dir.Exists("PictoCfg.cfg"), existing);
            if (existing) {
                EXPECT_EQ(dir.Read("PictoCfg.cfg"), old);
            }
            EXPECT_EQ(dir.EntryCount(), existing ? 1u : 0u) << "temporary file left";
        }
        EXPECT_GE(failures, 4);
        std::filesystem::remove(dir.Native("PictoCfg.cfg"));
    }
}

TEST(SaveFaults, AShortOrFailedReadIsAFailureNotAnEmptyList) {
    test::ScratchDir dir;
    dir.Write("in.txt", "one\r\ntwo\r\n");
    for (std::uint64_t n = 1;; ++n) {
        host::Reset();
        LineList list;
        list.AddLine("kept");
        host::FailCall(n);
        std::string kind;
        try {
            list.ReadLines(dir.Path("in.txt"));
        } catch (const Exception& failure) {
            kind = std::string(failure.KindName()) + ": " + failure.Message();
        }
        const std::string failed = host::FailedCall();
        host::FailCall(0);
        EXPECT_EQ(host::OpenFiles(), 0);
        if (failed.empty()) {
            EXPECT_EQ(list.LineCount(), 2);
            break;
        }
        SCOPED_TRACE(failed);
        EXPECT_EQ(kind, failed == "CreateFile" ? "EFOpenError: Cannot open file " + dir.Path("in.txt")
                                               : "EReadError: Stream read error");
        EXPECT_EQ(list.LineCount(), 1);
    }
}

}  // namespace
}  // namespace pm
