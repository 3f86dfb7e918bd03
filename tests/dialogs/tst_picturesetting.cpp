#include <QtTest>

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtEndian>

#include <zlib.h>

#include "UI/PictureSetting.h"
#include "scene/AppData.h"
#include "testutil_dialogs.h"

class TestPictureSetting : public QObject
{
    Q_OBJECT
    QTemporaryDir pictures;

    QString picture(int w, int h)
    {
        const QString path = pictures.filePath(QStringLiteral("p%1x%2.png").arg(w).arg(h));
        if (!QFile::exists(path)) {
            QImage img(w, h, QImage::Format_RGB32);
            img.fill(Qt::gray);
            img.save(path);
        }
        return path;
    }
    // A PNG with its header and an empty data chunk: the size is known, there are no pixels.
    QString headerOnly(int w, int h)
    {
        auto chunk = [](const QByteArray& type, const QByteArray& data) {
            uchar be[4];
            qToBigEndian<quint32>(quint32(data.size()), be);
            const QByteArray body = type + data;
            QByteArray out(reinterpret_cast<const char*>(be), 4);
            qToBigEndian<quint32>(quint32(crc32(0, reinterpret_cast<const Bytef*>(body.constData()), uInt(body.size()))), be);
            return out + body + QByteArray(reinterpret_cast<const char*>(be), 4);
        };
        uchar size[8];
        qToBigEndian<quint32>(quint32(w), size);
        qToBigEndian<quint32>(quint32(h), size + 4);
        const QByteArray header = QByteArray(reinterpret_cast<const char*>(size), 8) + QByteArray("\x08\x02\x00\x00\x00", 5);
        const QString path = pictures.filePath(QStringLiteral("head%1x%2.png").arg(w).arg(h));
        QFile f(path);
        if (f.open(QIODevice::WriteOnly))
            f.write(QByteArray("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", header) + chunk("IDAT", QByteArray()));
        return path;
    }
    static QDoubleSpinBox* box(PictureSetting& d, const char* name)
    {
        return d.findChild<QDoubleSpinBox*>(QLatin1String(name));
    }
    static QDoubleSpinBox* lengthBox(PictureSetting& d) { return box(d, "doubleSpinBox_2"); }
    static QDoubleSpinBox* widthBox(PictureSetting& d) { return box(d, "doubleSpinBox_4"); }

private slots:
    void initTestCase()
    {
        QVERIFY(pictures.isValid());
        QVERIFY(useTemporaryDataDir());
    }
    void init() { AppData::instance()->setReliefParameters(1.0, 2.0, 75.0, 1.28); }

    void fitsPicture_data()
    {
        QTest::addColumn<int>("w");
        QTest::addColumn<int>("h");
        QTest::addColumn<double>("length");
        QTest::addColumn<double>("lengthMax");
        QTest::addColumn<double>("width");
        QTest::addColumn<double>("widthMax");
        QTest::newRow("wide 400x200") << 400 << 200 << 75.0 << 145.0 << 37.5 << 72.5;
        QTest::newRow("tall 200x400") << 200 << 400 << 37.5 << 72.5 << 75.0 << 145.0;
        QTest::newRow("square") << 300 << 300 << 75.0 << 145.0 << 75.0 << 145.0;
        // Negative sizes stand for a picture whose header alone is there: a huge picture is
        // fitted by its size, without decoding its pixels.
        QTest::newRow("header only 24000x12000") << -24000 << -12000 << 75.0 << 145.0 << 37.5 << 72.5;
    }
    void fitsPicture()
    {
        QFETCH(int, w);
        QFETCH(int, h);
        QFETCH(double, length);
        QFETCH(double, lengthMax);
        QFETCH(double, width);
        QFETCH(double, widthMax);
        PictureSetting d(nullptr);
        // A previous, differently shaped picture must not leave its limits behind.
        d.setImage(w < 0 ? picture(100, 307) : picture(h, w + 7));
        d.setImage(w < 0 ? headerOnly(-w, -h) : picture(w, h));
        QCOMPARE(lengthBox(d)->value(), length);
        QCOMPARE(lengthBox(d)->maximum(), lengthMax);
        QCOMPARE(widthBox(d)->value(), width);
        QCOMPARE(widthBox(d)->maximum(), widthMax);
    }

