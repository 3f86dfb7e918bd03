#include "testutil_linkfixture.h"

#include <QFile>
#include <QMutex>
#include <QTest>

#include "app/QsLog.h"
#include "platform/Platform.h"

namespace {
QMutex g_logMutex;
QStringList g_log;

void captureLine(const QString& message, QsLogging::Level)
{
    QMutexLocker lock(&g_logMutex);
    g_log << message;
}
} // namespace

QStringList capturedLog()
{
    QsLogging::Logger::instance().flush();
    QMutexLocker lock(&g_logMutex);
    return g_log;
}

void clearCapturedLog()
{
    QsLogging::Logger::instance().flush();
    QMutexLocker lock(&g_logMutex);
    g_log.clear();
}

LinkFixture::LinkFixture(double timeoutScale)
{
    static bool logging = false;
    if (!logging) {
        QsLogging::Logger::instance().addDestination(QsLogging::DestinationFactory::MakeFunctorDestination(&captureLine));
        logging = true;
    }
    registerSignalTypes();
    Platform::setTimeoutScale(timeoutScale);
    qputenv("TARNI_SERIAL_PORTS", printerPath().toLocal8Bit());

    link = new CommunicateThread;
    errors.reset(new QSignalSpy(link, &CommunicateThread::errorMessage));
    linkStatus.reset(new QSignalSpy(link, &CommunicateThread::linkStatus));
    update.reset(new QSignalSpy(link, &CommunicateThread::signUpdate));
    printStatus.reset(new QSignalSpy(link, &CommunicateThread::signPrintStatus));
    bvtStatus.reset(new QSignalSpy(link, &CommunicateThread::sendBVTStatusChanged));
    tray.reset(new QSignalSpy(link, &CommunicateThread::signTrayStatus));
    px6.reset(new QSignalSpy(link, &CommunicateThread::signPX6LevelingStatus));
    px5.reset(new QSignalSpy(link, &CommunicateThread::signPX5_1LevelingStatus));
    machineType.reset(new QSignalSpy(link, &CommunicateThread::signMachineType));
    serial.reset(new QSignalSpy(link, &CommunicateThread::signSerialNumber));
    trayTemp.reset(new QSignalSpy(link, &CommunicateThread::signTrayTemperature));
    door.reset(new QSignalSpy(link, &CommunicateThread::signDoorActive));
    levelingData.reset(new QSignalSpy(link, &CommunicateThread::signLevelingData));
    success.reset(new QSignalSpy(link, &CommunicateThread::setSuccess));
    link->moveToThread(&thread);
    thread.start();
}

LinkFixture::~LinkFixture()
{
    QMetaObject::invokeMethod(link, &CommunicateThread::stop, Qt::BlockingQueuedConnection);
    QMetaObject::invokeMethod(link, [this] { link->deleteLater(); }, Qt::BlockingQueuedConnection);
    thread.quit();
    thread.wait();
    Platform::setTimeoutScale(1.0);
}

bool LinkFixture::startPrinter()
{
    return sim.start(printerPath());
}

bool LinkFixture::linkUp()
{
    if (!sim.isRunning() && !startPrinter())
        return false;
    call([this] { link->startSerialdetection(); });
    for (int i = 0; i < 200; ++i) {
        for (const QList<QVariant>& args : *linkStatus)
            if (args.at(0).toBool())
                return true;
        QTest::qWait(10);
    }
    return false;
}

void LinkFixture::sync()
{
    QMetaObject::invokeMethod(link, [] {}, Qt::BlockingQueuedConnection);
}

QString LinkFixture::writeFile(const QString& name, const QByteArray& bytes)
{
    const QString path = dir.path() + QLatin1Char('/') + name;
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        return QString();
    return path;
}

QList<QByteArray> LinkFixture::sent(int command) const
{
    QList<QByteArray> out;
    for (const SerialFrame::Frame& f : sim.requestsOf(command))
        out << f.data;
    return out;
}
