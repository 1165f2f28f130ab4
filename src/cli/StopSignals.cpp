#include "cli/StopSignals.h"

#include <atomic>
#include <csignal>

#include <unistd.h>

namespace {
std::atomic<bool> g_requested{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the flag is set from a signal handler");

void onSignal(int number)
{
    if (g_requested.exchange(true)) {
        // The second: as if no handler were there.
        ::signal(number, SIG_DFL);
        ::raise(number);
        return;
    }
    static const char text[] = "\nStopping (press Ctrl+C again to end at once)...\n";
    [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, text, sizeof text - 1);
}
}

namespace StopSignals {

void install()
{
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    // Calls under way go on (the journal's disk waits among them); the
    // terminal's reads wait in poll(), which the signal always ends.
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

bool requested() { return g_requested.load(); }

void request() { g_requested.store(true); }
}
