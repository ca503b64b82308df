#include "base/runtimeerror.h"

#include <cstdlib>
#include <cstring>

#include "base/failure.h"

namespace pm {
namespace {

bool installed = false;
char intOverflowMessage[64];
char rangeErrorMessage[64];
EOutOfMemory* outOfMemory = nullptr;
RuntimeErrorExit exitWith = nullptr;

void CopyText(char (&to)[64], const char* from) {
    std::strncpy(to, from ? from : "", sizeof to - 1);
    to[sizeof to - 1] = '\0';
}

}  // namespace

void RaiseRuntimeError(std::uint32_t runtimeError, std::uintptr_t address) {
    if (installed) {
        switch (runtimeError) {
        case RuntimeOutOfMemory: ThrowAt(*outOfMemory, address);
        case RuntimeIntOverflow: ThrowAt(EIntOverflow(intOverflowMessage), address);
        default: ThrowAt(ERangeError(rangeErrorMessage), address);
        }
    }
    if (exitWith) exitWith(runtimeError, address);
    std::abort();  // no frame to end the process through
}

void SetRuntimeErrorExit(RuntimeErrorExit exit) { exitWith = exit; }

void InstallFailureSupport(const char* intOverflowText, const char* rangeErrorText) {
    CopyText(intOverflowMessage, intOverflowText);
    CopyText(rangeErrorMessage, rangeErrorText);
    if (!outOfMemory) outOfMemory = new EOutOfMemory();
    installed = true;
}

void RemoveFailureSupport() {
    installed = false;
    delete outOfMemory;
    outOfMemory = nullptr;
}

bool FailureSupportInstalled() { return installed; }

const EOutOfMemory* PremadeOutOfMemory() { return outOfMemory; }

}  // namespace pm
