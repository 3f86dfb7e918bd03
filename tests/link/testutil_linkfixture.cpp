#include "testutil_linkfixture.h"

#include <QCoreApplication>
#include <QFile>
#include <QTest>

#include "common/LogCapture.h"
#include "platform/Platform.h"

QStringList capturedLog()
{
    return LogCapture::instance().lines();
}

void clearCapturedLog()
{
    LogCapture::instance().lines(true);
}

LinkFixture::LinkFixture(double timeoutScale)
{
    LogCapture::instance();
    registerSignalTypes();
    Platform::setTimeoutScale(TestTime::timeoutScale(timeoutScale));
    qputenv("TARNI_SERIAL_PORTS", printerPath().toLocal8Bit());

    link = new CommunicateThread;
    QObject::connect(link, &CommunicateThread::errorMessage, &mirror, &CommunicateThread::errorMessage, Qt::QueuedConnection);
    QObject::connect(link, &CommunicateThread::linkStatus, &mirror, &CommunicateThread::linkStatus, Qt::QueuedConnection);
    QObject::connect(link, &CommunicateThread::signUpdate, &mirror, &CommunicateThread::signUpdate, Qt::QueuedConnection);
    QObject::connect(link, &CommunicateThread::signPrintStatus, &mirror, &CommunicateThread::signPrintStatus, Qt::QueuedConnection);
    QObject::connect(link, &CommunicateThread::sendBVTStatusChanged, &mirror, &CommunicateThread::sendBVTStatusChanged, Qt::QueuedConnection);
    QObject::connect(link, &CommunicateThread::signTrayStatus, &mirror, &CommunicateThread::signTrayStatus, Qt::QueuedConnection);
    QObject::connect(link, &CommunicateThread::signPX6LevelingStatus, &mirror, &CommunicateThread::signPX6LevelingStatus, Qt::QueuedConnection);
    QObject::connect(link, &CommunicateThread::signPX5_1LevelingStatus, &mirror, &CommunicateThread::signPX5_1LevelingStatus, Qt::QueuedConnection);
    QObject::connect(link, &CommunicateThread::signMachineType, &mirror, &CommunicateThread::signMachineType, Qt::QueuedConnection);
    QObject::connect(link, &CommunicateThread::signSerialNumber, &mirror, &CommunicateThread::signSerialNumber, Qt::QueuedConnection);
    QObject::connect(link, &CommunicateThread::signTrayTemperature, &mirror, &CommunicateThread::signTrayTemperature, Qt::QueuedConnection);
    QObject::connect(link, &CommunicateThread::signDoorActive, &mirror, &CommunicateThread::signDoorActive, Qt::QueuedConnection);
    QObject::connect(link, &CommunicateThread::signLevelingData, &mirror, &CommunicateThread::signLevelingData, Qt::QueuedConnection);
    QObject::connect(link, &CommunicateThread::setSuccess, &mirror, &CommunicateThread::setSuccess, Qt::QueuedConnection);
    errors.reset(new QSignalSpy(&mirror, &CommunicateThread::errorMessage));
    linkStatus.reset(new QSignalSpy(&mirror, &CommunicateThread::linkStatus));
    update.reset(new QSignalSpy(&mirror, &CommunicateThread::signUpdate));
    printStatus.reset(new QSignalSpy(&mirror, &CommunicateThread::signPrintStatus));
    bvtStatus.reset(new QSignalSpy(&mirror, &CommunicateThread::sendBVTStatusChanged));
    tray.reset(new QSignalSpy(&mirror, &CommunicateThread::signTrayStatus));
    px6.reset(new QSignalSpy(&mirror, &CommunicateThread::signPX6LevelingStatus));
    px5.reset(new QSignalSpy(&mirror, &CommunicateThread::signPX5_1LevelingStatus));
    machineType.reset(new QSignalSpy(&mirror, &CommunicateThread::signMachineType));
    serial.reset(new QSignalSpy(&mirror, &CommunicateThread::signSerialNumber));
    trayTemp.reset(new QSignalSpy(&mirror, &CommunicateThread::signTrayTemperature));
    door.reset(new QSignalSpy(&mirror, &CommunicateThread::signDoorActive));
    levelingData.reset(new QSignalSpy(&mirror, &CommunicateThread::signLevelingData));
    success.reset(new QSignalSpy(&mirror, &CommunicateThread::setSuccess));
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
    const auto up = [this] {
        for (const QList<QVariant>& args : *linkStatus)
            if (args.at(0).toBool())
                return true;
        return false;
    };
    return QTest::qWaitFor(up, TestTime::waitMs(5000));
}

void LinkFixture::sync()
{
    QMetaObject::invokeMethod(link, [] {}, Qt::BlockingQueuedConnection);
    QCoreApplication::processEvents();
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
