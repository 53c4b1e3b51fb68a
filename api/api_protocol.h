#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QStringList>
#include <optional>
#include <span>
#include <utility>
#include <variant>
#include <vector>

/// The control API's wire protocol: JSON Lines, one object per line, in UTF-8. A request is
/// {"id": <any>, "cmd": "<name>", <argument>: <value>, ...}; a reply is
/// {"id": <the request's>, "ok": true, "result": ...} or
/// {"id": ..., "ok": false, "error": {"code": "...", "message": "..."}}; an event is
/// {"event": "<name>", "time": "<ISO 8601>", ...}. Every command is one row of one table: its
/// name, its arguments with their types and ranges, and a line of help. `hello` describes the
/// table, and a request is checked against it before any handler runs, so a malformed request
/// never reaches the device.
namespace orvale::api {

/// The protocol's version, in `hello`.
inline constexpr int kProtocolVersion = 1;

/// The fixed set of error codes.
enum class ErrorCode {
    Parse,            ///< the line is not JSON
    InvalidRequest,   ///< not an object, or no string "cmd"
    UnknownCommand,   ///< "cmd" names no command
    InvalidArgument,  ///< an argument missing, of the wrong type, out of range, or unknown
    NotAllowed,       ///< the device's state forbids it (no remote control, old firmware)
    Timeout,          ///< the device did not answer in time
    RateLimited,      ///< more than the allowed requests a second
    TooLarge,         ///< a line over the size limit
    Unauthorized,     ///< the first line did not present the token
    Busy,             ///< a message box, a dialog or a settings change holds the device
    NotAvailable,     ///< Orvale was started without what the command needs (no CAN bus)
};

/// "parse", "invalid_request" ...
[[nodiscard]] QString codeName(ErrorCode code);

struct ApiError {
    ErrorCode code;
    QString message;
};

/// One argument of a command.
struct ArgumentRule {
    enum class Type { Integer, Number, String, Boolean, IntegerList, StringList };
    QString name;
    Type type = Type::String;
    bool required = false;
    double minimum = 0;   ///< numbers: the least value
    double maximum = 0;   ///< numbers: the greatest (minimum == maximum: no range)
    QStringList choices;  ///< strings: the values allowed (empty: any)
    QString help;
};

/// One command: its name, arguments and what it does.
struct CommandSpec {
    QString name;
    QList<ArgumentRule> args;
    QString help;
};

/// Every command the API offers, in the order `hello` lists them.
[[nodiscard]] std::span<const CommandSpec> commandTable();
[[nodiscard]] const CommandSpec* findCommand(const QString& name);

/// A request that passed the table's checks: its id (null when it had none), its command and
/// its arguments (only those the command knows, of the declared types).
struct Request {
    QJsonValue id;
    const CommandSpec* command = nullptr;
    QJsonObject args;
};

/// A refused request: the error, and the request's id when it could be read.
struct Refusal {
    QJsonValue id;
    ApiError error;
};

/// Reads one line (without its line end) as a request and checks it against the table.
[[nodiscard]] std::variant<Request, Refusal> parseRequest(const QByteArray& line);

/// The table as `hello` describes it: [{"cmd": ..., "args": {name: {"type", "required",
/// "min", "max", "choices", "help"}}, "help": ...}, ...].
[[nodiscard]] QJsonValue describeCommands();

/// One line (with its LF) of a reply or an event: QJsonDocument's compact form, keys sorted.
[[nodiscard]] QByteArray replyOk(const QJsonValue& id, const QJsonValue& result);
[[nodiscard]] QByteArray replyError(const QJsonValue& id, const ApiError& error);
[[nodiscard]] QByteArray eventLine(const QString& event, QJsonObject fields);

/// The same lines with one value already written by QJsonDocument (`json`: a compact document,
/// such as an array of display descriptions written once and sent many times). The rest of the
/// line is written by QJsonDocument too, with a null in the value's place; the null is then
/// replaced. Every byte stays Qt's: the line is the one replyOk() or eventLine() would give.
[[nodiscard]] QByteArray replyOkWritten(const QJsonValue& id, const QByteArray& json);
/// `name` must sort before the event's other keys ("changes" does), so that it comes first.
[[nodiscard]] QByteArray eventLineWritten(const QString& event, QJsonObject fields,
                                          const QString& name, const QByteArray& json);
/// QJsonDocument's compact form of `values`, written apart: "[" + ... + "]".
[[nodiscard]] QByteArray arrayOfWritten(const std::vector<const QByteArray*>& values);

/// QJsonDocument's compact form of each of `values` (`"a\"b"`, `1.5`, `true`), written in one
/// go as one array and cut at its commas: for many values, a fraction of the cost of writing
/// each on its own.
class WrittenValues {
public:
    explicit WrittenValues(const QJsonArray& values);
    [[nodiscard]] std::size_t size() const { return m_spans.size(); }
    [[nodiscard]] QByteArrayView operator[](std::size_t i) const {
        return QByteArrayView(m_array).sliced(m_spans[i].first, m_spans[i].second);
    }

private:
    QByteArray m_array;
    std::vector<std::pair<qsizetype, qsizetype>> m_spans;  // start and length of each value
};

/// An object written by QJsonDocument with two of its values left open, for objects written
/// again and again with only those two changed: head + the first value written + middle + the
/// second value written + tail is the object's compact form.
struct ObjectFrame {
    QByteArray head;
    QByteArray middle;
    QByteArray tail;
};
/// `first` must sort before `second`; the object's values under them are not looked at.
[[nodiscard]] ObjectFrame objectFrame(QJsonObject object, const QString& first,
                                      const QString& second);

/// The current local time as the API writes it: ISO 8601 with milliseconds and offset.
[[nodiscard]] QString timestampNow();

}  // namespace orvale::api