    void keepsAspect_data()
    {
        QTest::addColumn<int>("w");
        QTest::addColumn<int>("h");
        QTest::addColumn<bool>("editLength");
        QTest::addColumn<double>("typed");
        QTest::addColumn<double>("other");
        QTest::newRow("length 100 on 400x200") << 400 << 200 << true << 100.0 << 50.0;
        QTest::newRow("width 20 on 400x200") << 400 << 200 << false << 20.0 << 40.0;
        // 333 x 100: the other side rounds, and the typed value must not drift with it.
        QTest::newRow("length 80 on 333x100") << 333 << 100 << true << 80.0 << 24.02;
        QTest::newRow("width 30 on 333x100") << 333 << 100 << false << 30.0 << 99.9;
    }
    void keepsAspect()
    {
        QFETCH(int, w);
        QFETCH(int, h);
        QFETCH(bool, editLength);
        QFETCH(double, typed);
        QFETCH(double, other);
        PictureSetting d(nullptr);
        d.setImage(picture(w, h));
        QDoubleSpinBox* edited = editLength ? lengthBox(d) : widthBox(d);
        QDoubleSpinBox* follower = editLength ? widthBox(d) : lengthBox(d);
        edited->setValue(typed);
        QCOMPARE(edited->value(), typed);
        QCOMPARE(follower->value(), other);
    }

    void unreadablePicture()
    {
        PictureSetting d(nullptr);
        d.setImage(picture(400, 200));
        QFile junk(pictures.filePath("junk.png"));
        QVERIFY(junk.open(QIODevice::WriteOnly));
        junk.write("\x89PNG\r\n\x1a\n not really");
        junk.close();
        for (const QString& path : {junk.fileName(), pictures.filePath("missing.jpg")}) {
            d.setImage(path);
            QCOMPARE(lengthBox(d)->value(), 75.0);
            QCOMPARE(widthBox(d)->value(), 75.0);
            QCOMPARE(widthBox(d)->maximum(), 145.0);
            lengthBox(d)->setValue(20.0);
            QCOMPARE(widthBox(d)->value(), 75.0);
            lengthBox(d)->setValue(75.0);
        }
    }

    void result_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<QVector<double>>("stored");
        QTest::newRow("OK lighter") << "btnOK" << 0 << true << QVector<double>{1.0, 3.5, 100.0, 4.0};
        QTest::newRow("OK darker") << "btnOK" << 1 << true << QVector<double>{-1.0, 3.5, 100.0, 4.0};
        QTest::newRow("Cancel") << "btnCancel" << 1 << false << QVector<double>{1.0, 2.0, 75.0, 1.28};
        QTest::newRow("close") << "btn_win_close" << 1 << false << QVector<double>{1.0, 2.0, 75.0, 1.28};
    }
    void result()
    {
        QFETCH(QString, button);
        QFETCH(int, mode);
        QFETCH(bool, accepted);
        QFETCH(QVector<double>, stored);
        PictureSetting d(nullptr);
        d.setImage(picture(400, 200));
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        d.findChild<QComboBox*>("comboBox")->setCurrentIndex(mode);
        box(d, "doubleSpinBox")->setValue(3.5);
        box(d, "doubleSpinBox_3")->setValue(4.0);
        lengthBox(d)->setValue(100.0);
        QTest::mouseClick(d.findChild<QPushButton*>(button), Qt::LeftButton);
        QVERIFY(!d.isVisible());
        QCOMPARE(d.result(), accepted ? int(QDialog::Accepted) : int(QDialog::Rejected));
        const auto& p = AppData::instance()->getReliefParameters();
        QCOMPARE((QVector<double>{p[0], p[1], p[2], p[3]}), stored);
    }

    void drag_data()
    {
        QTest::addColumn<QPoint>("press");
        QTest::addColumn<bool>("moves");
        QTest::newRow("title strip") << QPoint(60, 20) << true;
        QTest::newRow("strip edge") << QPoint(0, 20) << false;
        QTest::newRow("body") << QPoint(60, 60) << false;
    }
    void drag()
    {
        QFETCH(QPoint, press);
        QFETCH(bool, moves);
        PictureSetting d(nullptr);
        d.move(100, 100);
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        QCOMPARE(dragBy(&d, press, QPoint(30, 12)), moves ? QPoint(30, 12) : QPoint());
    }

    void translated()
    {
        PictureSetting d(nullptr);
        QVERIFY(setChinese(true));
        const QString zhMode = d.findChild<QComboBox*>("comboBox")->itemText(1);
        const QString zhOk = d.findChild<QPushButton*>("btnOK")->text();
        QVERIFY(setChinese(false));
        QCOMPARE(d.findChild<QComboBox*>("comboBox")->itemText(1), QStringLiteral("Thickness of the dark area"));
        QVERIFY(zhMode != QStringLiteral("Thickness of the dark area"));
        QVERIFY(zhOk != QStringLiteral("OK"));
    }
};

QTEST_MAIN(TestPictureSetting)
#include "tst_picturesetting.moc"
