#pragma once

#include <QApplication>
#include <QCoreApplication>
#include <QPointer>
#include <QWidget>

class QtLocalPeer;

// The application object of a program of which one instance runs per user.
class QtSingleApplication : public QApplication
{
    Q_OBJECT
public:
    QtSingleApplication(const QString& id, int& argc, char** argv);

    bool isRunning();
    QString id() const;
    void setActivationWindow(QWidget* aw, bool activateOnMessage = true);
    QWidget* activationWindow() const { return actWin; }

public slots:
    bool sendMessage(const QString& message, int timeout = 5000);
    void activateWindow(const QString& message = QString());

signals:
    void messageReceived(const QString& message);

private:
    QtLocalPeer* peer;
    QPointer<QWidget> actWin;
};

// The same for programs without widgets.
class QtSingleCoreApplication : public QCoreApplication
{
    Q_OBJECT
public:
    QtSingleCoreApplication(const QString& id, int& argc, char** argv);

    bool isRunning();
    QString id() const;

public slots:
    bool sendMessage(const QString& message, int timeout = 5000);

signals:
    void messageReceived(const QString& message);

private:
    QtLocalPeer* peer;
};
