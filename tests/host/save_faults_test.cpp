#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>

#include "base/failure.h"
#include "runtime/filesave.h"
#include "runtime/linelist.h"
#include "support/files.h"
#include "support.h"
#include "hostplatform/hostplatform.h"
#include "support/failure_of.h"
#include "support/faults.h"
#include "support/save_ways.h"

namespace pm {
namespace {

using test::AttributesOf;
using test::HiddenSystem;

void LockFolder(const test::ScratchDir& dir) {
    std::filesystem::permissions(dir.Native("CFG"), std::filesystem::perms(0555));
}

// The folder CFG in `dir`, every switch off; gives the configuration's
// path.
std::string ConfigurationFolder(const test::ScratchDir& dir) {
    host::Reset();
    faults::Reset();
    dir.MakeDir("CFG");
    return dir.Path("CFG\\PictoCfg.cfg");
}

// The same with the old configuration in it.
std::string OldConfiguration(const test::ScratchDir& dir, const std::string& old) {
    const std::string path = ConfigurationFolder(dir);
    dir.Write("CFG\\PictoCfg.cfg", old);
    return path;
}


// Where each situation leads, and what it leaves.
TEST(SaveWays, EachSituationTakesItsWay) {
    const std::string old = "old 1\r\nold 2\r\n";
    const std::string longer = std::string(300, 'n') + "\r\n";
    const std::string shorter = "n\r\n";
    using Prepare = void (*)(const test::ScratchDir&);
    const auto none = [](const test::ScratchDir&) {};
    const auto hideBoth = [](const test::ScratchDir&) {
        faults::HideSystemFunction("ReplaceFile");
        faults::HideSystemFunction("MoveFileReplace");
    };
    const struct {
        const char* name;
        bool existing;
        Prepare setup;
        const std::string& text;
        const char* failure;  // empty: the save succeeds
        SaveWay way;
        std::size_t left = 0;  // files of the save's own left beside
    } cases[] = {
        {"new file", false, none, longer, "", SaveWay::NewFile},
        {"new file on 95", false, hideBoth, longer, "", SaveWay::NewFile},
        {"existing file", true, none, shorter, "", SaveWay::ReplaceFile},
        {"folder takes no new file, longer text", true, LockFolder, longer, "", SaveWay::InPlace},
        {"folder takes no new file, shorter text", true, LockFolder, shorter, "", SaveWay::InPlace},
        {"folder takes no new file, no file", false, LockFolder, shorter, "EFCreateError", SaveWay::InPlace},
        {"replacing refused", true, [](const test::ScratchDir&) { faults::FailEveryCall("ReplaceFile"); }, longer, "",
         SaveWay::MoveFileEx},
        {"ReplaceFileA cannot remove the old file (1175)", true,
         [](const test::ScratchDir&) { faults::SetReplaceFileAnswer(plat::ErrorUnableToRemoveReplaced); }, longer, "",
         SaveWay::MoveFileEx},
        {"ReplaceFileA refused, both files keeping their names (1176)", true,
         [](const test::ScratchDir&) { faults::SetReplaceFileAnswer(plat::ErrorUnableToMoveReplacement); }, longer, "",
         SaveWay::MoveFileEx},
        {"ReplaceFileA left the old file under the backup name (1177)", true,
         [](const test::ScratchDir&) { faults::SetReplaceFileAnswer(plat::ErrorUnableToMoveReplacement2); }, longer, "",
         SaveWay::ReplaceFile},
        {"1177, and the new file cannot take the name", true,
         [](const test::ScratchDir&) {
             faults::SetReplaceFileAnswer(plat::ErrorUnableToMoveReplacement2);
             faults::RefuseCalls("MoveFile", plat::ErrorSharingViolation, 7);
         },
         longer, "", SaveWay::MoveFileEx},
        {"a folder takes the backup name", true, [](const test::ScratchDir& d) { d.MakeDir("CFG\\PictoCfg.~BK"); },
         longer, "", SaveWay::ReplaceFile},
        {"a folder and a file take two backup names", true,
         [](const test::ScratchDir& d) {
             d.MakeDir("CFG\\PictoCfg.~BK");
             d.Write("CFG\\PictoCfg.~BL", "kept\r\n");
         },
         longer, "", SaveWay::ReplaceFile},
        {"every backup name taken", true,
         [](const test::ScratchDir& d) {
             for (const char* name : {"CFG\\PictoCfg.~BK", "CFG\\PictoCfg.~BL", "CFG\\PictoCfg.~BM"}) d.MakeDir(name);
         },
         longer, "", SaveWay::MoveFileEx},
        {"on 95, a folder and a read-only file take two backup names", true,
         [](const test::ScratchDir& d) {
             faults::HideSystemFunction("ReplaceFile");
             faults::HideSystemFunction("MoveFileReplace");
             d.MakeDir("CFG\\PictoCfg.~BK");
             d.Write("CFG\\PictoCfg.~BL", "stale");
             d.SetReadOnly("CFG\\PictoCfg.~BL", true);
         },
         longer, "", SaveWay::Backup},
        {"on 95, every backup name taken", true,
         [](const test::ScratchDir& d) {
             faults::HideSystemFunction("ReplaceFile");
             faults::HideSystemFunction("MoveFileReplace");
             for (const char* name : {"CFG\\PictoCfg.~BK", "CFG\\PictoCfg.~BL", "CFG\\PictoCfg.~BM"}) d.MakeDir(name);
         },
         longer, "", SaveWay::InPlace},
        // A scanner's moment, not a folder that takes no new file.
        {"a temporary name refused once although nothing has it", true,
         [](const test::ScratchDir&) { faults::HoldFile("PictoCfg.~00", plat::ErrorAccessDenied, 1); }, longer, "",
         SaveWay::ReplaceFile},
        // A refusal of rights to remove is no hold: the file is rewritten.
        {"nothing can be placed and no file removed", true,
         [](const test::ScratchDir&) {
             for (const char* call : {"ReplaceFile", "MoveFileReplace", "MoveFile", "DeleteFile"})
                 faults::FailEveryCall(call);
         },
         longer, "", SaveWay::InPlace, 1},
        {"a folder takes the first temporary name", true,
         [](const test::ScratchDir& d) { d.MakeDir("CFG\\PictoCfg.~00"); }, longer, "", SaveWay::ReplaceFile},
        {"every replacing refused", true,
         [](const test::ScratchDir&) {
             faults::FailEveryCall("ReplaceFile");
             faults::FailEveryCall("MoveFileReplace");
             faults::FailEveryCall("MoveFile");
         },
         longer, "", SaveWay::InPlace},
        {"every spare name taken", true,
         [](const test::ScratchDir& d) {
             for (unsigned n = 0; n < 100; ++n) {
                 const std::string name = TemporaryName(d.Path("CFG\\PictoCfg.cfg"), n);
                 d.Write("CFG\\" + name.substr(name.rfind('\\') + 1), "stale");
                 d.SetReadOnly("CFG\\" + name.substr(name.rfind('\\') + 1), true);
             }
         },
         longer, "", SaveWay::InPlace},
        {"full disk in place", true,
         [](const test::ScratchDir& d) {
             LockFolder(d);
             faults::FailEveryCall("WriteFile");
         },
         longer, "EWriteError", SaveWay::InPlace},
        {"full disk everywhere", true, [](const test::ScratchDir&) { faults::FailEveryCall("WriteFile"); }, longer,
         "EWriteError", SaveWay::InPlace},
        {"size of the old file unknown", true,
         [](const test::ScratchDir& d) {
             LockFolder(d);
             faults::FailEveryCall("BytesToEnd");  // both are SetFilePointer
             faults::FailEveryCall("SeekFile");
         },
         longer, "EWriteError", SaveWay::InPlace},
        {"read-only file", true, [](const test::ScratchDir& d) { d.SetReadOnly("CFG\\PictoCfg.cfg", true); }, longer,
         "EFCreateError", SaveWay::ReplaceFile},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::ScratchDir dir;
        const std::string path = ConfigurationFolder(dir);
        if (c.existing) {
            dir.Write("CFG\\PictoCfg.cfg", old);
            plat::SetFileAttributes(path, HiddenSystem);
        }
        c.setup(dir);
        const std::size_t entries = dir.EntryCount();
        SaveWay way{};
        const std::string failure = test::FailureOf([&] { way = test::Save(path, c.text); });
        const std::string kind = failure.substr(0, failure.find(':'));
        EXPECT_EQ(kind, c.failure);
        // A read-only file or a folder without rights is refused at once.
        if (kind == "EFCreateError") {
            EXPECT_EQ(host::SleptMilliseconds(), 0u);
        }
        if (kind.empty()) {
            EXPECT_EQ(way, c.way);
            EXPECT_EQ(dir.Read("CFG\\PictoCfg.cfg"), c.text);
        } else {
            EXPECT_EQ(dir.Exists("CFG\\PictoCfg.cfg"), c.existing);
            if (c.existing) {
                EXPECT_EQ(dir.Read("CFG\\PictoCfg.cfg"), old);
            }
        }
        if (c.existing) {
            EXPECT_EQ(AttributesOf(path) & HiddenSystem, HiddenSystem);
        }
        EXPECT_EQ(dir.EntryCount(), entries + (kind.empty() && !c.existing ? 1 : 0) + c.left) << "file left beside";
        host::Reset();
        faults::Reset();
    }
}

// A scanner holding a file for a moment: each call of the save refused k
// times with a sharing violation, then access denied, on every way. Within
// the patience (six tries more) the save goes its usual way; beyond it, it
// takes the next way or fails, but never waits more than about a second,
// and never loses the old bytes.
TEST(SaveWays, ACallRefusedForAMomentIsTriedAgain) {
    const std::string old = "old\r\n", text = "new text\r\n";
    const char* const names[] = {"CreateFile", "ReplaceFile", "MoveFileReplace", "MoveFile", "DeleteFile"};
    for (const test::SaveWayCase& way : test::SaveWays) {
        for (const char* name : names) {
            for (const std::uint32_t error : {plat::ErrorSharingViolation, plat::ErrorAccessDenied}) {
                for (const std::uint64_t times : {1u, 6u, 7u, 1000u}) {
                    SCOPED_TRACE(std::string(way.name) + ", " + name + " refused " + std::to_string(times) +
                                 " times with " + std::to_string(error));
                    test::ScratchDir dir;
                    const std::string path = OldConfiguration(dir, old);
                    way.setup(dir);
                    faults::RefuseCalls(name, error, times);
                    SaveWay taken{};
                    const std::string failure =
                        test::FailureOf([&] { taken = test::Save(path, text); });
                    EXPECT_LE(host::SleptMilliseconds(), 1000u);
                    if (way.way == SaveWay::ReplaceFile && std::string(name) == "ReplaceFile") {
                        // 20, 40, 80 ... ms, a second in all at most.
                        EXPECT_EQ(host::SleptMilliseconds(), std::min<std::uint64_t>(1000, 20 * ((1u << std::min<std::uint64_t>(times, 10)) - 1)));
                    }
                    if (failure.empty()) {
                        EXPECT_EQ(dir.Read("CFG\\PictoCfg.cfg"), text);
                        if (times <= 6) {
                            EXPECT_EQ(taken, way.way);
                        }
                    } else {
                        EXPECT_GT(times, 6u) << failure;
                        EXPECT_EQ(dir.Read("CFG\\PictoCfg.cfg"), old);
                    }
                    faults::Reset();
                    test::NextSave(path, text);
                    EXPECT_EQ(dir.Read("CFG\\PictoCfg.cfg"), text);
                    EXPECT_EQ(dir.EntryCount(), 2u + way.spareFiles) << "left beside the file";
                }
            }
        }
    }
}

// A complete new file that cannot be put in place and that another
// program holds (it cannot be removed either): the old file stays as it
// was, is never rewritten in place meanwhile, and the save fails as for a
// file in use. The next save finds the leftover and uses another name.
TEST(SaveWays, AHeldNewFileNeverSendsTheSaveInPlace) {
    for (const test::SaveWayCase& way : test::SaveWays) {
      for (const bool pending : {false, true}) {
        if (way.way == SaveWay::InPlace) continue;
        SCOPED_TRACE(std::string(way.name) + (pending ? ", its removal waiting" : ", held open"));
        test::ScratchDir dir;
        const std::string path = OldConfiguration(dir, "old\r\n");
        way.setup(dir);
        for (const char* call : {"ReplaceFile", "MoveFileReplace", "MoveFile"}) faults::FailEveryCall(call);
        if (pending) faults::HoldFile("PictoCfg.~00", plat::ErrorAccessDenied, 1000, 1);
        else faults::RefuseCalls("DeleteFile", plat::ErrorSharingViolation, 1000);
        EXPECT_EQ(test::FailureOf([&] { test::Save(path, "new\r\n"); }), "EFCreateError: Cannot create file " + path);
        EXPECT_EQ(dir.Read("CFG\\PictoCfg.cfg"), "old\r\n");
        EXPECT_LE(host::SleptMilliseconds(), 1000u);
        faults::Reset();
        test::NextSave(path, "new\r\n");
        EXPECT_EQ(dir.Read("CFG\\PictoCfg.cfg"), "new\r\n");
      }
    }
}

// The old file under a backup name, and then neither file may take the
// file's name (a scanner holds the name from the n-th call that names it
// on): the save fails as a file that cannot be created, and the next run
// puts the old file back, on the 95 way and after ReplaceFileA's 1177.
TEST(SaveWays, AnOldFileThatCannotBePutBackIsNamedAndRecovered) {
    for (const bool on95 : {true, false}) {
        int stranded = 0;
        for (std::uint64_t after = 0; after < 8; ++after) {
            SCOPED_TRACE(std::string(on95 ? "95" : "1177") + ", held after " + std::to_string(after));
            test::ScratchDir dir;
            const std::string path = OldConfiguration(dir, "old\r\n");
            if (on95) {
                faults::HideSystemFunction("ReplaceFile");
                faults::HideSystemFunction("MoveFileReplace");
            } else {
                faults::SetReplaceFileAnswer(plat::ErrorUnableToMoveReplacement2);
                faults::FailEveryCall("MoveFileReplace");
            }
            faults::HoldFile("PictoCfg.cfg", plat::ErrorAccessDenied, 1000, after);
            const std::string failure = test::FailureOf([&] { test::Save(path, "new\r\n"); });
            faults::Reset();
            if (failure.empty()) {
                EXPECT_EQ(dir.Read("CFG\\PictoCfg.cfg"), "new\r\n");
            } else {
                EXPECT_EQ(failure, "EFCreateError: Cannot create file " + path);
                if (!dir.Exists("CFG\\PictoCfg.cfg")) {
                    ++stranded;
                    EXPECT_EQ(dir.Read("CFG\\PictoCfg.~BK"), "old\r\n");
                    test::Recover(path);
                }
                EXPECT_EQ(dir.Read("CFG\\PictoCfg.cfg"), "old\r\n");
            }
        }
        EXPECT_GT(stranded, 0) << "the old file was never left under the backup name";
    }
}

// In place, two faults: every pair of calls made to fail. A save that
// raises leaves exactly the old bytes; the old bytes are put back again
// when the putting back is struck too.
TEST(SaveWays, TwoFaultsInPlaceLeaveTheOldOrTheNewBytes) {
    const std::string old = "old line one\r\nold line two\r\n";
    int pairs = 0;
    for (const std::string& text : {std::string("n\r\n"), std::string(60, 'n') + "\r\n"}) {
        for (std::uint64_t n = 1;; ++n) {
            bool firstReached = false;
            for (std::uint64_t m = n + 1;; ++m) {
                SCOPED_TRACE("text of " + std::to_string(text.size()) + ", calls " + std::to_string(n) + " and " +
                             std::to_string(m) + " failing");
                test::ScratchDir dir;
                const std::string path = OldConfiguration(dir, old);
                LockFolder(dir);  // no second file: in place
                faults::FailCall(n);
                faults::AlsoFailCall(m);
                const std::string failure = test::FailureOf([&] { test::Save(path, text); });
                const std::string failed = faults::FailedCall();
                faults::Reset();
                EXPECT_EQ(dir.Read("CFG\\PictoCfg.cfg"), failure.empty() ? text : old) << failed << ": " << failure;
                firstReached = !failed.empty();
                if (failed.find(", ") == std::string::npos) break;  // the second call was never reached
                ++pairs;
            }
            if (!firstReached) break;
        }
    }
    EXPECT_GT(pairs, 20);
}

// A save of an existing file changes its content: the archive bit is set
// even where a backup program had cleared it.
TEST(SaveWays, ASavedFileIsMarkedForBackup) {
    for (const test::SaveWayCase& way : test::SaveWays) {
        SCOPED_TRACE(way.name);
        test::ScratchDir dir;
        const std::string path = ConfigurationFolder(dir);
        dir.Write("CFG\\PictoCfg.cfg", "old\r\n");
        plat::SetFileAttributes(path, plat::AttributeHidden);
        ASSERT_EQ(AttributesOf(path) & plat::AttributeArchive, 0u);
        way.setup(dir);
        EXPECT_EQ(test::Save(path, "new\r\n"), way.way);
        EXPECT_EQ(AttributesOf(path) & (HiddenSystem | plat::AttributeArchive),
                  plat::AttributeHidden | plat::AttributeArchive);
    }
}

// Every row of the recovery's table: what a run finds beside the file, what
// it renames back, which backups it gives to weigh, which it removes. A
// backup marked read-only is a finished save's leftover. Nothing else is
// touched.
TEST(SaveWays, RecoveryFinishesAnInterruptedSave) {
    const char* const names[] = {"PictoCfg.~BK", "PictoCfg.~BL", "PictoCfg.~BM"};
    const struct {
        const char* name;
        const char* file;              // null: none
        const char* backups[3];        // under ~BK, ~BL, ~BM (null: none)
        const char* marked;            // which backups are read-only ("BK", "BL BM")
        const char* after;             // the file afterwards (null: none)
        const char* named;             // the backups given to weigh
        const char* left;              // the backups left
    } cases[] = {
        {"nothing", nullptr, {}, "", nullptr, "", ""},
        {"file alone", "new\r\n", {}, "", "new\r\n", "", ""},
        {"backup alone", nullptr, {"old\r\n"}, "", "old\r\n", "", ""},
        {"third backup alone", nullptr, {nullptr, nullptr, "old\r\n"}, "", "old\r\n", "", ""},
        {"marked backup alone: cleared", nullptr, {"old\r\n"}, "BK", "old\r\n", "", ""},
        {"two backups: one back, one to weigh", nullptr, {"old\r\n", "older\r\n"}, "", "old\r\n", "BL", "BL"},
        {"an unmarked backup goes back first", nullptr, {"done\r\n", "old\r\n"}, "BK", "old\r\n", "", ""},
        {"two marked: one back, the other removed", nullptr, {"done\r\n", "older\r\n"}, "BK BL", "done\r\n", "", ""},
        {"backup beside the file", "new\r\n", {"old\r\n"}, "", "new\r\n", "BK", "BK"},
        {"every backup beside the file", "new\r\n", {"a\r\n", "b\r\n", "c\r\n"}, "", "new\r\n", "BK BL BM",
         "BK BL BM"},
        {"marked beside the file: removed", "new\r\n", {"old\r\n", "kept\r\n"}, "BK", "new\r\n", "BL", "BL"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::ScratchDir dir;
        const std::string path = ConfigurationFolder(dir);
        if (c.file) dir.Write("CFG\\PictoCfg.cfg", c.file);
        for (int n = 0; n < 3; ++n) {
            if (!c.backups[n]) continue;
            dir.Write(std::string("CFG\\") + names[n], c.backups[n]);
            dir.SetReadOnly(std::string("CFG\\") + names[n], std::strstr(c.marked, names[n] + 10) != nullptr);
        }
        dir.Write("CFG\\PictoCfg.~00", "a leftover temporary file");
        std::vector<std::string> named;
        EXPECT_EQ(test::FailureOf([&] { named = test::Recover(path); }), "");
        std::vector<std::string> expected;
        std::string left;
        for (int n = 0; n < 3; ++n) {
            if (std::strstr(c.named, names[n] + 10)) expected.push_back(dir.Path(std::string("CFG\\") + names[n]));
            if (dir.Exists(std::string("CFG\\") + names[n])) left += std::string(left.empty() ? "" : " ") + (names[n] + 10);
        }
        EXPECT_EQ(named, expected);
        EXPECT_EQ(left, c.left);
        EXPECT_EQ(dir.Exists("CFG\\PictoCfg.cfg"), c.after != nullptr);
        if (c.after) {
            EXPECT_EQ(dir.Read("CFG\\PictoCfg.cfg"), c.after);
            EXPECT_EQ(AttributesOf(path) & plat::AttributeReadOnly, 0u) << "the file left read-only";
        }
        EXPECT_EQ(dir.Read("CFG\\PictoCfg.~00"), "a leftover temporary file");
        EXPECT_EQ(dir.EntryCount(), (c.after ? 3u : 2u) + std::count(left.begin(), left.end(), 'B'))
            << "a file left beside";
    }
    // It never guesses: where it cannot tell whether the backup or the file
    // is there, or cannot rename the backup back, it raises and leaves the
    // backup as it was. A call refused once is tried again. A backup that
    // cannot be seen (its removal waits for another program) is left as it
    // is beside the file; without the file, the run stops naming it.
    const struct {
        const char* what;
        void (*refuse)(bool always);
        bool stopsBeside;   // refused always, it stops the run beside the file too
        bool seen;          // refused always, the backup is still seen
        const char* named;  // the file the failure names
    } refusals[] = {
        {"GetFileAttributes",
         [](bool always) {
             if (always) faults::FailEveryCall("GetFileAttributes");
             else faults::RefuseCalls("GetFileAttributes", plat::ErrorSharingViolation, 1);
         },
         true, false, "CFG\\PictoCfg.cfg"},
        {"MoveFile",
         [](bool always) {
             if (always) faults::FailEveryCall("MoveFile");
             else faults::RefuseCalls("MoveFile", plat::ErrorSharingViolation, 1);
         },
         false, true, "CFG\\PictoCfg.~BK"},
        {"the backup's attributes",
         [](bool always) { faults::HoldFile("PictoCfg.~BK", plat::ErrorAccessDenied, always ? 1000 : 1); }, false,
         false, "CFG\\PictoCfg.~BK"},
    };
    for (const auto& refusal : refusals) {
        for (const bool always : {false, true}) {
            for (const bool beside : {false, true}) {
                SCOPED_TRACE(std::string(refusal.what) + (always ? " refused" : " refused once") +
                             (beside ? ", file beside" : ""));
                test::ScratchDir dir;
                const std::string path = ConfigurationFolder(dir);
                dir.Write("CFG\\PictoCfg.~BK", "old\r\n");
                if (beside) dir.Write("CFG\\PictoCfg.cfg", "new\r\n");
                refusal.refuse(always);
                std::vector<std::string> named;
                const std::string failure = test::FailureOf([&] { named = test::Recover(path); });
                faults::Reset();
                const bool stops = always && (!beside || refusal.stopsBeside);
                EXPECT_EQ(failure, stops ? "EFOpenError: Cannot open file " + dir.Path(refusal.named) : "");
                EXPECT_EQ(named, !stops && beside && (refusal.seen || !always)
                                     ? std::vector<std::string>{dir.Path("CFG\\PictoCfg.~BK")}
                                     : std::vector<std::string>{});
                EXPECT_EQ(dir.Exists("CFG\\PictoCfg.cfg"), beside || !stops);
                EXPECT_EQ(dir.Read("CFG\\PictoCfg.cfg"), beside ? "new\r\n" : stops ? "" : "old\r\n");
                EXPECT_EQ(dir.Exists("CFG\\PictoCfg.~BK"), stops || beside);
                if (stops || beside) {
                    EXPECT_EQ(dir.Read("CFG\\PictoCfg.~BK"), "old\r\n");
                }
            }
        }
    }
    // A folder of the backup's name is not ours to move.
    host::Reset();
    faults::Reset();
    test::ScratchDir dir;
    dir.MakeDir("CFG\\PictoCfg.~BK");
    test::Recover(dir.Path("CFG\\PictoCfg.cfg"));
    EXPECT_FALSE(dir.Exists("CFG\\PictoCfg.cfg"));
    EXPECT_TRUE(dir.Exists("CFG\\PictoCfg.~BK"));
}

// Leftovers of saves cut short never block a save, a temporary name in use
// by another save is passed over, and the spare names are never longer than
// the file's own.
TEST(SaveWays, LeftoversAndLongPaths) {
    host::Reset();
    faults::Reset();
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
    EXPECT_EQ(BackupName("C:\\x\\PictoCfg.cfg"), "C:\\x\\PictoCfg.~BK");
    EXPECT_EQ(BackupName("C:\\x\\PictoCfg.cfg", 1), "C:\\x\\PictoCfg.~BL");
    EXPECT_EQ(BackupName("C:\\x\\PictoCfg.cfg", 2), "C:\\x\\PictoCfg.~BM");
    EXPECT_EQ(BackupName("C:\\x\\PictoCfg.cfg", 3), "");
    EXPECT_EQ(BackupName("C:\\x\\ab"), "");

    const plat::FileHandle busy = plat::CreateFile(TemporaryName(path, 0), plat::GenericWrite, 0, plat::OpenExisting);
    ASSERT_NE(busy, plat::InvalidFile);
    EXPECT_EQ(test::Save(path, "x\r\n"), SaveWay::NewFile);
    plat::CloseFile(busy);
    EXPECT_EQ(dir.Read("PictoCfg.cfg"), "x\r\n");
    EXPECT_EQ(dir.Read(TemporaryName(path, 0).substr(path.rfind('\\') + 1)), "stale");
    EXPECT_EQ(dir.EntryCount(), 100u);  // one leftover reused, the file added

    // Paths up to the limit: the file's own length is the spare names'.
    for (std::size_t length = 250; length < 260; ++length) {
        SCOPED_TRACE(length);
        for (const test::SaveWayCase& way : test::SaveWays) {
            if (way.way == SaveWay::InPlace || way.spareFiles > 0) continue;  // files made at the top
            SCOPED_TRACE(way.name);
            host::Reset();
            faults::Reset();
            test::ScratchDir deep;
            const std::size_t fill = length - deep.Home().size() - std::string("\\CFG\\PictoCfg.cfg").size();
            deep.MakeDir(std::string(fill, 'd') + "\\CFG");
            const std::string file = deep.Path(std::string(fill, 'd') + "\\CFG\\PictoCfg.cfg");
            ASSERT_EQ(file.size(), length);
            deep.Write(std::string(fill, 'd') + "\\CFG\\PictoCfg.cfg", "old\r\n");
            way.setup(deep);
            EXPECT_EQ(test::Save(file, "x\r\n"), way.way);
            EXPECT_EQ(deep.Read(std::string(fill, 'd') + "\\CFG\\PictoCfg.cfg"), "x\r\n");
            EXPECT_EQ(deep.EntryCount(), 3u);
        }
    }
}

TEST(SaveFaults, AShortOrFailedReadIsAFailureNotAnEmptyList) {
    test::ScratchDir dir;
    dir.Write("in.txt", "one\r\ntwo\r\n");
    for (std::uint64_t n = 1;; ++n) {
        host::Reset();
        faults::Reset();
        LineList list;
        list.AddLine("kept");
        faults::FailCall(n);
        const std::string kind = test::FailureOf([&] { test::ReadLines(list, dir.Path("in.txt")); });
        const std::string failed = faults::FailedCall();
        faults::FailCall(0);
        EXPECT_EQ(host::OpenFiles(), 0);
        if (failed.empty()) {
            EXPECT_EQ(list.LineCount(), 2);
            break;
        }
        SCOPED_TRACE(failed);
        // An open refused once is tried again.
        EXPECT_EQ(kind, failed == "CreateFile" ? "" : "EReadError: Stream read error");
        EXPECT_EQ(list.LineCount(), failed == "CreateFile" ? 2 : 1);
    }
}

}  // namespace
}  // namespace pm
