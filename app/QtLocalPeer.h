#pragma once

#include <QLocalServer>
#include <QLocalSocket>
#include <QObject>
#include <QString>

#include "app/QtLockedFile.h"

// The lock and the local socket that keep one instance per user and carry a later
// instance's message to the first.
class QtLocalPeer : public QObject
{
    Q_OBJECT
public:
    explicit QtLocalPeer(QObject* parent = nullptr, const QString& appId = QString());
    bool isClient();
    bool sendMessage(const QString& message, int timeout);
    QString applicationId() const { return id; }
    QString socketName() const { return socket; }
    QString lockFilePath() const { return lockFile.fileName(); }

    // Longest message accepted from a peer.
    static const quint32 MaxMessageBytes = 64 * 1024;

signals:
    void messageReceived(const QString& message);

protected slots:
    void receiveConnection();

private:
    void openLockFile();
    void readConnection(QLocalSocket* conn);

    QString id;
    QString socket;
    QLocalServer* server = nullptr;
    QtLP_Private::QtLockedFile lockFile;
};
