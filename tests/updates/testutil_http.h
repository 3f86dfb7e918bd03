#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTcpServer>
#include <QThread>
#include <QUrl>

#include <atomic>
#include <functional>

#include "common/TestTime.h"

// A tiny HTTP/1.0 server on 127.0.0.1 standing in for the update server: each path has a
// canned answer; every request is recorded.
class TestHttpServer : public QTcpServer
{
    Q_OBJECT
public:
    struct Answer
    {
        int status = 200;
        QByteArray body;
        QList<QPair<QByteArray, QByteArray>> headers;
        int sent = -1;             // bytes of the body sent before hanging up; -1: all
        bool declareLength = true; // Content-Length, of the whole body
    };

    bool start();
    QString baseUrl() const;
    void set(const QString& path, const QByteArray& body, int status = 200,
             const QByteArray& disposition = QByteArray());
    // The answer at path breaks off after sent bytes.
    void cut(const QString& path, int sent, bool declareLength);
    // path answers "302 Found" with a Location on this server.
    void redirect(const QString& path, const QString& to);
    void clear();
    QStringList requests;

private:
    void onConnection();
    QHash<QString, Answer> m_answers;
};

// Streams a body of size bytes with its length from a thread of its own, as fast as the
// client takes it, as a fast network does whatever the window is busy with.
class StreamingHttpServer
{
public:
    ~StreamingHttpServer();
    bool start(qint64 size);
    QUrl url() const;
    // Bytes the client's side has taken from the server so far.
    qint64 sent() const { return m_sent.load(); }

private:
    QThread m_thread;
    QTcpServer* m_server = nullptr;
    quint16 m_port = 0;
    std::atomic<qint64> m_sent{0};
};

// The process's resident size in MiB (-1 when unknown).
long residentMiB();

// Points the update code at the server, keeps the network local, and gives the process a
// temporary folder of its own.
void useTestServer(const TestHttpServer& server);
bool waitUntil(const std::function<bool()>& done, int ms = TestTime::waitMs(5000));
