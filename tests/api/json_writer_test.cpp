#include "api/json_writer.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>
#include <limits>

namespace orvale::api {
namespace {

// What QJsonDocument writes for `value`, inside an array (it writes no bare value).
QByteArray qtWrites(const QJsonValue& value) {
    QByteArray text = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    return text.mid(1, text.size() - 2);
}

TEST(JsonWriter, WritesEveryValueAsQJsonDocumentDoes) {
    const QJsonValue cases[] = {
        QJsonValue::Null,
        true,
        false,
        0,
        -0.0,
        42,
        -7,
        1.5,
        0.1,
        -1234.5678,
        1e-7,
        6425.5,
        1e15,
        9007199254740993.0,
        1e17,
        1e21,
        -1e300,
        std::numeric_limits<double>::denorm_min(),
        std::numeric_limits<double>::infinity(),
        std::nan(""),
        qint64{3000000000},
        std::numeric_limits<qint64>::min(),
        std::numeric_limits<qint64>::max(),
        QString(),
        QStringLiteral("Engine speed"),
        QStringLiteral("quote \" backslash \\ slash /"),
        QStringLiteral("\b\f\n\r\t"),
        QString(QChar(0)) + QChar(1) + QChar(0x1f) + QChar(0x7f),
        QStringLiteral("25 \u00b0C, \u00e9t\u00e9, \u20ac, \U0001F697"),
        QJsonArray{1, QStringLiteral("a"), QJsonArray{}, QJsonObject{}},
        QJsonObject{{QStringLiteral("z"), 1},
                    {QStringLiteral("a"), QJsonObject{{QStringLiteral("\n"), 2.25}}},
                    {QStringLiteral("m"), QJsonValue::Null}},
    };
    for (const QJsonValue& value : cases) {
        QByteArray written;
        json::appendValue(written, value);
        EXPECT_EQ(written, qtWrites(value)) << qtWrites(value).toStdString();
        if (value.isDouble()) {
            QByteArray number;
            json::appendNumber(number, value.toDouble());
            EXPECT_EQ(number, qtWrites(value.toDouble())) << number.toStdString();
        }
    }
}

TEST(JsonWriter, WritesTheDevicesLatin1TextsAsUtf8) {
    const struct {
        std::string_view bytes;
        QString latin1;  // the bytes read as Latin-1
        bool utf8;       // the bytes are UTF-8 already
    } cases[] = {
        {"1HGCM82633A004352", QStringLiteral("1HGCM82633A004352"), true},
        {"\xe9t\xe9 \xb0", QStringLiteral("\u00e9t\u00e9 \u00b0"), false},
        {"\"A*\"\t\x01\\", QStringLiteral("\"A*\"\t\u0001\\"), true},
        {"+1.5 \xc2\xb0"
         "C",
         QStringLiteral("+1.5 \u00c2\u00b0C"), true},
        {"\xc3", QStringLiteral("\u00c3"), false},                      // cut short
        {"\xc0\xaf", QStringLiteral("\u00c0\u00af"), false},            // overlong
        {"\xed\xa0\x80", QStringLiteral("\u00ed\u00a0\u0080"), false},  // a surrogate
    };
    for (const auto& c : cases) {
        QByteArray latin1;
        json::appendLatin1String(latin1, c.bytes);
        EXPECT_EQ(latin1, qtWrites(c.latin1)) << c.bytes;
        QByteArray text;
        json::appendTextString(text, c.bytes);
        const QString read =
            c.utf8 ? QString::fromUtf8(c.bytes.data(), static_cast<qsizetype>(c.bytes.size()))
                   : c.latin1;
        EXPECT_EQ(text, qtWrites(read)) << c.bytes;
    }
}

}  // namespace
}  // namespace orvale::api
