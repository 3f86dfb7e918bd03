#pragma once

#include <QByteArray>
#include <QNetworkRequest>
#include <QString>
#include <QUrl>

class QNetworkReply;

// What the software and firmware checks share: where the update server is, how versions
// compare, and how a downloaded body is named and stored.
namespace UpdateServer {

// Largest bodies taken from the server; a larger transfer is aborted.
constexpr qint64 MaxDocumentBytes = 1024 * 1024;
constexpr qint64 MaxImageBytes = 64 * 1024 * 1024;
constexpr qint64 MaxInstallerBytes = qint64(2) * 1024 * 1024 * 1024;

// The server's base address: TARNI_UPDATE_BASE_URL when set, else the maker's server.
QString baseUrl();
// The base address followed by path (which starts with "/").
QUrl url(const QString& path);

// True when latest is newer: parts split on "." compared as integers (a non-number
// counts 0) over the shorter list; on a tie the one with more parts is newer.
bool isNewerVersion(const QString& latest, const QString& running);

// The "*.bin" firmware images in folder, oldest first: ordered by the version after the last
// "_V" of the name (as isNewerVersion compares), then by name.
QStringList imagesByVersion(const QString& folder);

// The file name the server gives in "Content-Disposition" ("attachment; filename=NAME"),
// reduced to a bare name so that it cannot leave the folder it is written to; fallback
// when the header names nothing usable.
QString attachmentName(const QNetworkReply* reply, const QString& fallback);

// Writes bytes to path as a whole: an existing file is replaced only when the new one is
// complete.
bool writeWholeFile(const QString& path, const QByteArray& bytes);

// A reply that brought what was asked for: no error, no more than the cap limitReply set,
// and no redirect or error page of a server that answers with a status outside 2xx.
bool isGoodReply(const QNetworkReply* reply);

// A request for a file to keep: asks for the body as it is, so that its declared length
// can be checked, and follows redirects.
QNetworkRequest fileRequest(const QUrl& url);
// True when the received bytes are known to be the whole body: the reply declared its
// length and brought that much (and no more than its cap), or used chunked framing, whose
// breaking off Qt reports as an error. A body that simply stops when the connection closes
// may be cut short.
bool isWholeBody(const QNetworkReply* reply, qint64 received);

// Aborts the reply once it has brought more than maxBytes.
void limitReply(QNetworkReply* reply, qint64 maxBytes);
// Every cap is divided by divisor (tests keep their bodies small); 1 by default.
void setCapDivisor(qint64 divisor);

} // namespace UpdateServer
