#include "Update/Firmware/DownloadFirmware.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

#include "FileRW/SafeFileName.h"
#include "UI/BrevMessageBox.h"
#include "Update/UpdateServer.h"
#include "app/QsLog.h"
#include "scene/AppData.h"

namespace {

// A firmware document lists a handful of items; more is a broken or hostile document.
constexpr int MaxItems = 64;

QString imageName(const QString& name, const QString& version)
{
    return QStringLiteral("%1firm_V%2.bin").arg(name, version);
}

// A firmware name becomes a folder name and its version part of a file name: both must stay
// inside the store.
bool usableItem(const QString& name, const QString& version)
{
    return isSafeFileName(name) && !version.contains('/') && !version.contains('\\');
}

} // namespace

DownloadFirmware::DownloadFirmware(QObject* parent)
    : QObject(parent)
    , m_urlPx5(UpdateServer::url(QStringLiteral("/version/PX5/firm")).toString())
    , m_urlPx6(UpdateServer::url(QStringLiteral("/version/PX6/firm")).toString())
    , m_managerPx5(new QNetworkAccessManager(this))
    , m_managerPx6(new QNetworkAccessManager(this))
    , m_storeDir(AppData::instance()->getAppDir() + "/firmware")
{
    connect(m_managerPx5, &QNetworkAccessManager::finished, this, &DownloadFirmware::onReply_px5,
            Qt::QueuedConnection);
    connect(m_managerPx6, &QNetworkAccessManager::finished, this, &DownloadFirmware::onReply_px6,
            Qt::QueuedConnection);
    QDir().mkpath(m_storeDir);
}

void DownloadFirmware::requestVersionInfo()
{
    UpdateServer::limitReply(m_managerPx5->get(QNetworkRequest(QUrl(m_urlPx5))), UpdateServer::MaxDocumentBytes);
    UpdateServer::limitReply(m_managerPx6->get(QNetworkRequest(QUrl(m_urlPx6))), UpdateServer::MaxDocumentBytes);
}

void DownloadFirmware::onReply_px5(QNetworkReply* reply) { readDocument(reply, 0); }
void DownloadFirmware::onReply_px6(QNetworkReply* reply) { readDocument(reply, 1); }
void DownloadFirmware::onReplyBin_px5(QNetworkReply* reply) { storeDownload(reply, 0, Image); }
void DownloadFirmware::onReplyLogCN_px5(QNetworkReply* reply) { storeDownload(reply, 0, LogCN); }
void DownloadFirmware::onReplyLogEN_px5(QNetworkReply* reply) { storeDownload(reply, 0, LogEN); }
void DownloadFirmware::onReplyBin_px6(QNetworkReply* reply) { storeDownload(reply, 1, Image); }
void DownloadFirmware::onReplyLogCN_px6(QNetworkReply* reply) { storeDownload(reply, 1, LogCN); }
void DownloadFirmware::onReplyLogEN_px6(QNetworkReply* reply) { storeDownload(reply, 1, LogEN); }

void DownloadFirmware::readDocument(QNetworkReply* reply, int model)
{
    reply->deleteLater();
    if (!UpdateServer::isGoodReply(reply)) {
        QLOG_INFO() << "Update\\Firmware\\DownloadFirmware@" << __LINE__ << "firmware check failed:"
                    << reply->errorString();
        emit downloadsFinished();
        return;
    }
    Items listed;
    if (!readItems(reply->readAll(), listed)) {
        emit downloadsFinished();
        return;
    }

    Items& items = itemsOf(model);
    bool requested = false;
    for (int k = 1; k <= listed.names.size(); ++k) {
        items.names << listed.names.at(k - 1);
        items.versions << listed.versions.at(k - 1);
        items.imageUrls << listed.imageUrls.at(k - 1);
        items.logCNUrls << listed.logCNUrls.at(k - 1);
        items.logENUrls << listed.logENUrls.at(k - 1);
        auto* bin = new QNetworkAccessManager(this);
        auto* cn = new QNetworkAccessManager(this);
        auto* en = new QNetworkAccessManager(this);
        items.managers << bin << cn << en;
        if (model == 0) {
            connect(bin, &QNetworkAccessManager::finished, this, &DownloadFirmware::onReplyBin_px5, Qt::QueuedConnection);
            connect(cn, &QNetworkAccessManager::finished, this, &DownloadFirmware::onReplyLogCN_px5, Qt::QueuedConnection);
            connect(en, &QNetworkAccessManager::finished, this, &DownloadFirmware::onReplyLogEN_px5, Qt::QueuedConnection);
        } else {
            connect(bin, &QNetworkAccessManager::finished, this, &DownloadFirmware::onReplyBin_px6, Qt::QueuedConnection);
            connect(cn, &QNetworkAccessManager::finished, this, &DownloadFirmware::onReplyLogCN_px6, Qt::QueuedConnection);
            connect(en, &QNetworkAccessManager::finished, this, &DownloadFirmware::onReplyLogEN_px6, Qt::QueuedConnection);
        }
        const int i = k - 1;
        if (!usableItem(items.names.at(i), items.versions.at(i))) {
            QLOG_INFO() << "Update\\Firmware\\DownloadFirmware@" << __LINE__ << "unusable firmware name"
                        << items.names.at(i);
            continue;
        }
        if (!removeOldFirmware(i, model))
            continue;
        requested = true;
        UpdateServer::limitReply(bin->get(UpdateServer::fileRequest(QUrl(items.imageUrls.at(i)))), UpdateServer::MaxImageBytes);
        UpdateServer::limitReply(cn->get(UpdateServer::fileRequest(QUrl(items.logCNUrls.at(i)))), UpdateServer::MaxDocumentBytes);
        UpdateServer::limitReply(en->get(UpdateServer::fileRequest(QUrl(items.logENUrls.at(i)))), UpdateServer::MaxDocumentBytes);
        m_pending += 3;
    }
    if (requested) {
        BrevMessageBox box(model == 0 ? 47 : 48, nullptr);
        box.exec();
    }
    if (m_pending == 0)
        emit downloadsFinished();
}

