#include "app/termination.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <thread>

#include <sys/wait.h>
#include <unistd.h>

namespace orvale::app {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kDeadline = std::chrono::seconds(20);

/// The signals `pid` catches, from /proc/<pid>/status; nullopt once it is gone.
std::optional<std::uint64_t> caughtSignals(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.starts_with("SigCgt:")) return std::stoull(line.substr(7), nullptr, 16);
    }
    return std::nullopt;
}

bool catches(std::uint64_t mask, int signal) { return (mask >> (signal - 1) & 1u) != 0; }

/// Waits for `pid` to end; kills it and gives nullopt when it outlives the deadline.
std::optional<int> waitForExit(pid_t pid) {
    const auto end = Clock::now() + kDeadline;
    int status = 0;
    while (Clock::now() < end) {
        if (::waitpid(pid, &status, WNOHANG) == pid) return status;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    return std::nullopt;
}

// A second Ctrl+C or SIGTERM used to be swallowed like the first: with the window stuck (in a
// blocking open, say) nothing but SIGKILL ended Orvale.
TEST(Termination, TheSecondSignalEndsTheProgramAtOnce) {
    const struct {
        int first;
        int second;
    } cases[] = {
        {SIGINT, SIGINT},
        {SIGINT, SIGTERM},
        {SIGTERM, SIGINT},
        {SIGTERM, SIGTERM},
    };
    for (const auto& c : cases) {
        const auto trace = ::testing::Message()
                           << strsignal(c.first) << ", then " << strsignal(c.second);
        int ready[2];
        int stuck[2];
        ASSERT_EQ(::pipe(ready), 0);
        ASSERT_EQ(::pipe(stuck), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            // Async-signal-safe calls only: this test process has threads.
            const int notified = installTerminationSignals();
            char byte = notified < 0 ? 'x' : 'r';
            if (::write(ready[1], &byte, 1) != 1) ::_exit(3);
            // Stuck as the window was: a blocking call that SA_RESTART resumes after the
            // first signal.
            while (::read(stuck[0], &byte, 1) != 0) {
            }
            ::_exit(4);
        }
        ::close(ready[1]);
        ::close(stuck[0]);
        char byte = 0;
        ASSERT_EQ(::read(ready[0], &byte, 1), 1) << trace;
        ASSERT_EQ(byte, 'r') << trace;

        ASSERT_EQ(::kill(child, c.first), 0);
        // Handled, not fatal: the child lives on and catches neither signal any more. Two
        // signals of one kind sent together would arrive as one, so the second waits for this.
        const auto end = Clock::now() + kDeadline;
        std::optional<std::uint64_t> mask = caughtSignals(child);
        while (mask && (catches(*mask, SIGINT) || catches(*mask, SIGTERM)) && Clock::now() < end) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            mask = caughtSignals(child);
        }
        EXPECT_TRUE(mask && !catches(*mask, SIGINT) && !catches(*mask, SIGTERM))
            << trace << ": still catches a signal after the first";
        int status = 0;
        EXPECT_EQ(::waitpid(child, &status, WNOHANG), 0) << trace << ": the first signal killed it";

        ::kill(child, c.second);
        const std::optional<int> exit = waitForExit(child);
        ::close(ready[0]);
        ::close(stuck[1]);
        ASSERT_TRUE(exit) << trace << ": still running after the second signal";
        EXPECT_TRUE(WIFSIGNALED(*exit) && WTERMSIG(*exit) == c.second)
            << trace << ": ended with status " << *exit;
    }
}

}  // namespace
}  // namespace orvale::app
