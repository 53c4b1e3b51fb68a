#include "app/termination.h"

#include <QSocketNotifier>

#ifndef Q_OS_WIN
#include <fcntl.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>
#endif

namespace orvale::app {

#ifndef Q_OS_WIN
namespace {

int g_signalPipe[2] = {-1, -1};

// Only async-signal-safe work here: one byte into the pipe, and the other signal back to its
// default. SA_RESETHAND has already done that for this one, so a second Ctrl+C or SIGTERM ends
// the program at once even while the window is stuck and never gets to handle the first.
extern "C" void onSignal(int number) {
    // The interrupted code may be about to look at errno.
    const int savedErrno = errno;
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    ::sigaction(number == SIGINT ? SIGTERM : SIGINT, &fallback, nullptr);
    const char byte = 1;
    [[maybe_unused]] const auto n = ::write(g_signalPipe[1], &byte, 1);
    errno = savedErrno;
}

}  // namespace

int installTerminationSignals() {
    if (g_signalPipe[0] < 0 && ::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        return -1;
    }
    struct sigaction action {};
    action.sa_handler = onSignal;
    // Neither signal interrupts the handler of the other: each finds the other already reset.
    sigemptyset(&action.sa_mask);
    sigaddset(&action.sa_mask, SIGINT);
    sigaddset(&action.sa_mask, SIGTERM);
    action.sa_flags = static_cast<int>(SA_RESTART | SA_RESETHAND);  // SA_RESETHAND is the sign bit
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    return g_signalPipe[0];
}
#else
int installTerminationSignals() { return -1; }
#endif

TerminationHandler::TerminationHandler(std::function<void()> onTerminate, QObject* parent)
    : QObject(parent), m_onTerminate(std::move(onTerminate)) {
#ifndef Q_OS_WIN
    const int readEnd = installTerminationSignals();
    if (readEnd < 0) {
        return;
    }
    auto* notifier = new QSocketNotifier(readEnd, QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this, readEnd] {
        char bytes[16];
        while (::read(readEnd, bytes, sizeof bytes) > 0) {
        }
        if (m_onTerminate) m_onTerminate();
    });
#endif
}

TerminationHandler::~TerminationHandler() {
#ifndef Q_OS_WIN
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
#endif
}

}  // namespace orvale::app
