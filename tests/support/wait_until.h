// Waiting for what a test expects, with a deadline on the monotonic clock.
#pragma once

#include <chrono>
#include <thread>

namespace varnel::test {

// Checks `done` every few milliseconds until it holds or `timeout` has passed; whether it held.
template <typename F>
bool waitUntil(F done, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

}  // namespace varnel::test
