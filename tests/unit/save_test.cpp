// The save with every call it makes failing in turn, on each way a save can
// take, and the lock that lets one run at a time save: against the host
// stand-in, and against Windows itself under Wine.
#include <gtest/gtest.h>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "base/failure.h"
#include "runtime/filesave.h"
#include "runtime/runlock.h"
#include "support/files.h"
#include "support.h"
#include "support/failure_of.h"
#include "support/faults.h"
#include "support/save_ways.h"
#include "winsys/platform.h"

namespace pm {
namespace {

using test::AttributesOf;
using test::HiddenSystem;


// Every platform call of a save made to fail in turn, on every way, with a
// new text shorter and longer than the old one: a save that returns leaves
// exactly the new bytes, one that raises exactly the old bytes (or no file),
// hidden and system as they were (also when a call about attributes is the
// one that fails); no handle stays open, and anything left beside the file
// is gone after the next save.
TEST(SaveFaults, AFailedSaveLeavesTheOldBytesAndASuccessfulOneTheNew) {
    const std::string old = "old line\r\n\r\nzz\r\n";
    for (const test::SaveWayCase& way : test::SaveWays) {
        for (const bool existing : {true, false}) {
            for (const std::string& text : {std::string("n\r\n"), std::string(40, 'n') + "\r\n"}) {
                SCOPED_TRACE(std::string(way.name) + (existing ? ", old file" : ", no file") + ", text of " +
                             std::to_string(text.size()));
                int failures = 0;
                test::ScratchDir dir;
                dir.MakeDir("CFG");
                const std::string path = dir.Path("CFG\\PictoCfg.cfg");
                for (std::uint64_t n = 1;; ++n) {
                    faults::Reset();
                    plat::SetFileAttributes(path, plat::AttributeNormal);
                    std::filesystem::remove(dir.Native("CFG\\PictoCfg.cfg"));
                    if (existing) {
                        dir.Write("CFG\\PictoCfg.cfg", old);
                        plat::SetFileAttributes(path, HiddenSystem);
                    }
                    way.setup(dir);
                    faults::FailCall(n);
                    SaveWay taken{};
                    const std::string failure = test::FailureOf([&] { taken = test::Save(path, text); });
                    const std::string failed = faults::FailedCall();
                    faults::FailCall(0);
                    SCOPED_TRACE("call " + std::to_string(n) + " failing: " + failed);
                    EXPECT_EQ(faults::OpenFiles(), 0);
                    if (failure.empty()) {
                        EXPECT_EQ(dir.Read("CFG\\PictoCfg.cfg"), text);
                        if (failed.empty()) {
                            EXPECT_EQ(taken, existing || way.way == SaveWay::InPlace ? way.way : SaveWay::NewFile);
                        }
                        if (existing) {
                            EXPECT_EQ(AttributesOf(path) & (HiddenSystem | plat::AttributeArchive),
                                      HiddenSystem | plat::AttributeArchive);
                        }
                    } else {
                        ++failures;
                        EXPECT_TRUE(failure == "EWriteError: Stream write error" ||
                                    failure == "EFCreateError: Cannot create file " + path)
                            << failure;
                        ASSERT_EQ(dir.Exists("CFG\\PictoCfg.cfg"), existing);
                        if (existing) {
                            EXPECT_EQ(dir.Read("CFG\\PictoCfg.cfg"), old);
                            EXPECT_EQ(AttributesOf(path) & HiddenSystem, HiddenSystem);
                        }
                    }
                    // What a refused removal left is cleared by the next run.
                    faults::Reset();
                    test::NextSave(path, text);
                    EXPECT_EQ(dir.EntryCount(), 2u + way.spareFiles) << "left beside the file";
                    if (failed.empty()) break;
                }
                // Where a second file can be made, no one failing call costs
                // the save: a refusal is tried again, a short write goes
                // another way. In place, a short write fails it.
                EXPECT_EQ(failures > 0, way.way == SaveWay::InPlace) << failures << " failures";
            }
        }
    }
}

// One run at a time per file. The lock's name is one for every spelling
// that Windows takes for the same path; a second taker waits while the
// first holds it (on another thread: a mutex is its owner thread's), then
// gives up with "Cannot open file", and takes it once it is given up.
TEST(RunLock, OneSpellingOneNameAndOneHolder) {
    const struct {
        const char *a, *b;
        bool same;
    } names[] = {
        {"C:\\Mail\\CFG\\PictoCfg.cfg", "c:\\mail\\cfg\\PICTOCFG.CFG", true},
        {"C:\\Mail\\CFG\\PictoCfg.cfg", "C:/Mail/CFG/PictoCfg.cfg", true},
        {"C:\\Mail\\CFG\\PictoCfg.cfg", "C:\\Mail2\\CFG\\PictoCfg.cfg", false},
        {"C:\\Mail\\CFG\\PictoCfg.cfg", "D:\\Mail\\CFG\\PictoCfg.cfg", false},
    };
    for (const auto& n : names) {
        EXPECT_EQ(RunLockName(n.a) == RunLockName(n.b), n.same) << n.a << " " << n.b;
        EXPECT_EQ(RunLockName(n.a).size(), 25u);
    }

    test::ScratchDir dir;
    const std::string path = dir.Path("PictoCfg.cfg");
    std::mutex m;
    std::condition_variable changed;
    int stage = 0;
    const auto reach = [&](int next) {
        std::lock_guard<std::mutex> hold(m);
        stage = next;
        changed.notify_all();
    };
    const auto await = [&](int wanted) {
        std::unique_lock<std::mutex> hold(m);
        changed.wait(hold, [&] { return stage == wanted; });
    };
    std::thread first([&] {
        RunLock lock;
        lock.Take(path);
        reach(1);
        await(2);
    });
    await(1);
    RunLock second;
    EXPECT_EQ(test::FailureOf([&] { second.Take(path, 50); }), "EFOpenError: Cannot open file " + path);
    reach(2);
    first.join();
    EXPECT_EQ(test::FailureOf([&] { second.Take(path, 50); }), "");
}

}  // namespace
}  // namespace pm
