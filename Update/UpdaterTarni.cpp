#include "Update/UpdaterTarni.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

#include "UI/BrevMessageBox.h"
#include "Update/Downloader.h"
#include "Update/UpdateServer.h"
#include "app/QsLog.h"
#include "platform/Platform.h"

UpdaterTarni::UpdaterTarni(QObject* parent)
    : QObject(parent)
    , m_documentUrl(UpdateServer::url(QLatin1String(documentPath())).toString())
    , m_platformKey(QStringLiteral("windows64"))
    , m_appName(QCoreApplication::applicationName())
    , m_runningVersion(QCoreApplication::applicationVersion())
    , m_downloader(new Downloader(nullptr))
    , m_manager(new QNetworkAccessManager(this))
    , m_managerLogCN(new QNetworkAccessManager(this))
    , m_managerLogEN(new QNetworkAccessManager(this))
{
    connect(m_manager, &QNetworkAccessManager::finished, this, &UpdaterTarni::onReply, Qt::QueuedConnection);
    connect(m_managerLogCN, &QNetworkAccessManager::finished, this, &UpdaterTarni::onReplyLogCN,
            Qt::QueuedConnection);
    connect(m_managerLogEN, &QNetworkAccessManager::finished, this, &UpdaterTarni::onReplyLogEN,
            Qt::QueuedConnection);
}

UpdaterTarni::~UpdaterTarni()
{
    delete m_downloader;
}

void UpdaterTarni::checkForUpdates(bool reminder)
{
    m_reminder = reminder;
    QNetworkReply* reply = m_manager->get(QNetworkRequest(QUrl(m_documentUrl)));
    UpdateServer::limitReply(reply, UpdateServer::MaxDocumentBytes);
}

void UpdaterTarni::onReply(QNetworkReply* reply)
{
    reply->deleteLater();
    if (!UpdateServer::isGoodReply(reply)) {
        QLOG_INFO() << "Update\\UpdaterTarni@" << __LINE__ << "version check failed:" << reply->errorString();
        emit checkFinished(false);
        return;
    }
    Entry entry;
    if (!readDocument(reply->readAll(), m_platformKey, entry)) {
        emit checkFinished(false);
        return;
    }
    m_downloadUrl = entry.downloadUrl;
    m_latestVersion = entry.latestVersion;
    m_logCNUrl = entry.logCNUrl;
    m_logENUrl = entry.logENUrl;
    QNetworkReply* cn = m_managerLogCN->get(UpdateServer::fileRequest(QUrl(m_logCNUrl)));
    UpdateServer::limitReply(cn, UpdateServer::MaxDocumentBytes);
    QNetworkReply* en = m_managerLogEN->get(UpdateServer::fileRequest(QUrl(m_logENUrl)));
    UpdateServer::limitReply(en, UpdateServer::MaxDocumentBytes);
    emit checkFinished(true);
    setUpdateAvailable();
}

bool UpdaterTarni::readDocument(const QByteArray& bytes, const QString& platformKey, Entry& out)
{
    const QJsonDocument doc = QJsonDocument::fromJson(bytes);
    if (doc.isNull())
        return false;
    const QJsonObject platform = doc.object().value(QLatin1String("updates")).toObject().value(platformKey).toObject();
    out.downloadUrl = platform.value(QLatin1String("download-url")).toString();
    out.latestVersion = platform.value(QLatin1String("latest-version")).toString();
    out.logCNUrl = platform.value(QLatin1String("log-CN")).toString();
    out.logENUrl = platform.value(QLatin1String("log-EN")).toString();
    return true;
}

bool UpdaterTarni::compareVersions() const
{
    return UpdateServer::isNewerVersion(m_latestVersion, m_runningVersion);
}

void UpdaterTarni::setUpdateAvailable()
{
    if (compareVersions()) {
        BrevMessageBox box(45, nullptr, m_latestVersion);
        if (box.exec() == 1) {
            m_downloader->setModal(true);
            m_downloader->startDownload(QUrl(m_downloadUrl));
        }
    } else if (m_reminder) {
        BrevMessageBox box(46, nullptr);
        box.exec();
    }
}

void UpdaterTarni::onReplyLogCN(QNetworkReply* reply)
{
    storeLog(reply, QStringLiteral("logCN.log"), true);
}

void UpdaterTarni::onReplyLogEN(QNetworkReply* reply)
{
    storeLog(reply, QStringLiteral("logEN.log"), false);
}

void UpdaterTarni::storeLog(QNetworkReply* reply, const QString& fallbackName, bool chinese)
{
    reply->deleteLater();
    // An error page is no change log, and a cut one would be shown as if whole.
    if (!UpdateServer::isGoodReply(reply))
        return;
    const QByteArray body = reply->readAll();
    if (body.isEmpty() || !UpdateServer::isWholeBody(reply, body.size())) {
        QLOG_INFO() << "Update\\UpdaterTarni@" << __LINE__ << "change log empty or cut short:" << reply->url().toString();
        return;
    }
    const QString path = Platform::tempFilePath(UpdateServer::attachmentName(reply, fallbackName));
    if (UpdateServer::writeWholeFile(path, body)) {
        if (chinese)
            m_downloader->setLogPathCN(path);
        else
            m_downloader->setLogPathEN(path);
    }
    reply->close();
}
