#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <QStringList>

class QNetworkAccessManager;
class QNetworkReply;

// Keeps the local store of printer firmware images and their change logs: reads the
// version document of each printer model, downloads newer images, prunes old ones and
// tells the user that new firmware is there.
class DownloadFirmware : public QObject
{
    Q_OBJECT
public:
    // The firmware items of one printer model's version document.
    struct Items
    {
        QStringList names;
        QStringList versions;
        QStringList imageUrls;
        QStringList logCNUrls;
        QStringList logENUrls;
        QList<QNetworkAccessManager*> managers;
    };

    explicit DownloadFirmware(QObject* parent = nullptr);

    // The items a version document lists, without managers; false when the bytes are no
    // JSON document.
    static bool readItems(const QByteArray& bytes, Items& out);

    void requestVersionInfo();

    // Prunes the item's store folder to its four newest images; true when the server's
    // version of the item is newer than the newest image kept (or none is kept).
    bool removeOldFirmware(int index, int model = 0);
    static bool compareVersion(const QString& server, const QString& local);

    QString storeDir() const { return m_storeDir; }
    const Items& items(int model) const { return model == 0 ? m_px5 : m_px6; }
    QString documentUrl(int model) const { return model == 0 ? m_urlPx5 : m_urlPx6; }

    static constexpr int KeptImages = 4;

signals:
    // Every download a document asked for has ended; for callers that wait.
    void downloadsFinished();

private slots:
    void onReply_px5(QNetworkReply* reply);
    void onReply_px6(QNetworkReply* reply);
    void onReplyBin_px5(QNetworkReply* reply);
    void onReplyLogCN_px5(QNetworkReply* reply);
    void onReplyLogEN_px5(QNetworkReply* reply);
    void onReplyBin_px6(QNetworkReply* reply);
    void onReplyLogCN_px6(QNetworkReply* reply);
    void onReplyLogEN_px6(QNetworkReply* reply);

private:
    enum FileKind { Image = 0, LogCN = 1, LogEN = 2 };
    void readDocument(QNetworkReply* reply, int model);
    void storeDownload(QNetworkReply* reply, int model, FileKind kind);
    void storeBody(QNetworkReply* reply, int model, FileKind kind);
    Items& itemsOf(int model) { return model == 0 ? m_px5 : m_px6; }
    // What became of an item's image; its change logs are held until it is stored.
    enum ImageState { ImagePending = 0, ImageStored = 1, ImageFailed = 2 };
    struct Outcome
    {
        ImageState image = ImagePending;
        QList<QPair<QString, QByteArray>> logs; // path and body
    };
    void downloadEnded();

    QString m_urlPx5;
    QString m_urlPx6;
    QNetworkAccessManager* m_managerPx5;
    QNetworkAccessManager* m_managerPx6;
    Items m_px5;
    Items m_px6;
    QString m_storeDir;
    int m_pending = 0;
    QHash<int, Outcome> m_outcomes[2]; // by model, then item index
};
