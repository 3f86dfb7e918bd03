#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include "scene/AppData.h"
#include "scene/IniFileEditor.h"
#include "scene/MeshModel.h"

Q_DECLARE_METATYPE(PrintProfile)

namespace {

QByteArray resource(const QString& name)
{
    QFile f(":/config/Resources/" + name);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// "key = value" lines of a profile: key to value, blocks as their raw lines.
QMap<QString, QString> profileValues(const QByteArray& text)
{
    QMap<QString, QString> values;
    for (const QByteArray& raw : text.split('\n')) {
        const QString line = QString::fromLatin1(raw).trimmed();
        const int eq = line.indexOf('=');
        if (eq > 0 && !line.startsWith(';'))
            values.insert(line.left(eq).trimmed(), line.mid(eq + 1).trimmed());
    }
    return values;
}

} // namespace

class TestEngineConfig : public QObject
{
    Q_OBJECT

private slots:
    void shippedProfiles()
    {
        const QByteArray low = resource("low.ini");
        const QByteArray mid = resource("mid.ini");
        const QByteArray high = resource("high.ini");
        const QMap<QString, QList<QString>> differing = {
            {"layerThickness", {"210", "140", "70"}},
            {"insetminiwidth", {"200", "100", "100"}},
            {"skinLineSpacing", {"400", "400", "420"}},
            {"insetCount", {"2", "3", "4"}},
            {"moveSpeed", {"100", "100", "80"}},
            {"supportReferLayerThickness", {"280", "280", "210"}},
            {"supportZDistanceTop", {"280", "280", "210"}},
            {"supportZDistanceBottom", {"280", "280", "210"}},
            {"supportTreeRadiusMax", {"3000", "3000", "4000"}},
            {"upSkinCount", {"4", "5", "6"}},
        };
        const QByteArray texts[3] = {low, mid, high};
        const char* qualityLines[3] = {";Low Quality", ";Middle Quality", ";High Quality"};
        for (int q = 0; q < 3; ++q) {
            const QByteArray& text = texts[q];
            QCOMPARE(text.count('\n'), 153);
            QCOMPARE(text.count("\r\n"), 153);
            const QMap<QString, QString> values = profileValues(text);
            QCOMPARE(values.keys(), profileValues(mid).keys());
            for (auto it = differing.begin(); it != differing.end(); ++it)
                QCOMPARE(values.value(it.key()), it.value()[q]);
            QVERIFY(text.contains("startCode = \"\"\"\r\n;Start GCode\r\n" + QByteArray(qualityLines[q]) + "\r\n"));
            // Apart from the table, the three files are the same line for line.
            QList<QByteArray> a = text.split('\n');
            QList<QByteArray> b = mid.split('\n');
            for (int i = 0; i < a.size(); ++i) {
                if (a[i] == b[i])
                    continue;
                const QString key = QString::fromLatin1(a[i]).section('=', 0, 0).trimmed();
                QVERIFY2(differing.contains(key) || a[i].startsWith(qualityLines[q]), a[i].constData());
            }
        }
        // Values the writer leaves alone keep the profile's text.
        const QMap<QString, QString> values = profileValues(mid);
        QCOMPARE(values.value("extrusionWidth"), QString("400"));
        QCOMPARE(values.value("insetraftAirGapLayer0"), QString("150"));
        QVERIFY(mid.contains("\r\nplatformx=145000\r\nplatformy=145000\r\n"));
        QVERIFY(mid.contains("endCode = \"\"\"\r\n;End GCode\r\nM25\r\n\"\"\"\r\n"));
        QVERIFY(mid.contains("M104 S{temperature}   ;temperature set\r\n"));
        // The keys the writer sets precede their anchors, so none is ever inserted twice.
        const int start = mid.indexOf("startCode");
        const int raft = mid.indexOf("\ngcodeFlavor");
        for (const char* key : {"raftBaseThickness", "raftAirGap", "raftAirGapLayer0", "insetraftAirGapLayer0 "})
            QVERIFY(mid.indexOf(QByteArray("\n") + key) < raft);
        for (const char* key : {"supportType", "supportAngle", "supportLineDistance", "sparseInfillLineDistance",
                                "infillPattern", "retractionZHop", "platformx", "platformy",
                                "manualSupportEnable", "manualSupportSideLen", "manualSupportPoints"})
            QVERIFY(mid.indexOf(QByteArray("\n") + key) < start);
    }

