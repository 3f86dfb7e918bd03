#include "Update/UpdateServer.h"

#include <QDir>
#include <QFileInfo>
#include <QNetworkReply>
#include <QStringList>

#include <algorithm>

#include "FileRW/CheckedWriter.h"
#include "FileRW/SafeFileName.h"
#include "app/QsLog.h"

namespace UpdateServer {

namespace {
qint64 g_capDivisor = 1;
const char* const CapProperty = "updateServerCapBytes";
}

QString baseUrl()
{
    QString base = qEnvironmentVariable("TARNI_UPDATE_BASE_URL");
    if (base.isEmpty())
        base = QStringLiteral("http://update.brevant.com");
    while (base.endsWith('/'))
        base.chop(1);
    return base;
}

QUrl url(const QString& path)
{
    return QUrl(baseUrl() + path);
}

bool isNewerVersion(const QString& latest, const QString& running)
{
    const QStringList l = latest.split('.');
    const QStringList r = running.split('.');
    const int n = qMin(l.size(), r.size());
    for (int i = 0; i < n; ++i) {
        // toLongLong gives 0 for anything that is not a number.
        const qlonglong a = l.at(i).toLongLong();
        const qlonglong b = r.at(i).toLongLong();
        if (a != b)
            return a > b;
    }
    return l.size() > r.size();
}

QStringList imagesByVersion(const QString& folder)
{
    QStringList images = QDir(folder).entryList(QStringList() << QStringLiteral("*.bin"), QDir::Files, QDir::Name);
    auto version = [](const QString& image) {
        const QString stem = image.left(image.size() - 4);
        const int at = stem.lastIndexOf(QLatin1String("_V"));
        return at < 0 ? stem : stem.mid(at + 2);
    };
    std::stable_sort(images.begin(), images.end(), [&](const QString& a, const QString& b) {
        return isNewerVersion(version(b), version(a));
    });
    return images;
}

QString attachmentName(const QNetworkReply* reply, const QString& fallback)
{
    QString name = QString::fromUtf8(reply->rawHeader("Content-Disposition"));
    name.remove(QStringLiteral("attachment; filename="));
    name = name.trimmed();
    if (name.size() >= 2 && name.startsWith('"') && name.endsWith('"'))
        name = name.mid(1, name.size() - 2);
    // A name with folders in it ("../x", "C:\x") keeps its last part only.
    name.replace('\\', '/');
    name = name.section('/', -1);
    return isSafeFileName(name) ? name : fallback;
}

bool writeWholeFile(const QString& path, const QByteArray& bytes)
{
    return CheckedWriter::writeWhole(path, bytes);
}

bool isGoodReply(const QNetworkReply* reply)
{
    if (reply->error() != QNetworkReply::NoError)
        return false;
    // The excess can come with the last bytes, when the reply has finished and can no
    // longer be aborted: the body is measured again before anyone takes it.
    const QVariant cap = reply->property(CapProperty);
    if (cap.isValid() && reply->bytesAvailable() > cap.toLongLong()) {
        QLOG_INFO() << "Update\\UpdateServer@" << __LINE__ << "over the size cap:" << reply->url().toString()
                    << reply->bytesAvailable();
        return false;
    }
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    return !status.isValid() || (status.toInt() >= 200 && status.toInt() < 300);
}

QNetworkRequest fileRequest(const QUrl& url)
{
    QNetworkRequest request(url);
    // A compressed body arrives inflated and no longer matches its declared length.
    request.setRawHeader("Accept-Encoding", "identity");
    // A file moved elsewhere on the server is followed within the same reply (never from
    // https down to http).
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    return request;
}

bool isWholeBody(const QNetworkReply* reply, qint64 received)
{
    const QVariant cap = reply->property(CapProperty);
    if (cap.isValid() && received > cap.toLongLong())
        return false;
    if (reply->hasRawHeader("Content-Length")) {
        bool ok = false;
        const qint64 declared = reply->rawHeader("Content-Length").trimmed().toLongLong(&ok);
        return ok && declared == received;
    }
    return reply->rawHeader("Transfer-Encoding").toLower().contains("chunked");
}

void setCapDivisor(qint64 divisor)
{
    g_capDivisor = qMax<qint64>(1, divisor);
}

void limitReply(QNetworkReply* reply, qint64 maxBytes)
{
    maxBytes /= g_capDivisor;
    reply->setProperty(CapProperty, maxBytes);
    QObject::connect(reply, &QNetworkReply::downloadProgress, reply, [reply, maxBytes](qint64 received, qint64) {
        if (received > maxBytes)
            reply->abort();
    });
}

} // namespace UpdateServer
