#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <functional>
#include <map>
#include <memory>
#include <optional>

#include "api/api_protocol.h"
#include "api/device_api.h"

namespace orvale::api {

/// Where and how the API listens.
struct ServerOptions {
    /// Empty: the loopback interface only, IPv4 and IPv6. Anything else must be named.
    std::optional<QHostAddress> address;
    quint16 port = 0;
    /// Required on any address but loopback: a client's first line must present it.
    std::optional<QByteArray> token;
    int maxClients = 32;
    qint64 maxLineBytes = 1 << 20;    ///< a longer line is refused and the client closed
    int maxRequestsPerSecond = 200;   ///< more get rate_limited
    qint64 maxQueuedBytes = 1 << 20;  ///< output a client has not read; events beyond drop
    /// Milliseconds on a steady clock, for the request budget; empty: the system's.
    std::function<qint64()> clock;
};

/// The control API's transport: TCP, JSON Lines. Each client gets its own line buffer, its own
/// request budget and its own capped output queue, so a slow or hostile client holds up neither
/// the window nor the other clients. Requests are checked against the command table
/// (parseRequest) and handed to the DeviceApi on the user-interface thread, in arrival order.
class ApiServer final : public QObject {
    Q_OBJECT

public:
    explicit ApiServer(ServerOptions options, QObject* parent = nullptr);
    ~ApiServer() override;

    /// Where requests go; set before listen(). Replies come back through send().
    void setApi(DeviceApi* api) { m_api = api; }

    /// Starts listening. False, with the reason in `error`, when no address could be bound.
    bool listen(QString* error);
    /// The port listened on (the one asked for, or the one the system chose for port 0).
    [[nodiscard]] quint16 port() const;

    /// A reply or an event for `client`; events are dropped (and counted) while the client
    /// has more than maxQueuedBytes unread, replies always go.
    void send(ClientId client, const QByteArray& line, bool event);

    [[nodiscard]] int clientCount() const { return static_cast<int>(m_clients.size()); }

private:
    struct Client {
        QPointer<QTcpSocket> socket;
        QByteArray buffer;
        bool authorized = false;
        bool closing = false;    // refused and closed: nothing more it sends is read
        qint64 windowStart = 0;  // the second requests are counted in
        int requestsInWindow = 0;
        quint64 dropped = 0;  // events not sent since the client stopped reading
    };

    void accept(QTcpServer* server);
    void readFrom(ClientId id);
    void lineFrom(ClientId id, Client& client, const QByteArray& line);
    void refuseAndClose(Client& client, const QByteArray& reply);
    void drained(ClientId id);
    void drop(ClientId id);

    ServerOptions m_options;
    QList<QTcpServer*> m_servers;
    std::map<ClientId, Client> m_clients;
    ClientId m_nextId = 1;
    DeviceApi* m_api = nullptr;
};

/// Reads an API token file: at least 32 hexadecimal characters (blanks and a line end around
/// them allowed), readable by its owner only. The token, or the reason it cannot be used.
[[nodiscard]] std::optional<QByteArray> readTokenFile(const QString& path, QString* error);

}  // namespace orvale::api
