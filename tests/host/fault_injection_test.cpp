// The whole program, start-up to exit code, run once for every platform call
// made to fail in turn, over several homes, until a run passes every call.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <regex>
#include <set>

#include "app/conversion.h"
#include "app/modules.h"
#include "runtime/startup.h"
#include "support.h"
#include "hostplatform/hostplatform.h"
#include "support/faults.h"

namespace pm {
namespace {

struct Ending {
    int code = -1;
    std::string failedCall;
    std::vector<std::string> boxes;  // "<style> [<caption>] [<text>]"
};

// Runs the program in a child process with call `n` (or, with
// `allocation`, allocation `n`) made to fail.
Ending RunProgram(const std::string& home, std::uint64_t n, bool allocation = false, bool debugger = false) {
    int pipes[2];
    if (::pipe(pipes) != 0) return {};
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(pipes[1], 2);
        ::close(pipes[0]);
        host::Reset();
        faults::Reset();
        host::SetVersion({5, 1, 2600, 2});
        host::SetDebuggerPresent(debugger);
        host::SetRegistryValue(HomeKey, HomeValue, plat::RegSz, home + std::string(1, '\0'));
        FailureSupportShutdown();
        if (allocation) faults::FailAllocation(n);
        else faults::FailCall(n);
        std::size_t count = 0;
        const ModuleEntry* modules = ProgramModules(count);
        try {
            StartProgram(modules, count, RunConversion);
        } catch (...) {
        }
        std::_Exit(98);  // the program must end through ExitProcess
    }
    ::close(pipes[1]);
    std::string output;
    char buffer[4096];
    for (ssize_t got; (got = ::read(pipes[0], buffer, sizeof buffer)) > 0;) output.append(buffer, static_cast<std::size_t>(got));
    ::close(pipes[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    Ending ending;
    ending.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    static const std::regex failed("failed call (\\w+)\n"), box("box (0x[0-9A-F]+ \\[.*?\\] \\[.*?\\])\n");
    std::smatch m;
    if (std::regex_search(output, m, failed)) ending.failedCall = m[1];
    for (std::sregex_iterator it(output.begin(), output.end(), box), end; it != end; ++it) ending.boxes.push_back((*it)[1]);
    if (output.find("debugger gets ") != std::string::npos) ending.failedCall += " (to the debugger)";
    if (ending.boxes.empty() && ending.code != 0 && !debugger) std::printf("child said: %s\n", output.c_str());
    return ending;
}

TEST(FaultInjection, EveryFailedCallEndsInABoxAndLosesNothing) {
    struct Home {
        const char* name;
        const char* index;
        bool hasConfiguration;
        const char* configuration;
    } homes[] = {
        {"no configuration", "a.bmp,N,1:2/3 1:2/4\r\nb.gif,N,2:2/2\r\n", false, ""},
        {"configuration with lines", "a.bmp,N,1:2/3\r\n", true, "z=1\r\n\r\nB=2\r\nz=1\r\n"},
        {"no usable record", "a.jpg,N,1:2/3\r\n", false, ""},
        {"no usable record, configuration", "a.jpg,N,1:2/3\r\n", true, "q=1\r\n"},
    };
    int runs = 0;
    std::set<std::string> endings;
    for (const Home& h : homes) {
        SCOPED_TRACE(h.name);
        test::ScratchDir dir;
        dir.MakeDir("BMP");
        dir.MakeDir("CFG");
        dir.Write("BMP\\fmmp0000.inf", h.index);
        // What "Convert Complete!." must have saved: the text of a run
        // that no call failed.
        if (h.hasConfiguration) dir.Write("CFG\\PictoCfg.cfg", h.configuration);
        ASSERT_EQ(RunProgram(dir.Home(), 0).code, 0);
        const std::string fresh = dir.Exists("CFG\\PictoCfg.cfg") ? dir.Read("CFG\\PictoCfg.cfg") : "";
        bool whole = false;  // a run with no call left to fail was reached
        for (std::uint64_t n = 1; n < 500 && !whole; ++n) {
            if (h.hasConfiguration) dir.Write("CFG\\PictoCfg.cfg", h.configuration);
            else std::filesystem::remove(dir.Native("CFG\\PictoCfg.cfg"));
            const Ending ending = RunProgram(dir.Home(), n);
            ++runs;
            SCOPED_TRACE("call " + std::to_string(n) + " (" + ending.failedCall + ")");
            ASSERT_NE(ending.code, 99) << "leak";
            ASSERT_EQ(ending.boxes.size(), 1u);
            const std::string& box = ending.boxes[0];
            endings.insert(ending.failedCall + " -> " + box.substr(0, box.find(']') + 1) + " " +
                         std::to_string(ending.code));
            const bool converted = box == "0x40 [Information] [Convert Complete!.]";
            if (ending.code == 0) {
                EXPECT_TRUE(converted || box == "0x10 [Error] [No Info in fmmp0000.inf.]" ||
                            box == "0x10 [Error] [Fmmp0000.inf not Found. See Pictomap.txt for Details.]")
                    << box;
            } else {
                EXPECT_EQ(ending.code, 1);
                static const std::regex report(
                    "0x2010 \\[Application Error\\] \\[Exception (EFOpenError|EFCreateError|EWriteError|EReadError|"
                    "ERegistryException) in module Pictomap\\.exe at [0-9A-F]{8}\\.\\|.*\\.\\]");
                EXPECT_TRUE(std::regex_match(box, report)) << box;
            }
            if (!converted) {
                EXPECT_EQ(dir.Exists("CFG\\PictoCfg.cfg"), h.hasConfiguration);
                if (h.hasConfiguration) {
                    EXPECT_EQ(dir.Read("CFG\\PictoCfg.cfg"), h.configuration);
                }
            } else {
                EXPECT_EQ(dir.Read("CFG\\PictoCfg.cfg"), fresh);
            }
            EXPECT_EQ(dir.EntryCount(), 3u + (dir.Exists("CFG\\PictoCfg.cfg") ? 1u : 0u)) << "stray file";
            whole = ending.failedCall.empty();
        }
        EXPECT_TRUE(whole) << "more calls than tried";
        std::filesystem::remove(dir.Native("CFG\\PictoCfg.cfg"));
    }
    std::printf("%d runs, %zu distinct endings:\n", runs, endings.size());
    for (const std::string& seen : endings) std::printf("  %s\n", seen.c_str());
    EXPECT_GE(endings.size(), 10u);
}

}  // namespace
}  // namespace pm

namespace pm {
namespace {

// The home of the runs that fail allocations: two records, three pairs,
// merged into a configuration of three lines that Reset puts back.
struct MemoryHome {
    static constexpr const char* Old = "z=1\r\n\r\nB=2\r\n";
    test::ScratchDir dir;
    MemoryHome() {
        dir.MakeDir("BMP");
        dir.MakeDir("CFG");
        dir.Write("BMP\\fmmp0000.inf", "a.bmp,N,1:2/3 1:2/4\r\nb.gif,N,2:2/2\r\n");
    }
    void Reset() { dir.Write("CFG\\PictoCfg.cfg", Old); }
};

// Memory exhausted at each allocation of a run in turn: during start-up the
// runtime-error box and 217, afterwards the report "Out of memory." and 1;
// never a crash, a leak or a changed configuration.
TEST(FaultInjection, ExhaustedMemoryAtEveryAllocation) {
    MemoryHome home;
    test::ScratchDir& dir = home.dir;
    const std::string old = MemoryHome::Old;
    const std::string converted = "\r\n1:2/3=" + dir.Home() + "BMP\\a.bmp\r\n1:2/4=" + dir.Home() +
                                  "BMP\\a.bmp\r\n2:2/2=" + dir.Home() + "BMP\\b.gif\r\nB=2\r\nz=1\r\n";
    int runs = 0, atStartup = 0, reported = 0, absorbed = 0;
    bool whole = false;  // a run with no allocation left to fail was reached
    for (std::uint64_t n = 1; n < 5000; ++n) {
        home.Reset();
        const Ending ending = RunProgram(dir.Home(), n, true);
        ++runs;
        SCOPED_TRACE("allocation " + std::to_string(n));
        ASSERT_NE(ending.code, 99) << "leak";
        ASSERT_EQ(ending.boxes.size(), 1u);
        if (ending.code == 0) {
            // No allocation failed, or one that the code can do without
            // (a sort's scratch buffer): the full result.
            EXPECT_EQ(ending.boxes[0], "0x40 [Information] [Convert Complete!.]");
            EXPECT_EQ(dir.Read("CFG\\PictoCfg.cfg"), converted);
            EXPECT_EQ(dir.EntryCount(), 4u) << "stray file";
            whole = ending.failedCall.empty();
            if (whole) break;
            ++absorbed;
            continue;
        }
        if (ending.code == 217) {
            ++atStartup;
            EXPECT_TRUE(std::regex_match(ending.boxes[0], std::regex("0x0 \\[Error\\] \\[Runtime error 217 at [0-9A-F]{8}\\]")))
                << ending.boxes[0];
        } else {
            ++reported;
            EXPECT_EQ(ending.code, 1);
            EXPECT_TRUE(std::regex_match(ending.boxes[0], std::regex("0x2010 \\[Application Error\\] \\[Exception "
                                                                     "EOutOfMemory in module Pictomap\\.exe at "
                                                                     "[0-9A-F]{8}\\.\\|Out of memory\\.\\]")))
                << ending.boxes[0];
        }
        EXPECT_EQ(dir.Read("CFG\\PictoCfg.cfg"), old);
        EXPECT_EQ(dir.EntryCount(), 4u) << "stray file";
    }
    std::printf("%d runs: %d failed at start-up, %d reported out of memory, %d absorbed\n", runs, atStartup,
                reported, absorbed);
    EXPECT_GT(atStartup, 0);
    EXPECT_GT(reported, 10);
}

// Room the run can do without (the sort's scratch buffer, the reservation
// for the offered lines, the table of known lines) that cannot be had is
// simply not made, with a debugger attached too: exactly the allocations
// absorbed without a debugger are absorbed with one, and none of them
// reaches the debugger.
TEST(FaultInjection, SpareRoomNeverReachesADebugger) {
    MemoryHome home;
    int absorbed = 0;
    bool whole = false;  // a run with no allocation left to fail was reached
    for (std::uint64_t n = 1; n < 5000 && !whole; ++n) {
        SCOPED_TRACE("allocation " + std::to_string(n));
        home.Reset();
        const Ending plain = RunProgram(home.dir.Home(), n, true);
        home.Reset();
        const Ending watched = RunProgram(home.dir.Home(), n, true, true);
        whole = plain.code == 0 && plain.failedCall.empty();
        if (whole) break;
        if (plain.code != 0) continue;
        ++absorbed;
        EXPECT_EQ(watched.code, 0) << watched.failedCall;
        EXPECT_EQ(watched.boxes, plain.boxes);
    }
    EXPECT_TRUE(whole) << "more allocations than tried";
    EXPECT_GE(absorbed, 3);
}

}  // namespace
}  // namespace pm
