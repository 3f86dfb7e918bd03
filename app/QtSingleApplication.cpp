#include "app/QtSingleApplication.h"

#include <QMetaObject>

#include "app/QtLocalPeer.h"

QtSingleApplication::QtSingleApplication(const QString& appId, int& argc, char** argv)
    : QApplication(argc, argv)
    , peer(new QtLocalPeer(this, appId))
{
    connect(peer, &QtLocalPeer::messageReceived, this, &QtSingleApplication::messageReceived);
}

bool QtSingleApplication::isRunning()
{
    return peer->isClient();
}

QString QtSingleApplication::id() const
{
    return peer->applicationId();
}

bool QtSingleApplication::sendMessage(const QString& message, int timeout)
{
    return peer->sendMessage(message, timeout);
}

void QtSingleApplication::setActivationWindow(QWidget* aw, bool activateOnMessage)
{
    actWin = aw;
    if (activateOnMessage)
        connect(peer, &QtLocalPeer::messageReceived, this, &QtSingleApplication::activateWindow,
                Qt::UniqueConnection);
    else
        disconnect(peer, &QtLocalPeer::messageReceived, this, &QtSingleApplication::activateWindow);
}

void QtSingleApplication::activateWindow(const QString& message)
{
    if (!actWin)
        return;
    // The main window raises itself and opens the file it was handed (it ignores
    // "raise_window_noop") once no question of its own is open.
    QMetaObject::invokeMethod(actWin, "handOverFile", Qt::DirectConnection, Q_ARG(QString, message));
}

QtSingleCoreApplication::QtSingleCoreApplication(const QString& appId, int& argc, char** argv)
    : QCoreApplication(argc, argv)
    , peer(new QtLocalPeer(this, appId))
{
    connect(peer, &QtLocalPeer::messageReceived, this, &QtSingleCoreApplication::messageReceived);
}

bool QtSingleCoreApplication::isRunning()
{
    return peer->isClient();
}

QString QtSingleCoreApplication::id() const
{
    return peer->applicationId();
}

bool QtSingleCoreApplication::sendMessage(const QString& message, int timeout)
{
    return peer->sendMessage(message, timeout);
}
