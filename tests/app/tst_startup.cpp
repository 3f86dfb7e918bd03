#include <QtTest>

#include <QSettings>
#include <QTemporaryDir>

#include "app/Startup.h"
#include "scene/AppData.h"

class TestStartup : public QObject
{
    Q_OBJECT

    QTemporaryDir* base = nullptr;

    QString settingsPath() const { return base->path() + "/Brevant/setting.ini"; }

    void writeSettings(const QMap<QString, QVariant>& values)
    {
        QDir().mkpath(base->path() + "/Brevant");
        QSettings s(settingsPath(), QSettings::IniFormat);
        for (auto it = values.begin(); it != values.end(); ++it)
            s.setValue(it.key(), it.value());
    }

    void start()
    {
        char arg0[] = "tarni";
        char* argv[] = {arg0, nullptr};
        initEnvironment(1, argv);
    }

private slots:
    void init()
    {
        base = new QTemporaryDir();
        QVERIFY(base->isValid());
        qputenv("LOCALAPPDATA", base->path().toLocal8Bit());
    }
    void cleanup()
    {
        AppData::instance()->clearModels(true);
        delete base;
        base = nullptr;
    }

    void firstStartWritesDefaults()
    {
        start();
        AppData* d = AppData::instance();
        QCOMPARE(d->getSettingsDir(), base->path() + "/Brevant");
        QVERIFY(QFileInfo::exists(settingsPath()));
        QSettings s(settingsPath(), QSettings::IniFormat);
        QCOMPARE(s.value("Box/Length").toDouble(), 145.0);
        QCOMPARE(s.value("Box/Width").toDouble(), 145.0);
        QCOMPARE(s.value("Box/Height").toDouble(), 140.0);
        QCOMPARE(s.value("Box/Diameter").toDouble(), 150.0);
        QCOMPARE(s.value("Box/DHeight").toDouble(), 175.0);
        QCOMPARE(s.value("General/printQuality").toInt(), 1);
        QVERIFY(s.contains("General/Language"));
        QVERIFY(!s.contains("General/ChoiceType"));
        QCOMPARE(d->getChoiceType(), 0);
        QCOMPARE(d->getTemperature(), 210);
        // The round machine's height as start-up sets it.
        QCOMPARE(d->getSelectedCenter()[2], 87.5);
    }

    void storedValuesAreChecked_data()
    {
        QTest::addColumn<int>("choice");
        QTest::addColumn<int>("temperature");
        QTest::addColumn<int>("expectedChoice");
        QTest::addColumn<int>("expectedTemperature");
        QTest::newRow("unknown machine") << 7 << 220 << 0 << 220;
        QTest::newRow("hot nozzle") << 2 << 300 << 2 << 210;
        QTest::newRow("cold nozzle") << 1 << 149 << 1 << 210;
        QTest::newRow("upper limit") << 3 << 250 << 3 << 250;
        QTest::newRow("lower limit") << 3 << 150 << 3 << 150;
    }
    void storedValuesAreChecked()
    {
        QFETCH(int, choice);
        QFETCH(int, temperature);
        QFETCH(int, expectedChoice);
        QFETCH(int, expectedTemperature);
        writeSettings({{"General/ChoiceType", choice}, {"TEMPERATURE/temperature", temperature},
                       {"General/Language", 1}, {"General/printQuality", 2}, {"Box/Length", 99.0}});
        start();
        AppData* d = AppData::instance();
        QCOMPARE(d->getChoiceType(), expectedChoice);
        QCOMPARE(d->getTemperature(), expectedTemperature);
        QCOMPARE(d->getLanguage(), 1);
        QCOMPARE(d->getPrintQuality(), 2);
        // Box sizes are rewritten at every start.
        QCOMPARE(d->getBoxLength(), 145.0);
        QSettings s(settingsPath(), QSettings::IniFormat);
        QCOMPARE(s.value("General/ChoiceType").toInt(), expectedChoice);
        QCOMPARE(s.value("TEMPERATURE/temperature").toInt(), expectedTemperature);
        QCOMPARE(s.value("Box/Length").toDouble(), 145.0);
    }

