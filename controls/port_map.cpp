#include "controls/port_map.h"

#include "link/connection.h"

namespace orvale::controls {

QString PortMap::devicePath(int number) const {
    if (const auto it = m_paths.constFind(number); it != m_paths.constEnd()) {
        return *it;
    }
#ifdef Q_OS_WIN
    return QStringLiteral("COM%1").arg(number);
#else
    return QStringLiteral("/dev/ttyS%1").arg(number - 1);
#endif
}

std::optional<std::pair<int, QString>> PortMap::parseMapping(const QString& text, QString* error) {
    const auto fail = [&](const QString& why) -> std::optional<std::pair<int, QString>> {
        if (error) *error = why;
        return std::nullopt;
    };
    const qsizetype eq = text.indexOf(QLatin1Char('='));
    if (eq < 0) {
        return fail(QStringLiteral("expected COM<n>=<device path>, got \"%1\"").arg(text));
    }
    const QString name = text.left(eq).toUpper();
    const QString path = text.mid(eq + 1);
    bool ok = false;
    const int number = name.startsWith(QLatin1String("COM")) ? name.mid(3).toInt(&ok) : 0;
    if (!ok || number < 1 || number > link::kHighestPort) {
        return fail(QStringLiteral("\"%1\" is not a port from COM1 to COM%2")
                        .arg(text.left(eq))
                        .arg(link::kHighestPort));
    }
    if (path.isEmpty()) {
        return fail(QStringLiteral("no device path given for %1").arg(name));
    }
    return std::pair{number, path};
}

}  // namespace orvale::controls
