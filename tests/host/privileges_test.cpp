// The version is asked for once per process and remembered: each case runs
// in a process of its own (a death test), where nothing is remembered yet.
// A case passes when its process ends with 0 and says nothing.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>

#include "hostplatform/hostplatform.h"
#include "winsys/winversion.h"

namespace pm {
namespace {

bool failed = false;
void Check(bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "%s\n", what);
    failed = true;
}

void InFreshProcess(const plat::VersionInfo& version, bool versionSucceeds, const std::function<void()>& body) {
    const auto run = [&] {
        host::Reset();
        host::SetVersion(version, versionSucceeds);
        body();
        Check(host::OpenTokens() == 0, "token left open");
        std::fflush(stderr);
        std::_Exit(failed ? 1 : 0);
    };
    EXPECT_EXIT(run(), ::testing::ExitedWithCode(0), "^$");
}

TEST(PrivilegesDeathTest, StartupEnablesBothOnNtFourAndFive) {
    for (const plat::VersionInfo version : {plat::VersionInfo{4, 0, 1381, 2}, plat::VersionInfo{5, 0, 2195, 2},
                                            plat::VersionInfo{5, 2, 3790, 2}}) {
        InFreshProcess(version, true, [] {
            EnableStartupPrivileges();
            const auto& made = host::Adjustments();
            Check(made.size() == 2, "two adjustments");
            Check(made.size() == 2 && made[0].privilege == "SeTakeOwnershipPrivilege" &&
                      made[1].privilege == "SeChangeNotifyPrivilege",
                  "take ownership first, then change notify");
            Check(made.size() == 2 && made[0].attributes == plat::SePrivilegeEnabled &&
                      made[1].attributes == plat::SePrivilegeEnabled,
                  "both enabled");
            Check(host::VersionQueries() == 1, "one version query");
        });
    }
}

TEST(PrivilegesDeathTest, NothingOnSystemsNotClassifiedAsNt) {
    for (const plat::VersionInfo version : {plat::VersionInfo{6, 0, 6000, 2}, plat::VersionInfo{4, 10, 2222, 1},
                                            plat::VersionInfo{3, 51, 1057, 2}, plat::VersionInfo{3, 1, 0, 0}}) {
        InFreshProcess(version, true, [] {
            EnableStartupPrivileges();
            Check(host::Adjustments().empty(), "no adjustment");
            Check(!SetProcessPrivilege("SeChangeNotifyPrivilege", true), "false without a token call");
            Check(host::VersionQueries() == 1, "one version query, remembered");
        });
    }
}

TEST(PrivilegesDeathTest, RefusalsGiveFalse) {
    InFreshProcess({5, 1, 2600, 2}, true, [] {
        Check(!SetProcessPrivilege("SeNoSuchPrivilege", true), "unknown name: false");
        Check(host::Adjustments().empty(), "unknown name: no adjustment");
        host::SetTokenOpens(false);
        Check(!SetProcessPrivilege("SeChangeNotifyPrivilege", true), "token refused: false");
        host::SetTokenOpens(true);
        Check(SetProcessPrivilege("SeChangeNotifyPrivilege", false), "disabling: true");
        Check(host::Adjustments().size() == 1 && host::Adjustments()[0].attributes == 0, "disabling asks for 0");
    });
}

TEST(PrivilegesDeathTest, FailedVersionQueryIsUnrecognisedAndRemembered) {
    InFreshProcess({5, 1, 2600, 2}, false, [] {
        Check(GetWindowsVersion() == VersionUnrecognised, "unrecognised");
        host::SetVersion({5, 1, 2600, 2}, true);
        Check(GetWindowsVersion() == VersionUnrecognised, "still unrecognised");
        Check(!IsWindowsNT4Or5(), "not NT");
        Check(host::VersionQueries() == 1, "one version query");
    });
}

}  // namespace
}  // namespace pm
