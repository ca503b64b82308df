// What the program relies on from Windows itself, checked on the real API
// (under Wine on Linux, or on Windows).
#include "winsys/windows_win32.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <functional>
#include <random>
#include <vector>

#include "app/conversion.h"
#include "base/failure.h"
#include "support/files.h"
#include "support/failure_of.h"
#include "runtime/failurereport.h"
#include "runtime/filesave.h"
#include "runtime/linelist.h"
#include "runtime/orderkey.h"
#include "support.h"
#include "winsys/platform.h"
#include "winsys/registry.h"

namespace pm {
namespace {

// Wine answers a few calls differently from Windows; those checks say so.
bool RunningOnWine() {
    const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    return ntdll && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

std::string Fail(void (*action)(const std::string&), const std::string& path) {
    return test::FailureOf([&] { action(path); });
}

TEST(Win32, CompareStringOrdersLinesIgnoringCase) {
    EXPECT_EQ(CompareLines("", ""), 0);
    EXPECT_LT(CompareLines("", "a"), 0);
    EXPECT_LT(CompareLines("", "1"), 0);
    EXPECT_EQ(CompareLines("ABC=x", "abc=X"), 0);
    EXPECT_LT(CompareLines("a=y", "B=x"), 0);
    EXPECT_GT(CompareLines("b", "A"), 0);
    EXPECT_LT(CompareLines("1:2/3=C:\\a.bmp", "1:2/4=C:\\a.bmp"), 0);
}

// The list settles comparisons by sort-key prefixes where they differ; that
// is sound only while sort keys order as CompareStringA does. Random texts
// rich in what collation treats specially must all agree.
TEST(Win32, SortKeysOrderAsCompareStringDoes) {
    std::mt19937 random(42);
    const char pool[] = "aAbBzZ019:/.=\\- '_,\t\xE4\xC4\xE9\xDF\xFF\x01";
    int disagreements = 0;
    for (int i = 0; i < 30000; ++i) {
        std::string a, b;
        for (int n = static_cast<int>(random() % 14); n > 0; --n) a += pool[random() % (sizeof pool - 1)];
        b = a.substr(0, random() % (a.size() + 1));
        for (int n = static_cast<int>(random() % 14); n > 0; --n) b += pool[random() % (sizeof pool - 1)];
        const int byCompare = CompareLines(a, b);
        std::string fullA, fullB;
        ASSERT_TRUE(plat::MakeSortKey(a.data(), a.size(), fullA) && plat::MakeSortKey(b.data(), b.size(), fullB));
        const int byPrefix = CompareOrderPrefixes(PackOrderPrefix(fullA), PackOrderPrefix(fullB));
        if (byPrefix != 0 && byPrefix != byCompare && ++disagreements <= 5)
            ADD_FAILURE() << "[" << a << "] [" << b << "] compare " << byCompare << " prefix " << byPrefix;
        // Whole keys, equality included, since equal keys settle a comparison.
        const int byKey = CompareOrderKeys(fullA, fullB);
        if (byKey != byCompare && ++disagreements <= 5)
            ADD_FAILURE() << "[" << a << "] [" << b << "] compare " << byCompare << " key " << byKey;
    }
    EXPECT_EQ(disagreements, 0);
}

// Long lines in which hyphens, apostrophes and dashes (which word sort
// weighs apart, by their position) stand around characters 256, 512 and
// 768, where their position in the key holds a zero byte: whole keys,
// compared with their length, order as CompareStringA does. Each group is
// one line and its variants, every pair of the group compared.
TEST(Win32, WholeSortKeysOfLongLinesOrderAsCompareStringDoes) {
    std::mt19937 random(7);
    const char letters[] = "aAbBcCzZ0189";
    const char specials[] = "-'\x96\x97\xAD";
    const auto special = [&] { return specials[random() % (sizeof specials - 1)]; };
    std::uint64_t pairs = 0;
    int disagreements = 0;
    for (int group = 0; pairs < 300000; ++group) {
        std::string base;
        const std::size_t length = 1 + random() % (group % 4 == 0 ? 2000 : 800);
        for (std::size_t i = 0; i < length; ++i) base += letters[random() % (sizeof letters - 1)];
        std::vector<std::string> lines{base};
        for (int v = 0; v < 40; ++v) {
            std::string line = lines[random() % lines.size()];
            const std::size_t around = 256 * (1 + random() % 3) + random() % 5 - 2;
            const std::size_t at = random() % 3 == 0 || line.size() <= around ? random() % (line.size() + 1) : around;
            switch (random() % 5) {
            case 0: line.insert(at, 1, special()); break;
            case 1: if (at < line.size()) line[at] = special(); break;
            case 2:  // the other letter case
                if (at < line.size() && std::isalpha(static_cast<unsigned char>(line[at])))
                    line[at] = static_cast<char>(line[at] ^ 0x20);
                break;
            case 3: if (at < line.size()) line.erase(at, 1); break;
            default: line.insert(at, 1, letters[random() % (sizeof letters - 1)]); break;
            }
            lines.push_back(line);
        }
        std::vector<std::string> keys(lines.size());
        for (std::size_t i = 0; i < lines.size(); ++i)
            ASSERT_TRUE(plat::MakeSortKey(lines[i].data(), lines[i].size(), keys[i]));
        for (std::size_t i = 0; i < lines.size(); ++i) {
            for (std::size_t j = i + 1; j < lines.size(); ++j, ++pairs) {
                const int byCompare = CompareLines(lines[i], lines[j]);
                const int byKey = CompareOrderKeys(keys[i], keys[j]);
                if (byKey != byCompare && ++disagreements <= 5)
                    ADD_FAILURE() << "lines of " << lines[i].size() << " and " << lines[j].size()
                                  << " characters: compare " << byCompare << ", key " << byKey;
            }
        }
    }
    EXPECT_EQ(disagreements, 0) << "in " << pairs << " pairs";
}

// Where the order prefixes tie, whole keys settle it: two lines that differ
// only where a key holds a zero byte stay two, in CompareStringA's order.
TEST(Win32, LongLinesWithHyphensStayApartAndInOrder) {
    const std::string p(237, 'p');
    const std::string prefix = "1:2/3=C:\\Mail\\BMP\\" + p;
    LineList list;
    list.AddLine(prefix + "-x.bmp");
    list.SetSortedMode(true);
    list.MergeLine(prefix + "'x.bmp");
    list.FinishMerges();
    ASSERT_EQ(CompareLines(prefix + "-x.bmp", prefix + "'x.bmp") != 0, true);
    EXPECT_EQ(list.LineCount(), 2);

    const std::string q(255, 'p');
    LineList sorted;
    sorted.AddLine(q + "-a-b");
    sorted.AddLine(q + "-ab");
    sorted.SetSortedMode(true);
    ASSERT_EQ(sorted.LineCount(), 2);
    EXPECT_LT(CompareLines(sorted.LineView(0), sorted.LineView(1)), 0);
}

TEST(Win32, OpenAndCreateFollowShareModesAndReadOnly) {
    test::ScratchDir dir;
    const std::string path = dir.Path("PictoCfg.cfg");
    dir.Write("PictoCfg.cfg", "old\r\n");
    const auto read = [](const std::string& p) {
        LineList list;
        test::ReadLines(list, p);
    };
    const auto write = [](const std::string& p) {
        LineList list;
        list.AddLine("new");
        test::WriteLines(list, p);
    };
    {
        // Another handle holds the file open for writing: it cannot be read
        // (our read shares reading only) nor replaced.
        const HANDLE other = ::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(other, INVALID_HANDLE_VALUE);
        EXPECT_EQ(Fail(read, path), "EFOpenError: Cannot open file " + path);
        EXPECT_EQ(Fail(write, path), "EFCreateError: Cannot create file " + path);
        ::CloseHandle(other);
    }
    {
        // Open for reading elsewhere, sharing reading only: still refused.
        const HANDLE other = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                           FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(other, INVALID_HANDLE_VALUE);
        EXPECT_EQ(Fail(write, path), "EFCreateError: Cannot create file " + path);
        ::CloseHandle(other);
    }
    EXPECT_EQ(dir.Read("PictoCfg.cfg"), "old\r\n");

    ASSERT_TRUE(::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(Fail(write, path), "EFCreateError: Cannot create file " + path);
    EXPECT_EQ(dir.Read("PictoCfg.cfg"), "old\r\n");
    EXPECT_EQ(Fail(read, path), "");
    ASSERT_TRUE(::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ(dir.EntryCount(), 1u) << "temporary file left";

    EXPECT_EQ(Fail(read, dir.Path("")), "EFOpenError: Cannot open file " + dir.Path(""));
}

TEST(Win32, ReplacingKeepsTheOldFilesAttributes) {
    test::ScratchDir dir;
    const std::string path = dir.Path("PictoCfg.cfg");
    dir.Write("PictoCfg.cfg", "old\r\n");
    ASSERT_TRUE(::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_HIDDEN));
    LineList list;
    list.AddLine("new");
    test::WriteLines(list, path);
    EXPECT_EQ(dir.Read("PictoCfg.cfg"), "new\r\n");
    // Windows carries the old file's attributes over, Wine's ReplaceFile
    // does not: the save sets them again.
    EXPECT_TRUE(::GetFileAttributesA(path.c_str()) & FILE_ATTRIBUTE_HIDDEN);
    EXPECT_EQ(dir.EntryCount(), 1u);
}

// The save on 95, 98 and Me renames with MoveFileA, which must refuse a
// name that is taken and keep the file's attributes; what a cut leaves is
// finished by the next run.
TEST(Win32, RenamesRefuseTakenNamesAndRecoveryFinishesThem) {
    test::ScratchDir dir;
    const std::string path = dir.Path("PictoCfg.cfg"), backup = dir.Path("PictoCfg.~BK");
    dir.Write("PictoCfg.cfg", "new\r\n");
    dir.Write("PictoCfg.~BK", "old\r\n");
    EXPECT_FALSE(::MoveFileA(backup.c_str(), path.c_str()));
    EXPECT_EQ(dir.Read("PictoCfg.cfg"), "new\r\n");
    // Both there: the backup is named for the caller to keep its lines.
    EXPECT_EQ(test::Recover(path), std::vector<std::string>{backup});
    EXPECT_EQ(dir.Read("PictoCfg.cfg"), "new\r\n");
    EXPECT_EQ(dir.EntryCount(), 2u);
    ASSERT_TRUE(::DeleteFileA(backup.c_str()));

    ASSERT_TRUE(::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
    ASSERT_TRUE(::MoveFileA(path.c_str(), backup.c_str()));
    test::Recover(path);  // the backup alone: it goes back
    EXPECT_EQ(dir.Read("PictoCfg.cfg"), "new\r\n");
    EXPECT_EQ(::GetFileAttributesA(path.c_str()) & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM),
              static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
    EXPECT_EQ(dir.EntryCount(), 1u);
    ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
}

// A backup that a scanner holds with no sharing cannot be removed, but its
// attributes can be set: it is marked read-only, and once let go, the
// next run removes it without taking its lines back.
TEST(Win32, AHeldBackupIsMarkedAndRemovedLater) {
    test::ScratchDir dir;
    const std::string path = dir.Path("PictoCfg.cfg"), backup = dir.Path("PictoCfg.~BK");
    dir.Write("PictoCfg.cfg", "new\r\n");
    dir.Write("PictoCfg.~BK", "old\r\n");
    const HANDLE scanner = ::CreateFileA(backup.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(scanner, INVALID_HANDLE_VALUE);
    Patience patience;
    DiscardBackup(backup, patience);
    EXPECT_EQ(::GetFileAttributesA(backup.c_str()) & FILE_ATTRIBUTE_READONLY, static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
    ::CloseHandle(scanner);
    EXPECT_EQ(test::Recover(path), std::vector<std::string>{});
    EXPECT_EQ(dir.Read("PictoCfg.cfg"), "new\r\n");
    EXPECT_EQ(dir.EntryCount(), 1u);
}

// The error codes the save and its recovery tell apart, as Windows sets
// them. A marker is set before each call, as Wine's own tests do, so that a
// code left over from an earlier call cannot pass.
TEST(Win32, FailedCallsSetTheErrorsTheSaveTellsApart) {
    test::ScratchDir dir;
    dir.Write("there.cfg", "x");
    dir.Write("other.cfg", "y");
    dir.Write("marked.cfg", "z");
    const std::string there = dir.Path("there.cfg"), missing = dir.Path("missing.cfg"),
                      marked = dir.Path("marked.cfg");
    ASSERT_TRUE(::SetFileAttributesA(marked.c_str(), FILE_ATTRIBUTE_READONLY));
    const HANDLE held = ::CreateFileA(dir.Path("other.cfg").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    std::uint32_t attributes = 0;
    const auto opened = [](plat::FileHandle file) {
        if (file == plat::InvalidFile) return false;
        plat::CloseFile(file);
        return true;
    };
    const auto exists = [](std::uint32_t e) { return e == plat::ErrorFileExists || e == plat::ErrorAlreadyExists; };
    const struct {
        const char* what;
        std::function<bool()> call;
        std::function<bool(std::uint32_t)> expected;
    } rows[] = {
        {"attributes of a missing file", [&] { return plat::GetFileAttributes(missing, attributes); }, plat::NoSuchFile},
        {"attributes in a missing folder",
         [&] { return plat::GetFileAttributes(dir.Path("no\\such.cfg"), attributes); }, plat::NoSuchFile},
        {"search for a missing file", [&] { return plat::FindFirst(missing, attributes); }, plat::NoSuchFile},
        {"a new file where one is",
         [&] { return opened(plat::CreateFile(there, plat::GenericWrite, 0, plat::CreateNew)); }, exists},
        {"a rename onto a file", [&] { return plat::MoveFile(marked, there); }, exists},
        {"a file held without sharing",
         [&] { return opened(plat::CreateFile(dir.Path("other.cfg"), plat::GenericRead, plat::FileShareRead,
                                              plat::OpenExisting)); },
         [](std::uint32_t e) { return e == plat::ErrorSharingViolation; }},
        {"writing a read-only file",
         [&] { return opened(plat::CreateFile(marked, plat::GenericWrite, 0, plat::OpenExisting)); },
         [](std::uint32_t e) { return e == plat::ErrorAccessDenied; }},
        {"removing a read-only file", [&] { return plat::DeleteFile(marked); },
         [](std::uint32_t e) { return e == plat::ErrorAccessDenied; }},
    };
    for (const auto& row : rows) {
        ::SetLastError(0xdeadbeef);
        EXPECT_FALSE(row.call()) << row.what;
        const std::uint32_t error = plat::LastError();
        EXPECT_TRUE(row.expected(error)) << row.what << ": error " << error;
    }
    ::CloseHandle(held);
    ::SetFileAttributesA(marked.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST(Win32, ExistenceByDirectorySearch) {
    test::ScratchDir dir;
    dir.Write("fmmp0000.inf", "x");
    dir.MakeDir("folder.inf");
    dir.Write("old.cfg", "x");
    dir.Write("late.cfg", "x");
    EXPECT_TRUE(FileExists(dir.Path("fmmp0000.inf")));
    EXPECT_TRUE(FileExists(dir.Path("FMMP0000.INF")));
    EXPECT_TRUE(FileExists(dir.Path("fmmp000?.inf")));
    EXPECT_TRUE(FileExists(dir.Path("*.inf")));
    EXPECT_FALSE(FileExists(dir.Path("folder.inf")));
    EXPECT_FALSE(FileExists(dir.Path("missing.inf")));
    EXPECT_FALSE(FileExists(dir.Path("no\\such\\fmmp0000.inf")));
    // Dated 1970 and 2110, outside what a DOS date can hold: still there.
    const struct {
        const char* name;
        ULONGLONG seconds;
    } dated[] = {{"old.cfg", 11644473600ULL}, {"late.cfg", 11644473600ULL + 4417977600ULL}};
    for (const auto& d : dated) {
        const std::string path = dir.Path(d.name);
        const HANDLE file = ::CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        const ULONGLONG ticks = d.seconds * 10000000ULL;
        FILETIME time{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
        ASSERT_TRUE(::SetFileTime(file, nullptr, nullptr, &time));
        ::CloseHandle(file);
        FILETIME local;
        WORD date, clock;
        ::FileTimeToLocalFileTime(&time, &local);
        // Windows has no DOS date for these; Wine makes one up.
        if (!RunningOnWine()) {
            EXPECT_FALSE(::FileTimeToDosDateTime(&local, &date, &clock)) << d.name;
        }
        EXPECT_TRUE(FileExists(path)) << d.name;
    }
}

TEST(Win32, FailureReportNamesTheModuleThatRaised) {
    char path[MAX_PATH];
    ::GetModuleFileNameA(nullptr, path, sizeof path);
    const std::string name = std::strrchr(path, '\\') + 1;
    const auto base = reinterpret_cast<std::uintptr_t>(::GetModuleHandleA(nullptr));
    const EFCreateError failure("Cannot create file x");
    char text[1024];
    ComposeFailureText(&failure, failure.KindName(), base + 0x102A, text, sizeof text);
    EXPECT_STREQ(text, ("Exception EFCreateError in module " + name + " at 0000102A.\nCannot create file x.").c_str());
    // An address in a system DLL names that DLL.
    const auto kernel = reinterpret_cast<std::uintptr_t>(::GetModuleHandleA("kernel32.dll"));
    ComposeFailureText(&failure, failure.KindName(), kernel + 0x1000, text, sizeof text);
    EXPECT_NE(std::strstr(text, "in module kernel32.dll at 00001000."), nullptr) << text;
}

}  // namespace
}  // namespace pm
