#pragma once

// The API over a device session with fakes, for the unit tests: its clock is `now`, and every
// line it sends is kept, raw and as JSON.

#include <gtest/gtest.h>

#include <QJsonDocument>
#include <vector>

#include "api/device_api.h"
#include "model/control_ids.h"
#include "tests/api/api_test_support.h"

namespace orvale::api {

inline constexpr std::size_t kDisplays =
    model::kNumericDisplayCount + model::kLedCount + model::kTextDisplayCount;

struct Line {
    ClientId client;
    QJsonObject json;
    bool event;
    QByteArray bytes;
};

struct ApiRig : test::SessionRig {
    void request(ClientId client, const QByteArray& line) {
        const auto parsed = parseRequest(line);
        ASSERT_TRUE(std::holds_alternative<Request>(parsed)) << line.toStdString();
        api.handle(client, std::get<Request>(parsed));
    }
    void request(ClientId client, const QJsonObject& object) {
        request(client, QJsonDocument(object).toJson(QJsonDocument::Compact));
    }
    std::vector<Line> take() { return std::exchange(sent, {}); }
    // The one line sent since the last look, which must be a reply to `client`.
    QJsonObject reply(ClientId client) {
        const std::vector<Line> lines = take();
        EXPECT_EQ(lines.size(), 1u);
        if (lines.size() != 1) return {};
        EXPECT_EQ(lines[0].client, client);
        EXPECT_FALSE(lines[0].event);
        return lines[0].json;
    }
    // The texts of every display, as a parameters reply would give them.
    std::vector<QString> texts() const {
        std::vector<QString> all;
        for (std::size_t i = 0; i < kDisplays; ++i)
            all.push_back(api.describeDisplay(i)[QStringLiteral("text")].toString());
        return all;
    }

    test::FakeApiHost host;
    qint64 now = 0;
    std::vector<Line> sent;
    DeviceApi api{session, host,
                  [this](ClientId client, const QByteArray& line, bool event) {
                      EXPECT_TRUE(line.endsWith('\n'));
                      const QJsonObject json = test::jsonLine(line);
                      EXPECT_FALSE(json.isEmpty()) << line.toStdString();
                      // One compact QJsonDocument each, byte for byte: no piece of a line
                      // (a cached description, a shared event) differs from what Qt writes.
                      EXPECT_EQ(QJsonDocument(json).toJson(QJsonDocument::Compact) + '\n', line);
                      sent.push_back({client, json, event, line});
                  },
                  [this] { return now; }};
};

inline QString code(const QJsonObject& reply) {
    return reply[QStringLiteral("error")][QStringLiteral("code")].toString();
}

inline QJsonValue result(const QJsonObject& reply, const char* key) {
    return reply[QStringLiteral("result")][QLatin1String(key)];
}

}  // namespace orvale::api
