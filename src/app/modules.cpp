#include "app/modules.h"

#include "winsys/winversion.h"

namespace pm {
namespace {

const ModuleEntry programModules[] = {
    {"FailureSupport", FailureSupportStartup, FailureSupportShutdown},
    {"Registry", nullptr, nullptr},
    {"WindowsVersion", nullptr, nullptr},
    {"Privileges", EnableStartupPrivileges, nullptr},
    {"NetAddress", nullptr, nullptr},
    {"Pictomap", nullptr, nullptr},
};

}  // namespace

const ModuleEntry* ProgramModules(std::size_t& count) {
    count = sizeof programModules / sizeof programModules[0];
    return programModules;
}

}  // namespace pm
