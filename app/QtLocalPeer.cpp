#include "app/QtLocalPeer.h"

#include <QCoreApplication>
#include <QDataStream>
#include <QDir>
#include <QFileInfo>
#include <QLocalSocket>
#include <QThread>

#include "app/QsLog.h"
#include "platform/Platform.h"

namespace {
const char ack[] = "ack";
}

QtLocalPeer::QtLocalPeer(QObject* parent, const QString& appId)
    : QObject(parent)
    , id(appId)
{
    QString prefix = id;
    if (id.isEmpty()) {
        id = QCoreApplication::applicationFilePath();
#ifdef Q_OS_WIN
        id = id.toLower();
#endif
        prefix = id.section(QLatin1Char('/'), -1);
    }
    prefix.remove(QRegExp(QStringLiteral("[^a-zA-Z]")));
    prefix.truncate(6);

    const QByteArray idc = id.toUtf8();
    const quint16 idNum = qChecksum(idc.constData(), uint(idc.size()));
    socket = QLatin1String("qtsingleapp-") + prefix + QLatin1Char('-') + QString::number(idNum, 16);
    // The session part keeps users apart; outside Windows it is the user id.
    socket += QLatin1Char('-') + Platform::userSessionId();

    server = new QLocalServer(this);
    lockFile.setFileName(QDir::temp().absolutePath() + QLatin1Char('/') + socket + QLatin1String("-lockfile"));
    lockFile.open(QIODevice::ReadWrite);
}

bool QtLocalPeer::isClient()
{
    if (lockFile.isLocked())
        return false;
    if (!lockFile.lock(QtLP_Private::QtLockedFile::WriteLock, false))
        return true;
    // We hold the lock: a socket file left by a crashed instance is stale.
    QLocalServer::removeServer(socket);
    server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server->listen(socket))
        qWarning("QtSingleCoreApplication: listen on local socket failed, %s", qPrintable(server->errorString()));
    connect(server, &QLocalServer::newConnection, this, &QtLocalPeer::receiveConnection, Qt::UniqueConnection);
    return false;
}

bool QtLocalPeer::sendMessage(const QString& message, int timeout)
{
    if (!isClient())
        return false;
    QLocalSocket conn;
    bool connected = false;
    for (int attempt = 0; attempt < 2; ++attempt) {
        conn.connectToServer(socket);
        connected = conn.waitForConnected(timeout / 2);
        if (connected || attempt > 0)
            break;
        QThread::msleep(250);
    }
    if (!connected)
        return false;

    const QByteArray bytes = message.toUtf8();
    QDataStream ds(&conn);
    ds.writeBytes(bytes.constData(), uint(bytes.size()));
    bool res = conn.waitForBytesWritten(timeout);
    if (res) {
        res &= conn.waitForReadyRead(timeout);
        if (res)
            res &= (conn.read(qstrlen(ack)) == ack);
    }
    return res;
}

void QtLocalPeer::receiveConnection()
{
    QLocalSocket* conn = server->nextPendingConnection();
    if (!conn)
        return;
    for (;;) {
        if (conn->state() == QLocalSocket::UnconnectedState) {
            QLOG_WARN() << "QtLocalPeer: Peer disconnected";
            delete conn;
            return;
        }
        if (conn->bytesAvailable() >= qint64(sizeof(quint32)))
            break;
        conn->waitForReadyRead(Platform::scaledMs(30000));
        if (conn->bytesAvailable() < qint64(sizeof(quint32)) && conn->state() != QLocalSocket::ConnectedState) {
            delete conn;
            return;
        }
    }

    QDataStream ds(conn);
    quint32 remaining = 0;
    ds >> remaining;
    // A peer names its own length: never allocate more than a message can sensibly need.
    if (remaining > MaxMessageBytes) {
        QLOG_WARN() << "QtLocalPeer: Message reception failed message too long" << remaining;
        delete conn;
        return;
    }
    QByteArray uMsg(int(remaining), Qt::Uninitialized);
    char* buf = uMsg.data();
    int got = 0;
    do {
        got = ds.readRawData(buf, int(remaining));
        if (got < 0)
            break;
        remaining -= quint32(got);
        buf += got;
    } while (remaining && got >= 0 && conn->waitForReadyRead(Platform::scaledMs(2000)));
    if (got < 0 || remaining) {
        QLOG_WARN() << "QtLocalPeer: Message reception failed" << conn->errorString();
        delete conn;
        return;
    }
    const QString message = QString::fromUtf8(uMsg);
    conn->write(ack, qstrlen(ack));
    conn->waitForBytesWritten(Platform::scaledMs(1000));
    conn->waitForDisconnected(Platform::scaledMs(1000));
    delete conn;
    emit messageReceived(message);
}
