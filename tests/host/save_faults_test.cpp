#include <gtest/gtest.h>

#include <map>

#include "runtime/failure.h"
#include "runtime/filesave.h"
#include "runtime/linelist.h"
#include "support.h"
#include "winsys/hostplatform.h"

namespace pm {
namespace {

// Every platform call of a save, made to fail in turn: either a later road
// places the new text, or the save fails with the failure of the step, and
// the old file comes through byte for byte, hidden as it was, with no
// temporary file left.
TEST(SaveFaults, AFailedSaveLeavesTheOldFileAsItWas) {
    test::ScratchDir dir;
    const std::string old = "old line\r\n\r\nzz\r\n";
    for (const bool existing : {true, false}) {
        int failures = 0, absorbed = 0;
        for (std::uint64_t n = 1;; ++n) {
            host::Reset();
            std::filesystem::remove(dir.Native("PictoCfg.cfg"));
            if (existing) {
                dir.Write("PictoCfg.cfg", old);
                plat::SetFileAttributes(dir.Path("PictoCfg.cfg"), plat::AttributeHidden);
            }
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
            SCOPED_TRACE("call " + std::to_string(n) + ": " + failed);
            EXPECT_EQ(host::OpenFiles(), 0);
            std::uint32_t attributes = 0;
            const bool hidden = plat::GetFileAttributes(dir.Path("PictoCfg.cfg"), attributes) &&
                                (attributes & plat::AttributeHidden) != 0;
            if (kind.empty()) {
                EXPECT_EQ(dir.Read("PictoCfg.cfg"), "new b\r\nnew a\r\n");
                EXPECT_EQ(dir.EntryCount(), 1u) << "temporary file left";
                if (existing && failed != "GetFileAttributes" && failed != "SetFileAttributes") {
                    EXPECT_TRUE(hidden);
                }
                if (failed.empty()) break;
                ++absorbed;
                continue;
            }
            ++failures;
            EXPECT_TRUE(kind == "EFCreateError" || kind == "EWriteError") << kind;
            EXPECT_EQ(message, kind == "EWriteError" ? "Stream write error"
                                                     : "Cannot create file " + dir.Path("PictoCfg.cfg"));
            EXPECT_EQ(dir.Exists("PictoCfg.cfg"), existing);
            if (existing) {
                EXPECT_EQ(dir.Read("PictoCfg.cfg"), old);
                EXPECT_TRUE(hidden);
            }
            EXPECT_EQ(dir.EntryCount(), existing ? 1u : 0u) << "temporary file left";
        }
        EXPECT_GE(failures, 3);
        EXPECT_GE(absorbed, 2);  // a refused temporary file or replacement: rewritten in place
    }
}

// Where each road is taken, and what it leaves.
TEST(SaveRoads, EachSituationTakesItsRoad) {
    const std::string old = "old 1\r\nold 2\r\n";
    const std::string longer = std::string(300, 'n') + "\r\n";
    const std::string shorter = "n\r\n";
    using Prepare = void (*)(const test::ScratchDir&);
    const struct {
        const char* name;
        bool existing;
        Prepare setup;
        const std::string& text;
        const char* failure;  // empty: the save succeeds
        SaveRoad road;
    } cases[] = {
        {"new file", false, [](const test::ScratchDir&) {}, longer, "", SaveRoad::Replace},
        {"existing file", true, [](const test::ScratchDir&) {}, shorter, "", SaveRoad::Replace},
        {"folder takes no new file, longer text", true,
         [](const test::ScratchDir& d) { std::filesystem::permissions(d.Native("CFG"), std::filesystem::perms(0555)); },
         longer, "", SaveRoad::InPlace},
        {"folder takes no new file, shorter text", true,
         [](const test::ScratchDir& d) { std::filesystem::permissions(d.Native("CFG"), std::filesystem::perms(0555)); },
         shorter, "", SaveRoad::InPlace},
        {"folder takes no new file, no file", false,
         [](const test::ScratchDir& d) { std::filesystem::permissions(d.Native("CFG"), std::filesystem::perms(0555)); },
         shorter, "EFCreateError", SaveRoad::InPlace},
        {"no ReplaceFileA (before Windows 2000)", true,
         [](const test::ScratchDir&) { plat::HideSystemFunction("ReplaceFileA"); }, longer, "", SaveRoad::Replace},
        {"no ReplaceFileA, new file", false,
         [](const test::ScratchDir&) { plat::HideSystemFunction("ReplaceFileA"); }, longer, "", SaveRoad::Replace},
        {"MoveFileExA not implemented either (95, 98, Me)", true,
         [](const test::ScratchDir&) {
             plat::HideSystemFunction("ReplaceFileA");
             plat::HideSystemFunction("MoveFileExA");
         },
         shorter, "", SaveRoad::InPlace},
        {"MoveFileExA not implemented, new file", false,
         [](const test::ScratchDir&) {
             plat::HideSystemFunction("ReplaceFileA");
             plat::HideSystemFunction("MoveFileExA");
         },
         shorter, "", SaveRoad::InPlace},
        {"replacing refused", true, [](const test::ScratchDir&) { host::FailEveryCall("ReplaceFile"); }, longer, "",
         SaveRoad::InPlace},
        {"every leftover name taken", true,
         [](const test::ScratchDir& d) {
             for (unsigned n = 0; n < 100; ++n) {
                 const std::string name = TemporaryName(d.Path("CFG\\PictoCfg.cfg"), n);
                 d.Write("CFG\\" + name.substr(name.rfind('\\') + 1), "stale");
                 d.SetReadOnly("CFG\\" + name.substr(name.rfind('\\') + 1), true);
             }
         },
         longer, "", SaveRoad::InPlace},
        {"full disk in place", true,
         [](const test::ScratchDir& d) {
             std::filesystem::permissions(d.Native("CFG"), std::filesystem::perms(0555));
             host::FailEveryCall("WriteFile");
         },
         longer, "EWriteError", SaveRoad::InPlace},
        {"full disk beside", true, [](const test::ScratchDir&) { host::FailEveryCall("WriteFile"); }, longer,
         "EWriteError", SaveRoad::Replace},
        {"read-only file", true, [](const test::ScratchDir& d) { d.SetReadOnly("CFG\\PictoCfg.cfg", true); }, longer,
         "EFCreateError", SaveRoad::Replace},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        host::Reset();
        test::ScratchDir dir;
        dir.MakeDir("CFG");
        const std::string path = dir.Path("CFG\\PictoCfg.cfg");
        if (c.existing) {
            dir.Write("CFG\\PictoCfg.cfg", old);
            plat::SetFileAttributes(path, plat::AttributeHidden | plat::AttributeSystem);
        }
        c.setup(dir);
        const std::size_t entries = dir.EntryCount();
        std::string kind;
        SaveRoad road{};
        try {
            road = SaveTextFile(path, c.text.data(), c.text.size());
        } catch (const Exception& failure) {
            kind = failure.KindName();
        }
        EXPECT_EQ(kind, c.failure);
        if (kind.empty()) {
            EXPECT_EQ(road, c.road);
            EXPECT_EQ(dir.Read("CFG\\PictoCfg.cfg"), c.text);
        } else {
            EXPECT_EQ(dir.Exists("CFG\\PictoCfg.cfg"), c.existing);
            if (c.existing) {
                EXPECT_EQ(dir.Read("CFG\\PictoCfg.cfg"), old);
            }
        }
        if (c.existing) {
            std::uint32_t attributes = 0;
            ASSERT_TRUE(plat::GetFileAttributes(path, attributes));
            EXPECT_EQ(attributes & (plat::AttributeHidden | plat::AttributeSystem),
                      plat::AttributeHidden | plat::AttributeSystem);
        }
        EXPECT_EQ(dir.EntryCount(), entries + (kind.empty() && !c.existing ? 1 : 0)) << "temporary file left";
        host::Reset();
    }
}

// Leftovers of saves cut short never block a save, a temporary name in use
// by another save is passed over, and the temporary path is never longer
// than the file's own.
TEST(SaveRoads, LeftoversAndLongPaths) {
    test::ScratchDir dir;
    const std::string path = dir.Path("PictoCfg.cfg");
    for (unsigned n = 0; n < 100; ++n) {
        const std::string name = TemporaryName(path, n);
        ASSERT_EQ(name.size(), path.size());
        dir.Write(name.substr(name.rfind('\\') + 1), "stale");
    }
    EXPECT_EQ(TemporaryName(path, 100), "");
    EXPECT_EQ(TemporaryName("ab", 0), "");
    EXPECT_EQ(TemporaryName("C:\\x\\abc", 7), "C:\\x\\~07");

    host::Reset();
    const plat::FileHandle busy =
        plat::CreateFile(TemporaryName(path, 0), plat::GenericWrite, 0, plat::OpenExisting);
    ASSERT_NE(busy, plat::InvalidFile);
    EXPECT_EQ(SaveTextFile(path, "x\r\n", 3), SaveRoad::Replace);
    plat::CloseFile(busy);
    EXPECT_EQ(dir.Read("PictoCfg.cfg"), "x\r\n");
    EXPECT_EQ(dir.Read(TemporaryName(path, 0).substr(path.rfind('\\') + 1)), "stale");
    EXPECT_EQ(dir.EntryCount(), 100u);  // one leftover reused, the file added

    // Paths up to the limit: the file's own length is the temporary's.
    for (std::size_t length = 250; length < 260; ++length) {
        SCOPED_TRACE(length);
        host::Reset();
        test::ScratchDir deep;
        const std::size_t fill = length - deep.Home().size() - std::string("\\PictoCfg.cfg").size();
        deep.MakeDir(std::string(fill, 'd'));
        const std::string file = deep.Path(std::string(fill, 'd') + "\\PictoCfg.cfg");
        ASSERT_EQ(file.size(), length);
        EXPECT_EQ(SaveTextFile(file, "x\r\n", 3), SaveRoad::Replace);
        EXPECT_EQ(deep.EntryCount(), 2u);
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
