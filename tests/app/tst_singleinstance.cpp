#include <QtTest>

#include <QDataStream>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <unistd.h>

#include "app/QtLocalPeer.h"
#include "app/QtLockedFile.h"
#include "common/TestTime.h"

using QtLP_Private::QtLockedFile;

class TestSingleInstance : public QObject
{
    Q_OBJECT

    QTemporaryDir tmp;
    QString helper = QStringLiteral(TEST_HELPER_DIR "/helper_single");

    // Starts the first instance and waits until it listens.
    bool startFirst(QProcess& first, const QString& timeoutScale = QString())
    {
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        if (!timeoutScale.isEmpty())
            e.insert("TARNI_TIMEOUT_SCALE", timeoutScale);
        first.setProcessEnvironment(e);
        first.start(helper, QStringList());
        if (!first.waitForStarted(TestTime::waitMs(5000)) || !first.waitForReadyRead(TestTime::waitMs(5000)))
            return false;
        return first.readLine().trimmed() == "listening";
    }

    int runSecond(const QStringList& args, const QString& workDir = QString())
    {
        QProcess second;
        if (!workDir.isEmpty())
            second.setWorkingDirectory(workDir);
        second.start(helper, args);
        if (!second.waitForFinished(TestTime::waitMs(15000)))
            return -1;
        return second.exitCode();
    }

    QString nextMessage(QProcess& first)
    {
        if (!first.canReadLine() && !first.waitForReadyRead(TestTime::waitMs(5000)))
            return QString();
        return QString::fromUtf8(first.readLine()).trimmed();
    }

    void stop(QProcess& first)
    {
        runSecond({"quit"});
        if (!first.waitForFinished(TestTime::waitMs(5000)))
            first.kill();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(tmp.isValid());
        // Local sockets live in the temporary folder: share the helpers' private one.
        qputenv("TMPDIR", tmp.path().toLocal8Bit());
        QVERIFY2(QFileInfo::exists(helper), "helper program missing");
    }

    void socketNameFromId()
    {
        QtLocalPeer peer(nullptr, QStringLiteral("BrevAnt"));
        QVERIFY2(QFileInfo(peer.socketName()).fileName().startsWith("qtsingleapp-BrevAn-"), qPrintable(peer.socketName()));
        const QString lock = QFileInfo(peer.lockFilePath()).fileName();
        QVERIFY2(lock.startsWith("qtsingleapp-BrevAn-") && lock.endsWith("-lockfile"), qPrintable(lock));
    }

    void lockConflictsWithinOneProcess()
    {
        const QString path = tmp.filePath("lock-test");
        QtLockedFile a(path), b(path);
        QVERIFY(a.open(QIODevice::ReadWrite));
        QVERIFY(b.open(QIODevice::ReadWrite));
        QVERIFY(a.lock(QtLockedFile::WriteLock, false));
        QVERIFY(!b.lock(QtLockedFile::WriteLock, false));
        QVERIFY(!b.lock(QtLockedFile::ReadLock, false));
        QVERIFY(a.unlock());
        QVERIFY(b.lock(QtLockedFile::ReadLock, false));
        QVERIFY(a.lock(QtLockedFile::ReadLock, false));
        QCOMPARE(b.lockMode(), QtLockedFile::ReadLock);
        QtLockedFile c(path);
        QVERIFY(!c.open(QIODevice::ReadWrite | QIODevice::Truncate));
    }

    void secondInstanceForwardsAbsolutePath()
    {
        QProcess first;
        QVERIFY(startFirst(first));
        QTemporaryDir elsewhere;
        QFile model(elsewhere.filePath("cube.stl"));
        QVERIFY(model.open(QIODevice::WriteOnly));
        model.close();
        QCOMPARE(runSecond({"cube.stl"}, elsewhere.path()), 0);
        QCOMPARE(nextMessage(first), QFileInfo(model).absoluteFilePath());
        QCOMPARE(runSecond({}), 0);
        QCOMPARE(nextMessage(first), QStringLiteral("raise_window_noop"));
        stop(first);
    }

    void oversizedMessageIsRefused()
    {
        QProcess first;
        QVERIFY(startFirst(first));
        QtLocalPeer probe(nullptr, QStringLiteral("BrevAntTest"));
        QLocalSocket s;
        s.connectToServer(probe.socketName());
        QVERIFY(s.waitForConnected(TestTime::waitMs(3000)));
        QDataStream ds(&s);
        ds << quint32(0x7fffffff);
        s.write("abc");
        QVERIFY(s.waitForBytesWritten(TestTime::waitMs(3000)));
        // The receiver drops the connection instead of allocating 2 GiB; no ack comes back.
        QVERIFY(!s.waitForReadyRead(1500) || s.read(3) != "ack");
        // It still serves later instances.
        QCOMPARE(runSecond({"after"}), 0);
        QCOMPARE(nextMessage(first), QStringLiteral("after"));
        stop(first);
    }

