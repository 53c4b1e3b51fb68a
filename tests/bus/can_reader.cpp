// can_reader: an independent reader of a CAN interface for the end-to-end tests. It opens the
// interface through Qt SerialBus itself (none of the sender's code, bus/CanBusLink), decodes
// the frames with the FMS decoder and prints what it read as JSON:
//
//   can_reader PLUGIN:INTERFACE [--seconds N] [--ignore-source SA[,SA...]]
//   can_reader PLUGIN:INTERFACE --interactive [--ignore-source ...]
//
// With --seconds it reads for N seconds (default 5) and prints one JSON object. With
// --interactive it reads until its standard input ends and answers each line: "dump" with the
// JSON object of what it has read since it started or since the last "reset", "reset" with
// {"reset": true} once it has forgotten everything. Frames from an ignored source address are
// counted under "sources" and otherwise left alone.
//
// The object: "frames" and "frames_per_second" (every frame read), "sources" (frames per source
// address, "0x42"), "groups" (frames per parameter group, "TP.CM" and "TP.DT" for broadcasts),
// the decoder's "bam_announced", "bam_completed", "bam_dropped", "unknown_pgn", "short_frames",
// and "displays": per control ID received, {"group", "kind", "raw", and "value" and
// "resolution" for a number, "code" (the state's bits, "01") for a state, "text" for a text};
// the date and time box (1070) has one such object per bus field under "parts".

#include <QCanBus>
#include <QCanBusDevice>
#include <QCanBusFrame>
#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QSocketNotifier>
#include <QTimer>

#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "fms/can_frame.h"
#include "fms/decoder.h"
#include "fms/fields.h"
#include "fms/groups.h"

