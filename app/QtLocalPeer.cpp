#include "app/QtLocalPeer.h"

#include <QCoreApplication>
#include <QDataStream>
#include <QDir>
#include <QFileInfo>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>
#include <QtEndian>

#include <memory>

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
    openLockFile();
}

// The lock and the socket live in the temporary folder. When it cannot be written (missing,
// a file, not ours) the runtime folder or the data folder takes its place; every instance
// tries them in the same order, so they still meet.
void QtLocalPeer::openLockFile()
{
    const QString name = socket;
    for (int place = 0; place < 3; ++place) {
        // Empty when the folder is missing; the lock then does not land in the working folder.
        QString dir = QDir::tempPath();
        if (place == 1)
            dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
        else if (place == 2)
            dir = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
        if (dir.isEmpty() || (place == 2 && !QDir().mkpath(dir)))
            continue;
        lockFile.setFileName(dir + QLatin1Char('/') + name + QLatin1String("-lockfile"));
        if (lockFile.open(QIODevice::ReadWrite)) {
#ifndef Q_OS_WIN
            // A bare socket name lies in the temporary folder; elsewhere it needs its path.
            if (place > 0)
                socket = dir + QLatin1Char('/') + name;
#endif
            return;
        }
        qWarning("QtLocalPeer: cannot open the lock file %s: %s", qPrintable(lockFile.fileName()),
                 qPrintable(lockFile.errorString()));
    }
}

bool QtLocalPeer::isClient()
{
    if (lockFile.isLocked())
        return false;
    if (!lockFile.isOpen()) {
        // Better two instances than none: without a lock this one runs alone.
        qWarning("QtLocalPeer: no folder for the lock file; running without the single-instance check");
        return false;
    }
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
    while (QLocalSocket* conn = server->nextPendingConnection())
        readConnection(conn);
}

// The message is read as its bytes arrive, so a silent or slow peer never holds up the
// event loop; a peer that stays silent too long is dropped.
void QtLocalPeer::readConnection(QLocalSocket* conn)
{
    struct Reception
    {
        qint64 expected = -1; // message length, once its prefix is in
        QByteArray message;
        bool done = false;
    };
    auto state = std::make_shared<Reception>();
    auto* timer = new QTimer(conn);
    timer->setSingleShot(true);
    auto drop = [conn](const QString& why) {
        QLOG_WARN() << "QtLocalPeer: Message reception failed" << why;
        conn->abort();
        conn->deleteLater();
    };
    connect(timer, &QTimer::timeout, conn, [conn, state, drop] {
        if (!state->done) {
            drop(QStringLiteral("time-out"));
            return;
        }
        // The ack went out; a peer that does not hang up is cut off.
        conn->abort();
        conn->deleteLater();
    });
    connect(conn, &QLocalSocket::disconnected, conn, [conn, state] {
        if (!state->done) {
            QLOG_WARN() << "QtLocalPeer: Peer disconnected";
        }
        conn->deleteLater();
    });
    auto onBytes = [this, conn, state, timer, drop] {
        if (state->done)
            return;
        if (state->expected < 0) {
            if (conn->bytesAvailable() < qint64(sizeof(quint32))) {
                timer->start(Platform::scaledMs(30000));
                return;
            }
            uchar prefix[sizeof(quint32)];
            conn->read(reinterpret_cast<char*>(prefix), sizeof prefix);
            const quint32 length = qFromBigEndian<quint32>(prefix);
            // A peer names its own length: never allocate more than a message can sensibly need.
            if (length > MaxMessageBytes) {
                drop(QStringLiteral("message too long %1").arg(length));
                return;
            }
            state->expected = length;
            state->message.reserve(int(length));
        }
        state->message += conn->read(state->expected - state->message.size());
        if (state->message.size() < state->expected) {
            timer->start(Platform::scaledMs(2000));
            return;
        }
        state->done = true;
        conn->write(ack, qstrlen(ack));
        conn->flush();
        timer->start(Platform::scaledMs(2000));
        const QString message = QString::fromUtf8(state->message);
        // Emitted from the event loop, so that whatever the receiver does cannot pull the
        // socket from under this handler.
        QMetaObject::invokeMethod(this, [this, message] { emit messageReceived(message); }, Qt::QueuedConnection);
    };
    connect(conn, &QLocalSocket::readyRead, this, onBytes);
    connect(conn, &QLocalSocket::errorOccurred, conn, [conn, state, drop](QLocalSocket::LocalSocketError e) {
        if (!state->done && e != QLocalSocket::PeerClosedError)
            drop(conn->errorString());
    });
    // Bytes may already be waiting: the peer often writes right after connecting.
    onBytes();
}
