// The whole program cut off at every moment of a save, on every way that
// writes a new file beside the old one: the process ends before each call
// that can change the disk and in the middle of each write, as if killed,
// and again as if the power were lost (what was not flushed is lost too).
// After the cut the configuration (with what the next run
// puts back) holds the old or the new bytes, or, beside backups of an
// earlier run, their lines and nothing else; after the next run, on the
// same Windows or another, it holds exactly what an uncut run writes, and
// nothing else is left in its folder.
// A configuration that is hidden and system stays so, whatever the cut.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <set>

#include "app/conversion.h"
#include "runtime/filesave.h"
#include "app/modules.h"
#include "runtime/startup.h"
#include "support/files.h"
#include "support/save_ways.h"
#include "support.h"
#include "hostplatform/hostplatform.h"
#include "support/faults.h"

namespace pm {
namespace {

constexpr const char* Cfg = "CFG\\PictoCfg.cfg";
using test::AttributesOf;
using test::HiddenSystem;

// Starts the program in a child process, cut off at cut point `cut` (0:
// not at all) as `kind` says. The leak check at its end scans the whole
// heap of the test program: it is made where `leakCheck` says (one whole
// run of each home), not at every cut.
pid_t Launch(const std::string& home, std::uint64_t cut, const std::function<void()>& system,
             faults::CutKind kind = faults::CutKind::Process, bool leakCheck = false) {
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child == 0) {
        // The boxes are other tests' business.
        std::freopen("/dev/null", "w", stderr);
        host::Reset();
        host::SetLeakCheckAtExit(leakCheck);
        faults::Reset();
        host::SetRegistryValue(HomeKey, HomeValue, plat::RegSz, home + std::string(1, '\0'));
        system();
        FailureSupportShutdown();
        faults::CutAt(cut, kind);
        std::size_t count = 0;
        const ModuleEntry* modules = ProgramModules(count);
        StartProgram(modules, count, RunConversion);
    }
    return child;
}

int ExitCode(pid_t child) {
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Runs the program as Launch starts it; gives its exit code.
int RunProgram(const std::string& home, std::uint64_t cut, const std::function<void()>& system,
               faults::CutKind kind = faults::CutKind::Process, bool leakCheck = false) {
    return ExitCode(Launch(home, cut, system, kind, leakCheck));
}

struct Way {
    const char* id;  // the test's name
    const char* name;
    std::function<void()> system;
    const char* folder = nullptr;  // made beside the configuration
    const char* file = nullptr;    // likewise
};

struct Home {
    const char* name;
    const char* index;
    const char* old;  // null: no configuration
    // Backups an earlier save left beside the file, with lines it lacks.
    const char* backup = nullptr;  // PictoCfg.~BK
    const char* spare = nullptr;   // PictoCfg.~BL
    bool hidden = false;           // the configuration is hidden and system
};

std::set<std::string> Lines(const std::string& text) {
    std::set<std::string> lines;
    for (std::size_t at = 0, end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2)
        lines.insert(text.substr(at, end - at));
    return lines;
}

// The lines of the configuration and of the backups beside it.
std::set<std::string> LinesKept(const test::ScratchDir& dir) {
    std::set<std::string> lines;
    for (const char* name : {"CFG\\PictoCfg.cfg", "CFG\\PictoCfg.~BK", "CFG\\PictoCfg.~BL", "CFG\\PictoCfg.~BM"})
        if (dir.Exists(name)) lines.merge(Lines(dir.Read(name)));
    return lines;
}

// Each way a sweep takes, a test of its own, so that the sweeps share out
// over the shards of the suite.
const Way ways[] = {
        {"ReplaceFileA", "ReplaceFileA", [] {}},
        {"MoveFileExA", "MoveFileExA", [] { faults::HideSystemFunction("ReplaceFile"); }},
        {"Windows9x", "95, 98, Me",
         [] {
             faults::HideSystemFunction("ReplaceFile");
             faults::HideSystemFunction("MoveFileReplace");
         }},
        {"Windows9xFolderAtTheBackupName", "95, 98, Me, a folder with the backup's name",
         [] {
             faults::HideSystemFunction("ReplaceFile");
             faults::HideSystemFunction("MoveFileReplace");
         },
         "CFG\\PictoCfg.~BK"},
        // A leftover temporary file whose removal waits for a scanner: its
        // name is passed over, the save never goes in place.
        {"HeldLeftoverTemporaryFile", "a leftover PictoCfg.~00 held",
         [] { faults::HoldFile("PictoCfg.~00", plat::ErrorAccessDenied, 1000); }, nullptr, "CFG\\PictoCfg.~00"},
        {"ReplaceFileA1176", "ReplaceFileA keeping both names (1176)", [] { faults::SetReplaceFileAnswer(plat::ErrorUnableToMoveReplacement); }},
        {"ReplaceFileA1177", "ReplaceFileA leaving the old file under the backup name (1177)",
         [] { faults::SetReplaceFileAnswer(plat::ErrorUnableToMoveReplacement2); }},
};

void PrintTo(const Way& way, std::ostream* out) { *out << way.name; }

class OnEachWay : public ::testing::TestWithParam<Way> {};

TEST_P(OnEachWay, EveryCutLeavesTheOldOrTheNewBytes) {
    const Way& way = GetParam();
    const std::string junk("z=1\r\n\0" "9:9/8=C:\\JUNK\\y.bmp\r\n", 27);
    const Home homes[] = {
        {"no configuration", "a.bmp,N,1:2/3 1:2/4\r\nb.gif,N,2:2/2\r\n", nullptr},
        {"old shorter", "a.bmp,N,1:2/3 1:2/4\r\n", "z=1\r\n"},
        {"old longer", "a.bmp,N,1:2/3\r\n",
         "z=1\r\nq=2\r\n4:4/4=C:\\Mail\\BMP\\very-long-picture-name-number-four.bmp\r\n"
         "5:5/5=C:\\Mail\\BMP\\very-long-picture-name-number-five.bmp\r\n",
        },
        {"old of the same length", "a.jpg,N,1:2/3\r\n", "b=2\r\na=1\r\n"},
        {"old with lines behind a NUL byte", "a.bmp,N,1:2/3 1:2/4\r\nc.bmp,N,3:3/3\r\n", junk.c_str()},
        {"a backup kept beside", "a.bmp,N,1:2/3\r\n", "n=5\r\n", "z=1\r\nn=5\r\n", nullptr, true},
        {"two backups kept beside", "a.bmp,N,1:2/3\r\n", "n=5\r\n", "z=1\r\nn=5\r\n", "y=7\r\nn=5\r\n", true},
    };
    // The next run on another Windows: 95 after a later one, 2000 after 95.
    const bool on95 = std::string(way.name).rfind("95", 0) == 0;
    const std::function<void()> other = [on95] {
        if (on95) return;
        faults::HideSystemFunction("ReplaceFile");
        faults::HideSystemFunction("MoveFileReplace");
    };
    int cuts = 0;
    for (const faults::CutKind kind : {faults::CutKind::Process, faults::CutKind::Power}) {
        for (const Home& h : homes) {
            if (h.backup && way.folder) continue;  // the folder has the backup's name
            SCOPED_TRACE(std::string(way.name) + ", " + h.name +
                         (kind == faults::CutKind::Power ? ", power cut" : ", process ended"));
            test::ScratchDir dir;
            dir.MakeDir("BMP");
            dir.MakeDir("CFG");
            dir.Write("BMP\\fmmp0000.inf", h.index);
            const std::string old = h.old == junk.c_str() ? junk : h.old ? h.old : "";
            const auto prepare = [&] {
                std::filesystem::remove_all(dir.Native("CFG"));
                dir.MakeDir("CFG");
                if (h.old) dir.Write(Cfg, old);
                if (h.hidden) plat::SetFileAttributes(dir.Path(Cfg), HiddenSystem);
                if (h.backup) dir.Write("CFG\\PictoCfg.~BK", h.backup);
                if (h.spare) dir.Write("CFG\\PictoCfg.~BL", h.spare);
                if (way.folder) dir.MakeDir(way.folder);
                if (way.file) dir.Write(way.file, "stale");
            };
            prepare();
            ASSERT_EQ(RunProgram(dir.Home(), 0, way.system, faults::CutKind::Process, true), 0);
            const std::string fresh = dir.Read(Cfg);
            ASSERT_FALSE(fresh.empty());
            std::set<std::string> before = Lines(old);
            for (const char* backup : {h.backup, h.spare})
                if (backup) before.merge(Lines(backup));
            const std::set<std::string> after = Lines(fresh);

            for (std::uint64_t cut = 1;; ++cut) {
                SCOPED_TRACE("cut " + std::to_string(cut));
                prepare();
                const int code = RunProgram(dir.Home(), cut, way.system, kind);
                if (code == 0) {
                    EXPECT_EQ(dir.Read(Cfg), fresh);
                    break;
                }
                ASSERT_EQ(code, faults::CutExitCode);
                ASSERT_LT(cut, 100u);
                ++cuts;

                // A next run whose recovery is refused (it cannot tell what
                // is there, or cannot rename back) writes nothing from the
                // index alone.
                for (const char* refused : {"GetFileAttributes", "MoveFile"})
                    RunProgram(dir.Home(), 0, [&] {
                        way.system();
                        faults::FailEveryCall(refused);
                    });

                host::Reset();
                faults::Reset();
                test::Recover(dir.Path(Cfg));
                if (h.backup) {
                    // No line lost, none from elsewhere.
                    const std::set<std::string> kept = LinesKept(dir);
                    for (const std::string& line : before) EXPECT_EQ(kept.count(line), 1u) << "lost: " << line;
                    for (const std::string& line : kept)
                        EXPECT_TRUE(before.count(line) || after.count(line)) << "foreign: " << line;
                } else if (dir.Exists(Cfg)) {
                    const std::string now = dir.Read(Cfg);
                    EXPECT_TRUE(now == fresh || (h.old && now == old)) << now;
                } else {
                    EXPECT_EQ(h.old, nullptr) << "configuration lost";
                }

                test::ScratchDir cutState;
                const std::filesystem::path cfg = dir.Native("CFG"), saved = cutState.Native("CFG");
                std::filesystem::copy(cfg, saved, std::filesystem::copy_options::recursive);
                for (const bool same : {true, false}) {
                    SCOPED_TRACE(same ? "next run on the same Windows" : "next run on another Windows");
                    std::filesystem::remove_all(cfg);
                    std::filesystem::copy(saved, cfg, std::filesystem::copy_options::recursive);
                    ASSERT_EQ(RunProgram(dir.Home(), 0, same ? way.system : other), 0);
                    EXPECT_EQ(dir.Read(Cfg), fresh);
                    if (h.hidden) {
                        EXPECT_EQ(AttributesOf(dir.Path(Cfg)) & HiddenSystem, HiddenSystem) << "attributes lost";
                    }
                    // A leftover no longer held is removed.
                    EXPECT_EQ(dir.EntryCount(), way.folder || (way.file && same) ? 5u : 4u)
                        << "files left beside the configuration";
                }
            }
        }
    }
    std::printf("%d cuts\n", cuts);
}

}  // namespace
}  // namespace pm

