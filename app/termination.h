#pragma once

#include <QObject>
#include <functional>

namespace orvale::app {

/// Installs the handlers of SIGINT and SIGTERM: the first of them writes one byte into a pipe
/// and returns both signals to their default action, so that a second one, of either kind,
/// ends the process at once. Returns the pipe's non-blocking read end (the same on every call),
/// or -1 where the platform has no such signals or no pipe could be made. Uses no Qt.
int installTerminationSignals();

/// Turns SIGINT and SIGTERM into a call of `onTerminate` on the user-interface thread, so that
/// a program asked to stop (a desktop logout, Ctrl+C, a script) ends its window normally and a
/// recording is closed whole; asked twice, it ends at once (see installTerminationSignals).
/// Does nothing where the platform has no such signals.
class TerminationHandler final : public QObject {
    Q_OBJECT

public:
    explicit TerminationHandler(std::function<void()> onTerminate, QObject* parent = nullptr);
    ~TerminationHandler() override;

private:
    std::function<void()> m_onTerminate;
};

}  // namespace orvale::app
