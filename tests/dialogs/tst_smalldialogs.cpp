#include <QtTest>

#include <QLabel>
#include <QPushButton>

#include "UI/AboutDialog.h"
#include "UI/BVViewPort.h"
#include "testutil_dialogs.h"

// The about box and the view-direction pad.
class TestSmallDialogs : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(useTemporaryDataDir()); }

    void padSends_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("direct");
        QTest::addColumn<QString>("tip");
        QTest::newRow("top is front") << "btn_up" << 1 << "Front View";
        QTest::newRow("bottom is back") << "btn_down" << 2 << "Back View";
        QTest::newRow("left is 4") << "btn_left" << 4 << "Left View";
        QTest::newRow("right is 3") << "btn_right" << 3 << "Right View";
        QTest::newRow("centre is default") << "btn_home" << 0 << "Default View";
    }
    void padSends()
    {
        QFETCH(QString, name);
        QFETCH(int, direct);
        QFETCH(QString, tip);
        QWidget host;
        auto* pad = new BVViewPort(&host);
        pad->setGeometry(0, 0, 150, 150);
        host.show();
        QVERIFY(QTest::qWaitForWindowExposed(&host));
        QSignalSpy spy(pad, &BVViewPort::sendView);
        auto* b = pad->findChild<QPushButton*>(name);
        QCOMPARE(b->size(), QSize(33, 33));
        QVERIFY(b->text().isEmpty());
        QCOMPARE(b->toolTip(), tip);
        QTest::mouseClick(b, Qt::LeftButton);
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).toInt(), direct);
    }

    void padLayout()
    {
        BVViewPort pad(nullptr);
        pad.resize(150, 150);
        pad.show();
        QVERIFY(QTest::qWaitForWindowExposed(&pad));
        auto centre = [&pad](const char* n) { return pad.findChild<QPushButton*>(n)->geometry().center(); };
        QCOMPARE(centre("btn_up").x(), centre("btn_home").x());
        QCOMPARE(centre("btn_down").x(), centre("btn_home").x());
        QVERIFY(centre("btn_up").y() < centre("btn_home").y() && centre("btn_home").y() < centre("btn_down").y());
        QCOMPARE(centre("btn_left").y(), centre("btn_home").y());
        QVERIFY(centre("btn_left").x() < centre("btn_home").x() && centre("btn_home").x() < centre("btn_right").x());
        // The face sprites hold four 32-pixel frames.
        for (const char* face : {"view_up", "view_down", "view_left", "view_right", "view_home"})
            QCOMPARE(QImage(QStringLiteral(":/new/") + face).size(), QSize(128, 32));
    }

    void padRetranslates()
    {
        BVViewPort pad(nullptr);
        QVERIFY(setChinese(true));
        QVERIFY(pad.retranslate());
        const QString zh = pad.findChild<QPushButton*>("btn_home")->toolTip();
        QVERIFY(setChinese(false));
        QVERIFY(pad.retranslate());
        QVERIFY(!zh.isEmpty());
        QVERIFY(zh != QStringLiteral("Default View"));
    }

    void aboutTexts_data()
    {
        QTest::addColumn<bool>("chinese");
        QTest::newRow("English") << false;
        QTest::newRow("Chinese") << true;
    }
    void aboutTexts()
    {
        QFETCH(bool, chinese);
        AboutDialog d(nullptr);
        QVERIFY(setChinese(chinese));
        QCOMPARE(d.findChild<QLabel*>("label")->text(), QStringLiteral("Version V3.0.7"));
        const QString title = d.findChild<QLabel*>("label_5")->text();
        QVERIFY(setChinese(false));
        QCOMPARE(title == QStringLiteral("About Tarni"), !chinese);
        QCOMPARE(d.size(), QSize(430, 150));
        QVERIFY(!d.findChild<QLabel*>("label_2")->pixmap(Qt::ReturnByValue).isNull());
    }

    void aboutDrag_data()
    {
        QTest::addColumn<QPoint>("press");
        QTest::addColumn<bool>("moves");
        QTest::newRow("y 1") << QPoint(100, 1) << true;
        QTest::newRow("y 29") << QPoint(100, 29) << true;
        QTest::newRow("y 30") << QPoint(100, 30) << false;
        QTest::newRow("y 0") << QPoint(100, 0) << false;
        QTest::newRow("x 0") << QPoint(0, 10) << false;
    }
    void aboutDrag()
    {
        QFETCH(QPoint, press);
        QFETCH(bool, moves);
        AboutDialog d(nullptr);
        d.move(80, 80);
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        QCOMPARE(dragBy(&d, press, QPoint(25, -10)), moves ? QPoint(25, -10) : QPoint());
    }

    void aboutCloses()
    {
        QWidget main;
        auto* d = new AboutDialog(&main);
        QVERIFY(d->isWindow());
        d->show();
        QVERIFY(QTest::qWaitForWindowExposed(d));
        QTest::mouseClick(d->findChild<QPushButton*>("about_close"), Qt::LeftButton);
        QVERIFY(!d->isVisible());
    }
};

QTEST_MAIN(TestSmallDialogs)
#include "tst_smalldialogs.moc"
