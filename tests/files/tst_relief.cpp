#include <QImage>
#include <QImageWriter>
#include <QTemporaryDir>
#include <QTranslator>
#include <QtTest>

#include <algorithm>
#include <cmath>

#include <sys/resource.h>
#include <zlib.h>

#include "FileRW/FileReaderWriter.h"
#include "FileRW/ImageRelief.h"
#include "scene/MeshData.h"
#include "testutil_files.h"

class TestRelief : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;

    QString picture(const QString& name, int w, int h, QRgb colour, QImage::Format format = QImage::Format_RGB32)
    {
        QImage img(w, h, QImage::Format_RGB32);
        img.fill(colour);
        img = img.convertToFormat(format);
        const QString path = dir.filePath(name);
        img.save(path);
        return path;
    }

private slots:
    void grid_data()
    {
        QTest::addColumn<int>("w");
        QTest::addColumn<int>("h");
        QTest::addColumn<double>("length");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<int>("columns");
        QTest::addColumn<int>("rows");
        QTest::newRow("300x200") << 300 << 200 << 75.0 << true << 375 << 250;
        QTest::newRow("1000x10") << 1000 << 10 << 75.0 << true << 375 << 3;
        QTest::newRow("1000x2 gives no rows") << 1000 << 2 << 75.0 << false << 0 << 0;
        QTest::newRow("one pixel high") << 100 << 1 << 75.0 << true << 375 << 3;
        QTest::newRow("one pixel wide") << 1 << 20 << 75.0 << true << 375 << 7499;
        QTest::newRow("100x800") << 100 << 800 << 75.0 << true << 375 << 3000;
        QTest::newRow("one pixel wide, over the memory limit") << 1 << 100 << 75.0 << false << 0 << 0;
        QTest::newRow("tall strip over the memory limit") << 10 << 100000 << 75.0 << false << 0 << 0;
        QTest::newRow("zero length") << 100 << 100 << 0.0 << false << 0 << 0;
        QTest::newRow("NaN length") << 100 << 100 << qQNaN() << false << 0 << 0;
    }
    void grid()
    {
        QFETCH(int, w);
        QFETCH(int, h);
        QFETCH(double, length);
        QFETCH(bool, ok);
        QFETCH(int, columns);
        QFETCH(int, rows);
        int c = 0, r = 0;
        QCOMPARE(ImageRelief::gridSize(w, h, length, c, r), ok);
        if (ok) {
            QCOMPARE(c, columns);
            QCOMPARE(r, rows);
        }
    }

    void heights_data()
    {
        QTest::addColumn<double>("sign");
        QTest::addColumn<uint>("colour");
        QTest::addColumn<int>("format");
        QTest::addColumn<double>("height");
        QTest::addColumn<QString>("file");
        QTest::newRow("white") << 1.0 << uint(0xffffffff) << int(QImage::Format_RGB32) << 16.375 << "h.png";
        QTest::newRow("black") << 1.0 << uint(0xff000000) << int(QImage::Format_RGB32) << 10.0 << "h.png";
        QTest::newRow("mode -1 black") << -1.0 << uint(0xff000000) << int(QImage::Format_RGB32) << 16.4 << "h.png";
        QTest::newRow("mode -1 white") << -1.0 << uint(0xffffffff) << int(QImage::Format_RGB32) << 10.025 << "h.png";
        // Other pixel formats are converted to 32-bit RGB before the rows are read.
        QTest::newRow("indexed white") << 1.0 << uint(0xffffffff) << int(QImage::Format_Indexed8) << 16.375 << "h.png";
        // Red and blue weigh differently in the grey value; JPEG colours come back within a step.
        QTest::newRow("jpeg red") << 1.0 << uint(0xffff0000) << int(QImage::Format_RGB32) << 12.175 << "h.jpg";
        QTest::newRow("jpeg blue") << 1.0 << uint(0xff0000ff) << int(QImage::Format_RGB32) << 10.975 << "h.jpg";
        QTest::newRow("grey white") << 1.0 << uint(0xffffffff) << int(QImage::Format_Grayscale8) << 16.375 << "h.png";
    }
    void heights()
    {
        QFETCH(double, sign);
        QFETCH(uint, colour);
        QFETCH(int, format);
        QFETCH(double, height);
        QFETCH(QString, file);
        const QString path = picture(file, 20, 20, colour, QImage::Format(format));
        CornerList corners;
        std::atomic<int> progress{0};
        std::atomic<bool> cancelled{false};
        QVERIFY(ImageRelief::readCorners(path, {sign, 2.0, 4.0, 1.28}, corners, progress, cancelled));
        double top = 0.0;
        for (const auto& c : corners)
            top = std::max(top, c.z);
        QVERIFY2(std::fabs(top - height) < (file == "h.jpg" ? 0.06 : 1e-9), qPrintable(QString::number(top, 'g', 12)));
        QCOMPARE(progress.load(), 9000);
    }

    void closedAndOutward()
    {
        // A gradient picture: a closed block with every face pointing out, on a 10 x 15 grid.
        QImage img(8, 12, QImage::Format_RGB32);
        for (int y = 0; y < 12; ++y)
            for (int x = 0; x < 8; ++x)
                img.setPixel(x, y, qRgb(x * 30, y * 20, 128));
        const QString path = dir.filePath("g.bmp");
        QVERIFY(img.save(path));
        FileReaderWriter rw;
        rw.reliefParams = {1.0, 2.0, 2.0, 1.28}; // 2 mm wide: 10 columns
        MeshData m;
        QVERIFY(rw.loadMesh(path, &m));
        QVERIFY(testutil::isClosedAndConsistent(m));
        QVERIFY(testutil::signedVolume(m) > 0.0);
        QCOMPARE(m.vertices.size(), size_t(2 * 10 * 15));
        double maxX = 0, maxY = 0;
        for (const auto& v : m.vertices) {
            maxX = std::max(maxX, v[0]);
            maxY = std::max(maxY, v[1]);
        }
        QCOMPARE(maxX, 14.0); // rows
        QCOMPARE(maxY, 9.0);  // columns
    }

    // Pictures too large to decode whole are decoded onto the grid; what still cannot load says why.
    void largePictures_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("change"); // what is done to the written file
        QTest::addColumn<QString>("reason"); // empty: it loads
        const QString tooLarge = "Pictures of more than 67.1 million pixels can be opened as PNG (not interlaced) or JPEG only.";
        const QString cutShort = "The picture cannot be read: it ends before all its pixels.";
        QTest::newRow("png") << "png" << "" << "";
        QTest::newRow("jpeg") << "jpg" << "" << "";
        QTest::newRow("bmp") << "bmp" << "" << tooLarge;
        QTest::newRow("not a picture") << "txt" << "" << "The picture cannot be read.";
        QTest::newRow("interlaced png") << "png" << "interlace" << tooLarge;
        const QString damaged = "The picture cannot be read: its data is damaged.";
        QTest::newRow("damaged png") << "png" << "flip" << damaged;
        // Rows sampled at the centre of each grid cell, not at its top edge.
        QTest::newRow("png, sawtooth down each cell") << "png" << "sawtooth" << "";
        QTest::newRow("jpeg with a corrupt byte") << "jpg" << "corrupt byte" << damaged;
        QTest::newRow("cut-short png") << "png" << "cut" << cutShort;
        // Small files: a progressive JPEG whose header claims 20000 x 20000, and cut-short ones.
        QTest::newRow("jpeg claiming 20000 x 20000")
            << "jpg" << "claim" << "The picture would need more than 512 MB of memory to open.";
        QTest::newRow("cut-short jpeg") << "jpg" << "cut" << cutShort;
        QTest::newRow("cut-short jpeg with an end") << "jpg" << "cut, then an end marker" << cutShort;
        QTest::newRow("cut-short bmp") << "bmp" << "cut" << cutShort;
    }
    void largePictures()
    {
        QFETCH(QString, format);
        QFETCH(QString, change);
        QFETCH(QString, reason);
        // 9000 x 8000 = 72 million pixels: the left half black, the right half white.
        const QString path = dir.filePath("large." + format);
        if (format == "bmp" && change.isEmpty()) {
            // The header alone: refused before any pixel is read.
            QByteArray bmp;
            QDataStream out(&bmp, QIODevice::WriteOnly);
            out.setByteOrder(QDataStream::LittleEndian);
            out.writeRawData("BM", 2);
            out << quint32(54) << quint32(0) << quint32(54) // file size, reserved, pixel offset
                << quint32(40) << qint32(9000) << qint32(8000) << quint16(1) << quint16(24);
            bmp.append(QByteArray(24, '\0'));
            testutil::writeFile(dir, "large.bmp", bmp);
        } else if (format == "txt") {
            testutil::writeFile(dir, "large.png", "not a picture");
        } else {
            const bool small = !change.isEmpty() && format != "png";
            QImage img(small ? 64 : 9000, small ? 48 : 8000, QImage::Format_Grayscale8);
            for (int y = 0; y < img.height(); ++y) {
                std::fill_n(img.scanLine(y), img.width() / 2, uchar(0));
                std::fill_n(img.scanLine(y) + img.width() / 2, img.width() / 2, uchar(255));
                // Black at the top of each of the grid's 333 rows, white at its bottom.
                if (change == "sawtooth")
                    std::fill_n(img.scanLine(y), img.width(), uchar(qint64(y) * 333 % 8000 * 255 / 8000));
            }
            QImageWriter writer(path);
            writer.setProgressiveScanWrite(true);
            QVERIFY(writer.write(img));
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadWrite));
            QByteArray bytes = file.readAll();
            QVERIFY(bytes.size() > 100);
            if (change.startsWith("cut")) {
                bytes.truncate(bytes.size() / 2);
                if (change == "cut, then an end marker")
                    bytes.append("\xff\xd9");
            } else if (change == "flip") {
                bytes[bytes.size() / 2] = char(bytes[bytes.size() / 2] ^ 0x55);
            } else if (change == "corrupt byte") {
                // A byte that makes a marker of no meaning inside a scan, the file whole after it.
                const int scan = bytes.indexOf("\xff\xda");
                QVERIFY(scan > 0);
                int at = scan + 2 + qFromBigEndian<quint16>(bytes.constData() + scan + 2) + 8;
                while (uchar(bytes[at]) == 0xff || uchar(bytes[at + 1]) == 0 || uchar(bytes[at + 1]) >= 0xc0)
                    ++at;
                bytes[at] = char(0xff);
            } else if (change == "interlace") {
                bytes[28] = 1; // the last IHDR byte, then its CRC
                uchar crc[4];
                qToBigEndian(quint32(crc32(0, reinterpret_cast<const Bytef*>(bytes.constData()) + 12, 17)), crc);
                bytes.replace(29, 4, reinterpret_cast<const char*>(crc), 4);
            } else if (change == "claim") {
                const int sof = bytes.indexOf("\xff\xc2");
                QVERIFY(sof > 0);
                bytes.replace(sof + 5, 4, "\x4e\x20\x4e\x20"); // 20000 rows, 20000 columns
            }
            QVERIFY(file.resize(0) && file.write(bytes) == bytes.size());
        }
        rusage before{}, after{};
        getrusage(RUSAGE_SELF, &before);
        FileReaderWriter rw;
        rw.reliefParams = {1.0, 2.0, 75.0, 1.28};
        MeshData m;
        QCOMPARE(rw.loadMesh(format == "txt" ? dir.filePath("large.png") : path, &m), reason.isEmpty());
        QCOMPARE(rw.failureReason, reason);
        if (!reason.isEmpty()) {
            getrusage(RUSAGE_SELF, &after);
            QVERIFY2(after.ru_maxrss - before.ru_maxrss < 64 * 1024, "refused only after taking the memory");
            QTranslator zh;
            QVERIFY(zh.load(QStringLiteral(":/brevant_zh.qm")));
            const QString source = QString(reason).replace("67.1", "%1").replace("512", "%1");
            QVERIFY2(!zh.translate("ImageRelief", source.toUtf8().constData()).isEmpty(), "no Chinese text");
            return;
        }
        // 375 columns and 9000 / 75 pixels a millimetre over 8000 rows: 333 rows.
        double maxRow = 0, maxColumn = 0, leftTop = 0, rightTop = 0;
        for (const auto& v : m.vertices) {
            maxRow = std::max(maxRow, v[0]);
            maxColumn = std::max(maxColumn, v[1]);
            if (v[1] == 0.0)
                leftTop = std::max(leftTop, v[2]);
            if (v[1] == 374.0)
                rightTop = std::max(rightTop, v[2]);
        }
        QCOMPARE(maxRow, 332.0);
        QCOMPARE(maxColumn, 374.0);
        if (change == "sawtooth") {
            // Each cell's centre is half-way down its ramp: grey 116 to 127.
            for (const auto& v : m.vertices)
                QVERIFY2(v[2] == 0.0 || (v[2] > 12.85 && v[2] < 13.2), qPrintable(QString::number(v[2])));
            return;
        }
        QVERIFY2(std::fabs(leftTop - 10.0) < 0.1, qPrintable(QString::number(leftTop)));
        QVERIFY2(std::fabs(rightTop - 16.375) < 0.1, qPrintable(QString::number(rightTop)));
    }

    // Pictures that make no relief say why, in the user's language.
    void refused_data()
    {
        QTest::addColumn<QString>("file");   // what is written
        QTest::addColumn<QString>("reason"); // empty: it loads
        const QString cutShort = "The picture cannot be read: it ends before all its pixels.";
        QTest::newRow("tall strip") << "1 x 50" << "The relief would need more than 5.5 million points.";
        QTest::newRow("1000 x 2") << "1000 x 2" << "A picture of 1000 x 2 pixels makes a relief of 375 x 0 cells; it needs at least 2 x 2.";
        QTest::newRow("not a picture") << "text" << "The picture cannot be read.";
        QTest::newRow("missing") << "missing" << "The picture cannot be read.";
        QTest::newRow("bmp without its last row") << "bmp, last row cut" << cutShort;
        QTest::newRow("bmp without the last row's padding") << "bmp, last padding cut" << "";
        QTest::newRow("run-length bmp") << "rle" << "";
        QTest::newRow("run-length bmp cut short") << "rle, cut" << cutShort;
        QTest::newRow("run-length bmp without its end codes") << "rle, no end codes" << "";
        QTest::newRow("run-length bmp without its last row") << "rle, no last row" << cutShort;
        QTest::newRow("run-length bmp ended early on purpose") << "rle, early end" << "";
        QTest::newRow("run-length 4-bit bmp without its end codes") << "rle4, no end codes" << "";
        QTest::newRow("run-length 4-bit bmp cut short") << "rle4, cut" << cutShort;
    }
    void refused()
    {
        QFETCH(QString, file);
        QFETCH(QString, reason);
        QString path;
        if (file.contains(" x ")) {
            const QStringList size = file.split(" x ");
            path = picture("p.png", size[0].toInt(), size[1].toInt(), 0xffffffff);
        } else if (file == "text") {
            path = testutil::writeFile(dir, "fake.png", "not a picture");
        } else if (file == "missing") {
            path = dir.filePath("missing.jpg");
        } else if (file.startsWith("bmp")) {
            // 21 columns of 24 bits: 63 bytes a row, padded to 64.
            path = picture("p.bmp", 21, 30, 0xff808080);
            QFile f(path);
            QVERIFY(f.open(QIODevice::ReadWrite));
            QVERIFY(f.resize(f.size() - (file.contains("row") ? 64 : 1)));
        } else {
            path = dir.filePath("p.bmp");
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(runLengthBmp(file));
        }
        FileReaderWriter rw;
        rw.reliefParams = {1.0, 2.0, file.startsWith("rle") || file.startsWith("bmp") ? 4.0 : 75.0, 1.28};
        MeshData m;
        QCOMPARE(rw.loadMesh(path, &m), reason.isEmpty());
        QCOMPARE(rw.failureReason, reason);
        if (reason.isEmpty()) {
            QVERIFY(!m.faces.empty());
            return;
        }
        QVERIFY(m.faces.empty());
        QTranslator zh;
        QVERIFY(zh.load(QStringLiteral(":/brevant_zh.qm")));
        QCoreApplication::installTranslator(&zh);
        QVERIFY(!rw.loadMesh(path, &m));
        QCoreApplication::removeTranslator(&zh);
        QVERIFY2(rw.failureReason.toUtf8() != rw.failureReason.toLatin1(), qPrintable(rw.failureReason));
    }

