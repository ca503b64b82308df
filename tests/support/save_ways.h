// The systems and folders that send a save down each of its ways, for the
// save's tests on either side.
#pragma once

#include <functional>
#include <string>

#include "runtime/filesave.h"
#include "support.h"
#include "support/faults.h"

namespace pm::test {

// Every spare name beside the file taken by a file that cannot be removed:
// no temporary file can be made, and the file is rewritten in place. Done
// again, it changes nothing.
inline void TakeEverySpareName(const test::ScratchDir& dir) {
    for (unsigned n = 0; n < 100; ++n) {
        const std::string name = TemporaryName(dir.Path("CFG\\PictoCfg.cfg"), n);
        const std::string relative = "CFG\\" + name.substr(name.rfind('\\') + 1);
        if (dir.Exists(relative)) continue;
        dir.Write(relative, "stale");
        dir.SetReadOnly(relative, true);
    }
}

// The systems and folders that send a save down each way. A setup done
// again changes nothing.
struct SaveWayCase {
    const char* name;
    SaveWay way;
    std::function<void(const test::ScratchDir&)> setup;
    std::size_t spareFiles;  // files of the test's own beside the file
};
inline const SaveWayCase SaveWays[] = {
    {"Windows 2000 and later", SaveWay::ReplaceFile, [](const test::ScratchDir&) {}, 0},
    {"NT 4.0", SaveWay::MoveFileEx, [](const test::ScratchDir&) { faults::HideSystemFunction("ReplaceFile"); }, 0},
    {"95, 98, Me", SaveWay::Backup,
     [](const test::ScratchDir&) {
         faults::HideSystemFunction("ReplaceFile");
         faults::HideSystemFunction("MoveFileReplace");
     },
     0},
    {"95, 98, Me, a folder with the backup's name", SaveWay::Backup,
     [](const test::ScratchDir& dir) {
         faults::HideSystemFunction("ReplaceFile");
         faults::HideSystemFunction("MoveFileReplace");
         if (!dir.Exists("CFG\\PictoCfg.~BK")) dir.MakeDir("CFG\\PictoCfg.~BK");
     },
     1},
    {"every spare name taken", SaveWay::InPlace, TakeEverySpareName, 100},
};

}  // namespace pm::test
