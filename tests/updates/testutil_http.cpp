#include "testutil_http.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QNetworkProxy>
#include <QTcpSocket>
#include <QThread>

#include <memory>

#include <unistd.h>

bool TestHttpServer::start()
{
    connect(this, &QTcpServer::newConnection, this, &TestHttpServer::onConnection);
    return listen(QHostAddress::LocalHost, 0);
}

QString TestHttpServer::baseUrl() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(serverPort());
}

void TestHttpServer::set(const QString& path, const QByteArray& body, int status, const QByteArray& disposition)
{
    Answer a;
    a.status = status;
    a.body = body;
    if (!disposition.isEmpty())
        a.headers << qMakePair(QByteArray("Content-Disposition"), disposition);
    m_answers.insert(path, a);
}

void TestHttpServer::cut(const QString& path, int sent, bool declareLength)
{
    m_answers[path].sent = sent;
    m_answers[path].declareLength = declareLength;
}

void TestHttpServer::redirect(const QString& path, const QString& to)
{
    Answer a;
    a.status = 302;
    a.body = "moved";
    a.headers << qMakePair(QByteArray("Location"), (baseUrl() + to).toUtf8());
    m_answers.insert(path, a);
}

void TestHttpServer::clear()
{
    m_answers.clear();
    requests.clear();
}

void TestHttpServer::onConnection()
{
    while (QTcpSocket* socket = nextPendingConnection()) {
        auto buffer = std::make_shared<QByteArray>();
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QTcpSocket::readyRead, socket, [this, socket, buffer] {
            buffer->append(socket->readAll());
            if (!buffer->contains("\r\n\r\n"))
                return;
            const QList<QByteArray> first = buffer->left(buffer->indexOf("\r\n")).split(' ');
            const QString path = first.size() > 1 ? QString::fromLatin1(first.at(1)) : QString();
            requests << path;
            const Answer a = m_answers.value(path, Answer{404, "not here", {}});
            QByteArray out = "HTTP/1.0 " + QByteArray::number(a.status) + (a.status < 400 ? " OK" : " Error") + "\r\n";
            if (a.declareLength)
                out += "Content-Length: " + QByteArray::number(a.body.size()) + "\r\n";
            for (const auto& h : a.headers)
                out += h.first + ": " + h.second + "\r\n";
            out += "Connection: close\r\n\r\n" + (a.sent < 0 ? a.body : a.body.left(a.sent));
            socket->write(out);
            socket->disconnectFromHost();
        });
    }
}

StreamingHttpServer::~StreamingHttpServer()
{
    if (m_server)
        QMetaObject::invokeMethod(m_server, [this] { delete m_server; }, Qt::BlockingQueuedConnection);
    m_thread.quit();
    m_thread.wait();
}

bool StreamingHttpServer::start(qint64 size)
{
    m_server = new QTcpServer;
    if (!m_server->listen(QHostAddress::LocalHost, 0))
        return false;
    m_port = m_server->serverPort();
    QObject::connect(m_server, &QTcpServer::newConnection, m_server, [this, size] {
        while (QTcpSocket* socket = m_server->nextPendingConnection()) {
            QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket, size] {
                if (socket->property("served").toBool() || !socket->readAll().contains("\r\n\r\n"))
                    return;
                socket->setProperty("served", true);
                const QByteArray block(256 * 1024, 'M');
                auto queued = std::make_shared<qint64>(0);
                // Little is held here: the next block goes once the kernel took the last ones.
                auto feed = [socket, size, block, queued] {
                    while (*queued < size && socket->bytesToWrite() < 2 * block.size()) {
                        const qint64 n = qMin<qint64>(block.size(), size - *queued);
                        socket->write(block.constData(), n);
                        *queued += n;
                    }
                    if (*queued >= size && socket->bytesToWrite() == 0)
                        socket->disconnectFromHost();
                };
                socket->write("HTTP/1.0 200 OK\r\nContent-Length: " + QByteArray::number(size)
                              + "\r\nConnection: close\r\n\r\n");
                QObject::connect(socket, &QTcpSocket::bytesWritten, socket, [this, feed](qint64 n) {
                    m_sent += n;
                    feed();
                });
                feed();
            });
        }
    });
    m_server->moveToThread(&m_thread);
    m_thread.start();
    return true;
}

QUrl StreamingHttpServer::url() const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1/setup").arg(m_port));
}

long residentMiB()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? long(fields.at(1).toLongLong() * sysconf(_SC_PAGESIZE) / (1024 * 1024)) : -1;
}

void useTestServer(const TestHttpServer& server)
{
    qputenv("TARNI_UPDATE_BASE_URL", server.baseUrl().toLatin1());
    qunsetenv("http_proxy");
    qunsetenv("HTTP_PROXY");
    QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy);
}

bool waitUntil(const std::function<bool()>& done, int ms)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(2);
    }
    return true;
}
