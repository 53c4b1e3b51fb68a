#include "api/api_protocol.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <cmath>
#include <iterator>

namespace orvale::api {
namespace {

QJsonValue json(const char* text) {
    return QJsonDocument::fromJson(QByteArray("[") + text + "]").array().at(0);
}

// Every way a line can be refused, and the lines that pass, with the id each reply must carry.
TEST(ParseRequest, ChecksEveryLineAgainstTheCommandTable) {
    constexpr std::optional<ErrorCode> kOk;
    using enum ErrorCode;
    const struct {
        const char* line;
        std::optional<ErrorCode> refusal;
        const char* id;
    } cases[] = {
        {"nope", Parse, "null"},
        {"{\"id\":1,\"cmd\":\"status\"", Parse, "null"},
        {"[{\"id\":1,\"cmd\":\"status\"}]", InvalidRequest, "null"},
        {"\"status\"", InvalidRequest, "null"},
        {"42", InvalidRequest, "null"},
        {"{\"id\":7}", InvalidRequest, "7"},
        {"{\"id\":\"a\",\"cmd\":5}", InvalidRequest, "\"a\""},
        {"{\"id\":[1,{\"k\":2}],\"cmd\":\"Status\"}", UnknownCommand, "[1,{\"k\":2}]"},
        {"  {\"cmd\":\"status\"}  ", kOk, "null"},
        {"{\"id\":null,\"cmd\":\"hello\"}", kOk, "null"},
        {"{\"id\":-2.5,\"cmd\":\"hello\",\"x\":1}", InvalidArgument, "-2.5"},
        // Integers, ranges.
        {"{\"id\":1,\"cmd\":\"set_position\"}", InvalidArgument, "1"},
        {"{\"id\":1,\"cmd\":\"set_position\",\"position\":0}", kOk, "1"},
        {"{\"id\":1,\"cmd\":\"set_position\",\"position\":100}", kOk, "1"},
        {"{\"id\":1,\"cmd\":\"set_position\",\"position\":100.0}", kOk, "1"},
        {"{\"id\":1,\"cmd\":\"set_position\",\"position\":101}", InvalidArgument, "1"},
        {"{\"id\":1,\"cmd\":\"set_position\",\"position\":50.5}", InvalidArgument, "1"},
        {"{\"id\":1,\"cmd\":\"set_position\",\"position\":\"50\"}", InvalidArgument, "1"},
        {"{\"id\":1,\"cmd\":\"set_position\",\"position\":true}", InvalidArgument, "1"},
        {"{\"id\":1,\"cmd\":\"set_position\",\"position\":1e300}", InvalidArgument, "1"},
        // Choices.
        {"{\"id\":2,\"cmd\":\"press\",\"key\":\"quiet\"}", kOk, "2"},
        {"{\"id\":2,\"cmd\":\"press\",\"key\":\"Quiet\"}", InvalidArgument, "2"},
        {"{\"id\":2,\"cmd\":\"select_port\",\"port\":\"COM50\"}", kOk, "2"},
        {"{\"id\":2,\"cmd\":\"select_port\",\"port\":\"COM51\"}", InvalidArgument, "2"},
        {"{\"id\":2,\"cmd\":\"change_setting\",\"setting\":\"vin_style\"}", InvalidArgument, "2"},
        {"{\"id\":2,\"cmd\":\"change_setting\",\"setting\":\"baud\",\"value\":\"Fixed\"}",
         InvalidArgument, "2"},
        {"{\"id\":2,\"cmd\":\"change_setting\",\"setting\":\"vin_style\",\"value\":\"x\"}", kOk,
         "2"},
        // Lists.
        {"{\"id\":4,\"cmd\":\"parameters\"}", kOk, "4"},
        {"{\"id\":4,\"cmd\":\"parameters\",\"ids\":[],\"labels\":[\"x\"]}", kOk, "4"},
        {"{\"id\":4,\"cmd\":\"parameters\",\"ids\":[1,2.5]}", InvalidArgument, "4"},
        {"{\"id\":4,\"cmd\":\"parameters\",\"labels\":[\"a\",1]}", InvalidArgument, "4"},
        {"{\"id\":5,\"cmd\":\"subscribe\",\"events\":[\"state\",\"parameters\"]}", kOk, "5"},
        {"{\"id\":5,\"cmd\":\"subscribe\",\"events\":[\"state\",\"clock\"]}", InvalidArgument, "5"},
        {"{\"id\":5,\"cmd\":\"subscribe\",\"max_rate\":5}", InvalidArgument, "5"},
        {"{\"id\":5,\"cmd\":\"subscribe\",\"events\":[],\"max_rate\":0.1}", kOk, "5"},
        {"{\"id\":5,\"cmd\":\"subscribe\",\"events\":[],\"max_rate\":0.05}", InvalidArgument, "5"},
        {"{\"id\":5,\"cmd\":\"subscribe\",\"events\":[],\"max_rate\":1000.5}", InvalidArgument,
         "5"},
        {"{\"id\":6,\"cmd\":\"profile\",\"action\":\"load\",\"loop\":1}", InvalidArgument, "6"},
    };
    for (const auto& c : cases) {
        const auto parsed = parseRequest(QByteArray(c.line));
        const QJsonValue expectedId = json(c.id);
        if (const auto* refusal = std::get_if<Refusal>(&parsed)) {
            EXPECT_EQ(c.refusal, refusal->error.code)
                << c.line << ": " << refusal->error.message.toStdString();
            EXPECT_EQ(refusal->id, expectedId) << c.line;
            EXPECT_FALSE(refusal->error.message.isEmpty()) << c.line;
        } else {
            EXPECT_EQ(c.refusal, std::nullopt) << c.line << " was accepted";
            EXPECT_EQ(std::get<Request>(parsed).id, expectedId) << c.line;
        }
    }
}

// hello describes the table a client builds its requests from: a request filled in from the
// description passes, and one step outside a described range or choice is refused.
TEST(ParseRequest, AgreesWithTheDescriptionHelloGives) {
    const QJsonArray commands = describeCommands().toArray();
    ASSERT_EQ(commands.size(), static_cast<qsizetype>(commandTable().size()));
    for (const QJsonValue& described : commands) {
        const QString name = described[QStringLiteral("cmd")].toString();
        const QJsonObject args = described[QStringLiteral("args")].toObject();
        QJsonObject request{{QStringLiteral("id"), name}, {QStringLiteral("cmd"), name}};
        QList<std::pair<QString, QJsonValue>> wrong;
        for (auto it = args.begin(); it != args.end(); ++it) {
            const QJsonObject arg = it.value().toObject();
            const QString type = arg[QStringLiteral("type")].toString();
            const QJsonArray choices = arg[QStringLiteral("choices")].toArray();
            QJsonValue good = type == QLatin1String("boolean") ? QJsonValue(true) : QJsonValue(1);
            if (type == QLatin1String("string"))
                good = choices.isEmpty() ? QJsonValue(QStringLiteral("x")) : choices[0];
            if (type.endsWith(QLatin1String("list"))) good = QJsonArray{choices.isEmpty() ? 1 : 0};
            if (type == QLatin1String("string list") && !choices.isEmpty()) good = choices;
            if (arg.contains(QStringLiteral("max"))) {
                good = arg[QStringLiteral("max")];
                wrong.append({it.key(), arg[QStringLiteral("max")].toDouble() + 1});
                wrong.append({it.key(), arg[QStringLiteral("min")].toDouble() - 0.01});
            }
            if (!choices.isEmpty()) {
                wrong.append({it.key(), type == QLatin1String("string")
                                            ? QJsonValue(QStringLiteral("none"))
                                            : QJsonValue(QJsonArray{QStringLiteral("none")})});
            }
            wrong.append({it.key(), QJsonValue(QJsonValue::Null)});
            if (arg[QStringLiteral("required")].toBool()) request.insert(it.key(), good);
        }
        const auto line = [](const QJsonObject& object) {
            return QJsonDocument(object).toJson(QJsonDocument::Compact);
        };
        const auto parsed = parseRequest(line(request));
        ASSERT_TRUE(std::holds_alternative<Request>(parsed)) << line(request).toStdString();
        EXPECT_EQ(std::get<Request>(parsed).command, findCommand(name));
        EXPECT_EQ(std::get<Request>(parsed).id, QJsonValue(name));
        for (const auto& [arg, value] : wrong) {
            QJsonObject bad = request;
            bad.insert(arg, value);
            const auto refused = parseRequest(line(bad));
            ASSERT_TRUE(std::holds_alternative<Refusal>(refused)) << line(bad).toStdString();
            EXPECT_EQ(std::get<Refusal>(refused).error.code, ErrorCode::InvalidArgument);
            EXPECT_EQ(std::get<Refusal>(refused).id, QJsonValue(name));
        }
    }
}

// A reply or an event is exactly one line, whatever its texts hold.
TEST(ReplyLines, AreOneCompactJsonObjectEach) {
    const ApiError error{ErrorCode::Timeout, QStringLiteral("two\nlines\r\u2028")};
    const QJsonValue id = json("{\"a\":[\"\\n\"]}");
    const struct {
        QByteArray line;
        const char* key;
    } lines[] = {
        {replyOk(id, QStringLiteral("x\ny")), "result"},
        {replyError(id, error), "error"},
        {eventLine(QStringLiteral("state"), {{QStringLiteral("s"), QStringLiteral("\n")}}),
         "event"},
    };
    for (const auto& l : lines) {
        EXPECT_EQ(l.line.count('\n'), 1) << l.line.toStdString();
        EXPECT_TRUE(l.line.endsWith('\n'));
        const QJsonObject object = QJsonDocument::fromJson(l.line).object();
        EXPECT_TRUE(object.contains(QLatin1String(l.key))) << l.line.toStdString();
    }
    const QJsonObject failed = QJsonDocument::fromJson(replyError(id, error)).object();
    EXPECT_EQ(failed[QStringLiteral("id")], id);
    EXPECT_FALSE(failed[QStringLiteral("ok")].toBool(true));
    EXPECT_EQ(failed[QStringLiteral("error")][QStringLiteral("code")].toString(),
              QStringLiteral("timeout"));
    const QString time =
        QJsonDocument::fromJson(eventLine(QStringLiteral("state"), {}))[QStringLiteral("time")]
            .toString();
    EXPECT_TRUE(QRegularExpression(
                    QStringLiteral(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}(Z|[+-]\d\d:\d\d)$)"))
                    .match(time)
                    .hasMatch())
        << time.toStdString();
}

// A value written once and put into many lines: the line is byte for byte what Qt writes for
// the whole, whatever the id (an id may itself hold a "result" key or quotes).
TEST(ReplyLines, AValueWrittenBeforeIsTheLineQtWouldWrite) {
    const QJsonArray value{QJsonObject{{QStringLiteral("text"), QStringLiteral("\"x\"\n")}}, 2.5};
    const QByteArray written = QJsonDocument(value).toJson(QJsonDocument::Compact);
    for (const char* id : {"7", "null", R"("a\"result\":null")", R"({"result":null})", "[1,2]"}) {
        SCOPED_TRACE(id);
        const QJsonValue parsed = json(id);
        EXPECT_EQ(replyOkWritten(parsed, written), replyOk(parsed, value));
    }
    const QJsonObject fields{{QStringLiteral("position"), 42},
                             {QStringLiteral("time"), QStringLiteral("t")}};
    QJsonObject whole = fields;
    whole.insert(QStringLiteral("changes"), value);
    EXPECT_EQ(
        eventLineWritten(QStringLiteral("parameters"), fields, QStringLiteral("changes"), written),
        eventLine(QStringLiteral("parameters"), whole));
    EXPECT_EQ(arrayOfWritten({&written, &written}),
              QJsonDocument(QJsonArray{value, value}).toJson(QJsonDocument::Compact));
}

// Displays are written piece by piece: their values all in one document cut at its commas, and
// put into a frame written with the values left open. Each piece must be what Qt writes, and a
// display put together from them the object Qt writes whole, whatever the text holds (commas,
// quotes and backslashes that could end a piece early, brackets, Latin-1, control characters).
TEST(ReplyLines, DisplaysWrittenInPiecesAreWhatQtWritesWhole) {
    const QJsonValue values[] = {QStringLiteral("1234.5 rpm"),
                                 QStringLiteral(""),
                                 QStringLiteral("a,b"),
                                 QStringLiteral("\"q\",\"r\""),
                                 QStringLiteral("\\"),
                                 QStringLiteral("\\\""),
                                 QStringLiteral("x\\\",y"),
                                 QStringLiteral("[{]}"),
                                 QStringLiteral("\u00b0C \u00e9"),
                                 QStringLiteral("\t\n\x01"),
                                 0.0,
                                 -0.0,
                                 12.5,
                                 -3.25,
                                 1e300,
                                 2.2250738585072014e-308,
                                 9007199254740993.0,
                                 std::nan(""),
                                 true,
                                 false,
                                 QJsonValue::Null};
    QJsonArray all;
    for (const QJsonValue& value : values) all.append(value);
    const WrittenValues written(all);
    ASSERT_EQ(written.size(), std::size(values));
    const QJsonObject fixed{{QStringLiteral("group"), QStringLiteral("Engine, \"main\"")},
                            {QStringLiteral("id"), 1012},
                            {QStringLiteral("label"), QStringLiteral(",\"text\":null,")},
                            {QStringLiteral("units"), QStringLiteral("\"value\":null}")}};
    const ObjectFrame frame = objectFrame(fixed, QStringLiteral("text"), QStringLiteral("value"));
    for (std::size_t i = 0; i < std::size(values); ++i) {
        SCOPED_TRACE(i);
        const QByteArray alone =
            QJsonDocument(QJsonArray{values[i]}).toJson(QJsonDocument::Compact);
        EXPECT_EQ(written[i], alone.mid(1, alone.size() - 2));
        // The value as the text and as the value, beside the one after it.
        const std::size_t next = (i + 1) % std::size(values);
        const QJsonValue& other = values[next];
        QJsonObject whole = fixed;
        whole.insert(QStringLiteral("text"), values[i]);
        whole.insert(QStringLiteral("value"), other);
        EXPECT_EQ(frame.head + written[i].toByteArray() + frame.middle +
                      written[next].toByteArray() + frame.tail,
                  QJsonDocument(whole).toJson(QJsonDocument::Compact));
    }
    EXPECT_EQ(WrittenValues(QJsonArray{}).size(), 0u);
}

}  // namespace
}  // namespace orvale::api