    void writesProfileMachineAndSupports_data()
    {
        QTest::addColumn<PrintProfile>("profile");
        QTest::addColumn<int>("machineType");
        QTest::addColumn<bool>("withSupport");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<QStringList>("absent");

        PrintProfile p;
        QTest::newRow("defaults")
            << p << 1 << false
            << QStringList{"supportType = 1", "supportAngle = -1", "supportLineDistance = 2000",
                           "sparseInfillLineDistance = 2000", "raftBaseThickness = 200",
                           "raftAirGap = 59.99999940395355", "raftAirGapLayer0 = 109.99999940395355",
                           "insetraftAirGapLayer0  = 149.99999940395355", "infillPattern = 1",
                           "retractionZHop = 0", "platformx = 145000", "platformy = 145000",
                           "manualSupportEnable = 0", "manualSupportSideLen = 2000",
                           "manualSupportPoints = \"\"\"", "raftInterfaceThickness = 175"}
            << QStringList{"", "raftAirGap = 60"};

        p = PrintProfile();
        p.support = 1;
        p.support_type = 2;
        p.support_angle = 45;
        p.support_fill_density = 30;
        p.fill_density = 10;
        p.infill_pattern = 4;
        p.z_hop_when_retracting = 2000;
        QTest::newRow("supports on, sparse fill")
            << p << 2 << false
            << QStringList{"supportType = 2", "supportAngle = 45", "supportLineDistance = 1333",
                           "sparseInfillLineDistance = 4000", "infillPattern = 4",
                           "retractionZHop = 2000", "platformx = 150000", "platformy = 0"}
            << QStringList{"platformx=145000"};

        p = PrintProfile();
        p.fill_density = 30;
        p.print_raft_Layers = 0;
        QTest::newRow("no raft, round B machine")
            << p << 3 << false
            << QStringList{"raftBaseThickness = 0", "raftInterfaceThickness = 0",
                           "raftSurfaceThickness = 0", "raftAirGap = 60", "raftAirGapLayer0 = 110",
                           "sparseInfillLineDistance = 1333", "platformx = 150000", "platformy = 0"}
            << QStringList{};

        p = PrintProfile();
        p.fill_density = 0;
        p.support_fill_density = 0;
        QTest::newRow("zero densities keep the support distance")
            << p << 0 << true
            << QStringList{"supportLineDistance = 2000", "sparseInfillLineDistance = 0",
                           "platformx = 145000", "manualSupportEnable = 1",
                           "manualSupportSideLen = 2000", "manualSupportPoints = \"\"\"",
                           "10500 -3250 12000 1e+06 0 500 ", "\"\"\""}
            << QStringList{"manualSupportEnable = 0"};

        p = PrintProfile();
        p.fill_density = 150;
        QTest::newRow("fill clamped to 100") << p << 1 << false
                                             << QStringList{"sparseInfillLineDistance = 400"} << QStringList{};
        p.fill_density = -5;
        QTest::newRow("negative fill is none") << p << 1 << false
                                               << QStringList{"sparseInfillLineDistance = 0"} << QStringList{};
    }

    void writesProfileMachineAndSupports()
    {
        QFETCH(PrintProfile, profile);
        QFETCH(int, machineType);
        QFETCH(bool, withSupport);
        QFETCH(QStringList, expected);
        QFETCH(QStringList, absent);

        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        AppData* app = AppData::instance();
        app->setSettingsDir(dir.path());
        app->setBoxSize(145, 145, 140, 150, 175);
        app->setChoiceType(machineType);
        app->setPrintQuality(1);
        PrintProfile scratch;
        app->loadPrintProfile(1, scratch); // lays the default profiles
        app->savePrintProfile(1, profile);
        if (withSupport) {
            for (const std::array<double, 3>& point : {std::array<double, 3>{10.5, -3.25, 12.0},
                                                       std::array<double, 3>{1000.0, 0.0, 0.5}}) {
                auto* s = new MeshModel();
                s->isSupport = true;
                s->supportPoint = point;
                app->commitSupport(s);
            }
        }

        const QString ini = dir.filePath("Brev.ini");
        QVERIFY(QFile::copy(":/config/Resources/mid.ini", ini));
        QFile::setPermissions(ini, QFile::ReadOwner | QFile::WriteOwner);
        QVERIFY(app->writeEngineConfig(QString(ini).replace('/', '\\')));
        app->clearModels(false);

        QFile f(ini);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray text = f.readAll();
        QVERIFY(text.endsWith("\"\"\"\n\n"));
        QVERIFY(!text.contains('\r'));
        QStringList lines = QString::fromLatin1(text).split('\n');
        lines.removeLast();
        lines.removeLast(); // the extra line end of the save
        for (const QString& e : expected)
            QVERIFY2(lines.contains(e), qPrintable(e));
        for (const QString& a : absent)
            QVERIFY2(!lines.contains(a), qPrintable(a));
    }

    void missingFileWritesNothing()
    {
        QTemporaryDir dir;
        AppData::instance()->setSettingsDir(dir.path());
        QVERIFY(!AppData::instance()->writeEngineConfig(dir.filePath("absent.ini")));
        QVERIFY(!QFile::exists(dir.filePath("absent.ini")));
    }
};

QTEST_GUILESS_MAIN(TestEngineConfig)
#include "tst_engineconfig.moc"
