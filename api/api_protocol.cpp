#include "api/api_protocol.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <cmath>
#include <utility>

namespace orvale::api {
namespace {

using Type = ArgumentRule::Type;

QStringList portChoices() {
    QStringList ports;
    for (int n = 1; n <= 50; ++n) ports.append(QStringLiteral("COM%1").arg(n));
    return ports;
}

QStringList eventNames() {
    return {QStringLiteral("parameters"), QStringLiteral("state"), QStringLiteral("identity"),
            QStringLiteral("profile"), QStringLiteral("bus")};
}

ArgumentRule arg(const char* name, Type type, bool required, const char* help) {
    return {QString::fromLatin1(name), type, required, 0, 0, {}, QString::fromLatin1(help)};
}

ArgumentRule range(const char* name, Type type, bool required, double minimum, double maximum,
                   const char* help) {
    ArgumentRule rule = arg(name, type, required, help);
    rule.minimum = minimum;
    rule.maximum = maximum;
    return rule;
}

ArgumentRule choice(const char* name, Type type, bool required, QStringList choices,
                    const char* help) {
    ArgumentRule rule = arg(name, type, required, help);
    rule.choices = std::move(choices);
    return rule;
}

CommandSpec command(const char* name, QList<ArgumentRule> args, const char* help) {
    return {QString::fromLatin1(name), std::move(args), QString::fromLatin1(help)};
}

const QList<CommandSpec>& table() {
    static const QList<CommandSpec> commands = {
        command("hello", {}, "what this is: program, version, protocol and the command table"),
        command("status", {},
                "port, path, state, identity, remote control, position, Dynamic and Quiet, busy"),
        command("parameters",
                {arg("ids", Type::IntegerList, false, "control IDs of the displays wanted"),
                 arg("labels", Type::StringList, false, "labels of the displays wanted")},
                "every parameter display as the window shows it (or those asked for)"),
        command("set_position",
                {range("position", Type::Integer, true, 0, 100, "the control position")},
                "moves the slider: the position command, answered when the device acknowledges"),
        command("press",
                {choice("key", Type::String, true,
                        {QStringLiteral("down"), QStringLiteral("up"), QStringLiteral("dynamic"),
                         QStringLiteral("quiet")},
                        "the key")},
                "presses a key: the key command, answered when the device acknowledges"),
        command("connect", {}, "as the Connect button"),
        command("disconnect", {}, "as the Disconnect button"),
        command("select_port", {choice("port", Type::String, true, portChoices(), "COM1 to COM50")},
                "chooses the port, as the port list"),
        command("change_setting",
                {choice("setting", Type::String, true,
                        {QStringLiteral("can_baud_rate"), QStringLiteral("vin_style")},
                        "which setting"),
                 arg("value", Type::String, true,
                     "one of the settings dialog's texts, e.g. \"500K bps\" or \"Fixed\"")},
                "changes a setting as the device information dialog does; answered after the "
                "device is identified again"),
        command("subscribe",
                {choice("events", Type::StringList, true, eventNames(), "the events wanted"),
                 range("max_rate", Type::Number, false, 0.1, 1000,
                       "parameter events a second per display at most (default: one per "
                       "screen refresh)")},
                "sends events as things change"),
        command("unsubscribe",
                {choice("events", Type::StringList, false, eventNames(),
                        "the events no longer wanted (all when left out)")},
                "stops events"),
        command("record",
                {choice("action", Type::String, true,
                        {QStringLiteral("start"), QStringLiteral("stop")}, "start or stop"),
                 arg("file", Type::String, false, "the CSV file (start)")},
                "records the parameter displays as --log does"),
        command("profile",
                {choice("action", Type::String, true,
                        {QStringLiteral("load"), QStringLiteral("start"), QStringLiteral("stop"),
                         QStringLiteral("status")},
                        "what to do"),
                 arg("file", Type::String, false, "the drive profile (load)"),
                 arg("loop", Type::Boolean, false, "start over at the end (load)")},
                "drive profiles: load, start, stop, status"),
        command("bus", {},
                "the CAN bus check (--can): each display against what the bus carries, with "
                "the interface's counts"),
    };
    return commands;
}

QString typeName(Type type) {
    switch (type) {
        case Type::Integer:
            return QStringLiteral("integer");
        case Type::Number:
            return QStringLiteral("number");
        case Type::String:
            return QStringLiteral("string");
        case Type::Boolean:
            return QStringLiteral("boolean");
        case Type::IntegerList:
            return QStringLiteral("integer list");
        case Type::StringList:
            return QStringLiteral("string list");
    }
    return {};
}

bool isInteger(const QJsonValue& value) {
    if (!value.isDouble()) return false;
    const double d = value.toDouble();
    return std::isfinite(d) && std::floor(d) == d && std::abs(d) < 9.0e15;
}

// Why `value` does not fit `rule`, or nothing.
std::optional<QString> check(const ArgumentRule& rule, const QJsonValue& value) {
    const auto wrongType = [&] {
        return QStringLiteral("\"%1\" must be %2").arg(rule.name, typeName(rule.type));
    };
    const auto inRange = [&](double d) {
        return rule.minimum == rule.maximum || (d >= rule.minimum && d <= rule.maximum);
    };
    const auto outOfRange = [&] {
        return QStringLiteral("\"%1\" must be from %2 to %3")
            .arg(rule.name)
            .arg(rule.minimum)
            .arg(rule.maximum);
    };
    const auto allowed = [&](const QString& s) {
        return rule.choices.isEmpty() || rule.choices.contains(s);
    };
    const auto notAChoice = [&](const QString& s) {
        return QStringLiteral("\"%1\" cannot be \"%2\"; it takes %3")
            .arg(rule.name, s.left(64), rule.choices.join(QStringLiteral(", ")));
    };
    switch (rule.type) {
        case Type::Integer:
            if (!isInteger(value)) return wrongType();
            if (!inRange(value.toDouble())) return outOfRange();
            return std::nullopt;
        case Type::Number:
            if (!value.isDouble() || !std::isfinite(value.toDouble())) return wrongType();
            if (!inRange(value.toDouble())) return outOfRange();
            return std::nullopt;
        case Type::Boolean:
            if (!value.isBool()) return wrongType();
            return std::nullopt;
        case Type::String:
            if (!value.isString()) return wrongType();
            if (!allowed(value.toString())) return notAChoice(value.toString());
            return std::nullopt;
        case Type::IntegerList:
            if (!value.isArray()) return wrongType();
            for (const auto& item : value.toArray()) {
                if (!isInteger(item)) return wrongType();
            }
            return std::nullopt;
        case Type::StringList:
            if (!value.isArray()) return wrongType();
            for (const auto& item : value.toArray()) {
                if (!item.isString()) return wrongType();
                if (!allowed(item.toString())) return notAChoice(item.toString());
            }
            return std::nullopt;
    }
    return wrongType();
}

QByteArray line(const QJsonObject& object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

}  // namespace

QString codeName(ErrorCode code) {
    switch (code) {
        case ErrorCode::Parse:
            return QStringLiteral("parse");
        case ErrorCode::InvalidRequest:
            return QStringLiteral("invalid_request");
        case ErrorCode::UnknownCommand:
            return QStringLiteral("unknown_command");
        case ErrorCode::InvalidArgument:
            return QStringLiteral("invalid_argument");
        case ErrorCode::NotAllowed:
            return QStringLiteral("not_allowed");
        case ErrorCode::Timeout:
            return QStringLiteral("timeout");
        case ErrorCode::RateLimited:
            return QStringLiteral("rate_limited");
        case ErrorCode::TooLarge:
            return QStringLiteral("too_large");
        case ErrorCode::Unauthorized:
            return QStringLiteral("unauthorized");
        case ErrorCode::Busy:
            return QStringLiteral("busy");
        case ErrorCode::NotAvailable:
            return QStringLiteral("not_available");
    }
    return QStringLiteral("invalid_request");
}

std::span<const CommandSpec> commandTable() {
    const QList<CommandSpec>& commands = table();
    return {commands.constData(), static_cast<std::size_t>(commands.size())};
}

const CommandSpec* findCommand(const QString& name) {
    for (const CommandSpec& command : table()) {
        if (command.name == name) return &command;
    }
    return nullptr;
}

std::variant<Request, Refusal> parseRequest(const QByteArray& text) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(text, &error);
    if (error.error != QJsonParseError::NoError) {
        // Qt reads only an object or an array as a document: a bare value ("status", 42) is
        // JSON all the same, just not a request.
        QJsonParseError wrapped{};
        QJsonDocument::fromJson('[' + text + ']', &wrapped);
        if (wrapped.error == QJsonParseError::NoError) {
            return Refusal{
                QJsonValue::Null,
                {ErrorCode::InvalidRequest, QStringLiteral("a request is a JSON object")}};
        }
        return Refusal{QJsonValue::Null,
                       {ErrorCode::Parse, QStringLiteral("not JSON: %1 at offset %2")
                                              .arg(error.errorString())
                                              .arg(error.offset)}};
    }
    if (!document.isObject()) {
        return Refusal{QJsonValue::Null,
                       {ErrorCode::InvalidRequest, QStringLiteral("a request is a JSON object")}};
    }
    const QJsonObject object = document.object();
    const QJsonValue id = object.value(QStringLiteral("id"));
    const QJsonValue requestId = id.isUndefined() ? QJsonValue(QJsonValue::Null) : id;
    const QJsonValue name = object.value(QStringLiteral("cmd"));
    if (!name.isString()) {
        return Refusal{requestId,
                       {ErrorCode::InvalidRequest, QStringLiteral("\"cmd\" must be a string")}};
    }
    const CommandSpec* command = findCommand(name.toString());
    if (command == nullptr) {
        return Refusal{
            requestId,
            {ErrorCode::UnknownCommand,
             QStringLiteral("no command \"%1\"; hello lists them").arg(name.toString().left(64))}};
    }
    Request request{requestId, command, {}};
    for (auto it = object.constBegin(); it != object.constEnd(); ++it) {
        if (it.key() == QLatin1String("id") || it.key() == QLatin1String("cmd")) continue;
        const auto rule = std::find_if(command->args.cbegin(), command->args.cend(),
                                       [&](const ArgumentRule& a) { return a.name == it.key(); });
        if (rule == command->args.cend()) {
            return Refusal{
                requestId,
                {ErrorCode::InvalidArgument,
                 QStringLiteral("%1 takes no \"%2\"").arg(command->name, it.key().left(64))}};
        }
        if (const auto wrong = check(*rule, it.value())) {
            return Refusal{requestId, {ErrorCode::InvalidArgument, *wrong}};
        }
        request.args.insert(it.key(), it.value());
    }
    for (const ArgumentRule& rule : command->args) {
        if (rule.required && !request.args.contains(rule.name)) {
            return Refusal{requestId,
                           {ErrorCode::InvalidArgument,
                            QStringLiteral("%1 needs \"%2\"").arg(command->name, rule.name)}};
        }
    }
    return request;
}

QJsonValue describeCommands() {
    QJsonArray commands;
    for (const CommandSpec& command : table()) {
        QJsonObject args;
        for (const ArgumentRule& rule : command.args) {
            QJsonObject described{{QStringLiteral("type"), typeName(rule.type)},
                                  {QStringLiteral("required"), rule.required},
                                  {QStringLiteral("help"), rule.help}};
            if (rule.minimum != rule.maximum) {
                described.insert(QStringLiteral("min"), rule.minimum);
                described.insert(QStringLiteral("max"), rule.maximum);
            }
            if (!rule.choices.isEmpty()) {
                described.insert(QStringLiteral("choices"),
                                 QJsonArray::fromStringList(rule.choices));
            }
            args.insert(rule.name, described);
        }
        commands.append(QJsonObject{{QStringLiteral("cmd"), command.name},
                                    {QStringLiteral("args"), args},
                                    {QStringLiteral("help"), command.help}});
    }
    return commands;
}

QByteArray replyOk(const QJsonValue& id, const QJsonValue& result) {
    return line({{QStringLiteral("id"), id},
                 {QStringLiteral("ok"), true},
                 {QStringLiteral("result"), result}});
}

QByteArray replyError(const QJsonValue& id, const ApiError& error) {
    return line(
        {{QStringLiteral("id"), id},
         {QStringLiteral("ok"), false},
         {QStringLiteral("error"), QJsonObject{{QStringLiteral("code"), codeName(error.code)},
                                               {QStringLiteral("message"), error.message}}}});
}

QByteArray eventLine(const QString& event, QJsonObject fields) {
    fields.insert(QStringLiteral("event"), event);
    if (!fields.contains(QStringLiteral("time")))
        fields.insert(QStringLiteral("time"), timestampNow());
    return line(fields);
}

QByteArray replyOkWritten(const QJsonValue& id, const QByteArray& json) {
    // "result" is the last of the sorted keys: the line ends "result":null}.
    QByteArray line = replyOk(id, QJsonValue::Null);
    static const QByteArray kTail = QByteArrayLiteral("\"result\":null}\n");
    Q_ASSERT(line.endsWith(kTail));
    line.chop(kTail.size() - 9);  // keeps "result":
    line += json;
    line += QByteArrayLiteral("}\n");
    return line;
}

QByteArray eventLineWritten(const QString& event, QJsonObject fields, const QString& name,
                            const QByteArray& json) {
    // `name` sorts before every other key (before "event" at least): the line begins with it.
    fields.insert(name, QJsonValue::Null);
    QByteArray line = eventLine(event, std::move(fields));
    const QByteArray head = "{\"" + name.toUtf8() + "\":";
    Q_ASSERT(line.startsWith(head + "null"));
    line.replace(head.size(), 4, json);
    return line;
}

QByteArray arrayOfWritten(const std::vector<const QByteArray*>& values) {
    qsizetype size = 2;
    for (const QByteArray* value : values) size += value->size() + 1;
    QByteArray out;
    out.reserve(size);
    out += '[';
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i != 0) out += ',';
        out += *values[i];
    }
    out += ']';
    return out;
}

