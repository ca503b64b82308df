#include <gtest/gtest.h>

#include "winsys/platform.h"
#include "winsys/winversion.h"

namespace pm {
namespace {

TEST(WindowsVersion, ClassifiesEveryRowOfTheTable) {
    const struct {
        std::uint32_t platform, major, minor, build;
        WindowsVersion code;
    } rows[] = {
        {0, 3, 1, 0, VersionWin32s},           {1, 4, 0, 950, VersionWin95},
        {1, 4, 10, 2222, VersionWin98},        {1, 4, 10, 1998, VersionWin98},
        {1, 4, 90, 3000, VersionWinMe},        {1, 4, 3, 0, VersionUnrecognised},
        {1, 5, 0, 0, VersionWin95},            {2, 4, 0, 1381, VersionWinNT4},
        {2, 5, 0, 2195, VersionWin2000},       {2, 5, 1, 2600, VersionWinXP},
        {2, 5, 2, 3790, VersionWinXP},         {2, 5, 0, 2461, VersionWin2000},
        {2, 5, 7, 2462, VersionWinXP},         {2, 5, 0, 40000, VersionWinXP},
        {2, 5, 0, 0x10000 + 2000, VersionWin2000}, {2, 6, 0, 6000, VersionUnrecognised},
        {2, 10, 0, 19045, VersionUnrecognised}, {2, 3, 51, 1057, VersionUnrecognised},
        {3, 5, 1, 2600, VersionUnrecognised},
    };
    for (const auto& row : rows) {
        const plat::VersionInfo info{row.major, row.minor, row.build, row.platform};
        EXPECT_EQ(ClassifyVersion(info), row.code)
            << row.platform << " " << row.major << "." << row.minor << " build " << row.build;
    }
}

// The version is asked for at most once per process: once it is known,
// no call reaches the system's GetVersionExA again (counted by a table that
// wraps the system's calls), whatever the answer was.
int versionQueries = 0;
const plat::Calls* wrapped = nullptr;
bool CountingGetVersionEx(plat::VersionInfo& info) {
    ++versionQueries;
    return wrapped->GetVersionEx(info);
}

TEST(WindowsVersion, AskedAtMostOnceAndRemembered) {
    wrapped = &plat::Active();
    plat::Calls counting = *wrapped;
    counting.GetVersionEx = CountingGetVersionEx;
    plat::UseCalls(&counting);
    const WindowsVersion first = GetWindowsVersion();
    EXPECT_LE(versionQueries, 1);
    const int asked = versionQueries;
    EXPECT_EQ(GetWindowsVersion(), first);
    EXPECT_EQ(IsWindowsNT4Or5(), first == VersionWinNT4 || first == VersionWin2000 || first == VersionWinXP);
    EXPECT_EQ(versionQueries, asked);
    plat::UseCalls(wrapped == &plat::SystemCalls() ? nullptr : wrapped);
}

}  // namespace
}  // namespace pm