    void silentPeersDoNotBlock()
    {
        QProcess first;
        QVERIFY(startFirst(first, QString::number(TestTime::timeoutScale(0.05))));
        QtLocalPeer probe(nullptr, QStringLiteral("BrevAntTest"));
        // One peer says nothing, the other stops halfway through its message.
        QLocalSocket silent, stalled;
        silent.connectToServer(probe.socketName());
        stalled.connectToServer(probe.socketName());
        QVERIFY(silent.waitForConnected(TestTime::waitMs(3000)));
        QVERIFY(stalled.waitForConnected(TestTime::waitMs(3000)));
        QDataStream(&stalled) << quint32(10);
        stalled.write("abc");
        QVERIFY(stalled.waitForBytesWritten(TestTime::waitMs(3000)));
        // Meanwhile a later instance is still served at once.
        QCOMPARE(runSecond({"meanwhile"}), 0);
        QCOMPARE(nextMessage(first), QStringLiteral("meanwhile"));
        // Both are dropped once their wait runs out.
        QVERIFY(silent.state() == QLocalSocket::UnconnectedState || silent.waitForDisconnected(TestTime::waitMs(5000)));
        QVERIFY(stalled.state() == QLocalSocket::UnconnectedState || stalled.waitForDisconnected(TestTime::waitMs(5000)));
        stop(first);
    }

    // Where the lock and the socket go when the temporary folder is missing, unusable or
    // long: a later instance still meets the first, the socket's path fits the 107 bytes a
    // local socket allows, and nothing lands outside the user's folders.
    void unusableTempFolder_data()
    {
        // Neither a file nor /proc takes new files, not even from root; "long N" is a folder
        // whose path is N characters long, "missing" one that does not exist.
        QTest::addColumn<QByteArray>("temp");
        QTest::addColumn<bool>("runtime"); // a usable runtime folder
        QTest::addColumn<int>("data");     // length of a usable data folder, 0 for none
        QTest::newRow("a file, runtime folder") << QByteArray("/dev/null") << true << 0;
        QTest::newRow("read-only, data folder") << QByteArray("/proc") << false << 1;
        QTest::newRow("read-only, no folder") << QByteArray("/proc") << false << 0;
        QTest::newRow("missing, data folder") << QByteArray("missing") << false << 1;
        QTest::newRow("70 characters") << QByteArray("long 70") << false << 0;
        QTest::newRow("100 characters") << QByteArray("long 100") << false << 0;
        QTest::newRow("120 characters") << QByteArray("long 120") << false << 0;
        QTest::newRow("120 characters, runtime folder") << QByteArray("long 120") << true << 0;
        QTest::newRow("unusable, data folder of 120 characters") << QByteArray("/proc") << false << 120;
    }

    void unusableTempFolder()
    {
        QFETCH(QByteArray, temp);
        QFETCH(bool, runtime);
        QFETCH(int, data);
        QTemporaryDir places;
        // A folder under `places` whose path is `length` characters long.
        const auto longFolder = [&places](const QString& name, int length) {
            QString path = places.filePath(name);
            path += '/' + QString(std::max(1, length - path.size() - 1), 'd');
            return QDir().mkpath(path) ? path : QString();
        };
        const bool longTemp = temp.startsWith("long ");
        if (longTemp)
            temp = longFolder("temp", temp.mid(5).toInt()).toLocal8Bit();
        else if (temp == "missing")
            temp = places.filePath("missing").toLocal8Bit();
        QString dataHome = "/dev/null/data";
        if (data > 0)
            dataHome = longFolder("data", data - int(qstrlen("/Brevant")));
        qputenv("XDG_RUNTIME_DIR", runtime ? places.path().toLocal8Bit() : "/dev/null/run");
        qputenv("XDG_DATA_HOME", dataHome.toLocal8Bit());
        const auto restore = qScopeGuard([this] { qputenv("TMPDIR", tmp.path().toLocal8Bit()); });
        qputenv("TMPDIR", temp);
        // Qt's runtime folder would be made there when the temporary folder is missing.
        const QStringList rootBefore = QDir("/").entryList({"runtime-*"}, QDir::AllEntries | QDir::Hidden);
        QProcess first;
        QVERIFY(startFirst(first));
        // Without any lock a later instance would start as well.
        if (runtime || data > 0 || longTemp) {
            QCOMPARE(runSecond({"elsewhere"}), 0);
            QCOMPARE(nextMessage(first), QStringLiteral("elsewhere"));
            // The same folders give this process the same socket.
            const QString socket = QtLocalPeer(nullptr, QStringLiteral("BrevAntTest")).socketName();
            QVERIFY2(socket.toLocal8Bit().size() <= 107, qPrintable(socket));
            QVERIFY2(QFileInfo(socket).exists(), qPrintable(socket));
            const QStringList own = {QString::fromLocal8Bit(temp), places.path(), dataHome, QString("/tmp/tarni-%1").arg(getuid())};
            QVERIFY2(std::any_of(own.begin(), own.end(), [&](const QString& f) { return socket.startsWith(f + '/'); }),
                     qPrintable(socket));
            // A first instance that ends takes its socket with it.
            stop(first);
            QVERIFY(!QFileInfo::exists(socket));
        }
        first.kill();
        first.waitForFinished(TestTime::waitMs(3000));
        QCOMPARE(QDir("/").entryList({"runtime-*"}, QDir::AllEntries | QDir::Hidden), rootBefore);
        // A temporary folder that is not there is passed over, never made.
        if (QTest::currentDataTag() == QByteArray("missing, data folder"))
            QVERIFY(!QFileInfo::exists(QString::fromLocal8Bit(temp)));
    }

    void staleLockAfterCrashIsTakenOver()
    {
        QProcess first;
        QVERIFY(startFirst(first));
        first.kill();
        first.waitForFinished(TestTime::waitMs(3000));
        // The lock died with the process; the socket file is stale and gets replaced.
        QProcess next;
        QVERIFY(startFirst(next));
        QCOMPARE(runSecond({"again"}), 0);
        QCOMPARE(nextMessage(next), QStringLiteral("again"));
        stop(next);
    }
};

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
