// What a step raised, for tests that check failures by their words.
#pragma once

#include <string>

#include "base/failure.h"

namespace pm::test {

// "Kind: message" of the failure `action` raises, or "" when it raises none.
template <class Action>
std::string FailureOf(Action&& action) {
    try {
        action();
    } catch (const Exception& failure) {
        return std::string(failure.KindName()) + ": " + failure.Message();
    }
    return {};
}

}  // namespace pm::test
