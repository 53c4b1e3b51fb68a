#include "api/api_server.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <variant>

#ifndef Q_OS_WIN
#include <sys/stat.h>
#endif
#ifdef Q_OS_UNIX
#include <sys/socket.h>
#endif

namespace orvale::api {
namespace {

// Steady: a change of the system's time neither lifts nor prolongs a client's budget.
qint64 steadyMs() {
    static const QElapsedTimer started = [] {
        QElapsedTimer timer;
        timer.start();
        return timer;
    }();
    return started.elapsed();
}

QByteArray tooLarge(qint64 limit) {
    return replyError(
        QJsonValue::Null,
        {ErrorCode::TooLarge, QStringLiteral("a line may hold at most %1 bytes").arg(limit)});
}

// Equal in time whatever the bytes: a token is not found out one character at a time.
bool sameToken(const QByteArray& a, const QByteArray& b) {
    if (a.size() != b.size()) return false;
    unsigned char difference = 0;
    for (qsizetype i = 0; i < a.size(); ++i) {
        difference |= static_cast<unsigned char>(a[i] ^ b[i]);
    }
    return difference == 0;
}

}  // namespace

ApiServer::ApiServer(ServerOptions options, QObject* parent)
    : QObject(parent), m_options(std::move(options)) {
    if (!m_options.clock) m_options.clock = steadyMs;
}

ApiServer::~ApiServer() {
    for (auto& [id, client] : m_clients) {
        if (client.socket) client.socket->disconnect(this);
    }
}

bool ApiServer::listen(QString* error) {
    QList<QHostAddress> addresses;
    if (m_options.address) {
        addresses.append(*m_options.address);
    } else {
        addresses = {QHostAddress(QHostAddress::LocalHost),
                     QHostAddress(QHostAddress::LocalHostIPv6)};
    }
    quint16 port = m_options.port;
    QStringList refusals;
    for (const QHostAddress& address : addresses) {
        auto* server = new QTcpServer(this);
        // Port 0 on loopback: the system chooses for IPv4, and IPv6 takes the same.
        if (!server->listen(address, port)) {
            refusals.append(
                QStringLiteral("%1: %2").arg(address.toString(), server->errorString()));
            delete server;
            continue;
        }
        port = server->serverPort();
        server->setMaxPendingConnections(m_options.maxClients);
        connect(server, &QTcpServer::newConnection, this, [this, server] { accept(server); });
        m_servers.append(server);
    }
    if (m_servers.isEmpty()) {
        if (error) {
            *error = QStringLiteral("the control API cannot listen on port %1 (%2)")
                         .arg(m_options.port)
                         .arg(refusals.join(QStringLiteral("; ")));
        }
        return false;
    }
    return true;
}

quint16 ApiServer::port() const {
    return m_servers.isEmpty() ? 0 : m_servers.front()->serverPort();
}

void ApiServer::accept(QTcpServer* server) {
    while (QTcpSocket* socket = server->nextPendingConnection()) {
        if (static_cast<int>(m_clients.size()) >= m_options.maxClients) {
            socket->write(replyError(
                QJsonValue::Null,
                {ErrorCode::Busy, QStringLiteral("%1 clients are connected already; try later")
                                      .arg(m_options.maxClients)}));
            socket->disconnectFromHost();
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            continue;
        }
        const ClientId id = m_nextId++;
        Client& client = m_clients[id];
        client.socket = socket;
        client.authorized = !m_options.token.has_value();
        socket->setParent(this);
        connect(socket, &QTcpSocket::readyRead, this, [this, id] { readFrom(id); });
        connect(socket, &QTcpSocket::bytesWritten, this, [this, id] { drained(id); });
        connect(socket, &QTcpSocket::disconnected, this, [this, id] { drop(id); });
    }
}

void ApiServer::readFrom(ClientId id) {
    // Lines are taken one at a time and handled at once: a reply may run a command that waits
    // on the device, after which this client may be gone.
    for (;;) {
        const auto it = m_clients.find(id);
        if (it == m_clients.end() || !it->second.socket) return;
        Client& client = it->second;
        if (client.closing) {
            client.socket->readAll();
            return;
        }
        client.buffer.append(client.socket->readAll());
        const qsizetype end = client.buffer.indexOf('\n');
        if (end < 0) {
            // A line of the limit may have its CR read before its LF.
            const qint64 room = m_options.maxLineBytes + (client.buffer.endsWith('\r') ? 1 : 0);
            if (client.buffer.size() > room)
                refuseAndClose(client, tooLarge(m_options.maxLineBytes));
            return;
        }
        QByteArray line = client.buffer.left(end);
        client.buffer.remove(0, end + 1);
        if (line.endsWith('\r')) line.chop(1);
        if (line.size() > m_options.maxLineBytes) {
            refuseAndClose(client, tooLarge(m_options.maxLineBytes));
            return;
        }
        if (line.trimmed().isEmpty()) continue;
        lineFrom(id, client, line);
    }
}

void ApiServer::refuseAndClose(Client& client, const QByteArray& reply) {
    // Answered once; what else it sent, in this read or later, is not looked at.
    client.closing = true;
    client.buffer.clear();
    client.socket->write(reply);
    client.socket->disconnectFromHost();
}

void ApiServer::lineFrom(ClientId id, Client& client, const QByteArray& line) {
    if (!client.authorized) {
        // The first line presents the token; anything else ends the connection.
        const QJsonObject object = QJsonDocument::fromJson(line).object();
        const QByteArray presented = object.value(QStringLiteral("token")).toString().toLatin1();
        if (!m_options.token || presented.isEmpty() || !sameToken(presented, *m_options.token)) {
            refuseAndClose(client,
                           replyError(object.value(QStringLiteral("id")),
                                      {ErrorCode::Unauthorized,
                                       QStringLiteral("the first line must present the token")}));
            return;
        }
        client.authorized = true;
        client.socket->write(replyOk(object.value(QStringLiteral("id")),
                                     QJsonObject{{QStringLiteral("authorized"), true}}));
        return;
    }
    const qint64 now = m_options.clock();
    if (now - client.windowStart >= 1000) {
        client.windowStart = now;
        client.requestsInWindow = 0;
    }
    if (++client.requestsInWindow > m_options.maxRequestsPerSecond) {
        const auto parsed = parseRequest(line);
        const QJsonValue requestId = std::holds_alternative<Request>(parsed)
                                         ? std::get<Request>(parsed).id
                                         : std::get<Refusal>(parsed).id;
        send(id,
             replyError(requestId,
                        {ErrorCode::RateLimited, QStringLiteral("more than %1 requests a second")
                                                     .arg(m_options.maxRequestsPerSecond)}),
             false);
        return;
    }
    std::variant<Request, Refusal> parsed = parseRequest(line);
    if (const auto* refusal = std::get_if<Refusal>(&parsed)) {
        send(id, replyError(refusal->id, refusal->error), false);
        return;
    }
    if (m_api) m_api->handle(id, std::get<Request>(parsed));
}

void ApiServer::send(ClientId id, const QByteArray& line, bool event) {
    const auto it = m_clients.find(id);
    if (it == m_clients.end() || !it->second.socket) return;
    Client& client = it->second;
    if (event && client.socket->bytesToWrite() + line.size() > m_options.maxQueuedBytes) {
        ++client.dropped;
        return;
    }
#if defined(Q_OS_UNIX) && defined(MSG_NOSIGNAL)
    // Straight to the system while nothing waits in the socket's queue: the line leaves now,
    // not when the event loop next finds the socket writable, so a reply does not wait behind
    // a repaint or the next serial read. Going through the queue would also have the socket
    // watched for room for every line, and with the GLib event loop each watch begun and ended
    // wakes the loop once more: two extra turns of the loop per line and client. Only what the
    // system cannot take now is queued (an error, too, is left to the socket to find and
    // report).
    if (client.socket->bytesToWrite() == 0 &&
        client.socket->state() == QAbstractSocket::ConnectedState) {
        const ssize_t sent =
            ::send(static_cast<int>(client.socket->socketDescriptor()), line.constData(),
                   static_cast<std::size_t>(line.size()), MSG_DONTWAIT | MSG_NOSIGNAL);
        if (sent == line.size()) return;
        if (sent > 0) {
            client.socket->write(line.constData() + sent, line.size() - sent);
            return;
        }
    }
#endif
    client.socket->write(line);
}

void ApiServer::drained(ClientId id) {
    const auto it = m_clients.find(id);
    if (it == m_clients.end() || !it->second.socket) return;
    Client& client = it->second;
    // Told once the client reads again, when half its queue has gone.
    if (client.dropped != 0 && client.socket->bytesToWrite() < m_options.maxQueuedBytes / 2) {
        const quint64 dropped = std::exchange(client.dropped, 0);
        client.socket->write(eventLine(QStringLiteral("dropped"),
                                       {{QStringLiteral("count"), static_cast<qint64>(dropped)}}));
    }
}

void ApiServer::drop(ClientId id) {
    const auto it = m_clients.find(id);
    if (it == m_clients.end()) return;
    if (it->second.socket) it->second.socket->deleteLater();
    m_clients.erase(it);
    if (m_api) m_api->clientGone(id);
}

std::optional<QByteArray> readTokenFile(const QString& path, QString* error) {
    const auto refuse = [&](const QString& why) -> std::optional<QByteArray> {
        if (error) *error = QStringLiteral("the API token file %1 %2").arg(path, why);
        return std::nullopt;
    };
#ifndef Q_OS_WIN
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0) {
        return refuse(
            QStringLiteral("cannot be read: %1").arg(QString::fromLocal8Bit(std::strerror(errno))));
    }
    if (!S_ISREG(info.st_mode)) return refuse(QStringLiteral("is not a regular file"));
    if ((info.st_mode & 077) != 0) {
        return refuse(QStringLiteral("may be read by others (mode %1); chmod 600 it")
                          .arg(info.st_mode & 0777, 3, 8, QLatin1Char('0')));
    }
#endif
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return refuse(QStringLiteral("cannot be read: %1").arg(file.errorString()));
    const QByteArray token = file.read(4096).trimmed();
    if (token.size() < 32)
        return refuse(QStringLiteral("must hold at least 32 hexadecimal characters"));
    for (const char c : token) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) {
            return refuse(QStringLiteral("must hold hexadecimal characters only"));
        }
    }
    return token;
}

}  // namespace orvale::api