namespace pm {
namespace {

// "Convert Complete!." means saved for good: the power lost just as the
// run ends keeps the new text, on every way, the rewrite in place too.
TEST(SaveCut, APowerCutJustAfterTheRunKeepsTheNewText) {
    for (const test::SaveWayCase& way : test::SaveWays) {
        for (const bool existing : {false, true}) {
            SCOPED_TRACE(std::string(way.name) + (existing ? ", old file" : ", no file"));
            test::ScratchDir dir;
            dir.MakeDir("BMP");
            dir.MakeDir("CFG");
            dir.Write("BMP\\fmmp0000.inf", "a.bmp,N,1:2/3\r\n");
            if (existing) dir.Write(Cfg, "z=1\r\n");
            ASSERT_EQ(RunProgram(dir.Home(), 0, [&] {
                          way.setup(dir);
                          faults::PowerCutAtExit();
                      }),
                      0);
            EXPECT_EQ(dir.Read(Cfg), "1:2/3=" + dir.Home() + "BMP\\a.bmp\r\n" + (existing ? "z=1\r\n" : ""));
        }
    }
}

}  // namespace
}  // namespace pm

namespace pm {
namespace {

// Says on the pipe pipes[0] that the run is paused, and waits for a word
// on pipes[1].
void PauseUntilTold(void* pipes) {
    const int* ends = static_cast<const int*>(pipes);
    char c = 'p';
    if (::write(ends[0], &c, 1) != 1 || ::read(ends[1], &c, 1) != 1) std::_Exit(98);
}

// Says on the pipe *pipe that the run waits for the other.
void SayWaiting(void* pipe) {
    if (::write(*static_cast<const int*>(pipe), "w", 1) != 1) std::_Exit(98);
}

// Two runs at once, as a user starting the program twice or the mail
// program starting it beside the user does: the first is paused at each
// of its calls in turn while the second runs whole, on every way. Both
// save, and the file holds what one run writes, hidden and system as it
// was, with nothing beside it.
TEST_P(OnEachWay, ASecondRunWhileTheFirstIsPausedAtEachCallLosesNothing) {
    const Way& way = GetParam();
    if (way.folder || way.file) GTEST_SKIP() << "the calls of another way";
    {
        test::ScratchDir dir;
        dir.MakeDir("BMP");
        dir.Write("BMP\\fmmp0000.inf", "a.bmp,N,1:2/3\r\n");
        const auto prepare = [&] {
            std::filesystem::remove_all(dir.Native("CFG"));
            dir.MakeDir("CFG");
            dir.Write(Cfg, "z=1\r\nq=2\r\n");
            plat::SetFileAttributes(dir.Path(Cfg), HiddenSystem);
        };
        prepare();
        ASSERT_EQ(RunProgram(dir.Home(), 0, way.system, faults::CutKind::Process, true), 0);
        const std::string fresh = dir.Read(Cfg);
        for (std::uint64_t call = 1;; ++call) {
            SCOPED_TRACE("first run paused at call " + std::to_string(call));
            ASSERT_LT(call, 200u);
            prepare();
            int paused[2], go[2], told[2];
            ASSERT_EQ(::pipe(paused) | ::pipe(go), 0);
            // The first run says it is paused, and waits for a word to go on.
            int pipes[2] = {paused[1], go[0]};
            const pid_t first = Launch(dir.Home(), 0, [&] {
                way.system();
                faults::PauseAtCall(call, PauseUntilTold, pipes);
            });
            ::close(paused[1]);
            ::close(go[0]);
            char c = 0;
            const bool wasPaused = ::read(paused[0], &c, 1) == 1;
            ::close(paused[0]);
            int second = 0;
            if (wasPaused) {
                // The second run tells when it waits for the first (or
                // ends), and the first then goes on.
                ASSERT_EQ(::pipe(told), 0);
                const pid_t child = Launch(dir.Home(), 0, [&] {
                    way.system();
                    faults::WhenWaiting(SayWaiting, told + 1);
                });
                ::close(told[1]);
                EXPECT_GE(::read(told[0], &c, 1), 0);
                ::close(told[0]);
                c = 'g';
                EXPECT_EQ(::write(go[1], &c, 1), 1);
                second = ExitCode(child);
            }
            ::close(go[1]);
            EXPECT_EQ(ExitCode(first), 0);
            EXPECT_EQ(second, 0);
            EXPECT_EQ(dir.Read(Cfg), fresh);
            EXPECT_EQ(AttributesOf(dir.Path(Cfg)) & HiddenSystem, HiddenSystem) << "attributes lost";
            EXPECT_EQ(dir.EntryCount(), 4u) << "files left beside the configuration";
            if (!wasPaused) break;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(SaveCut, OnEachWay, ::testing::ValuesIn(ways),
                         [](const ::testing::TestParamInfo<Way>& p) { return std::string(p.param.id); });

}  // namespace
}  // namespace pm