    void printProfiles()
    {
        start();
        AppData* d = AppData::instance();
        for (int q = 0; q < 3; ++q) {
            PrintProfile p;
            p.fill_density = -1;
            d->loadPrintProfile(q, p);
            QCOMPARE(p.fill_density, (q + 1) * 10);
            QCOMPARE(p.support_type, 1);
            QCOMPARE(p.support_angle, 60);
            QCOMPARE(p.support_fill_density, 20);
            QCOMPARE(p.print_raft_Layers, 1);
            // Stored as 0.11, read back in single precision.
            QCOMPARE(p.first_layer_airgap, 0.10999999940395355);
        }
        // An existing profile is read as stored; nothing else is rewritten.
        PrintProfile high;
        d->loadPrintProfile(2, high);
        high.fill_density = 77;
        high.first_layer_airgap = 0.25;
        d->savePrintProfile(2, high);
        PrintProfile back;
        d->loadPrintProfile(2, back);
        QCOMPARE(back.fill_density, 77);
        QCOMPARE(back.first_layer_airgap, 0.25);
        // Unknown qualities neither write nor read.
        d->savePrintProfile(3, high);
        QVERIFY(!QSettings(settingsPath(), QSettings::IniFormat).childGroups().contains("3"));
        PrintProfile untouched;
        untouched.fill_density = 5;
        d->loadPrintProfile(3, untouched);
        QCOMPARE(untouched.fill_density, 5);
    }

    void missingProfileKeyReadsZero()
    {
        writeSettings({{"low/fill_density", 10}});
        start();
        PrintProfile mid;
        AppData::instance()->loadPrintProfile(1, mid);
        QCOMPARE(mid.fill_density, 0);
        QVERIFY(!QSettings(settingsPath(), QSettings::IniFormat).contains("mid/fill_density"));
    }

    void stalePrintFilesGo()
    {
        QTemporaryDir program;
        AppData* d = AppData::instance();
        d->setAppDir(program.path());
        QDir(program.path()).mkdir("gco");
        const QStringList names{"a.BVT", "b.BVT", "notes.txt", "myBVTnotes.txt", "c.bvt"};
        for (const QString& n : names) {
            QFile f(program.path() + "/gco/" + n);
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        QDir(program.path() + "/gco").mkdir("keep.BVT");
        QSettings(program.path() + "/recentfile.ini", QSettings::IniFormat)
            .setValue("Recentfile/filenames", "a.BVT%x.BVT%");
        loadRecentFiles(*d);
        QCOMPARE(d->getRecentFiles(), (QStringList{"a.BVT", "x.BVT"}));
        QStringList left = QDir(program.path() + "/gco").entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
        left.sort();
        QCOMPARE(left, (QStringList{"a.BVT", "c.bvt", "keep.BVT", "myBVTnotes.txt", "notes.txt"}));
    }

    void recentFilesKeepFive()
    {
        QTemporaryDir program;
        AppData* d = AppData::instance();
        d->setAppDir(program.path());
        for (int i = 1; i <= 6; ++i)
            d->addRecentFile(QString("f%1.BVT").arg(i));
        d->addRecentFile("f6.BVT");
        d->addRecentFile("");
        QCOMPARE(QSettings(program.path() + "/recentfile.ini", QSettings::IniFormat)
                     .value("Recentfile/filenames").toString(),
                 QStringLiteral("f2.BVT%f3.BVT%f4.BVT%f5.BVT%f6.BVT%"));
    }

    void freshObjectAfterClear()
    {
        AppData* d = AppData::instance();
        d->setSettingsDir(base->path());
        d->setPrintQuality(2);
        d->setEditMode(3);
        d->clearModels(true);
        AppData* fresh = AppData::instance();
        QCOMPARE(fresh->getPrintQuality(), 1);
        QCOMPARE(fresh->getEditMode(), 0);
        QVERIFY(fresh->getWorkingObject() != nullptr);
        QVERIFY(fresh->getGcodePreview() != nullptr);
    }

    void fileArgumentBecomesAbsolute()
    {
        QTemporaryDir dir;
        QFile f(dir.filePath("part.stl"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.close();
        const QString old = QDir::currentPath();
        QDir::setCurrent(dir.path());
        char a0[] = "tarni", a1[] = "part.stl", a2[] = "raise_window_noop";
        char* withFile[] = {a0, a1, nullptr};
        char* withWord[] = {a0, a2, nullptr};
        const QString abs = absoluteFileArgument(2, withFile);
        const QString word = absoluteFileArgument(2, withWord);
        QDir::setCurrent(old);
        QCOMPARE(abs, QFileInfo(f).absoluteFilePath());
        QCOMPARE(word, QStringLiteral("raise_window_noop"));
        QCOMPARE(absoluteFileArgument(1, withFile), QString());
    }
};

QTEST_GUILESS_MAIN(TestStartup)
#include "tst_startup.moc"
