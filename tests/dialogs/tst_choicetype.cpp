#include <QtTest>

#include <QLabel>
#include <QSettings>

#include "Thread/CommunicateThread.h"
#include "Thread/ThreadPool.h"
#include "UI/BVPushBtn.h"
#include "UI/BrevMessageBox.h"
#include "UI/ChoiceTypeDialog.h"
#include "scene/AppData.h"
#include "testutil_dialogs.h"
#include "common/TestTime.h"

namespace {

const QColor kChosen(0x54, 0xc8, 0xea);

int storedInFile()
{
    return QSettings(AppData::instance()->getSettingsDir() + "/setting.ini", QSettings::IniFormat)
        .value("General/ChoiceType", -1)
        .toInt();
}

// Which name label the dialog shows as chosen: "px5", "px6" or "" for neither.
QString highlighted(ChoiceTypeDialog& d)
{
    QString out;
    for (const char* name : {"label_px5_1", "label_px6_a"}) {
        QLabel* l = d.findChild<QLabel*>(QLatin1String(name));
        l->ensurePolished();
        if (l->palette().color(l->foregroundRole()) == kChosen)
            out += QLatin1String(name) == QLatin1String("label_px5_1") ? "px5" : "px6";
    }
    return out;
}

BVPushBtn* button(ChoiceTypeDialog& d, const char* name)
{
    return d.findChild<BVPushBtn*>(QLatin1String(name));
}

} // namespace

class TestChoiceType : public QObject
{
    Q_OBJECT
    int questions = 0;
    int answer = 1;

private slots:
    void initTestCase()
    {
        QVERIFY(useTemporaryDataDir());
        BrevMessageBox::setAnswerHook([this](BrevMessageBox& box) {
            if (box.kind() != 41)
                return 0;
            ++questions;
            return answer;
        });
    }
    void cleanupTestCase() { BrevMessageBox::setAnswerHook(nullptr); }
    void init() { questions = 0; }

    void opening_data()
    {
        QTest::addColumn<int>("stored");
        QTest::addColumn<int>("storedAfter");
        QTest::addColumn<QString>("checked");
        QTest::addColumn<QString>("shown");
        QTest::newRow("none stores 1 at once") << 0 << 1 << "btn_px5" << "px5";
        QTest::newRow("PX5") << 1 << 1 << "btn_px5" << "px5";
        QTest::newRow("PX6_A") << 2 << 2 << "btn_px6_a" << "px6";
        QTest::newRow("PX6_B shows neither") << 3 << 3 << "" << "";
        QTest::newRow("unknown value") << 9 << 1 << "btn_px5" << "px5";
    }
    void opening()
    {
        QFETCH(int, stored);
        QFETCH(int, storedAfter);
        QFETCH(QString, checked);
        QFETCH(QString, shown);
        AppData::instance()->setChoiceType(stored);
        ChoiceTypeDialog d(nullptr);
        QCOMPARE(AppData::instance()->getChoiceType(), storedAfter);
        QCOMPARE(storedInFile(), storedAfter);
        QCOMPARE(button(d, "btn_px5")->isChecked(), checked == "btn_px5");
        QCOMPARE(button(d, "btn_px6_a")->isChecked(), checked == "btn_px6_a");
        QCOMPARE(highlighted(d), shown);
    }

    void ok_data()
    {
        QTest::addColumn<int>("stored");
        QTest::addColumn<QString>("click");
        QTest::addColumn<bool>("ask");
        QTest::addColumn<int>("reply");
        QTest::addColumn<int>("storedAfter");
        QTest::addColumn<int>("asked");
        QTest::addColumn<int>("exits");
        QTest::addColumn<bool>("closes");
        QTest::newRow("same model, asking") << 1 << "btn_px5" << true << 1 << 1 << 0 << 0 << true;
        QTest::newRow("other model, not asking") << 1 << "btn_px6_a" << false << 1 << 2 << 0 << 0 << true;
        QTest::newRow("other model, Ok") << 1 << "btn_px6_a" << true << 1 << 2 << 1 << 1 << true;
        QTest::newRow("other model, Cancel") << 2 << "btn_px5" << true << 0 << 2 << 1 << 0 << false;
        QTest::newRow("other model, close box") << 2 << "btn_px5" << true << 2 << 2 << 1 << 0 << false;
        // The printer's own variant has no button; Ok without a pick keeps it.
        QTest::newRow("PX6_B untouched") << 3 << "" << true << 1 << 3 << 0 << 0 << true;
        QTest::newRow("PX6_B to PX5") << 3 << "btn_px5" << false << 1 << 1 << 0 << 0 << true;
    }
    void ok()
    {
        QFETCH(int, stored);
        QFETCH(QString, click);
        QFETCH(bool, ask);
        QFETCH(int, reply);
        QFETCH(int, storedAfter);
        QFETCH(int, asked);
        QFETCH(int, exits);
        QFETCH(bool, closes);
        AppData::instance()->setChoiceType(stored);
        answer = reply;
        ChoiceTypeDialog d(nullptr);
        d.setAskBeforeChange(ask);
        QSignalSpy exitSpy(&d, &ChoiceTypeDialog::sign_ExitBVT);
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        if (!click.isEmpty())
            QTest::mouseClick(button(d, qPrintable(click)), Qt::LeftButton);
        QTest::mouseClick(d.findChild<QPushButton*>("btn_ok"), Qt::LeftButton);
        QCOMPARE(questions, asked);
        QCOMPARE(exitSpy.count(), exits);
        QCOMPARE(AppData::instance()->getChoiceType(), storedAfter);
        QCOMPARE(storedInFile(), storedAfter);
        QCOMPARE(d.isVisible(), !closes);
        if (!click.isEmpty())
            QCOMPARE(highlighted(d), click == "btn_px5" ? QString("px5") : QString("px6"));
    }

