#include "testutil_http.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QNetworkProxy>
#include <QTcpSocket>
#include <QThread>

#include <memory>

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
