// Waiting in tests for a state that no event announces (a thread going idle, a request arriving).
#pragma once

#include <functional>

namespace pv::test {

// Polls condition every 5 ms until it holds or timeoutMs passed; its last result. Give a generous
// limit: it is only reached when something is broken.
bool WaitUntil(const std::function<bool()>& condition, int timeoutMs);

}  // namespace pv::test
