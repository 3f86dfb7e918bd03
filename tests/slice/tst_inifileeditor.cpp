#include <QTemporaryDir>
#include <QtTest>

#include "scene/IniFileEditor.h"

class TestIniFileEditor : public QObject
{
    Q_OBJECT

private:
    static QStringList sample()
    {
        return {"layerThickness = 140\n", "\n", "raftAirGap = 60\n", "raftAirGapLayer0 = 110\n",
                "insetraftAirGapLayer0 = 150\n", "gcodeFlavor = 0\n", "startCode = \"\"\"\n",
                "M104 S{temperature}\n", "\"\"\"\n"};
    }

private slots:
    void setValueMatchesWholeKeys_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<QString>("anchor");
        QTest::addColumn<QStringList>("expected");
        const QStringList base = sample();

        QStringList gap = base;
        gap.removeAll("\n");
        gap[1] = "raftAirGap = 59.5\n";
        QTest::newRow("prefix key leaves longer key") << "raftAirGap" << QVariant(59.5) << "gcodeFlavor" << gap;

        QStringList blank = base;
        blank.removeAll("\n");
        blank[3] = "insetraftAirGapLayer0  = 149.99999940395355\n";
        QTest::newRow("key with trailing blank")
            << "insetraftAirGapLayer0 " << QVariant(0.11f * 1000.0 + 40.0) << "gcodeFlavor" << blank;

        QStringList anchored = base;
        anchored.removeAll("\n");
        anchored.insert(5, "retractionZHop = 2000\n");
        QTest::newRow("missing key before anchor") << "retractionZHop" << QVariant(2000) << "startCode" << anchored;

        QStringList raft = base;
        raft.removeAll("\n");
        raft.insert(4, "raftBaseThickness = 200\n");
        QTest::newRow("missing key before raft anchor") << "raftBaseThickness" << QVariant(200) << "gcodeFlavor" << raft;

        QStringList appended = base;
        appended.removeAll("\n");
        appended.append("platformy = 0\n");
        QTest::newRow("no anchor line: appended") << "platformy" << QVariant(0) << "noSuchAnchor" << appended;
    }

    void setValueMatchesWholeKeys()
    {
        QFETCH(QString, key);
        QFETCH(QVariant, value);
        QFETCH(QString, anchor);
        QFETCH(QStringList, expected);
        IniFileEditor ini;
        ini.setLines(sample());
        ini.setValue(key, value, anchor);
        QCOMPARE(ini.getLines(), expected);
    }

    void setValueReplacesEveryMatchAndIgnoresEmpty()
    {
        IniFileEditor ini;
        ini.setValue("a", 1, "b");
        QVERIFY(ini.getLines().isEmpty());

        ini.setLines({"a = 1\n", "a = 2\n", "a\n", "ab = 3\n"});
        ini.setValue("a", 9, "ab");
        QCOMPARE(ini.getLines(), QStringList({"a = 9\n", "a = 9\n", "a\n", "ab = 3\n"}));
    }

    void getValue()
    {
        IniFileEditor ini;
        QCOMPARE(ini.getValue("x"), QString());
        ini.setLines({"\n", "raftAirGapLayer0 = 110\n", "raftAirGap = 60\n", "url = a=b\n"});
        QCOMPARE(ini.getValue("raftAirGap"), QString(" 60\n"));
        QCOMPARE(ini.getValue("url"), QString("b\n"));
        QCOMPARE(ini.getValue("missing"), QString());
    }

    void removeKey()
    {
        IniFileEditor ini;
        ini.setLines({"a = 1\n", "\n", "xa = 2\n", "a\n", "b = 3\n"});
        ini.removeKey("a");
        QCOMPARE(ini.getLines(), QStringList({"a\n", "b = 3\n"}));
    }

    void loadAndSaveRoundTrip()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString path = dir.filePath("Brev.ini");
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("a = 1\r\n\r\nb = 2\r\nblock = \"\"\"\r\nline one\r\n\"\"\"\r\n");
        f.close();

        IniFileEditor missing;
        QVERIFY(!missing.load(dir.filePath("none.ini")));

        IniFileEditor ini;
        QVERIFY(ini.load(path));
        QCOMPARE(ini.getLines().size(), 6);
        QCOMPARE(ini.getLines().at(1), QString("\n")); // CR LF read as a bare line end
        ini.setValue("b", 5, "block");
        QVERIFY(ini.save());
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("a = 1\nb = 5\nblock = \"\"\"\nline one\n\"\"\"\n\n"));
    }
};

QTEST_GUILESS_MAIN(TestIniFileEditor)
#include "tst_inifileeditor.moc"
