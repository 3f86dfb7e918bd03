#include <QtTest>

#include <QDoubleSpinBox>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTabWidget>

#include "Thread/CommunicateThread.h"
#include "Thread/ThreadPool.h"
#include "UI/BVSettingWindow.h"
#include "UI/BVTwoBtn.h"
#include "scene/AppData.h"
#include "testutil_printui.h"
#include "common/TestTime.h"

namespace {
// Clicks the first or the second choice of a two-button widget.
void choose(BVTwoBtn* choice, bool yes)
{
    choice->findChild<QPushButton*>(yes ? "btn_yes" : "btn_no")->click();
}
} // namespace

class TestSettingWindow : public QObject
{
    Q_OBJECT

    PrintUiFixture* fx = nullptr;
    ThreadPool* pool = nullptr;
    BVSettingWindow* w = nullptr;

    QVariant stored(const QString& key) const
    {
        return QSettings(fx->settingsFile(), QSettings::IniFormat).value(key);
    }

private slots:
    void initTestCase()
    {
        fx = new PrintUiFixture;
        pool = new ThreadPool(nullptr);
    }
    void cleanupTestCase()
    {
        delete pool;
        delete fx;
    }
    void init()
    {
        fx->resetSettings();
        fx->asked.clear();
        AppData* data = AppData::instance();
        data->setChoiceType(1);
        data->setPrintQuality(1);
        data->setTemperature(205);
        data->setHotbed(60);
        w = new BVSettingWindow;
    }
    void cleanup()
    {
        delete w;
    }

    void construction()
    {
        // Every start puts the bed temperature back to 0.
        QCOMPARE(AppData::instance()->getHotbed(), 0);
        QCOMPARE(stored("TEMPERATURE/hotbed").toInt(), 0);
        QCOMPARE(w->quality(), 1);
        QVERIFY(w->form().btn_mid->isChecked());
        QVERIFY(w->form().label_mid->styleSheet().contains("#54c8ea"));
        QVERIFY(w->form().label_low->styleSheet().contains("#000000"));
        QCOMPARE(w->form().Temperature->value(), 205);
        QCOMPARE(w->form().fill_density->value(), 20);
        // The link is down until it says otherwise.
        QVERIFY(!w->form().tab_Leveing->isEnabled());
        QVERIFY(!w->form().tab_Material->isEnabled());
        QVERIFY(w->form().tab_3->isEnabled());
        QCOMPARE(w->form().tabWidget->count(), 3);
    }

    void confirmStoresProfile_data()
    {
        QTest::addColumn<int>("density");
        QTest::addColumn<bool>("grid");
        QTest::addColumn<int>("pattern");
        QTest::newRow("dense grid") << 60 << true << 0;
        QTest::newRow("grid below 50") << 49 << true << 1;
        QTest::newRow("dense cellular at 50") << 50 << false << 0;
        QTest::newRow("cellular") << 10 << false << 4;
    }
    void confirmStoresProfile()
    {
        QFETCH(int, density);
        QFETCH(bool, grid);
        QFETCH(int, pattern);
        auto& f = w->form();
        f.fill_density->setValue(density);
        // The first choice is CELLULAR, the second GRID.
        choose(f.Infill_Pattern, grid);
        choose(f.Z_Hop_Retracting, true);
        f.support_angle->setValue(45);
        f.first_layer_airgap->setValue(0.25);
        f.Temperature->setValue(230);
        w->show();
        f.btn_ok->click();
        QVERIFY(w->isHidden());
        QCOMPARE(w->result(), int(QDialog::Accepted));
        QCOMPARE(stored("mid/fill_density").toInt(), density);
        QCOMPARE(stored("mid/infill_pattern").toInt(), pattern);
        QCOMPARE(stored("mid/z_hop_when_retracting").toInt(), 2000);
        QCOMPARE(stored("mid/support_angle").toInt(), 45);
        QCOMPARE(stored("mid/first_layer_airgap").toDouble(), 0.25);
        QCOMPARE(AppData::instance()->getTemperature(), 230);
        // The other qualities are left alone.
        QCOMPARE(stored("low/fill_density").toInt(), 10);

        // Opened again, the page shows what was stored, Z hop included.
        w->refresh();
        QCOMPARE(f.Z_Hop_Retracting->value(), 1);
        QCOMPARE(f.fill_density->value(), density);
        QCOMPARE(f.first_layer_airgap->value(), 0.25);
    }