    // A double-click takes Ok's road: over slice data it asks first, and a refusal keeps both
    // the model and the dialog.
    void doubleClickTakesTheOkRoad_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("chosen");
        QTest::addColumn<int>("reply"); // to "exit the slice preview?"
        QTest::newRow("PX5") << "btn_px5" << 1 << 1;
        QTest::newRow("PX6") << "btn_px6_a" << 2 << 1;
        QTest::newRow("PX6, refused") << "btn_px6_a" << 2 << 0;
    }
    void doubleClickTakesTheOkRoad()
    {
        QFETCH(QString, name);
        QFETCH(int, chosen);
        QFETCH(int, reply);
        const int before = chosen == 1 ? 2 : 1;
        AppData::instance()->setChoiceType(before);
        ChoiceTypeDialog d(nullptr);
        d.setAskBeforeChange(true);
        QSignalSpy leaving(&d, &ChoiceTypeDialog::sign_ExitBVT);
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        questions = 0;
        answer = reply;
        QTest::mouseDClick(button(d, qPrintable(name)), Qt::LeftButton);
        answer = 1;
        QCOMPARE(questions, 1);
        QCOMPARE(AppData::instance()->getChoiceType(), reply == 1 ? chosen : before);
        QCOMPARE(leaving.count(), reply == 1 ? 1 : 0);
        QCOMPARE(d.isVisible(), reply != 1);
    }

    // The printer's reports arrive from the link's own thread.
    void printerReports_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<bool>("px5Enabled");
        QTest::addColumn<bool>("px6Enabled");
        QTest::addColumn<QString>("shown");
        QTest::newRow("PX5") << 1 << true << false << "px5";
        QTest::newRow("PX6_A") << 2 << false << true << "px6";
        QTest::newRow("PX6_B") << 3 << false << false << "";
    }
    void printerReports()
    {
        QFETCH(int, type);
        QFETCH(bool, px5Enabled);
        QFETCH(bool, px6Enabled);
        QFETCH(QString, shown);
        ThreadPool pool(nullptr);
        CommunicateThread* link = pool.linkWorker();
        AppData::instance()->setChoiceType(type == 1 ? 2 : 1);
        ChoiceTypeDialog d(nullptr);
        QMetaObject::invokeMethod(
            link, [link, type] { emit link->signMachineType(ChoiceType(type)); }, Qt::BlockingQueuedConnection);
        QTRY_COMPARE(AppData::instance()->getChoiceType(), type);
        QCOMPARE(storedInFile(), type);
        QCOMPARE(button(d, "btn_px5")->isEnabled(), px5Enabled);
        QCOMPARE(button(d, "btn_px6_a")->isEnabled(), px6Enabled);
        QCOMPARE(highlighted(d), shown);

        // Ok now keeps what the printer said.
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        QTest::mouseClick(d.findChild<QPushButton*>("btn_ok"), Qt::LeftButton);
        QCOMPARE(AppData::instance()->getChoiceType(), type);
        QVERIFY(!d.isVisible());

        QMetaObject::invokeMethod(
            link, [link] { emit link->linkStatus(false); }, Qt::BlockingQueuedConnection);
        QTRY_VERIFY(button(d, "btn_px5")->isEnabled() && button(d, "btn_px6_a")->isEnabled());
    }

    void setChoiceDisableStoresNothing()
    {
        AppData::instance()->setChoiceType(1);
        ChoiceTypeDialog d(nullptr);
        d.set_choiceDisable(ChoicePX6A);
        QVERIFY(!button(d, "btn_px5")->isEnabled());
        QVERIFY(button(d, "btn_px6_a")->isEnabled());
        QCOMPARE(AppData::instance()->getChoiceType(), 1);
        QCOMPARE(highlighted(d), QString("px5"));
    }

    void drag_data()
    {
        QTest::addColumn<QPoint>("press");
        QTest::addColumn<bool>("moves");
        QTest::newRow("y 29") << QPoint(200, 29) << true;
        QTest::newRow("y 30") << QPoint(200, 30) << false;
        QTest::newRow("x 0") << QPoint(0, 10) << false;
    }
    void drag()
    {
        QFETCH(QPoint, press);
        QFETCH(bool, moves);
        AppData::instance()->setChoiceType(1);
        ChoiceTypeDialog d(nullptr);
        d.move(50, 50);
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        QCOMPARE(dragBy(&d, press, QPoint(-20, 15)), moves ? QPoint(-20, 15) : QPoint());
    }

    void isOwnWindowOverParent()
    {
        QWidget main;
        AppData::instance()->setChoiceType(1);
        auto* d = new ChoiceTypeDialog(&main);
        QVERIFY(d->isWindow());
        QCOMPARE(d->size(), QSize(670, 454));
        QVERIFY(d->windowFlags() & Qt::FramelessWindowHint);
    }

    void translated()
    {
        AppData::instance()->setChoiceType(1);
        ChoiceTypeDialog d(nullptr);
        QVERIFY(setChinese(true));
        const QString title = d.findChild<QLabel*>("label_5")->text();
        QVERIFY(setChinese(false));
        QCOMPARE(d.findChild<QLabel*>("label_5")->text(), QStringLiteral("Printer Selection"));
        QVERIFY(title != QStringLiteral("Printer Selection"));
        QVERIFY(!title.isEmpty());
    }
};

QTEST_MAIN(TestChoiceType)
#include "tst_choicetype.moc"
