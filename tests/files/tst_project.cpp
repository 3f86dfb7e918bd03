#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTranslator>
#include <QtEndian>
#include <QtTest>

#include <cmath>
#include <cstring>

#include "FileRW/CheckedWriter.h"
#include "FileRW/FileReaderWriter.h"
#include "FileRW/PrintTaskWriter.h"
#include "FileRW/ProjectFile.h"
#include "FileRW/SafeFileName.h"
#include "common/FullDisk.h"
#include "testutil_files.h"
#include "scene/IniFileEditor.h"
#include "scene/AppData.h"
#include "scene/LoadedModel.h"
#include "scene/MeshData.h"
#include "scene/MeshList.h"
#include "scene/MeshModel.h"
#include "scene/SceneBudget.h"
#include "common/TestTime.h"

namespace {
std::unique_ptr<MeshData> cube(double size, double x0 = 0.0)
{
    auto m = std::make_unique<MeshData>();
    const double s = size;
    m->vertices = {{x0, 0, 0}, {x0 + s, 0, 0}, {x0 + s, s, 0}, {x0, s, 0}, {x0, 0, s}, {x0 + s, 0, s}, {x0 + s, s, s}, {x0, s, s}};
    m->faces = {{0, 2, 1}, {0, 3, 2}, {4, 5, 6}, {4, 6, 7}, {0, 1, 5}, {0, 5, 4},
                {1, 2, 6}, {1, 6, 5}, {2, 3, 7}, {2, 7, 6}, {3, 0, 4}, {3, 4, 7}};
    return m;
}

MeshModel* addCube(const std::string& name, double size, double x0 = 0.0)
{
    LoadedModel lm = LoadedModel::fromMesh(cube(size, x0), name);
    return lm.commit();
}

// A flat grid of n x n vertices: a mesh of any size.
std::unique_ptr<MeshData> grid(int n)
{
    auto m = std::make_unique<MeshData>();
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x)
            m->vertices.push_back({double(x), double(y), double((x * y) % 3)});
    for (int y = 0; y + 1 < n; ++y)
        for (int x = 0; x + 1 < n; ++x) {
            const int a = y * n + x;
            m->faces.push_back({a, a + 1, a + n + 1});
            m->faces.push_back({a, a + n + 1, a + n});
        }
    return m;
}

void addColumn(const std::string& owner, double x, double y)
{
    auto* support = new MeshModel;
    support->isSupport = true;
    const double foot[3] = {x, y, 0.0};
    support->buildSupportBox(foot, 4.0, false);
    support->ownerName = owner;
    AppData::instance()->commitSupport(support);
}

// A 2 mm cube "c" with one support column.
void addCubeWithSupport()
{
    addCube("c", 2.0);
    addColumn("c", 0.5, 0.5);
}

void clearScene()
{
    AppData::instance()->clearModels(false);
    MeshList::clear(false);
}

qint32 i32At(const QByteArray& b, int at) { return qFromLittleEndian<qint32>(b.constData() + at); }
double f64At(const QByteArray& b, int at)
{
    const quint64 bits = qFromLittleEndian<quint64>(b.constData() + at);
    double d;
    std::memcpy(&d, &bits, 8);
    return d;
}
} // namespace

class TestProject : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;
    std::atomic<int> progress{0};
    std::atomic<bool> cancelled{false};

    QString saveScene(const QString& name)
    {
        ProjectData data;
        ProjectFile::snapshot(data);
        const QString path = dir.filePath(name);
        return ProjectFile::write(path, data, progress) ? path : QString();
    }
    bool loadScene(const QString& path)
    {
        ProjectData data;
        if (!ProjectFile::read(path, data, progress, cancelled))
            return false;
        ProjectFile::commit(data);
        return true;
    }

