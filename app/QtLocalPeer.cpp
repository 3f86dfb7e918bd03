#include "app/QtLocalPeer.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDataStream>
#include <QDir>
#include <QFileInfo>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>
#include <QtEndian>

#include <memory>

#ifndef Q_OS_WIN
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#endif

#include "app/QsLog.h"
#include "platform/Platform.h"

namespace {
const char ack[] = "ack";

#ifndef Q_OS_WIN
// Whether the system can bind a local socket at the path (107 bytes on Linux).
bool socketPathFits(const QString& path)
{
    return QFile::encodeName(path).size() < int(sizeof(sockaddr_un::sun_path));
}

// The session's runtime folder when it names one of the user's own; never made or changed.
QString runtimeFolder()
{
    const QString dir = qEnvironmentVariable("XDG_RUNTIME_DIR");
    const QFileInfo info(dir);
    if (!QDir::isAbsolutePath(dir) || !info.isDir() || !info.isWritable() || info.ownerId() != getuid())
        return QString();
    return QDir::cleanPath(dir);
}

// A folder of the user's own under the system's temporary one, short whatever TMPDIR says.
QString shortPrivateFolder()
{
    const QByteArray dir = "/tmp/tarni-" + QByteArray::number(qulonglong(getuid()));
    ::mkdir(dir.constData(), 0700);
    struct stat st;
    // Only a real folder of ours that no one else may enter.
    if (::lstat(dir.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != getuid() || (st.st_mode & 077) != 0)
        return QString();
    return QString::fromLatin1(dir);
}

// Where the socket of a lock in `dir` lives: beside it when that path fits, else in a short
// folder of the user's under a name made from that path, so that locks in different folders
// never share a socket. Every instance that finds the lock in `dir` makes the same path.
QString socketPathFor(const QString& dir, const QString& name)
{
    const QString beside = dir + QLatin1Char('/') + name;
    if (socketPathFits(beside))
        return beside;
    const QByteArray hash = QCryptographicHash::hash(beside.toUtf8(), QCryptographicHash::Sha1).toHex().left(16);
    const QString shortName = name.section(QLatin1Char('-'), 0, 1) + QLatin1Char('-') + QString::fromLatin1(hash);
    for (const auto& folder : {runtimeFolder, shortPrivateFolder}) {
        const QString f = folder();
        if (!f.isEmpty() && socketPathFits(f + QLatin1Char('/') + shortName))
            return f + QLatin1Char('/') + shortName;
    }
    return beside; // listening fails and says so; the instance still runs
}
#endif
} // namespace

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
// tries them in the same order, so they still meet. A missing folder is skipped, never made
// (nothing may land at the file system's root).
void QtLocalPeer::openLockFile()
{
    const QString name = socket;
    for (int place = 0; place < 3; ++place) {
        QString dir = Platform::tempDirectory();
        if (place == 1) {
#ifdef Q_OS_WIN
            dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
#else
            dir = runtimeFolder();
#endif
        } else if (place == 2) {
            dir = Platform::dataDirectory();
        }
        if (dir.isEmpty() || (place == 2 && !QDir().mkpath(dir)))
            continue;
        lockFile.setFileName(dir + QLatin1Char('/') + name + QLatin1String("-lockfile"));
        if (lockFile.open(QIODevice::ReadWrite)) {
#ifndef Q_OS_WIN
            socket = socketPathFor(dir, name);
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