bool DownloadFirmware::readItems(const QByteArray& bytes, Items& out)
{
    const QJsonDocument doc = QJsonDocument::fromJson(bytes);
    if (doc.isNull())
        return false;
    const QJsonObject updates = doc.object().value(QLatin1String("updates")).toObject();
    bool ok = false;
    int count = updates.value(QLatin1String("firmware-num")).toString().toInt(&ok, 10);
    if (!ok || count < 0)
        count = 0;
    count = qMin(count, MaxItems);
    for (int k = 1; k <= count; ++k) {
        const QJsonObject item = updates.value(QStringLiteral("firmware-num%1").arg(k)).toObject();
        out.names << item.value(QLatin1String("firmware-name")).toString();
        out.versions << item.value(QLatin1String("latest-version")).toString();
        out.imageUrls << item.value(QLatin1String("download-url")).toString();
        out.logCNUrls << item.value(QLatin1String("log-CN")).toString();
        out.logENUrls << item.value(QLatin1String("log-EN")).toString();
    }
    return true;
}

bool DownloadFirmware::removeOldFirmware(int index, int model)
{
    const Items& items = itemsOf(model);
    if (index < 0 || index >= items.names.size())
        return false;
    const QString name = items.names.at(index);
    QDir dir(m_storeDir + "/" + name);
    QStringList images = UpdateServer::imagesByVersion(dir.path());
    if (images.isEmpty())
        return true;
    while (images.size() > KeptImages) {
        const QString image = images.takeFirst();
        const QString stem = image.left(image.size() - 4);
        dir.remove(image);
        dir.remove(stem + "_CN.log");
        dir.remove(stem + "_EN.log");
    }
    QString local = images.last();
    local.remove(QStringLiteral("%1firm_V").arg(name));
    local.remove(QStringLiteral(".bin"));
    return compareVersion(items.versions.at(index), local);
}

bool DownloadFirmware::compareVersion(const QString& server, const QString& local)
{
    return UpdateServer::isNewerVersion(server, local);
}

void DownloadFirmware::storeDownload(QNetworkReply* reply, int model, FileKind kind)
{
    reply->deleteLater();
    storeBody(reply, model, kind);
    downloadEnded();
}

void DownloadFirmware::storeBody(QNetworkReply* reply, int model, FileKind kind)
{
    const Items& items = itemsOf(model);
    // What was asked for names the item; after a redirect the reply's own address is another.
    const QString url = reply->request().url().toString();
    const QStringList& urls = kind == Image ? items.imageUrls : kind == LogCN ? items.logCNUrls : items.logENUrls;
    if (kind == Image) {
        QLOG_DEBUG() << "reply->url()" << reply->url().toString();
    }
    const int i = urls.indexOf(url);
    if (i < 0 || !usableItem(items.names.at(i), items.versions.at(i)))
        return;
    Outcome& outcome = m_outcomes[model][i];
    // A failed or cut-off transfer must never land in the store, nor the logs of such an image.
    const QByteArray body = UpdateServer::isGoodReply(reply) ? reply->readAll() : QByteArray();
    if (body.isEmpty() || !UpdateServer::isWholeBody(reply, body.size())) {
        QLOG_INFO() << "Update\\Firmware\\DownloadFirmware@" << __LINE__ << "download failed or cut short:" << url
                    << reply->errorString();
        if (kind == Image)
            outcome = Outcome{ImageFailed, {}};
        return;
    }
    const QString folder = m_storeDir + "/" + items.names.at(i);
    QString fallback = imageName(items.names.at(i), items.versions.at(i));
    if (kind != Image)
        fallback = fallback.left(fallback.size() - 4) + (kind == LogCN ? "_CN.log" : "_EN.log");
    const QString path = folder + "/" + UpdateServer::attachmentName(reply, fallback);
    reply->close();
    if (kind != Image && outcome.image != ImageStored) {
        // A change log waits for its image.
        if (outcome.image == ImagePending)
            outcome.logs << qMakePair(path, body);
        return;
    }
    QDir().mkpath(folder);
    const bool written = UpdateServer::writeWholeFile(path, body);
    if (!written) {
        QLOG_INFO() << "Update\\Firmware\\DownloadFirmware@" << __LINE__ << "cannot write" << path;
    }
    if (kind != Image)
        return;
    if (written) {
        for (const auto& log : qAsConst(outcome.logs))
            UpdateServer::writeWholeFile(log.first, log.second);
    }
    outcome = Outcome{written ? ImageStored : ImageFailed, {}};
}

void DownloadFirmware::downloadEnded()
{
    if (m_pending > 0 && --m_pending == 0)
        emit downloadsFinished();
}