private:
    // A grey picture of 20 x 250 pixels in run-length codes; variant says what is missing.
    static QByteArray runLengthBmp(const QString& variant)
    {
        const bool four = variant.startsWith("rle4");
        const int width = 20, height = 250, colours = four ? 16 : 256;
        QByteArray data;
        for (int y = 0; y < height; ++y) {
            if (variant == "rle, early end" && y == 100) {
                data.append("\x00\x01", 2);
                break;
            }
            if (variant == "rle, no last row" && y == height - 1)
                break;
            // Nine pixels given one by one (padded to 16 bits), then a run of the rest.
            data.append("\x00\x09", 2);
            data.append(four ? QByteArray("\x12\x34\x56\x78\x90\x00", 6) : QByteArray("\x01\x02\x03\x04\x05\x06\x07\x08\x09\x00", 10));
            data.append(char(width - 9));
            data.append(char(four ? (y % 16) * 0x11 : y % 256));
            if (y < height - 1 || !variant.endsWith("no end codes"))
                data.append("\x00\x00", 2);
        }
        if (variant == "rle" || variant.endsWith("cut"))
            data.append("\x00\x01", 2);
        if (variant.endsWith("cut"))
            data.truncate(data.size() / 2);
        QByteArray bmp;
        QDataStream out(&bmp, QIODevice::WriteOnly);
        out.setByteOrder(QDataStream::LittleEndian);
        const quint32 offset = 14 + 40 + 4 * colours;
        out.writeRawData("BM", 2);
        out << quint32(offset + data.size()) << quint32(0) << offset;
        out << quint32(40) << qint32(width) << qint32(height) << quint16(1) << quint16(four ? 4 : 8)
            << quint32(four ? 2 : 1) << quint32(data.size()) << qint32(2835) << qint32(2835) << quint32(colours) << quint32(0);
        for (int i = 0; i < colours; ++i) {
            const int g = i * 255 / (colours - 1);
            out << quint8(g) << quint8(g) << quint8(g) << quint8(0);
        }
        out.writeRawData(data.constData(), data.size());
        return bmp;
    }
};

QTEST_GUILESS_MAIN(TestRelief)
#include "tst_relief.moc"
