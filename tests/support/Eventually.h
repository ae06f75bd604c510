// Waiting in tests for what another thread makes true, within a limit.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace tc::testing {

inline bool eventually(const std::function<bool()>& done,
                       std::chrono::milliseconds limit = std::chrono::milliseconds(5000)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
}

}  // namespace tc::testing