    void bedTemperatureOnConfirm_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("hotbed");
        QTest::newRow("none keeps it") << 0 << 70;
        QTest::newRow("PX5") << 1 << 0;
        QTest::newRow("PX6B") << 3 << 0;
    }
    void bedTemperatureOnConfirm()
    {
        QFETCH(int, type);
        QFETCH(int, hotbed);
        AppData::instance()->setChoiceType(type);
        AppData::instance()->setHotbed(70);
        w->form().btn_ok->click();
        QCOMPARE(AppData::instance()->getHotbed(), hotbed);
    }

    void supportKeepsRaft()
    {
        auto& f = w->form();
        choose(f.have_support, false);
        choose(f.print_raft_layers, false);
        QCOMPARE(f.print_raft_layers->value(), 0);
        choose(f.have_support, true);
        QCOMPARE(f.print_raft_layers->value(), 1);
        choose(f.print_raft_layers, false);
        QCOMPARE(f.print_raft_layers->value(), 1);
        choose(f.have_support, false);
        choose(f.print_raft_layers, false);
        QCOMPARE(f.print_raft_layers->value(), 0);
    }

    void qualityButtonsSaveAtOnce_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<int>("quality");
        QTest::addColumn<int>("density");
        QTest::newRow("low") << "btn_low" << 0 << 10;
        QTest::newRow("mid") << "btn_mid" << 1 << 20;
        QTest::newRow("high") << "btn_high" << 2 << 30;
    }
    void qualityButtonsSaveAtOnce()
    {
        QFETCH(QString, button);
        QFETCH(int, quality);
        QFETCH(int, density);
        AppData::instance()->setPrintQuality(quality == 1 ? 2 : 1);
        w->refresh();
        w->show();
        w->findChild<QPushButton*>(button)->click();
        w->form().btn_win_close->click();
        QVERIFY(w->isHidden());
        QCOMPARE(stored("General/printQuality").toInt(), quality);
        QCOMPARE(w->quality(), quality);
        QCOMPARE(w->form().fill_density->value(), density);
        // Reset gives the quality's own density and the table's defaults; nothing is saved.
        w->form().fill_density->setValue(77);
        w->form().Temperature->setValue(180);
        w->form().btn_reset->click();
        QCOMPARE(w->form().fill_density->value(), density);
        QCOMPARE(w->form().Temperature->value(), 210);
        QCOMPARE(w->form().support_angle->value(), 60);
        QCOMPARE(w->form().first_layer_airgap->value(), 0.11);
        QCOMPARE(AppData::instance()->getTemperature(), 205);
    }

    void openByMachine_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("page");
        QTest::addColumn<bool>("bedRow");
        QTest::newRow("PX5") << 1 << 0 << false;
        QTest::newRow("PX6A") << 2 << 1 << false;
        QTest::newRow("PX6B") << 3 << 1 << true;
    }
    void openByMachine()
    {
        QFETCH(int, type);
        QFETCH(int, page);
        QFETCH(bool, bedRow);
        // An earlier opening for the first model hides the row.
        AppData::instance()->setChoiceType(1);
        QTimer::singleShot(0, w, [this] { w->close(); });
        w->exec();
        AppData::instance()->setChoiceType(type);
        w->form().tabWidget->setCurrentIndex(2);
        int seenPage = -1, seenTab = -1;
        bool seenRow = false;
        QTimer::singleShot(0, w, [&] {
            seenPage = w->form().LevelingstackedWidget->currentIndex();
            seenTab = w->form().tabWidget->currentIndex();
            seenRow = w->form().widget_hot->isVisibleTo(w->form().tab_3)
                      && w->form().Chassis_effect->isVisibleTo(w->form().tab_3);
            w->close();
        });
        w->exec();
        QCOMPARE(seenTab, 0);
        QCOMPARE(seenPage, page);
        QCOMPARE(seenRow, bedRow);
    }

    void escape()
    {
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
        w->form().btn_win_close->setEnabled(false);
        QTest::keyClick(w, Qt::Key_Escape);
        QVERIFY(w->isVisible());
        w->form().btn_win_close->setEnabled(true);
        QTest::keyClick(w, Qt::Key_Escape);
        QVERIFY(w->isHidden());
    }

    void tabsHeldWhileBusy()
    {
        w->linkStatus(true);
        w->slotTray(TrayFeeding);
        QCOMPARE(w->form().tabWidget->currentIndex(), 1);
        w->form().tabWidget->setCurrentIndex(2);
        QCOMPARE(w->form().tabWidget->currentIndex(), 1);
        w->slotTray(TrayStopped);
        w->form().tabWidget->setCurrentIndex(2);
        QCOMPARE(w->form().tabWidget->currentIndex(), 2);

        w->PX5_1LevelStatus(PX5_1Accepted);
        w->form().tabWidget->setCurrentIndex(1);
        QCOMPARE(w->form().tabWidget->currentIndex(), 0);
        w->PX5_1LevelStatus(PX5_1Ended);
        w->form().tabWidget->setCurrentIndex(1);
        QCOMPARE(w->form().tabWidget->currentIndex(), 1);
        w->hide();
    }

    void printingLocksPages_data()
    {
        QTest::addColumn<bool>("paused");
        QTest::addColumn<bool>("ended");
        QTest::addColumn<bool>("leveling");
        QTest::addColumn<bool>("material");
        QTest::newRow("printing") << false << false << false << false;
        QTest::newRow("paused") << true << false << false << true;
        QTest::newRow("ended") << false << true << true << true;
    }
    void printingLocksPages()
    {
        QFETCH(bool, paused);
        QFETCH(bool, ended);
        QFETCH(bool, leveling);
        QFETCH(bool, material);
        w->linkStatus(true);
        SendPrintStatus s;
        s.paused = paused;
        s.ended = ended;
        // Arrives from the link's thread.
        CommunicateThread* link = pool->linkWorker();
        onLinkThread([link, s] { emit link->signPrintStatus(s); });
        QTRY_COMPARE(w->form().tab_Leveing->isEnabled(), leveling);
        QCOMPARE(w->form().tab_Material->isEnabled(), material);
    }

    void dragByTopBar()
    {
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
        const QPoint start = w->pos();
        const QPoint grab = w->form().widget_top->geometry().center();
        QTest::mousePress(w, Qt::LeftButton, {}, grab);
        QMouseEvent move(QEvent::MouseMove, grab + QPoint(30, 20), w->mapToGlobal(grab) + QPoint(30, 20),
                         Qt::NoButton, Qt::LeftButton, {});
        QCoreApplication::sendEvent(w, &move);
        QTest::mouseRelease(w, Qt::LeftButton, {}, grab + QPoint(30, 20));
        QCOMPARE(w->pos(), start + QPoint(30, 20));
        w->hide();
    }

    void translated()
    {
        QTranslator zh;
        QVERIFY(zh.load(":/brevant_zh.qm"));
        QCoreApplication::installTranslator(&zh);
        QTRY_COMPARE(w->form().btn_ok->text(), QStringLiteral("确认"));
        QCOMPARE(w->form().tabWidget->tabText(2), QStringLiteral("高级设置"));
        QCOMPARE(w->form().have_support->findChild<QPushButton*>("btn_yes")->text(), QStringLiteral("是"));
        QCoreApplication::removeTranslator(&zh);
        QTRY_COMPARE(w->form().btn_ok->text(), QStringLiteral("Confirm"));
    }
};

QTEST_MAIN(TestSettingWindow)
#include "tst_settingwindow.moc"