private slots:
    void init() { clearScene(); }

    void byteLayout()
    {
        MeshModel* m = addCube("cube", 5.0);
        QVERIFY(m);
        const QString path = saveScene("one.brev");
        QVERIFY(!path.isEmpty());
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray b = f.readAll();
        QCOMPARE(b.size(), 545);
        QCOMPARE(b.left(32), QByteArray("Create By Brevant V1.0.2") + QByteArray(8, '\0'));
        QCOMPARE(i32At(b, 32), 1);  // slots
        QCOMPARE(i32At(b, 36), 8);  // vertices
        QCOMPARE(i32At(b, 40), 12); // faces
        QCOMPARE(i32At(b, 44), 8);
        QCOMPARE(i32At(b, 48), 12);
        QCOMPARE(f64At(b, 52 + 24 * 6 + 8), 5.0); // vertex 6, y
        const int models = 52 + 192 + 144;
        QCOMPARE(i32At(b, models), 1);
        const int rec = models + 4;
        QCOMPARE(b.mid(rec, 32), QByteArray("cube") + QByteArray(28, '\0'));
        QCOMPARE(i32At(b, rec + 32), 0);
        QCOMPARE(i32At(b, rec + 36), -1);
        QCOMPARE(int(b[rec + 40]), 1);
        QCOMPARE(f64At(b, rec + 41), 1.0);
        QCOMPARE(f64At(b, rec + 49), 1.0);
        QCOMPARE(f64At(b, rec + 57), 2.5); // position x: the mesh's centre
        QCOMPARE(f64At(b, rec + 105 + 24), 1.0); // quaternion w
        QCOMPARE(i32At(b, rec + 137), 0);         // selected
        QCOMPARE(i32At(b, rec + 141), 0);         // supports
        QCOMPARE(f64At(b, rec + 145), 2.0);       // support size
    }

    void roundTrip()
    {
        MeshModel* a = addCube("a", 10.0);
        MeshModel* gap = addCube("gap", 1.0);
        MeshModel* b = addCube("b", 4.0, 30.0);
        QVERIFY(a && gap && b);
        QCOMPARE(b->meshSlot, 2);
        AppData::instance()->removeModel(1);
        MeshList::instance()->remove(gap->meshSlot == 1 ? 1 : 1);
        QCOMPARE(MeshList::instance()->size(), 3);
        QVERIFY(MeshList::instance()->at(1) == nullptr);

        b->setAxisScale(0, 2.0); // stored as uniform X scale
        const double angles[3] = {30.0, 0.0, 45.0};
        b->setRotation(angles, true);
        b->visible = false;
        AppData::instance()->selectModel(1, 1);
        AppData::instance()->setSupportSize(3.0);
        auto* support = new MeshModel;
        support->isSupport = true;
        const double foot[3] = {1.0, 2.0, 5.0};
        support->buildSupportBox(foot, 15.0, false);
        support->ownerName = "a";
        AppData::instance()->commitSupport(support);

        const auto orientation = b->orientation;
        const auto position = b->position;
        const QString path = saveScene("two.brev");
        QVERIFY(!path.isEmpty());

        clearScene();
        QVERIFY(loadScene(path));
        AppData* app = AppData::instance();
        QCOMPARE(app->modelCount(), 2);
        QCOMPARE(app->getSelectedIndex(), 1);
        MeshModel* a2 = app->getModel(0);
        MeshModel* b2 = app->getModel(1);
        QCOMPARE(a2->getName(), std::string("a"));
        QCOMPARE(b2->meshSlot, 2);
        QCOMPARE(b2->getMesh()->vertices[0][0], 30.0);
        QCOMPARE(b2->scale[0], 2.0);
        QCOMPARE(b2->scale[1], 2.0);
        QCOMPARE(b2->scale[2], 2.0);
        QVERIFY(!b2->visible);
        QVERIFY(b2->orientation.isApprox(orientation));
        QCOMPARE(b2->rotationAngles[2], 45.0);
        for (int k = 0; k < 3; ++k)
            QCOMPARE(b2->position[size_t(k)], position[size_t(k)]);
        // A later turn goes about the model's true centroid.
        const auto before = b2->getCentroid();
        b2->setAxisRotation(2, 90.0);
        const auto after = b2->getCentroid();
        for (int k = 0; k < 3; ++k)
            QVERIFY(std::fabs(before[size_t(k)] - after[size_t(k)]) < 1e-3);

        QCOMPARE(app->supportCount(), 1);
        QCOMPARE(app->getSupportSize(), 3.0);
        MeshModel* s2 = app->getSupport(0);
        QCOMPARE(s2->getOwnerName(), std::string("a"));
        QCOMPARE(a2->hasSupport, 1);
        // The column now stands on the plate and reaches the stored top.
        QVERIFY(std::fabs(s2->getBoundValue(2)) < 1e-9);
        QVERIFY(std::fabs(s2->getBoundValue(5) - 20.0) < 1e-9);

        // Loaded again beside its first copy: the new column belongs to the new "a", whatever
        // it is renamed to.
        QVERIFY(loadScene(path));
        app->refresh();
        QCOMPARE(app->supportCount(), 2);
        QVERIFY(app->getModel(2)->getName() != "a");
        QCOMPARE(app->getSupport(1)->getOwnerName(), app->getModel(2)->getName());
    }

    void names_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QByteArray>("stored");
        QTest::newRow("31 bytes") << QByteArray(31, 'n') << QByteArray(31, 'n');
        QTest::newRow("40 bytes") << QByteArray(40, 'n') << QByteArray(31, 'n');
        // A two-byte character across the 31-byte border goes whole.
        QTest::newRow("utf-8 border") << QByteArray(30, 'n') + "\xc3\xa9" << QByteArray(30, 'n');
        QTest::newRow("three-byte char") << QByteArray(29, 'n') + "\xe2\x82\xac" << QByteArray(29, 'n');
        QTest::newRow("fits exactly") << QByteArray(29, 'n') + "\xc3\xa9" << QByteArray(29, 'n') + "\xc3\xa9";
        // Shown as the file has it; only paths made from it are cleaned.
        QTest::newRow("climbing") << QByteArray("../../../esc") << QByteArray("../../../esc");
    }
    void names()
    {
        QFETCH(QByteArray, name);
        QFETCH(QByteArray, stored);
        QVERIFY(addCube(name.toStdString(), 1.0));
        const QString path = saveScene("name.brev");
        clearScene();
        QVERIFY(loadScene(path));
        QCOMPARE(QByteArray::fromStdString(AppData::instance()->getModel(0)->getName()), stored);
    }

    // A name from a file, as a file name: it stays in its folder and on every file system.
    void fileNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("file");
        QTest::newRow("plain") << "cube" << "cube";
        QTest::newRow("climbing") << "../../../esc" << ".._.._.._esc";
        QTest::newRow("backslashes") << "..\\..\\esc" << ".._.._esc";
        QTest::newRow("absolute") << "/etc/passwd" << "_etc_passwd";
        QTest::newRow("drive") << "C:x" << "C_x";
        QTest::newRow("dot dot") << ".." << "fallback";
        QTest::newRow("dot") << "." << "fallback";
        QTest::newRow("empty") << "" << "fallback";
        QTest::newRow("blank") << "  " << "fallback";
        QTest::newRow("trailing dots") << "part. ." << "part";
        QTest::newRow("control characters") << QString("a\nb\x01" "c") + QChar(0) + "d" << "a_b_c_d";
        QTest::newRow("reserved characters") << "a<b>c|d?e*f\"g" << "a_b_c_d_e_f_g";
        QTest::newRow("device") << "con" << "fallback";
        QTest::newRow("device with suffix") << "LPT1.txt" << "fallback";
        QTest::newRow("not a device") << "console" << "console";
        QTest::newRow("chinese") << QString::fromUtf8("\xe6\xa8\xa1\xe5\x9e\x8b") << QString::fromUtf8("\xe6\xa8\xa1\xe5\x9e\x8b");
        // 300 bytes of three-byte characters cut to whole characters within 200 bytes.
        QTest::newRow("long") << QString(100, QChar(0x6a21)) << QString(66, QChar(0x6a21));
    }
    void fileNames()
    {
        QFETCH(QString, name);
        QFETCH(QString, file);
        QCOMPARE(safeFileName(name, "fallback"), file);
        QCOMPARE(isSafeFileName(name), file == name);
    }

    // Supports through save-and-reload cycles: each keeps its own model, also when names read
    // the same in their stored 31 bytes, and the mesh list keeps its size.
    void cyclesKeepSupports_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<int>("columns"); // per model
        const QString same = "ABCDEFGHIJKLMNOPQRSTUVWXYZ01234";
        QTest::newRow("short names") << QStringList{"a", "b"} << 3;
        QTest::newRow("look-alike long names") << QStringList{same + "_one.stl", same + "_two.stl"} << 25;
        // The number the second look-alike would get is a name of its own already.
        QTest::newRow("look-alikes and a numbered one")
            << QStringList{same + "_a", same + "_b", same.left(28) + "(1)", same + "_c"} << 2;
        QTest::newRow("look-alikes cut inside a character")
            << QStringList{QString(30, 'n') + QChar(0xe9) + "1", QString(30, 'n') + QChar(0xe9) + "2"} << 1;
    }
    void cyclesKeepSupports()
    {
        QFETCH(QStringList, names);
        QFETCH(int, columns);
        AppData* app = AppData::instance();
        for (int i = 0; i < names.size(); ++i) {
            const std::string name = names[i].toUtf8().toStdString();
            QVERIFY(addCube(name, 5.0, 10.0 * i));
            for (int c = 0; c < columns; ++c)
                addColumn(name, 10.0 * i + 1.0 + 0.1 * c, 1.0);
        }
        app->refresh();
        const int slotCount = MeshList::instance()->size();
        QCOMPARE(slotCount, names.size() * (1 + columns));
        for (int cycle = 0; cycle < 3; ++cycle) {
            const QString path = saveScene(QString("cycle%1.brev").arg(cycle));
            QVERIFY(!path.isEmpty());
            clearScene();
            QVERIFY(loadScene(path));
            app->refresh();
            QCOMPARE(app->modelCount(), names.size());
            QCOMPARE(app->supportCount(), names.size() * columns);
            for (int i = 0; i < app->modelCount(); ++i) {
                const MeshModel* m = app->getModel(i);
                int owned = 0;
                for (int k = 0; k < app->supportCount(); ++k)
                    owned += app->getSupport(k)->ownerSerial == m->serial ? 1 : 0;
                QVERIFY2(owned == columns, m->getName().c_str());
                QCOMPARE(m->hasSupport, 1);
                QVERIFY(m->getName().size() <= 31);
                for (int k = 0; k < i; ++k)
                    QVERIFY(app->getModel(k)->getName() != m->getName());
            }
            QCOMPARE(MeshList::instance()->size(), slotCount);
        }
    }

    // Every writer onto a full disk says that it failed and why, and leaves nothing of the
    // file; an older file of that name stays as it was.
    void fullDiskSaves_data()
    {
        QTest::addColumn<QString>("writer");
        QTest::addColumn<int>("room"); // bytes the file may still take
        QTest::addColumn<bool>("older");
        for (const char* w : {"project", "stl", "obj", "print task", "copy", "whole file"})
            QTest::newRow(qPrintable(QString(w) + ", nothing left")) << QString(w) << 0 << false;
        // Large enough to go out in pieces before the commit.
        QTest::newRow("project, part fits") << "project" << 65536 << false;
        QTest::newRow("stl, part fits") << "stl" << 65536 << false;
        QTest::newRow("project over an older one") << "project" << 0 << true;
        QTest::newRow("print task over an older one") << "print task" << 0 << true;
        QTest::newRow("engine ini") << "engine ini" << 0 << true;
        QTest::newRow("settings") << "settings" << 0 << true;
    }
    void fullDiskSaves()
    {
        QFETCH(QString, writer);
        QFETCH(int, room);
        QFETCH(bool, older);
        FullDisk disk(dir.filePath("full-" + QString(QTest::currentDataTag()).replace(' ', '_').remove(',')), room);
        QString why;
        QVERIFY2(disk.setUp(&why), qPrintable(why));
        if (disk.limited() && qEnvironmentVariableIsEmpty("TARNI_FULL_DISK_CHILD")) {
            // The limit holds for a whole process: the row runs again in a child of its own.
            QProcess child;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert("TARNI_TEST_FULL_DISK", "limit");
            env.insert("TARNI_FULL_DISK_CHILD", "1");
            child.setProcessEnvironment(env);
            child.setProcessChannelMode(QProcess::MergedChannels);
            child.start(QCoreApplication::applicationFilePath(),
                        {QString("fullDiskSaves:") + QTest::currentDataTag()});
            QVERIFY(child.waitForFinished(60000));
            const QByteArray out = child.readAll();
            QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0, out.constData());
            QVERIFY2(out.contains("PASS   : TestProject::fullDiskSaves"), out.constData());
            return;
        }

        const QString suffix = writer == "stl" ? "stl" : writer == "obj" ? "obj" : writer == "engine ini" ? "ini"
                             : writer == "settings" ? "ini" : writer == "print task" ? "BVT" : "brev";
        const QString target = disk.path() + "/" + (writer == "settings" ? QString("setting.ini") : "target." + suffix);
        LoadedModel model = LoadedModel::fromMesh(room > 0 ? grid(160) : cube(5.0), "model");
        QVERIFY(model.commit());
        const MeshData mesh = *AppData::instance()->getModel(0)->getMesh();
        const QByteArray content(2000, 'c');
        const QString source = testutil::writeFile(dir, "source.bin", content);
        QByteArray gcode = "G28\n;Filament:\t12.5mm\n";
        for (int i = 0; i < 100; ++i)
            gcode += "G1 X" + QByteArray::number(i) + " Y1\n";
        const QString gcodePath = testutil::writeFile(dir, "engine.gcode", gcode + "M25\n");
        const QByteArray before = "[mid]\nfill_density=20\n"; // an older file, also as settings
        if (older) {
            QFile f(target);
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write(before) == before.size());
        }
        QVERIFY2(disk.fillUp(&why), qPrintable(why));
        const QStringList entries = disk.entries();

        bool ok = true;
        QString reason;
        {
            FullDisk::Limit limit(disk);
            if (writer == "project") {
                ProjectData data;
                ProjectFile::snapshot(data);
                ok = ProjectFile::write(target, data, progress, &reason);
            } else if (writer == "stl" || writer == "obj") {
                FileReaderWriter rw;
                MeshData copy = mesh;
                ok = rw.saveMesh(target, &copy);
                reason = rw.failureReason;
            } else if (writer == "print task") {
                PrintTaskWriter w(1, 210, 60);
                ok = w.postProcess(gcodePath, target);
                reason = w.userError();
            } else if (writer == "copy") {
                ok = CheckedWriter::copy(source, target, &reason);
            } else if (writer == "whole file") {
                ok = CheckedWriter::writeWhole(target, content, &reason);
            } else if (writer == "engine ini") {
                IniFileEditor ini;
                QVERIFY(ini.load(target));
                for (int i = 0; i < 200; ++i)
                    ini.setValue(QString("key%1").arg(i), QString(40, 'v'));
                ok = ini.save(&reason);
            } else if (writer == "settings") {
                const QString settings = AppData::instance()->getSettingsDir();
                AppData::instance()->setSettingsDir(disk.path());
                PrintProfile profile;
                profile.fill_density = 55;
                ok = AppData::instance()->savePrintProfile(1, profile, &reason);
                AppData::instance()->setSettingsDir(settings);
            }
        }
        QVERIFY2(!ok, qPrintable(writer));
        QVERIFY2(reason.contains("Cannot write") && reason.contains(QDir::toNativeSeparators(target)), qPrintable(reason));
        if (writer != "settings")
            QVERIFY2(reason.contains(QRegularExpression("No space left on device|File too large")), qPrintable(reason));
        QTranslator zh;
        QVERIFY(zh.load(QStringLiteral(":/brevant_zh.qm")));
        QVERIFY2(!zh.translate("CheckedWriter", "Cannot write %1: %2").isEmpty(), "no Chinese text");
        QCOMPARE(disk.entries(), entries);
        QFile olderFile(target);
        if (older) {
            QVERIFY(olderFile.open(QIODevice::ReadOnly));
            QCOMPARE(olderFile.readAll(), before);
        }
    }

    void refused()
    {
        addCubeWithSupport();
        const QString path = saveScene("good.brev");
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray good = f.readAll();
        f.close();

        // Refused, and the user is told the file is damaged (or, for its first bytes, not a project).
        auto rejects = [&](const QByteArray& bytes) {
            QFile out(dir.filePath("bad.brev"));
            if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
                return false;
            out.write(bytes);
            out.close();
            ProjectData data;
            QString reason;
            const bool ok = ProjectFile::read(out.fileName(), data, progress, cancelled, nullptr, &reason);
            const bool identified = bytes.size() >= 32 && bytes.left(32) == good.left(32);
            return !ok && data.models.empty() && data.meshSlots.empty()
                && reason == (identified ? "The project file is damaged or cut short." : "The file is not a project of this program.");
        };
        // Truncations are refused (the scene section ends in the support record): every cut in
        // the header and the last record, a sample in between.
        for (int n = 0; n < good.size(); n += (n < 64 || n > good.size() - 64) ? 1 : 29)
            QVERIFY2(rejects(good.left(n)), qPrintable(QString("cut at %1").arg(n)));

        auto patched = [&](int at, const QByteArray& with) {
            QByteArray b = good;
            b.replace(at, with.size(), with);
            return b;
        };
        auto le = [](qint32 v) {
            QByteArray b(4, '\0');
            qToLittleEndian<qint32>(v, b.data());
            return b;
        };
        const int meshBlock = 44;
        const int vertices = meshBlock + 8;
        const int faces = vertices + 24 * 8;
        // The support column's mesh sits in slot 1; the models follow both blocks.
        const int models = faces + 12 * 12 + 8 + 24 * 8 + 12 * 12;
        QVERIFY(i32At(good, models) == 1);
        const double nan = qQNaN();
        QByteArray nanBytes(8, '\0');
        std::memcpy(nanBytes.data(), &nan, 8);
        QVERIFY(rejects(patched(0, "Create By Brevant V1.0.3")));
        QVERIFY(rejects(patched(32, le(-1))));
        QVERIFY(rejects(patched(32, le(100000))));
        QVERIFY(rejects(patched(36, le(9))));              // totals disagree
        QVERIFY(rejects(patched(meshBlock, le(-8))));
        QVERIFY(rejects(patched(meshBlock, le(0x7fffffff))));
        QVERIFY(rejects(patched(vertices, nanBytes)));
        QVERIFY(rejects(patched(faces, le(8))));           // index beyond the vertices
        QVERIFY(rejects(patched(faces, le(-1))));
        QVERIFY(rejects(patched(models, le(2))));
        QVERIFY(rejects(patched(models + 4, QByteArray(32, 'x')))); // name without its zero
        QVERIFY(rejects(patched(models + 4 + 32, le(5))));          // missing slot
        QVERIFY(rejects(patched(models + 4 + 36, le(7))));
        QVERIFY(rejects(patched(models + 4 + 41, QByteArray(8, '\0')))); // factor 0
        QVERIFY(rejects(patched(models + 4 + 137 + 4, le(-3))));        // support count
        QVERIFY(rejects(patched(models + 4 + 137 + 8, nanBytes)));     // support size
        QVERIFY(!rejects(good));
    }

    // What a project adds is budgeted: models, the trees built over its meshes, sizes.
    void budget_data()
    {
        QTest::addColumn<int>("records");       // over one mesh
        QTest::addColumn<bool>("ownFactors");   // each record a factor of its own
        QTest::addColumn<double>("scale");
        QTest::addColumn<double>("x");          // position of the first record
        QTest::addColumn<double>("supportSize");
        QTest::addColumn<QString>("reason");    // empty: it loads
        const QString limit = "1000000 mm.";
        QTest::newRow("50 records share one tree") << 50 << false << 1.0 << 0.0 << 2.0 << "";
        QTest::newRow("own factors, own trees past the budget")
            << 2 << true << 1.0 << 0.0 << 2.0 << "The project is too large for this computer.";
        QTest::newRow("51 records") << 51 << false << 1.0 << 0.0 << 2.0 << "The file holds 51 models; at most 50 fit on the plate.";
        QTest::newRow("2,000 records") << 2000 << false << 1.0 << 0.0 << 2.0 << "The file holds 2000 models; at most 50 fit on the plate.";
        QTest::newRow("scale 1e300") << 1 << false << 1e300 << 0.0 << 2.0
                                     << "A model scaled by 1e+300 would be 2e+300 mm long; a printer can use at most " + limit;
        QTest::newRow("placed 1e300 away") << 1 << false << 1.0 << 1e300 << 2.0
                                           << "The model reaches 1e+300 mm from the origin; a printer can use at most " + limit;
        QTest::newRow("support size 1e9") << 1 << false << 1.0 << 0.0 << 1e9
                                          << "The supports would be 1e+09 mm wide; a printer can use at most " + limit;
        QTest::newRow("scaled to the limit") << 1 << false << 5e5 << 0.0 << 2.0 << "";
    }
    void budget()
    {
        QFETCH(int, records);
        QFETCH(bool, ownFactors);
        QFETCH(double, scale);
        QFETCH(double, x);
        QFETCH(double, supportSize);
        QFETCH(QString, reason);
        addCubeWithSupport();
        ProjectData data;
        ProjectFile::snapshot(data);
        const ProjectData::Model first = data.models[0];
        data.models.clear();
        for (int i = 0; i < records; ++i) {
            data.models.push_back(first);
            data.models.back().factor = ownFactors ? 1.0 + i : 1.0;
        }
        data.models[0].scale = scale;
        data.models[0].position[0] = x;
        data.supportSize = supportSize;
        const QString path = dir.filePath("budget.brev");
        QVERIFY(ProjectFile::write(path, data, progress));

        // Room for the meshes and one face tree of the cube, not two.
        qint64 meshes = 0;
        for (const auto& m : data.meshSlots)
            meshes += m ? qint64(m->vertices.size() * 24 + m->faces.size() * 12) : 0;
        SceneBudget::setMemoryBytesForTests(meshes + FaceTree::kBytesPerFace * 12 * 3 / 2);
        ProjectData read;
        QString why;
        bool modelLimit = false;
        QElapsedTimer t;
        t.start();
        const bool ok = ProjectFile::read(path, read, progress, cancelled, nullptr, &why, &modelLimit);
        SceneBudget::setMemoryBytesForTests(0);
        QCOMPARE(why, reason);
        QCOMPARE(ok, reason.isEmpty());
        QCOMPARE(modelLimit, reason.contains("fit on the plate"));
        QVERIFY2(t.elapsed() < TestTime::waitMs(1000), "refused only after building");
        if (!ok)
            return;
        QCOMPARE(int(read.prepared.size()), records);
        for (const auto& m : read.prepared)
            QCOMPARE(m->faceTree.get(), read.prepared[0]->faceTree.get());
        clearScene();
        ProjectFile::commit(read);
        QCOMPARE(AppData::instance()->modelCount(), records);
        // The largest model a project may hold is brought down to the plate's size by the fit.
        MeshModel* m = AppData::instance()->getModel(0);
        m->scaleToFit();
        QVERIFY2(m->size[0] < AppData::instance()->getBoxDiameter(), qPrintable(QString::number(m->size[0])));
    }
};

QTEST_GUILESS_MAIN(TestProject)
#include "tst_project.moc"
