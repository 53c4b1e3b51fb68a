#pragma once

#include <QMap>
#include <QString>
#include <optional>
#include <utility>

namespace orvale::controls {

/// Which device a port number opens. On Windows COMn is the system's COMn. Elsewhere COMn is
/// /dev/ttyS<n-1> unless a mapping names another device (a USB adapter such as /dev/ttyUSB0,
/// a /dev/serial/by-id/ link, or a pseudo-terminal).
class PortMap {
public:
    /// The device path for port `number` (1 and up).
    [[nodiscard]] QString devicePath(int number) const;
    void map(int number, const QString& devicePath) { m_paths.insert(number, devicePath); }
    [[nodiscard]] bool isMapped(int number) const { return m_paths.contains(number); }

    /// Parses "COM<n>=<device path>" as given to --port. Nothing when malformed; `error` then
    /// says why.
    static std::optional<std::pair<int, QString>> parseMapping(const QString& text, QString* error);

private:
    QMap<int, QString> m_paths;
};

}  // namespace orvale::controls
