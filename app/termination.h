#pragma once

#include <QObject>
#include <functional>

namespace orvale::app {

/// Turns SIGINT and SIGTERM into a call of `onTerminate` on the user-interface thread, so that
/// a program asked to stop (a desktop logout, Ctrl+C, a script) ends its window normally and a
/// recording is closed whole. Does nothing where the platform has no such signals.
class TerminationHandler final : public QObject {
    Q_OBJECT

public:
    explicit TerminationHandler(std::function<void()> onTerminate, QObject* parent = nullptr);
    ~TerminationHandler() override;

private:
    std::function<void()> m_onTerminate;
};

}  // namespace orvale::app
