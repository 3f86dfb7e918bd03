#pragma once

#include <QSignalSpy>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>

#include <memory>

#include "PrinterSim.h"
#include "Thread/CommunicateThread.h"
#include "common/TestTime.h"

// A printer link on its own thread talking to a simulated printer over a pseudo-terminal,
// with time-outs scaled down and every signal of the link recorded.
class LinkFixture
{
public:
    explicit LinkFixture(double timeoutScale = 0.1);
    ~LinkFixture();

    // Starts the printer (published under the fixture's folder) and names it to the link.
    bool startPrinter();
    // Starts detection and waits for linkStatus(true).
    bool linkUp();
    // Runs a slot of the link on its thread.
    template <typename F>
    void call(F f)
    {
        QMetaObject::invokeMethod(link, f, Qt::QueuedConnection);
    }
    // Waits until the link thread has handled everything queued so far.
    void sync();
    int state() const { return link->linkState(); }
    QString printerPath() const { return dir.path() + QStringLiteral("/printer0"); }
    QString writeFile(const QString& name, const QByteArray& bytes);

    // Frames of one command the printer received, as data.
    QList<QByteArray> sent(int command) const;

    QTemporaryDir dir;
    PrinterSim sim;
    CommunicateThread* link = nullptr;
    QThread thread;
    // Never started; its signals repeat the link's on the test thread, where the spies are.
    CommunicateThread mirror;

    std::unique_ptr<QSignalSpy> errors, linkStatus, update, printStatus, bvtStatus, tray, px6, px5,
        machineType, serial, trayTemp, door, levelingData, success;
};

// Log lines written so far (the fixture adds a capturing destination once).
QStringList capturedLog();
void clearCapturedLog();

// Values of a spy's first argument, in order.
template <typename T>
QList<T> spyValues(const QSignalSpy& spy)
{
    QList<T> out;
    for (const QList<QVariant>& args : spy)
        out << args.at(0).value<T>();
    return out;
}

// The first argument of the last emission; a default value before any.
template <typename T>
T lastValue(const QSignalSpy& spy)
{
    return spy.isEmpty() ? T() : spy.last().at(0).value<T>();
}