namespace {

using namespace orvale;

constexpr std::array<const char*, 6> kDateParts{"seconds", "minutes", "hours",
                                                "month",   "day",     "year"};

std::uint64_t nowMs() {
    using namespace std::chrono;
    return static_cast<std::uint64_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

QString hexByte(unsigned value) {
    return QStringLiteral("0x%1")
        .arg(value, 2, 16, QLatin1Char('0'))
        .toUpper()
        .replace(QStringLiteral("0X"), QStringLiteral("0x"));
}

const char* kindName(fms::FieldKind kind) {
    switch (kind) {
        case fms::FieldKind::kNumber:
            return "number";
        case fms::FieldKind::kState:
            return "state";
        case fms::FieldKind::kText:
            return "text";
        case fms::FieldKind::kVersion:
            return "version";
    }
    return "?";
}

class Reader {
public:
    Reader(QString plugin, QString interface, std::set<std::uint8_t> ignored)
        : m_plugin(std::move(plugin)),
          m_interface(std::move(interface)),
          m_ignored(std::move(ignored)) {
        m_retry.setSingleShot(true);
        m_retry.setInterval(500);
        QObject::connect(&m_retry, &QTimer::timeout, [this] { open(); });
    }

    // False when the plugin or the interface does not exist at all.
    bool open() {
        close();
        QString error;
        m_device = QCanBus::instance()->createDevice(m_plugin, m_interface, &error);
        if (m_device == nullptr) {
            std::fprintf(stderr, "can_reader: cannot use %s:%s: %s\n", qPrintable(m_plugin),
                         qPrintable(m_interface), qPrintable(error));
            return false;
        }
        QObject::connect(m_device, &QCanBusDevice::framesReceived, [this] { read(); });
        QObject::connect(m_device, &QCanBusDevice::stateChanged,
                         [this](QCanBusDevice::CanBusDeviceState state) {
                             // A virtual bus whose server has gone: connect again.
                             if (state == QCanBusDevice::UnconnectedState) m_retry.start();
                         });
        if (!m_device->connectDevice()) {
            std::fprintf(stderr, "can_reader: cannot open %s:%s: %s\n", qPrintable(m_plugin),
                         qPrintable(m_interface), qPrintable(m_device->errorString()));
            m_retry.start();
        }
        return true;
    }

    void reset() {
        m_decoder.reset();
        m_frames = 0;
        m_sources.clear();
        m_groups.clear();
        m_sinceMs = nowMs();
    }

    QJsonObject json() {
        const std::uint64_t now = nowMs();
        m_decoder.expire(now);
        const fms::DecoderCounters& c = m_decoder.counters();
        const double seconds = static_cast<double>(now - m_sinceMs) / 1000.0;
        QJsonObject sources;
        for (const auto& [address, count] : m_sources) {
            sources.insert(hexByte(address), static_cast<double>(count));
        }
        QJsonObject groups;
        for (const auto& [name, count] : m_groups) {
            groups.insert(QString::fromStdString(name), static_cast<double>(count));
        }
        QJsonObject displays;
        for (std::size_t i = 0; i < fms::kFields.size(); ++i) {
            const fms::Field& f = fms::kFields[i];
            const fms::FieldValue& v = m_decoder.value(i);
            if (!v.received) continue;
            QJsonObject field{
                {QStringLiteral("group"),
                 QString::fromUtf8(
                     fms::kGroups[fms::indexOf(f.group)].name.data(),
                     static_cast<qsizetype>(fms::kGroups[fms::indexOf(f.group)].name.size()))},
                {QStringLiteral("kind"), QString::fromLatin1(kindName(f.kind))},
                {QStringLiteral("raw"), static_cast<double>(v.raw)},
                {QStringLiteral("age_ms"), static_cast<double>(now - v.timeMs)}};
            if (f.kind == fms::FieldKind::kNumber) {
                field.insert(QStringLiteral("value"), m_decoder.physical(i).value_or(0.0));
                field.insert(QStringLiteral("resolution"), f.resolution);
            } else if (f.kind == fms::FieldKind::kState) {
                QString code;
                for (int bit = f.bits.length - 1; bit >= 0; --bit) {
                    code += ((v.raw >> bit) & 1U) != 0 ? QLatin1Char('1') : QLatin1Char('0');
                }
                field.insert(QStringLiteral("code"), code);
            } else if (const auto text = m_decoder.text(i)) {
                field.insert(
                    QStringLiteral("text"),
                    QString::fromLatin1(text->data(), static_cast<qsizetype>(text->size())));
            }
            const QString id = QString::number(f.display);
            if (f.display == model::control::kDateTime) {
                QJsonObject box = displays.value(id).toObject();
                QJsonObject parts = box.value(QStringLiteral("parts")).toObject();
                parts.insert(QString::fromLatin1(kDateParts[f.part]), field);
                box.insert(QStringLiteral("parts"), parts);
                displays.insert(id, box);
            } else {
                displays.insert(id, field);
            }
        }
        return {{QStringLiteral("interface"), m_plugin + QLatin1Char(':') + m_interface},
                {QStringLiteral("seconds"), seconds},
                {QStringLiteral("frames"), static_cast<double>(m_frames)},
                {QStringLiteral("frames_per_second"),
                 seconds > 0 ? static_cast<double>(m_frames) / seconds : 0.0},
                {QStringLiteral("sources"), sources},
                {QStringLiteral("groups"), groups},
                {QStringLiteral("bam_announced"), static_cast<double>(c.bamAnnounced)},
                {QStringLiteral("bam_completed"), static_cast<double>(c.bamCompleted)},
                {QStringLiteral("bam_dropped"), static_cast<double>(c.bamDropped)},
                {QStringLiteral("unknown_pgn"), static_cast<double>(c.unknownPgn)},
                {QStringLiteral("short_frames"), static_cast<double>(c.shortFrames)},
                {QStringLiteral("displays"), displays}};
    }

private:
    void close() {
        if (m_device == nullptr) return;
        m_device->disconnect();
        m_device->disconnectDevice();
        m_device->deleteLater();
        m_device = nullptr;
    }

    void read() {
        const std::uint64_t now = nowMs();
        while (m_device != nullptr && m_device->framesAvailable() > 0) {
            const QCanBusFrame frame = m_device->readFrame();
            if (frame.frameType() != QCanBusFrame::DataFrame || !frame.hasExtendedFrameFormat()) {
                continue;
            }
            fms::CanFrame codec;
            codec.id = frame.frameId();
            const QByteArray payload = frame.payload();
            codec.dlc = static_cast<std::uint8_t>(std::min<qsizetype>(payload.size(), 8));
            for (std::size_t i = 0; i < codec.dlc; ++i) {
                codec.data[i] = static_cast<std::uint8_t>(payload[static_cast<qsizetype>(i)]);
            }
            ++m_frames;
            const std::uint8_t source = fms::sourceAddressOf(codec.id);
            ++m_sources[source];
            if (m_ignored.count(source) != 0) continue;
            const std::uint32_t pgn = fms::pgnOf(codec.id);
            if (pgn == fms::kTpCmPgn) {
                ++m_groups["TP.CM"];
            } else if (pgn == fms::kTpDtPgn) {
                ++m_groups["TP.DT"];
            } else if (const std::size_t g = fms::groupOfPgn(pgn); g != fms::kGroupCount) {
                ++m_groups[std::string(fms::kGroups[g].name)];
            }
            m_decoder.onFrame(codec, now);
        }
    }

    QString m_plugin;
    QString m_interface;
    std::set<std::uint8_t> m_ignored;
    QCanBusDevice* m_device = nullptr;
    QTimer m_retry;
    fms::Decoder m_decoder;
    std::uint64_t m_frames = 0;
    std::map<std::uint8_t, std::uint64_t> m_sources;
    std::map<std::string, std::uint64_t> m_groups;
    std::uint64_t m_sinceMs = nowMs();
};

void print(const QJsonObject& object) {
    const QByteArray line = QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
    std::fwrite(line.constData(), 1, static_cast<std::size_t>(line.size()), stdout);
    std::fflush(stdout);
}

int usage() {
    std::fputs(
        "usage: can_reader PLUGIN:INTERFACE [--seconds N | --interactive] "
        "[--ignore-source SA[,SA...]]\n",
        stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    QLoggingCategory::setFilterRules(
        QStringLiteral("qt.canbus*.debug=false\nqt.canbus*.info=false"));
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.isEmpty() || !args[0].contains(QLatin1Char(':'))) return usage();
    const QString plugin = args[0].section(QLatin1Char(':'), 0, 0);
    const QString interface = args[0].section(QLatin1Char(':'), 1);
    double seconds = 5.0;
    bool interactive = false;
    std::set<std::uint8_t> ignored;
    for (qsizetype i = 1; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--interactive")) {
            interactive = true;
        } else if (args[i] == QLatin1String("--seconds") && i + 1 < args.size()) {
            bool ok = false;
            seconds = args[++i].toDouble(&ok);
            if (!ok || seconds <= 0) return usage();
        } else if (args[i] == QLatin1String("--ignore-source") && i + 1 < args.size()) {
            for (const QString& sa : args[++i].split(QLatin1Char(','))) {
                bool ok = false;
                const uint value = sa.toUInt(&ok, 0);
                if (!ok || value > 0xFF) return usage();
                ignored.insert(static_cast<std::uint8_t>(value));
            }
        } else {
            return usage();
        }
    }

    Reader reader(plugin, interface, ignored);
    if (!reader.open()) return 2;

    if (!interactive) {
        QTimer::singleShot(static_cast<int>(seconds * 1000), [&] {
            print(reader.json());
            app.quit();
        });
        return app.exec();
    }

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    std::string pending;
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        std::array<char, 256> buffer{};
        const ssize_t got = ::read(STDIN_FILENO, buffer.data(), buffer.size());
        if (got <= 0) {
            app.quit();
            return;
        }
        pending.append(buffer.data(), static_cast<std::size_t>(got));
        for (std::size_t end = pending.find('\n'); end != std::string::npos;
             end = pending.find('\n')) {
            const std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            if (line == "reset") {
                reader.reset();
                print({{QStringLiteral("reset"), true}});
            } else if (line == "dump") {
                print(reader.json());
            } else if (!line.empty()) {
                std::fprintf(stderr, "can_reader: unknown command %s\n", line.c_str());
            }
        }
    });
    return app.exec();
}
