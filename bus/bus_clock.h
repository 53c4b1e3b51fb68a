#pragma once

#include <chrono>
#include <cstdint>

namespace orvale::bus {

/// Milliseconds of a steady clock: the time base of every frame Orvale reads, writes or expects.
[[nodiscard]] inline std::uint64_t steadyMs() noexcept {
    using namespace std::chrono;
    return static_cast<std::uint64_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

/// Microseconds since the epoch by the system's clock, as candump logs and the CSV recording
/// time their lines.
[[nodiscard]] inline std::uint64_t wallMicros() noexcept {
    using namespace std::chrono;
    return static_cast<std::uint64_t>(
        duration_cast<microseconds>(system_clock::now().time_since_epoch()).count());
}

}  // namespace orvale::bus
