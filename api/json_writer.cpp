#include "api/json_writer.h"

#include <QCborValue>
#include <QJsonArray>
#include <QJsonObject>
#include <QLocale>
#include <cmath>
#include <cstdint>
#include <utility>

namespace orvale::api::json {
namespace {

constexpr char kHex[] = "0123456789abcdef";
// QJsonValue keeps an integral double within 2^53 as an integer, and writes it so.
constexpr double kExactRange = 9007199254740992.0;  // 2^53

// The escape for an ASCII byte, or nothing when it stands as it is.
void appendAscii(QByteArray& out, char c) {
    switch (c) {
        case '"':
            out.append("\\\"", 2);
            return;
        case '\\':
            out.append("\\\\", 2);
            return;
        case '\b':
            out.append("\\b", 2);
            return;
        case '\f':
            out.append("\\f", 2);
            return;
        case '\n':
            out.append("\\n", 2);
            return;
        case '\r':
            out.append("\\r", 2);
            return;
        case '\t':
            out.append("\\t", 2);
            return;
        default:
            break;
    }
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20) {
        const char escape[] = {'\\', 'u', '0', '0', kHex[byte >> 4], kHex[byte & 15]};
        out.append(escape, 6);
        return;
    }
    out.append(c);
}

bool isUtf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto byte = static_cast<unsigned char>(text[i]);
        std::size_t length = 0;
        std::uint32_t code = 0;
        if (byte < 0x80) {
            ++i;
            continue;
        } else if ((byte & 0xE0) == 0xC0) {
            length = 2;
            code = byte & 0x1Fu;
        } else if ((byte & 0xF0) == 0xE0) {
            length = 3;
            code = byte & 0x0Fu;
        } else if ((byte & 0xF8) == 0xF0) {
            length = 4;
            code = byte & 0x07u;
        } else {
            return false;
        }
        if (i + length > text.size()) return false;
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) return false;
            code = (code << 6) | (next & 0x3Fu);
        }
        // Overlong forms, surrogates and code points beyond Unicode are not UTF-8.
        static constexpr std::uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
        if (code < kLeast[length] || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF)
            return false;
        i += length;
    }
    return true;
}

}  // namespace

void appendString(QByteArray& out, std::string_view utf8) {
    out.append('"');
    for (const char c : utf8) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            out.append(c);
        } else {
            appendAscii(out, c);
        }
    }
    out.append('"');
}

void appendLatin1String(QByteArray& out, std::string_view latin1) {
    out.append('"');
    for (const char c : latin1) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x80) {
            out.append(static_cast<char>(0xC0 | (byte >> 6)));
            out.append(static_cast<char>(0x80 | (byte & 0x3F)));
        } else {
            appendAscii(out, c);
        }
    }
    out.append('"');
}

void appendTextString(QByteArray& out, std::string_view text) {
    if (isUtf8(text)) {
        appendString(out, text);
    } else {
        appendLatin1String(out, text);
    }
}

void appendString(QByteArray& out, const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    appendString(out, std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())));
}

void appendNumber(QByteArray& out, double value) {
    if (!std::isfinite(value)) {
        out.append("null", 4);
        return;
    }
    if (std::trunc(value) == value && std::abs(value) <= kExactRange) {
        appendInteger(out, static_cast<qint64>(value));
        return;
    }
    out.append(QByteArray::number(value, 'g', QLocale::FloatingPointShortest));
}

void appendInteger(QByteArray& out, qint64 value) {
    char digits[24];
    std::size_t n = 0;
    const bool negative = value < 0;
    // Through unsigned, so that the least qint64 has a magnitude.
    auto magnitude = negative ? 0 - static_cast<quint64>(value) : static_cast<quint64>(value);
    do {
        digits[n++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (negative) out.append('-');
    while (n != 0) out.append(digits[--n]);
}

void appendBool(QByteArray& out, bool value) {
    if (value) {
        out.append("true", 4);
    } else {
        out.append("false", 5);
    }
}

void appendValue(QByteArray& out, const QJsonValue& value) {
    switch (value.type()) {
        case QJsonValue::Null:
        case QJsonValue::Undefined:
            out.append("null", 4);
            return;
        case QJsonValue::Bool:
            appendBool(out, value.toBool());
            return;
        case QJsonValue::Double: {
            // An integer it holds may be beyond a double's exact range.
            const double d = value.toDouble();
            if (std::abs(d) > kExactRange && QCborValue::fromJsonValue(value).isInteger()) {
                appendInteger(out, value.toInteger());
            } else {
                appendNumber(out, d);
            }
            return;
        }
        case QJsonValue::String:
            appendString(out, value.toString());
            return;
        case QJsonValue::Array: {
            out.append('[');
            bool first = true;
            for (const QJsonValue& item : value.toArray()) {
                if (!std::exchange(first, false)) out.append(',');
                appendValue(out, item);
            }
            out.append(']');
            return;
        }
        case QJsonValue::Object: {
            const QJsonObject object = value.toObject();
            out.append('{');
            bool first = true;
            for (auto it = object.constBegin(); it != object.constEnd(); ++it) {
                if (!std::exchange(first, false)) out.append(',');
                appendString(out, it.key());
                out.append(':');
                appendValue(out, it.value());
            }
            out.append('}');
            return;
        }
    }
}

}  // namespace orvale::api::json
