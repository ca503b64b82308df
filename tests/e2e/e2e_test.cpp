// End-to-end tests of the real Pictomap.exe, as a user's machine runs it:
// prepare the registry value and the files, start the program, find its
// message box, read caption, text and icon, press OK, then check the exit
// code and the exact bytes left on disk. The same on Windows and Wine.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <regex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "harness.h"
#include "support/faults.h"

namespace e2e {
namespace {

// ---- One run each: a table ----

struct SingleRun {
    const char* name;
    std::function<void(const Home&)> prepare;
    const char* caption;
    std::function<std::string(const Home&)> text;  // a regular expression
    unsigned long style;
    DWORD exitCode;
    // The configuration afterwards; null: there is none.
    std::function<std::string(const Home&)> configuration;
    bool withCfg = true;       // the home has a CFG folder
    bool startInHome = false;  // the program starts in the home folder
};

void Index(const Home& home, const std::string& lines) { WriteBytes(home.Inf(), lines); }

std::string Fixed(const char* text) { return text; }

// A home whose registry value `forget` takes away: the program, started in
// the home folder, works there.
SingleRun HomeMissing(const char* name, void (*forget)()) {
    return {name,
            [forget](const Home& h) {
                Index(h, "a.bmp,x,1:2/3\r\n");
                forget();
            },
            "Information", [](const Home&) { return Fixed(TextConverted); }, Information, 0,
            [](const Home&) { return Fixed("1:2/3=BMP\\a.bmp\r\n"); }, true, true};
}

// A home value "C:\" stored as `type`, which is not text: the registry
// failure is reported and nothing is written.
SingleRun HomeOfWrongType(const char* name, DWORD type) {
    return {name,
            [type](const Home& h) {
                Index(h, "a.bmp,x,1:2/3\r\n");
                SetHome(type, std::string("C:\\\0\0", 5));
            },
            "Application Error",
            [](const Home&) { return FailureText("ERegistryException", "Invalid data type for 'HomeDir'"); }, Report,
            1, nullptr};
}

bool SystemOrder(const std::string& a, const std::string& b) {
    return ::CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, a.data(), static_cast<int>(a.size()), b.data(),
                            static_cast<int>(b.size())) == CSTR_LESS_THAN;
}

// Hyphens and apostrophes around character 256 of a line: configuration
// lines with a hyphen, index lines giving the same with an apostrophe.
// All are kept, in the system's order.
struct LongLines {
    std::string index, configuration, expected;
};
LongLines HyphensAndApostrophes(const Home& h) {
    LongLines l;
    const std::string lead = "1:2/3=" + h.Picture("");
    std::vector<std::string> lines;
    for (std::size_t at = 250; at <= 262; ++at) {
        const std::string name = std::string(at - lead.size(), 'p');
        l.index += name + "'x.bmp,N,1:2/3\r\n";
        l.configuration += lead + name + "-x.bmp\r\n";
        lines.push_back(lead + name + "'x.bmp");
        lines.push_back(lead + name + "-x.bmp");
    }
    std::sort(lines.begin(), lines.end(), SystemOrder);
    for (const std::string& line : lines) l.expected += line + "\r\n";
    return l;
}

const SingleRun singleRuns[] = {
    {"IndexMissing", [](const Home&) {}, "Error", [](const Home&) { return Fixed(TextIndexMissing); }, Error, 0,
     nullptr},
    {"ConfigurationWritten",
     [](const Home& h) { Index(h, "b.bmp,Bob,2:5020/100 2:5021/7.1\r\na.gif,Al,1:2/3,9:9/9\r\nc.jpg,Cy,1:1/1\r\n"); },
     "Information", [](const Home&) { return Fixed(TextConverted); }, Information, 0,
     [](const Home& h) {
         return "1:2/3=" + h.Picture("a.gif") + "\r\n2:5020/100=" + h.Picture("b.bmp") + "\r\n2:5021/7.1=" +
                h.Picture("b.bmp") + "\r\n";
     }},
    {"NothingUsable", [](const Home& h) { Index(h, "a.jpg,x,1:2/3\r\nb.bmp,,1:2/3\r\nc.gif,x,bad 2:5020\r\n"); },
     "Error", [](const Home&) { return Fixed(TextNothingFound); }, Error, 0, nullptr},
    {"ExistingConfigurationMerged",
     [](const Home& h) {
         Index(h, "A.BMP,x,1:2/3\r\nn.gif,x,3:3/3\r\n");
         WriteBytes(h.Cfg(), "x=1\r\n\r\nx=1\r\n1:2/3=" + h.Picture("a.bmp") + "\r\nB=x\r\na=y\r\n");
     },
     "Information", [](const Home&) { return Fixed(TextConverted); }, Information, 0,
     [](const Home& h) {
         return "\r\n1:2/3=" + h.Picture("a.bmp") + "\r\n3:3/3=" + h.Picture("n.gif") + "\r\na=y\r\nB=x\r\nx=1\r\nx=1\r\n";
     }},
    {"EmptyIndexRewritesConfigurationSorted",
     [](const Home& h) {
         Index(h, "");
         WriteBytes(h.Cfg(), "b\r\nA");
     },
     "Information", [](const Home&) { return Fixed(TextConverted); }, Information, 0,
     [](const Home&) { return Fixed("A\r\nb\r\n"); }},
    {"HomeWithoutTrailingBackslash",
     [](const Home& h) {
         Index(h, "a.bmp,x,1:2/3\r\n");
         SetHomeText(h.root);
     },
     "Error", [](const Home&) { return Fixed(TextIndexMissing); }, Error, 0, nullptr},
    {"FolderNamedFmmp0000Inf", [](const Home& h) { ::CreateDirectoryA(h.Inf().c_str(), nullptr); }, "Error",
     [](const Home&) { return Fixed(TextIndexMissing); }, Error, 0, nullptr},
    // No home directory in the registry: the current folder is the home.
    HomeMissing("HomeMissingNoKey", [] { DeleteKey(); }),
    HomeMissing("HomeMissingNoValue",
                [] {
                    DeleteKey();
                    HKEY key;
                    ::RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SoftWare\\Velkorware\\Quernpost", 0, nullptr, 0,
                                      KEY_ALL_ACCESS, nullptr, &key, nullptr);
                    ::RegCloseKey(key);
                }),
    HomeMissing("HomeMissingZeroBytes", [] { SetHome(REG_SZ, ""); }),
    HomeMissing("HomeMissingOneNulByte", [] { SetHome(REG_SZ, std::string(1, '\0')); }),
    HomeMissing("HomeMissingZeroBytesOfANumber", [] { SetHome(REG_DWORD, ""); }),
    {"HomeStoredWithoutItsNul",
     [](const Home& h) {
         Index(h, "a.bmp,x,1:2/3\r\n");
         SetHome(REG_SZ, h.root + "\\");
     },
     "Information", [](const Home&) { return Fixed(TextConverted); }, Information, 0,
     [](const Home& h) { return "1:2/3=" + h.Picture("a.bmp") + "\r\n"; }},
    HomeOfWrongType("HomeOfTypeNumber", REG_DWORD),
    HomeOfWrongType("HomeOfTypeMultiText", REG_MULTI_SZ),
    {"MissingCfgFolder", [](const Home& h) { Index(h, "a.bmp,x,1:2/3\r\n"); }, "Application Error",
     [](const Home& h) { return FailureText("EFCreateError", "Cannot create file " + h.Cfg()); }, Report, 1, nullptr,
     false},
    {"ReadOnlyConfiguration",
     [](const Home& h) {
         Index(h, "a.bmp,x,1:2/3\r\n");
         WriteBytes(h.Cfg(), "old=1\r\n");
         ::SetFileAttributesA(h.Cfg().c_str(), FILE_ATTRIBUTE_READONLY);
     },
     "Application Error", [](const Home& h) { return FailureText("EFCreateError", "Cannot create file " + h.Cfg()); },
     Report, 1, [](const Home&) { return Fixed("old=1\r\n"); }},
    {"ConfigurationDated1970IsKept",
     [](const Home& h) {
         Index(h, "a.bmp,x,1:2/3\r\n");
         WriteBytes(h.Cfg(), "kept=1\r\n");
         const HANDLE file =
             ::CreateFileA(h.Cfg().c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
         const ULONGLONG ticks = 11644473600ULL * 10000000ULL;
         FILETIME time{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
         ::SetFileTime(file, nullptr, nullptr, &time);
         ::CloseHandle(file);
     },
     "Information", [](const Home&) { return Fixed(TextConverted); }, Information, 0,
     [](const Home& h) { return "1:2/3=" + h.Picture("a.bmp") + "\r\nkept=1\r\n"; }},
    {"LongLinesDifferingInAHyphenOrAnApostrophe",
     [](const Home& h) {
         const LongLines l = HyphensAndApostrophes(h);
         Index(h, l.index);
         WriteBytes(h.Cfg(), l.configuration);
     },
     "Information", [](const Home&) { return Fixed(TextConverted); }, Information, 0,
     [](const Home& h) { return HyphensAndApostrophes(h).expected; }},
    {"LongLinesWrittenInTheSystemsOrder",
     [](const Home& h) {
         Index(h, "");
         const std::string p(255, 'p');
         WriteBytes(h.Cfg(), p + "-a-b\r\n" + p + "-ab\r\n");
     },
     "Information", [](const Home&) { return Fixed(TextConverted); }, Information, 0,
     [](const Home&) {
         const std::string a = std::string(255, 'p') + "-a-b", b = std::string(255, 'p') + "-ab";
         return SystemOrder(b, a) ? b + "\r\n" + a + "\r\n" : a + "\r\n" + b + "\r\n";
     }},
};

class OneRun : public ::testing::TestWithParam<SingleRun> {};

TEST_P(OneRun, ShowsItsBoxAndLeavesItsFile) {
    const SingleRun& c = GetParam();
    const Home home = FreshHome(c.withCfg);
    c.prepare(home);
    ExpectOneBox(Start(settings.program, c.startInHome ? home.root : settings.scratch), c.caption, c.text(home),
                 c.style, c.exitCode);
    if (c.configuration) {
        CheckEqual(ReadBytes(home.Cfg()), c.configuration(home), "configuration");
        Check(CountEntries(Join(home.root, "CFG")) == 1, "files left beside the configuration");
    } else {
        Check(!Exists(home.Cfg()), "configuration made");
    }
}

INSTANTIATE_TEST_SUITE_P(EndToEnd, OneRun, ::testing::ValuesIn(singleRuns),
                         [](const ::testing::TestParamInfo<SingleRun>& p) { return p.param.name; });

// ---- The home and the configuration ----

TEST(EndToEnd, ExpandableHomeIsNotExpanded) {
    const Home home = FreshHome();
    const std::string literal = Join(home.root, "%HOMEDRIVE%");
    MakeHome(literal);
    WriteBytes(Join(literal, "BMP\\fmmp0000.inf"), "a.bmp,x,1:2/3\r\n");
    SetHome(REG_EXPAND_SZ, std::string("%HOMEDRIVE%\\") + '\0');
    ExpectOneBox(Start(settings.program, home.root), "Information", TextConverted, Information, 0);
    CheckEqual(ReadBytes(Join(literal, "CFG\\PictoCfg.cfg")), "1:2/3=%HOMEDRIVE%\\BMP\\a.bmp\r\n", "configuration");
}

TEST(EndToEnd, ConfigurationHeldOpenForWriting) {
    const Home home = FreshHome();
    WriteBytes(home.Inf(), "a.bmp,x,1:2/3\r\n");
    WriteBytes(home.Cfg(), "old=1\r\n");
    const HANDLE other = ::CreateFileA(home.Cfg().c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                       OPEN_EXISTING, 0, nullptr);
    ExpectOneBox(Start(settings.program, settings.scratch), "Application Error",
                 FailureText("EFOpenError", "Cannot open file " + home.Cfg()), Report, 1);
    ::CloseHandle(other);
    CheckEqual(ReadBytes(home.Cfg()), "old=1\r\n", "configuration");
}

// Pictures named in Shift-JIS, whose second bytes include a backslash and
// letters, with configuration lines of the same kind. Run also with a
// Japanese system code page and a Western user locale, and the reverse
// (e2e_code_pages_*, which say the code page to expect): the pictures are
// found by the system's lead bytes, and every line is kept once, in the
// order of the user's comparison.
TEST(EndToEnd, ShiftJisNamesKeepEveryLineInTheUsersOrder) {
    if (const char* expected = std::getenv("PICTOMAP_EXPECT_CODE_PAGE"); expected && *expected)
        CheckEqual(std::to_string(::GetACP()), expected, "the code page of the run");
    const Home home = FreshHome();
    // Double-byte characters whose second byte is a backslash (95 5C, 83 5C,
    // 94 5C) or a letter (83 74, 8C 72), and one above 0x7F (95 E0).
    const std::string names[] = {"\x95\x5C.bmp", "\x83\x5C\x83\x74.gif", "a\x94\x5C" "b.bmp", "\x95\xE0.BMP",
                                 "\x8C\x72x.gif", "\x95\x5C.jpg"};
    std::string index;
    std::vector<std::string> lines = {"1:1/1=C:\\\x95\x5C\\old.bmp", "9:9/9=\x83\x5C", "z=\x8C\x72"};
    std::string configuration;
    for (const std::string& line : lines) configuration += line + "\r\n";
    int net = 1;
    for (const std::string& name : names) {
        index += name + ",N,2:" + std::to_string(net) + "/1\r\n";
        if (name.find(".jpg") == std::string::npos)
            lines.push_back("2:" + std::to_string(net) + "/1=" + home.Picture(name));
        ++net;
    }
    WriteBytes(home.Inf(), index);
    WriteBytes(home.Cfg(), configuration);
    for (std::size_t i = 0; i < lines.size(); ++i)
        for (std::size_t j = i + 1; j < lines.size(); ++j)
            Check(SystemOrder(lines[i], lines[j]) || SystemOrder(lines[j], lines[i]),
                  "two lines the comparison takes as equal: " + lines[i] + ", " + lines[j]);
    ExpectOneBox(Start(settings.program, settings.scratch), "Information", TextConverted, Information, 0);
    std::sort(lines.begin(), lines.end(), SystemOrder);
    std::string expected;
    for (const std::string& line : lines) expected += line + "\r\n";
    CheckEqual(ReadBytes(home.Cfg()), expected, "configuration");
}

TEST(EndToEnd, HiddenAndSystemConfigurationStaysSo) {
    const Home home = FreshHome();
    WriteBytes(home.Inf(), "a.bmp,x,1:2/3\r\n");
    WriteBytes(home.Cfg(), "old=1\r\n");
    ::SetFileAttributesA(home.Cfg().c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    ExpectOneBox(Start(settings.program, settings.scratch), "Information", TextConverted, Information, 0);
    CheckEqual(ReadBytes(home.Cfg()), "1:2/3=" + home.Picture("a.bmp") + "\r\nold=1\r\n", "configuration");
    const DWORD attributes = ::GetFileAttributesA(home.Cfg().c_str());
    Check(attributes != INVALID_FILE_ATTRIBUTES && (attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) ==
                                                       (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM),
          "attributes now " + std::to_string(attributes));
}

// A cut between placing the new file and removing the backup leaves the
// old text beside the file. The next run weighs it and must give the very
// bytes of a run without it, under the system's comparison: repeats, case
// variants, and punctuation that word sort passes over.
TEST(EndToEnd, ItsOwnOldTextBesideTheFileChangesNothing) {
    const char* const lines[] = {"x=y", "X=Y", "co-op", "coop", "Co-Op", "[section]", "", "a'b", "ab", "1:2/3=A.bmp"};
    std::vector<std::string> olds = {"x=y\r\nX=Y\r\n[section]\r\nco-op\r\nX=Y\r\n\r\nx=y\r\ncoop\r\nX=Y\r\n"
                                     "[section]\r\nco-op\r\nx=y\r\n\r\nX=Y\r\ncoop\r\n[SECTION]\r\n1:2/3=a.bmp\r\n"};
    unsigned seed = 42;
    for (const int count : {120, 77, 40, 9}) {
        std::string old;
        for (int i = 0; i < count; ++i) {
            seed = seed * 1103515245u + 12345u;
            old.append(lines[(seed >> 16) % 10]).append("\r\n");
        }
        olds.push_back(old);
    }
    for (const std::string& old : olds) {
        SCOPED_TRACE(Show(old));
        const Home home = FreshHome();
        WriteBytes(home.Inf(), "a.bmp,x,1:2/3 1:2/4\r\n");
        WriteBytes(home.Cfg(), old);
        ExpectOneBox(Start(settings.program, settings.scratch), "Information", TextConverted, Information, 0);
        const std::string once = ReadBytes(home.Cfg());
        ExpectOneBox(Start(settings.program, settings.scratch), "Information", TextConverted, Information, 0);
        const std::string plain = ReadBytes(home.Cfg());
        WriteBytes(home.Cfg(), once);
        WriteBytes(Join(home.root, "CFG\\PictoCfg.~BK"), old);
        ExpectOneBox(Start(settings.program, settings.scratch), "Information", TextConverted, Information, 0);
        CheckEqual(ReadBytes(home.Cfg()), plain, "configuration with its old text beside it");
        Check(CountEntries(Join(home.root, "CFG")) == 1, "files left beside the configuration");
    }
}

TEST(EndToEnd, OneHundredAndTwentyLeftoverTemporaryFiles) {
    const Home home = FreshHome();
    WriteBytes(home.Inf(), "a.bmp,x,1:2/3\r\n");
    WriteBytes(home.Cfg(), "old=1\r\n");
    for (int n = 0; n < 100; ++n) {
        char name[16];
        std::snprintf(name, sizeof name, "PictoCfg.~%02d", n);
        WriteBytes(Join(home.root, std::string("CFG\\") + name), "stale");
    }
    for (int n = 0; n < 20; ++n) WriteBytes(home.Cfg() + "." + std::to_string(n) + ".tmp", "stale");
    ExpectOneBox(Start(settings.program, settings.scratch), "Information", TextConverted, Information, 0);
    CheckEqual(ReadBytes(home.Cfg()), "1:2/3=" + home.Picture("a.bmp") + "\r\nold=1\r\n", "configuration");
    Check(CountEntries(Join(home.root, "CFG")) <= 120, "leftovers grew");
}

TEST(EndToEnd, ConfigurationPathsOf250To259Characters) {
    for (std::size_t length = 250; length < 260; ++length) {
        SCOPED_TRACE(length);
        const Home base = FreshHome();
        const std::size_t fill = length - base.root.size() - std::strlen("\\x\\CFG\\PictoCfg.cfg") + 1;
        const Home home = MakeHome(Join(base.root, std::string(fill, 'd')));
        Check(home.Cfg().size() == length, "path of " + std::to_string(home.Cfg().size()));
        WriteBytes(home.Inf(), "a.bmp,x,1:2/3\r\n");
        for (const bool existing : {false, true}) {
            if (existing) WriteBytes(home.Cfg(), "old=1\r\n");
            ExpectOneBox(Start(settings.program, settings.scratch), "Information", TextConverted, Information, 0);
            CheckEqual(ReadBytes(home.Cfg()), "1:2/3=" + home.Picture("a.bmp") + (existing ? "\r\nold=1\r\n" : "\r\n"),
                       "configuration");
            Check(CountEntries(Join(home.root, "CFG")) == 1, "temporary file left");
        }
    }
}

TEST(EndToEnd, FolderThatTakesNoNewFile) {
    const Home home = FreshHome();
    WriteBytes(home.Inf(), "a.bmp,x,1:2/3\r\n");
    const std::string folder = Join(home.root, "CFG");
    if (!SetUnixMode(folder, 0755)) GTEST_SKIP() << "folder rights are set with access lists on Windows";
    for (const std::string& old : {std::string(500, 'o') + "\r\n", std::string("o\r\n")}) {
        WriteBytes(home.Cfg(), old);
        SetUnixMode(folder, 0555);
        ExpectOneBox(Start(settings.program, settings.scratch), "Information", TextConverted, Information, 0);
        SetUnixMode(folder, 0755);
        CheckEqual(ReadBytes(home.Cfg()), "1:2/3=" + home.Picture("a.bmp") + "\r\n" + old, "configuration");
    }
    ::DeleteFileA(home.Cfg().c_str());
    SetUnixMode(folder, 0555);
    ExpectOneBox(Start(settings.program, settings.scratch), "Application Error",
                 FailureText("EFCreateError", "Cannot create file " + home.Cfg()), Report, 1);
    SetUnixMode(folder, 0755);
    Check(!Exists(home.Cfg()), "configuration made");
}

// A folder that may be written but not listed. With the configuration
// there, it is read and rewritten. Without it, Windows answers "not found"
// for the name and makes the file. Wine cannot tell whether a name is there
// in a folder it may not list (nor make a file there, as a plain rewrite
// would fail too): the configuration is then not taken as missing, and the
// run ends with "Cannot open file", nothing written.
TEST(EndToEnd, FolderThatCannotBeListed) {
    const Home home = FreshHome();
    WriteBytes(home.Inf(), "a.bmp,x,1:2/3\r\n");
    const std::string folder = Join(home.root, "CFG");
    if (!SetUnixMode(folder, 0755)) GTEST_SKIP() << "folder rights are set with access lists on Windows";
    for (const bool present : {true, false}) {
        if (present) WriteBytes(home.Cfg(), "kept=1\r\n");
        else ::DeleteFileA(home.Cfg().c_str());
        SetUnixMode(folder, 0333);
        const e2e::Run run = Start(settings.program, settings.scratch);
        SetUnixMode(folder, 0755);
        if (present) {
            ExpectOneBox(run, "Information", TextConverted, Information, 0);
            CheckEqual(ReadBytes(home.Cfg()), "1:2/3=" + home.Picture("a.bmp") + "\r\nkept=1\r\n", "configuration");
        } else {
            ExpectOneBox(run, "Application Error", FailureText("EFOpenError", "Cannot open file " + home.Cfg()), Report,
                         1);
            Check(!Exists(home.Cfg()), "configuration made");
        }
    }
}

TEST(EndToEnd, IndexTooLargeForA32BitProgramsMemory) {
    // 100 million empty lines: their records alone need more than the 2 GB
    // a 32-bit program has.
    if (sizeof(void*) > 4) GTEST_SKIP() << "a 64-bit program has the memory for 100 million lines";
    const Home home = FreshHome();
    WriteBytes(home.Inf(), std::string(100u * 1000 * 1000, '\n'));
    WriteBytes(home.Cfg(), "kept=1\r\n");
    ExpectOneBox(Start(settings.program, settings.scratch), "Application Error",
                 FailureText("EOutOfMemory", "Out of memory"), Report, 1);
    CheckEqual(ReadBytes(home.Cfg()), "kept=1\r\n", "configuration");
    ::DeleteFileA(home.Inf().c_str());
}

TEST(EndToEnd, ConfigurationOf2GiB) {
    const Home home = FreshHome();
    WriteBytes(home.Inf(), "a.bmp,x,1:2/3\r\n");
    const HANDLE file = ::CreateFileA(home.Cfg().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    LARGE_INTEGER size;
    size.QuadPart = 0x80000000LL;
    const bool made = file != INVALID_HANDLE_VALUE && ::SetFilePointerEx(file, size, nullptr, FILE_BEGIN) &&
                      ::SetEndOfFile(file);
    ::CloseHandle(file);
    if (!made) GTEST_SKIP() << "no room for a file of 2 GiB";
    ExpectOneBox(Start(settings.program, settings.scratch), "Application Error",
                 FailureText("EReadError", "Stream read error"), Report, 1);
    WIN32_FILE_ATTRIBUTE_DATA data{};
    ::GetFileAttributesExA(home.Cfg().c_str(), GetFileExInfoStandard, &data);
    Check(data.nFileSizeHigh == 0 && data.nFileSizeLow == 0x80000000u, "configuration changed");
    ::DeleteFileA(home.Cfg().c_str());
}

// ---- The test build: start-up, faults, older systems, cuts ----

TEST(EndToEnd, TestBuildRunsNormallyWithoutASwitch) {
    FreshHome();
    ExpectOneBox(Start(settings.faultProgram, settings.scratch), "Error", TextIndexMissing, Error, 0);
}

// A failure or a processor fault in a start-up step: the runtime-error box,
// and the run never starts.
class FailureAtStartup : public ::testing::TestWithParam<const char*> {};
TEST_P(FailureAtStartup, ShowsTheRuntimeErrorBox) {
    const Home home = FreshHome();
    WriteBytes(home.Inf(), "a.bmp,x,1:2/3\r\n");
    ExpectOneBox(StartFaulty({{"PICTOMAP_FAIL_STARTUP", GetParam()}}), "Error", "Runtime error 217 at [0-9A-F]{8}",
                 Plain, 217);
    Check(!Exists(home.Cfg()), "the run started");
}
INSTANTIATE_TEST_SUITE_P(EndToEnd, FailureAtStartup, ::testing::Values("1", "access"),
                         [](const ::testing::TestParamInfo<const char*>& p) {
                             return std::string(p.param) == "1" ? "OutOfMemory" : "AccessViolation";
                         });

struct ProcessorFault {
    const char* fault;
    const char* kind;
    const char* message;
};
class ProcessorFaultInTheRun : public ::testing::TestWithParam<ProcessorFault> {};
TEST_P(ProcessorFaultInTheRun, IsReported) {
    FreshHome();
    ExpectOneBox(StartFaulty({{"PICTOMAP_FAIL_RUN", GetParam().fault}}), "Application Error",
                 FailureText(GetParam().kind, GetParam().message, "PictomapFaults"), Report, 1);
}
INSTANTIATE_TEST_SUITE_P(EndToEnd, ProcessorFaultInTheRun,
                         ::testing::Values(ProcessorFault{"access", "EAccessViolation", "Access violation"},
                                           ProcessorFault{"stack", "EStackOverflow", "Stack overflow"}),
                         [](const ::testing::TestParamInfo<ProcessorFault>& p) { return p.param.kind; });

// A report that blocks on a lock the faulting run holds cannot show its
// box: the program ends after a bounded wait rather than hang for good.
TEST(EndToEnd, AReportThatCannotShowItsBoxDoesNotHang) {
    FreshHome();
    const e2e::Run run = StartFaulty({{"PICTOMAP_FAIL_RUN", "locked"}});
    CheckEqual(std::to_string(run.exitCode), "1", "exit code");
    Check(run.boxes.empty(), "a box was shown after all: the lock did not block the report");
    Check(run.milliseconds < 60000, "ended after " + std::to_string(run.milliseconds) + " ms");
}

TEST(EndToEnd, TheRuntimesOwnFailureKeepsItsAddress) {
    FreshHome();
    const e2e::Run run = StartFaulty({{"PICTOMAP_FAIL_RUN", "length"}});
    ExpectOneBox(run, "Application Error", FailureText("EOutOfMemory", "Out of memory", "PictomapFaults"), Report, 1);
    Check(!run.boxes.empty() && run.boxes[0].text.find("at 00000000") == std::string::npos, "no raise address");
}

// Where the C++ runtime cannot go on (std::terminate, abort), the program
// still shows one box before it ends.
TEST(EndToEnd, TheRuntimeGivingUpShowsOneBox) {
    FreshHome();
    ExpectOneBox(StartFaulty({{"PICTOMAP_FAIL_RUN", "terminate"}}), "Application Error",
                 "Abnormal program termination", Report, 3);
}

// As on NT 4.0 (no ReplaceFileA) and on 95, 98, Me (MoveFileExA not
// implemented either): the configuration is saved whole and keeps its
// attributes, new or existing.
class OlderSystem : public ::testing::TestWithParam<const char*> {};
TEST_P(OlderSystem, SavesWholeAndKeepsAttributes) {
    for (const bool existing : {false, true}) {
        SCOPED_TRACE(existing ? "existing configuration" : "no configuration");
        const Home home = FreshHome();
        WriteBytes(home.Inf(), "a.bmp,x,1:2/3\r\n");
        if (existing) {
            WriteBytes(home.Cfg(), std::string(300, 'o') + "\r\n");
            ::SetFileAttributesA(home.Cfg().c_str(), FILE_ATTRIBUTE_HIDDEN);
        }
        ExpectOneBox(StartFaulty({{"PICTOMAP_HIDE", GetParam()}}), "Information", TextConverted, Information, 0);
        CheckEqual(ReadBytes(home.Cfg()),
                   "1:2/3=" + home.Picture("a.bmp") + "\r\n" + (existing ? std::string(300, 'o') + "\r\n" : ""),
                   "configuration");
        if (existing) Check((::GetFileAttributesA(home.Cfg().c_str()) & FILE_ATTRIBUTE_HIDDEN) != 0, "not hidden");
        Check(CountEntries(Join(home.root, "CFG")) == 1, "temporary file left");
    }
}
INSTANTIATE_TEST_SUITE_P(EndToEnd, OlderSystem, ::testing::Values("ReplaceFile", "ReplaceFile,MoveFileReplace"),
                         [](const ::testing::TestParamInfo<const char*>& p) {
                             return std::string(p.param).find("MoveFileReplace") != std::string::npos ? "Windows9x"
                                                                                                   : "NT4";
                         });

// A fresh home with `index` and a configuration of `configuration` that has
// the attributes `attributes`.
Home HomeWithConfiguration(const char* index, const std::string& configuration, DWORD attributes) {
    const Home home = FreshHome();
    WriteBytes(home.Inf(), index);
    WriteBytes(home.Cfg(), configuration);
    ::SetFileAttributesA(home.Cfg().c_str(), attributes);
    return home;
}

// The test build ended at once (as if killed, or the power lost) at each
// moment of a save in turn: before every call that can change the disk and
// in the middle of every write. Afterwards the configuration holds the old
// or the new bytes, or only the old file under the backup name; the next
// run of Pictomap.exe then writes exactly what an uncut run writes, keeps
// the file hidden, and leaves nothing beside it.
class CutOff : public ::testing::TestWithParam<const char*> {};
TEST_P(CutOff, AtEveryMomentOfASaveLosesNothing) {
    const std::string old = "z=1\r\nq=2\r\n";
    const auto prepare = [&] {
        return HomeWithConfiguration("a.bmp,x,1:2/3 1:2/4\r\nb.gif,x,2:2/2\r\n", old,
                                     FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    };
    const auto hidden = [](const Home& home) {
        const DWORD attributes = ::GetFileAttributesA(home.Cfg().c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) ==
                                                            (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    };
    Home home = prepare();
    ExpectOneBox(Start(settings.program, settings.scratch), "Information", TextConverted, Information, 0);
    const std::string fresh = ReadBytes(home.Cfg());
    int cuts = 0;
    bool uncut = false;  // a run with no cut point left was reached
    for (int cut = 1; cut < 60 && !uncut; cut += settings.stride) {
        SCOPED_TRACE("cut " + std::to_string(cut));
        home = prepare();
        const e2e::Run run = StartFaulty({{"PICTOMAP_HIDE", GetParam()}, {"PICTOMAP_CUT", std::to_string(cut)}});
        if (run.exitCode == 0) {
            ExpectOneBox(run, "Information", TextConverted, Information, 0);
            CheckEqual(ReadBytes(home.Cfg()), fresh, "configuration uncut");
            uncut = true;
            continue;
        }
        ++cuts;
        Check(run.exitCode == static_cast<DWORD>(pm::faults::CutExitCode) && run.boxes.empty(),
              "exit code " + std::to_string(run.exitCode));
        if (Exists(home.Cfg())) {
            const std::string now = ReadBytes(home.Cfg());
            Check(now == old || now == fresh, "configuration: " + Show(now));
            Check(hidden(home), "attributes lost");
        } else {
            CheckEqual(ReadBytes(Join(home.root, "CFG\\PictoCfg.~BK")), old, "backup");
        }
        ExpectOneBox(Start(settings.program, settings.scratch), "Information", TextConverted, Information, 0);
        CheckEqual(ReadBytes(home.Cfg()), fresh, "configuration after the next run");
        Check(hidden(home), "attributes lost after the next run");
        Check(CountEntries(Join(home.root, "CFG")) == 1, "files left beside the configuration");
    }
    Check(uncut, "every run was cut: more cut points than tried");
    Check(cuts >= (settings.stride == 1 ? 5 : 1), "only " + std::to_string(cuts) + " cuts");
}
INSTANTIATE_TEST_SUITE_P(EndToEnd, CutOff, ::testing::Values("", "ReplaceFile,MoveFileReplace"),
                         [](const ::testing::TestParamInfo<const char*>& p) {
                             return *p.param ? "Windows9x" : "Windows2000AndLater";
                         });

// Two runs started together, 0 to 300 ms apart, as a user who starts the
// program twice or the mail program starting it beside the user: the later
// waits for the earlier, both show "Convert Complete!.", and the file holds
// what one whole run writes, hidden as it was, with nothing beside it. On
// the way of 2000 and later, and on that of 95 (the test build hiding
// ReplaceFileA and MoveFileExA from both).
TEST(EndToEnd, TwoRunsStartedTogetherBothSave) {
    const std::string old = "z=1\r\nq=2\r\n";
    const auto prepare = [&] {
        return HomeWithConfiguration("a.bmp,x,1:2/3 1:2/4\r\nb.gif,x,2:2/2\r\n", old,
                                     FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    };
    Home home = prepare();
    ExpectOneBox(Start(settings.program, settings.scratch), "Information", TextConverted, Information, 0);
    const std::string fresh = ReadBytes(home.Cfg());
    // The boxes of two programs at once are told apart by their process,
    // not by the trace they share.
    const std::string relayLog = RelayLog();
    SetRelayLog("");
    for (const bool on95 : {false, true}) {
        if (on95) ::SetEnvironmentVariableA("PICTOMAP_HIDE", "ReplaceFile,MoveFileReplace");
        const std::string& program = on95 ? settings.faultProgram : settings.program;
        for (int pair = 0; pair < 24; pair += settings.stride) {
            const DWORD apart = static_cast<DWORD>(pair * 37 % 300);
            SCOPED_TRACE(std::string(on95 ? "95" : "2000 and later") + ", " + std::to_string(apart) + " ms apart");
            home = prepare();
            e2e::Run first;
            std::thread earlier([&] { first = RunProgram(program, settings.scratch); });
            ::Sleep(apart);
            const e2e::Run second = RunProgram(program, settings.scratch);
            earlier.join();
            // Without the trace, Wine's boxes tell no icon: the caption does.
            for (const e2e::Run* run : {&std::as_const(first), &second}) {
                Check(run->problem.empty(), run->problem);
                Check(run->exitCode == 0, "exit code " + std::to_string(run->exitCode));
                Check(run->boxes.size() == 1 && run->boxes[0].caption == "Information" &&
                          std::regex_match(run->boxes[0].text, std::regex(TextConverted)),
                      std::to_string(run->boxes.size()) + " boxes, the first: " +
                          (run->boxes.empty() ? "" : run->boxes[0].caption + ": " + run->boxes[0].text));
            }
            CheckEqual(ReadBytes(home.Cfg()), fresh, "configuration");
            Check((::GetFileAttributesA(home.Cfg().c_str()) & FILE_ATTRIBUTE_HIDDEN) != 0, "no longer hidden");
            Check(CountEntries(Join(home.root, "CFG")) == 1, "files left beside the configuration");
        }
    }
    ::SetEnvironmentVariableA("PICTOMAP_HIDE", nullptr);
    SetRelayLog(relayLog);
}

// Every system call of a whole run that can fail made to fail in turn,
// against Windows itself: each run ends in one box, an outcome (exit code 0)
// or the failure report (1), and leaves the old configuration or the new
// one, hidden as it was, with nothing beside it.
TEST(EndToEnd, EveryFailingCallEndsInOneBoxAndLosesNothing) {
    const std::string old = "z=1\r\nq=2\r\n";
    const auto prepare = [&] { return HomeWithConfiguration("a.bmp,x,1:2/3\r\n", old, FILE_ATTRIBUTE_HIDDEN); };
    Home home = prepare();
    ExpectOneBox(Start(settings.program, settings.scratch), "Information", TextConverted, Information, 0);
    const std::string fresh = ReadBytes(home.Cfg());
    // A run makes about 25 such calls; the last runs pass them all. A
    // sample (--stride) that met no reported failure goes on call by call
    // until it meets one.
    int reported = 0;
    bool lastWhole = false;
    const auto failCall = [&](int call) {
        SCOPED_TRACE("call " + std::to_string(call));
        home = prepare();
        const e2e::Run run = StartFaulty({{"PICTOMAP_FAIL_CALL", std::to_string(call)}});
        Check(run.boxes.size() == 1, std::to_string(run.boxes.size()) + " boxes");
        if (run.exitCode == 1) {
            ++reported;
            Check(!run.boxes.empty() && run.boxes[0].caption == "Application Error", "not the failure report");
        } else {
            Check(run.exitCode == 0, "exit code " + std::to_string(run.exitCode));
        }
        const std::string now = ReadBytes(home.Cfg());
        // "Convert Complete!." means the new text is saved; anything else
        // leaves the old one.
        const bool converted = !run.boxes.empty() && run.boxes[0].caption == "Information";
        Check(now == (converted ? fresh : old), std::string(converted ? "converted" : "not converted") +
                                                     ", configuration: " + Show(now));
        Check((::GetFileAttributesA(home.Cfg().c_str()) & FILE_ATTRIBUTE_HIDDEN) != 0, "no longer hidden");
        Check(CountEntries(Join(home.root, "CFG")) == 1, "files left beside the configuration");
        return run.exitCode == 0 && now == fresh && converted;
    };
    for (int call = 1; call <= 40; call += settings.stride) lastWhole = failCall(call);
    Check(lastWhole, "the last run did not pass every call: more calls than tried");
    for (int call = 2; reported == 0 && call <= 40; ++call)
        if ((call - 1) % settings.stride != 0) failCall(call);
    Check(reported >= (settings.stride == 1 ? 3 : 1), "only " + std::to_string(reported) + " failures reported");
}

TEST(EndToEnd, WithADebuggerAttached) {
    const Home home = FreshHome();
    WriteBytes(home.Inf(), "a.bmp,x,1:2/3\r\n");
    WriteBytes(home.Cfg(), "old=1\r\n");
    ::SetFileAttributesA(home.Cfg().c_str(), FILE_ATTRIBUTE_READONLY);
    const Debugged run = Debug(settings.program, settings.scratch);
    ::SetFileAttributesA(home.Cfg().c_str(), FILE_ATTRIBUTE_NORMAL);
    Check(run.boxes == 0, std::to_string(run.boxes) + " boxes shown");
    Check(run.failures == 2, "the failure reached the debugger " + std::to_string(run.failures) +
                                 " times, expected twice (first and second chance)");
    CheckEqual(run.kind, "EFCreateError", "kind given to the debugger");
    CheckEqual(run.message, "Cannot create file " + home.Cfg(), "message given to the debugger");
    Check(run.address >= run.moduleStart && run.address < run.moduleEnd, "raise address outside the program");
    Check(run.exitCode == 0xE0504D31u, "exit code " + std::to_string(run.exitCode) + ", not the exception's");
    CheckEqual(ReadBytes(home.Cfg()), "old=1\r\n", "configuration");
}

// Under each Windows that Wine can pretend to be: the outcomes and the save,
// and (traced) the privilege steps: on NT 4 and 5 one version query, then
// for each of the two privileges the token opened for adjusting, the name
// looked up, the adjustment and the token closed; elsewhere the version
// query alone.
class AsVersion : public ::testing::TestWithParam<const char*> {
protected:
    void TearDown() override { SetProgramVersion(nullptr); }
};
TEST_P(AsVersion, EveryOutcomeAndThePrivileges) {
    const std::string version = GetParam();
    SetProgramVersion(version.c_str());
    const Home home = FreshHome();
    ExpectOneBox(Start(settings.program, settings.scratch), "Error", TextIndexMissing, Error, 0);
    WriteBytes(home.Inf(), "b.bmp,B,2:5020/100\r\na.gif,A,1:2/3\r\n");
    const e2e::Run written = Start(settings.program, settings.scratch);
    ExpectOneBox(written, "Information", TextConverted, Information, 0);
    CheckEqual(ReadBytes(home.Cfg()), "1:2/3=" + home.Picture("a.gif") + "\r\n2:5020/100=" + home.Picture("b.bmp") + "\r\n",
               "configuration");
    if (Tracing())
        CheckPrivilegeCalls(written, version == "nt40" || version == "win2k" || version == "winxp" || version == "win2003");
    ::SetFileAttributesA(home.Cfg().c_str(), FILE_ATTRIBUTE_HIDDEN);
    WriteBytes(home.Inf(), "c.bmp,C,3:3/3\r\n");
    ExpectOneBox(Start(settings.program, settings.scratch), "Information", TextConverted, Information, 0);
    CheckEqual(ReadBytes(home.Cfg()),
               "1:2/3=" + home.Picture("a.gif") + "\r\n2:5020/100=" + home.Picture("b.bmp") + "\r\n3:3/3=" +
                   home.Picture("c.bmp") + "\r\n",
               "configuration merged");
    Check((::GetFileAttributesA(home.Cfg().c_str()) & FILE_ATTRIBUTE_HIDDEN) != 0, "no longer hidden");
    ::SetFileAttributesA(home.Cfg().c_str(), FILE_ATTRIBUTE_READONLY);
    ExpectOneBox(Start(settings.program, settings.scratch), "Application Error",
                 FailureText("EFCreateError", "Cannot create file " + home.Cfg()), Report, 1);
    ::SetFileAttributesA(home.Cfg().c_str(), FILE_ATTRIBUTE_NORMAL);
    WriteBytes(home.Inf(), "a.jpg,x,1:2/3\r\n");
    ::DeleteFileA(home.Cfg().c_str());
    ExpectOneBox(Start(settings.program, settings.scratch), "Error", TextNothingFound, Error, 0);
    Check(CountEntries(Join(home.root, "CFG")) == 0, "file left");
}
INSTANTIATE_TEST_SUITE_P(EndToEnd, AsVersion,
                         ::testing::Values("win95", "win98", "winme", "nt40", "win2k", "winxp", "win2003", "win7",
                                           "win10"));

// ---- A small disk ----

// The old configuration fits, the new one only where the old one's room is
// used again. Rewriting the file in place needs room for its growth alone.
struct Disk {
    const char* name;
    bool roomForGrowth;  // else 2 KiB are left
    bool lockFolder;     // no new file in the folder
};
class SmallDisk : public ::testing::TestWithParam<Disk> {};
TEST_P(SmallDisk, SavesWhatFitsAndKeepsTheOldFileOtherwise) {
    if (settings.fullDisk.empty()) GTEST_SKIP() << "no small disk given (--full-disk)";
    const Disk& disk = GetParam();
    const Home home = MakeHome(Join(settings.fullDisk, "home"));
    std::string index, old;
    for (int i = 0; i < 400; ++i) {
        const std::string n = std::to_string(i);
        index.append("p").append(n).append(".bmp,n,1:1/").append(n).append("\r\n");
    }
    for (int i = 0; i < 900; ++i) old.append("2:2/").append(std::to_string(i)).append("=C:\\Mail\\BMP\\old.bmp\r\n");
    WriteBytes(home.Inf(), index);
    WriteBytes(home.Cfg(), old);
    if (!disk.roomForGrowth) {
        ULARGE_INTEGER free{};
        ::GetDiskFreeSpaceExA((settings.fullDisk + "\\").c_str(), &free, nullptr, nullptr);
        if (free.QuadPart > 2048)
            WriteBytes(Join(home.root, "filler"), std::string(static_cast<std::size_t>(free.QuadPart - 2048), 'f'));
    }
    if (disk.lockFolder && !SetUnixMode(Join(home.root, "CFG"), 0555)) {
        RemoveTree(home.root);
        GTEST_SKIP() << "folder rights are set with access lists on Windows";
    }
    if (disk.roomForGrowth) {
        ExpectOneBox(Start(settings.program, settings.scratch), "Information", TextConverted, Information, 0);
        // Every old line and every new one, nothing else.
        const std::string now = "\n" + ReadBytes(home.Cfg());
        std::size_t expected = old.size();
        bool all = true;
        for (int i = 0; i < 900; ++i)
            all = all && now.find("\n2:2/" + std::to_string(i) + "=C:\\Mail\\BMP\\old.bmp\r\n") != std::string::npos;
        for (int i = 0; i < 400; ++i) {
            const std::string line =
                "1:1/" + std::to_string(i) + "=" + home.Picture("p" + std::to_string(i) + ".bmp") + "\r\n";
            expected += line.size();
            all = all && now.find("\n" + line) != std::string::npos;
        }
        Check(all && now.size() == expected + 1, "configuration not merged");
    } else {
        // By the time the report is shown, the program has closed and
        // removed its files: the configuration opens with no sharing.
        const auto closed = [&] {
            const HANDLE h = ::CreateFileA(home.Cfg().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                           0, nullptr);
            Check(h != INVALID_HANDLE_VALUE, "configuration still open while the report is shown");
            if (h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
            Check(CountEntries(Join(home.root, "CFG")) == 1, "temporary file still there while the report is shown");
        };
        ExpectOneBox(Start(settings.program, settings.scratch, closed), "Application Error",
                     FailureText("EWriteError", "Stream write error"), Report, 1);
        CheckEqual(ReadBytes(home.Cfg()), old, "configuration");
    }
    Check(CountEntries(Join(home.root, "CFG")) == 1, "temporary file left");
    SetUnixMode(Join(home.root, "CFG"), 0755);
    RemoveTree(home.root);
}
INSTANTIATE_TEST_SUITE_P(EndToEnd, SmallDisk,
                         ::testing::Values(Disk{"TooFullForASecondCopy", true, false}, Disk{"Full", false, false},
                                           Disk{"FullWhileRewritingInPlace", false, true}),
                         [](const ::testing::TestParamInfo<Disk>& p) { return p.param.name; });

}  // namespace
}  // namespace e2e