WrittenValues::WrittenValues(const QJsonArray& values)
    : m_array(QJsonDocument(values).toJson(QJsonDocument::Compact)) {
    const QByteArray& array = m_array;
    m_spans.reserve(static_cast<std::size_t>(values.size()));
    // A comma outside strings and nested values ends an element. Inside a string a quote is
    // always written \" and a backslash \\, so the string ends at the first quote that no
    // backslash escapes.
    int depth = 0;
    bool inString = false;
    qsizetype start = 1;
    const qsizetype end = array.size() - 1;  // the closing ]
    for (qsizetype i = 1; i < end; ++i) {
        const char c = array[i];
        if (inString) {
            if (c == '\\') {
                ++i;
            } else if (c == '"') {
                inString = false;
            }
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            ++depth;
        } else if (c == ']' || c == '}') {
            --depth;
        } else if (c == ',' && depth == 0) {
            m_spans.emplace_back(start, i - start);
            start = i + 1;
        }
    }
    if (end > start) m_spans.emplace_back(start, end - start);
}

ObjectFrame objectFrame(QJsonObject object, const QString& first, const QString& second) {
    object.insert(first, QJsonValue::Null);
    object.insert(second, QJsonValue::Null);
    const QByteArray written = QJsonDocument(object).toJson(QJsonDocument::Compact);
    // A quote inside a string is written \", so ,"key":null (or {"key":null) can only be the
    // member itself.
    const auto open = [&written](const QString& key, qsizetype from) {
        const QByteArray member = '"' + key.toUtf8() + "\":null";
        for (const char before : {',', '{'}) {
            const qsizetype at = written.indexOf(before + member, from);
            if (at >= 0) return std::pair{at + 1 + member.size() - 4, at + 1 + member.size()};
        }
        Q_ASSERT_X(false, "objectFrame", "a key not written as given");
        return std::pair{written.size(), written.size()};
    };
    const auto [firstAt, firstEnd] = open(first, 0);
    const auto [secondAt, secondEnd] = open(second, firstEnd);
    return {written.left(firstAt), written.mid(firstEnd, secondAt - firstEnd),
            written.mid(secondEnd)};
}

QString timestampNow() {
    // As the recording writes it, "+00:00" included (Qt would write "Z" for UTC).
    const QDateTime now = QDateTime::currentDateTime();
    const int offset = now.offsetFromUtc() / 60;
    return now.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz")) +
           QStringLiteral("%1%2:%3")
               .arg(offset < 0 ? QLatin1Char('-') : QLatin1Char('+'))
               .arg(std::abs(offset) / 60, 2, 10, QLatin1Char('0'))
               .arg(std::abs(offset) % 60, 2, 10, QLatin1Char('0'));
}

}  // namespace orvale::api
