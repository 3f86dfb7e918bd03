#pragma once

#include <QObject>
#include <QString>

class Downloader;
class QNetworkAccessManager;
class QNetworkReply;

// Asks the update server whether a newer version of the program exists, fetches its
// change logs and offers the installer's download.
class UpdaterTarni : public QObject
{
    Q_OBJECT
public:
    explicit UpdaterTarni(QObject* parent = nullptr);
    ~UpdaterTarni() override;

    // True when the latest version is newer than the running one.
    bool compareVersions() const;

    QString latestVersion() const { return m_latestVersion; }
    QString runningVersion() const { return m_runningVersion; }
    void setRunningVersion(const QString& v) { m_runningVersion = v; }
    QString downloadUrl() const { return m_downloadUrl; }
    QString documentUrl() const { return m_documentUrl; }
    Downloader* downloader() const { return m_downloader; }

    // The entry for platformKey in a version document; false when the bytes are no JSON document.
    struct Entry
    {
        QString downloadUrl, latestVersion, logCNUrl, logENUrl;
    };
    static bool readDocument(const QByteArray& bytes, const QString& platformKey, Entry& out);

    // The version document's path on the server.
    static const char* documentPath() { return "/version/tarni/soft"; }

signals:
    // The document was read (or the check ended without one); for callers that wait.
    void checkFinished(bool documentRead);

public slots:
    void checkForUpdates(bool reminder);
    void onReply(QNetworkReply* reply);
    void setUpdateAvailable();
    void onReplyLogCN(QNetworkReply* reply);
    void onReplyLogEN(QNetworkReply* reply);

private:
    void storeLog(QNetworkReply* reply, const QString& fallbackName, bool chinese);

    bool m_reminder = false;
    QString m_documentUrl;
    QString m_platformKey;
    QString m_unused;
    QString m_appName;
    QString m_downloadUrl;
    QString m_logCNUrl;
    QString m_logENUrl;
    QString m_runningVersion;
    QString m_latestVersion;
    Downloader* m_downloader;
    QNetworkAccessManager* m_manager;
    QNetworkAccessManager* m_managerLogCN;
    QNetworkAccessManager* m_managerLogEN;
};
