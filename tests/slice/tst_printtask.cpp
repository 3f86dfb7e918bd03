#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <cstring>

#include <sys/resource.h>

#include "FileRW/PrintTaskWriter.h"
#include "FileRW/TeaCipher.h"
#include "testutil_slice.h"

using namespace SliceTest;

class TestPrintTask : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;
    QString gcode() const { return dir.filePath("engine.gcode"); }
    QString target() const { return dir.filePath("cube.BVT"); }

    static QStringList startCode()
    {
        return {";Print time:\t0:10:00", ";Filament:\t123.2mm", ";Start GCode",
                "M104 S{temperature}   ;temperature set", "M140 S{temperature}   ;hot bed",
                "m109 s{temperature}", "M109 S{TEMPERATURE}", "M190 S{temperature}   ;bed wait",
                "M104 S{temperature}", "G1 X1 Y2 Z0.2", ";End GCode", "M25"};
    }

private slots:
    void initTestCase() { QVERIFY(dir.isValid()); }

    void writesHeaderTemperaturesAndCipher()
    {
        // CR LF and blank lines in the engine output vanish; every line ends with "\n".
        QByteArray input = engineGcode(startCode(), "\r\n");
        input.insert(input.indexOf(";Start"), "\r\n\n");
        QVERIFY(writeFile(gcode(), input));
        PrintTaskWriter writer(2, 210, 60);
        QVERIFY2(writer.postProcess(gcode(), target()), qPrintable(writer.error()));
        QVERIFY(QFile::exists(gcode())); // the caller removes the engine's file

        const QByteArray expected = ";Brevant 1.0.00\nM102 L15\nM300 PX6_A\nM998 P124\n"
                                    ";Print time:\t0:10:00\n;Filament:\t123.2mm\n;Start GCode\n"
                                    "M104 S210   ;temperature set\nM140 S60   ;hot bed\n"
                                    "m109 s220\nM109 S{TEMPERATURE}\nM190 S60   ;bed wait\n"
                                    "M104 S{temperature}\nG1 X1 Y2 Z0.2\n;End GCode\nM25\n";
        const QByteArray stored = readFile(target());
        QCOMPARE(stored.size() % 8, 0);
        QCOMPARE(stored.size(), (expected.size() + 7) / 8 * 8);

        QCOMPARE(decipherPrintTask(target()), expected);
    }

    void lineCountAndModelName_data()
    {
        QTest::addColumn<int>("machineType");
        QTest::addColumn<QByteArray>("model");
        QTest::newRow("none") << 0 << QByteArray("PX5");
        QTest::newRow("PX5") << 1 << QByteArray("PX5");
        QTest::newRow("PX6_B") << 3 << QByteArray("PX6_B");
    }

    void lineCountAndModelName()
    {
        QFETCH(int, machineType);
        QFETCH(QByteArray, model);
        QStringList lines = {";Print time:\t1", ";Filament:\t123mm"};
        for (int i = 2; i < 999; ++i)
            lines << QString("G1 X%1 Y1").arg(i);
        lines << "M25";
        QVERIFY(writeFile(gcode(), engineGcode(lines)));
        PrintTaskWriter writer(machineType, 200, 0);
        QVERIFY(writer.postProcess(gcode(), target()));
        const QList<QByteArray> out = decipherPrintTask(target()).split('\n');
        QCOMPARE(out.size(), 1004 + 1); // the final line end leaves one empty part
        QCOMPARE(out[1], QByteArray("M102 L1003"));
        QCOMPARE(out[2], "M300 " + model);
        QCOMPARE(out[3], QByteArray("M998 P123"));
        QCOMPARE(out[1003], QByteArray("M25"));
    }

    void filamentLength_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<int>("mm");
        QTest::newRow("fraction rounds up") << QByteArray(";Filament:\t123.2mm") << true << 124;
        QTest::newRow("whole") << QByteArray(";Filament:\t123mm") << true << 123;
        QTest::newRow("no number") << QByteArray(";Layer count:\t12") << true << 0;
        QTest::newRow("negative") << QByteArray(";Filament:\t-5mm") << false << 0;
        QTest::newRow("too large") << QByteArray(";Filament:\t1e300mm") << false << 0;
        QTest::newRow("not finite") << QByteArray(";Filament:\tinf") << false << 0;
        QTest::newRow("just below int max") << QByteArray(";Filament:\t2147483646.5mm") << true << 2147483647;
    }

    void filamentLength()
    {
        QFETCH(QByteArray, line);
        QFETCH(bool, accepted);
        QFETCH(int, mm);
        int got = -1;
        QCOMPARE(PrintTaskWriter::filamentLength(line, got), accepted);
        if (accepted)
            QCOMPARE(got, mm);
    }

    void refusedOutputLeavesTargetAlone_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::newRow("trailing blank") << engineGcode({";a", ";Filament:\t1mm", "M25 "});
        QTest::newRow("other end") << engineGcode({";a", ";Filament:\t1mm", "M84"});
        QTest::newRow("no second line") << engineGcode({"M25"});
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("absurd filament") << engineGcode({";a", ";Filament:\t-1mm", "M25"});
        QTest::newRow("cr without lf at end") << QByteArray(";a\n;Filament:\t1mm\nM25\r");
    }

    void refusedOutputLeavesTargetAlone()
    {
        QFETCH(QByteArray, input);
        QVERIFY(writeFile(gcode(), input));
        QVERIFY(writeFile(target(), "earlier export"));
        PrintTaskWriter writer(1, 210, 0);
        QVERIFY(!writer.postProcess(gcode(), target()));
        QVERIFY(!writer.error().isEmpty());
        QCOMPARE(readFile(target()), QByteArray("earlier export"));
        QCOMPARE(QDir(dir.path()).entryList({"cube.BVT.*"}, QDir::Files | QDir::Hidden), QStringList());
    }

    // A write that fails part-way (at a file size limit, which binds root too) leaves the
    // earlier file whole and no partial file beside it.
    void failedWriteLeavesTargetAlone_data()
    {
        QTest::addColumn<int>("limit"); // bytes a file may grow to; below 0: short of the whole
        QTest::newRow("nothing written") << 0;
        QTest::newRow("part written") << 16384;
        QTest::newRow("all but the last block") << -8;
    }

    void failedWriteLeavesTargetAlone()
    {
        QFETCH(int, limit);
        QStringList lines = {";Print time:\t1", ";Filament:\t123mm"};
        for (int i = 0; i < 4000; ++i)
            lines << QString("G1 X%1 Y1").arg(i);
        lines << "M25";
        QVERIFY(writeFile(gcode(), engineGcode(lines)));
        PrintTaskWriter writer(1, 210, 0);
        QVERIFY(writer.postProcess(gcode(), target()));
        const qint64 whole = QFileInfo(target()).size();
        QVERIFY(whole > 2 * 16384);
        QVERIFY(writeFile(target(), "earlier export"));

        rlimit before{};
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &before), 0);
        rlimit capped = before;
        capped.rlim_cur = rlim_t(limit >= 0 ? limit : whole + limit);
        const auto handler = std::signal(SIGXFSZ, SIG_IGN);
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &capped), 0);
        const bool written = writer.postProcess(gcode(), target());
        setrlimit(RLIMIT_FSIZE, &before);
        std::signal(SIGXFSZ, handler);

        QVERIFY(!written);
        QVERIFY(!writer.error().isEmpty());
        QCOMPARE(readFile(target()), QByteArray("earlier export"));
        QCOMPARE(QDir(dir.path()).entryList({"cube.BVT*"}, QDir::Files | QDir::Hidden), QStringList{"cube.BVT"});
    }

    void missingInputOrUnwritableTarget()
    {
        PrintTaskWriter writer(1, 210, 0);
        QVERIFY(!writer.postProcess(dir.filePath("absent.gcode"), target()));
        QVERIFY(writeFile(gcode(), engineGcode({";a", ";Filament:\t1mm", "M25"})));
        QVERIFY(!writer.postProcess(gcode(), dir.filePath("no/such/folder/x.BVT")));
    }

    void bufferPadding_data()
    {
        QTest::addColumn<int>("length");
        QTest::addColumn<int>("padded");
        QTest::newRow("empty") << 0 << 0;
        QTest::newRow("abc") << 3 << 8;
        QTest::newRow("one block") << 8 << 8;
        QTest::newRow("full chunk") << 1024 << 1024;
        QTest::newRow("too long") << 1025 << 0;
    }

    void bufferPadding()
    {
        QFETCH(int, length);
        QFETCH(int, padded);
        QByteArray buffer(1032, 'x');
        QByteArray out(1032, '\0');
        auto* in = reinterpret_cast<uint8_t*>(buffer.data());
        auto* o = reinterpret_cast<uint8_t*>(out.data());
        QCOMPARE(int(teaEncryptBuffer(in, uint16_t(length), TeaCipher::kPrintTaskKey, o)), padded);
        if (padded == 0)
            return;
        QCOMPARE(buffer.mid(length, padded - length), QByteArray(padded - length, '\0'));
        QByteArray back(padded, '\0');
        QCOMPARE(teaDecryptBuffer(o, size_t(padded), TeaCipher::kPrintTaskKey,
                                  reinterpret_cast<uint8_t*>(back.data())),
                 size_t(padded));
        QCOMPARE(back, buffer.left(padded));
        QCOMPARE(teaDecryptBuffer(o, 7, TeaCipher::kPrintTaskKey, o), size_t(0));
    }

    void cipherMatchesReference()
    {
        // Random bytes enciphered by the reference and by the program, serial and parallel.
        QByteArray data(6003, '\0');
        QRandomGenerator rng(7);
        for (char& c : data)
            c = char(rng.generate());
        QVERIFY(writeFile(dir.filePath("rand.bin"), data));
        QVERIFY(writeFile(gcode(), engineGcode(startCode())));
        PrintTaskWriter writer(1, 210, 0);
        QVERIFY(writer.postProcess(gcode(), dir.filePath("task.BVT")));
        QVERIFY(runReferenceCipher({"encipher", dir.filePath("rand.bin"), dir.filePath("rand.enc"),
                                    "decipher", dir.filePath("task.BVT"), dir.filePath("task.txt")}));
        // A whole print-task file deciphered by the reference: the text and its zero padding.
        const QByteArray text = decipherPrintTask(dir.filePath("task.BVT"));
        QVERIFY(text.startsWith(";Brevant 1.0.00\nM102 L15\n"));
        const QByteArray plain = readFile(dir.filePath("task.txt"));
        QCOMPARE(plain, text + QByteArray(plain.size() - text.size(), '\0'));
        QCOMPARE(plain.size(), (text.size() + 7) / 8 * 8);

        const QByteArray reference = readFile(dir.filePath("rand.enc"));
        QCOMPARE(reference.size(), 6008);

        QByteArray mine = data + QByteArray(5, '\0');
        TeaCipher::encipherBlocks(reinterpret_cast<uint8_t*>(mine.data()), size_t(mine.size()),
                                  TeaCipher::kPrintTaskKey);
        QCOMPARE(mine, reference);

        // A buffer large enough to be split across the cores gives the same blocks.
        QByteArray big(3 << 20, '\0');
        for (int i = 0; i < big.size(); i += 6000)
            std::memcpy(big.data() + i, data.constData(), size_t(std::min(6000, big.size() - i)));
        QByteArray serial = big;
        for (int i = 0; i < serial.size(); i += 8)
            TeaCipher::encipherBlock(reinterpret_cast<uint8_t*>(serial.data() + i), TeaCipher::kPrintTaskKey);
        TeaCipher::encipherBlocks(reinterpret_cast<uint8_t*>(big.data()), size_t(big.size()),
                                  TeaCipher::kPrintTaskKey);
        QCOMPARE(big, serial);
        TeaCipher::decipherBlocks(reinterpret_cast<uint8_t*>(big.data()), size_t(big.size()),
                                  TeaCipher::kPrintTaskKey);
        QCOMPARE(big.left(6000), data.left(6000));
    }
};

QTEST_GUILESS_MAIN(TestPrintTask)
#include "tst_printtask.moc"
