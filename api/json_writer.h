#pragma once

#include <QByteArray>
#include <QJsonValue>
#include <QString>
#include <string_view>

/// JSON written straight into bytes, for the lines the API sends most often: a display's
/// description is written once per evaluation and reused by every reply and event, where a
/// QJsonObject would be built and serialised again for each. The text is what QJsonDocument's
/// compact form gives for the same value: control characters, quotes and backslashes escaped,
/// everything else as UTF-8, integral numbers without a fraction.
namespace orvale::api::json {

/// `text` (UTF-8) as a JSON string, quotes included.
void appendString(QByteArray& out, std::string_view utf8);
/// `text` in Latin-1, as the device sends its texts, as a JSON string.
void appendLatin1String(QByteArray& out, std::string_view latin1);
/// UTF-8 when `text` is valid UTF-8, otherwise Latin-1.
void appendTextString(QByteArray& out, std::string_view text);
void appendString(QByteArray& out, const QString& text);
/// A number as QJsonValue holds it: an integral value within 2^53 as an integer, others in
/// the shortest form that reads back the same; infinities and NaN as null.
void appendNumber(QByteArray& out, double value);
void appendInteger(QByteArray& out, qint64 value);
void appendBool(QByteArray& out, bool value);
/// Any value, objects with their keys in QJsonObject's (sorted) order.
void appendValue(QByteArray& out, const QJsonValue& value);

}  // namespace orvale::api::json
