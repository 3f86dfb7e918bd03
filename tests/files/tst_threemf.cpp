#include <QDir>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QFile>
#include <QTemporaryDir>
#include <QTranslator>
#include <QtTest>

#include <cmath>
#include <memory>

#include <quazip.h>
#include <quazipfile.h>

#include "FileRW/FileReaderWriter.h"
#include "FileRW/ThreeMFReader.h"
#include "scene/LoadedModel.h"
#include "scene/MeshData.h"
#include "common/TestTime.h"

namespace {
const char* kCube = "<object id=\"%1\" type=\"model\"><mesh><vertices>\n<vertex x=\"0\" y=\"0\" z=\"0\"/><vertex x=\"1\" y=\"0\" z=\"0\"/><vertex x=\"0\" y=\"1\" z=\"0\"/><vertex x=\"0.1\" y=\"0\" z=\"1\"/>\n</vertices><triangles>\n<triangle v1=\"0\" v2=\"2\" v3=\"1\"/><triangle v1=\"0\" v2=\"1\" v3=\"3\"/><triangle v1=\"1\" v2=\"2\" v3=\"3\"/><triangle v1=\"2\" v2=\"0\" v3=\"3\"/>\n</triangles></mesh></object>";

QByteArray model(const QString& resources, const QString& build, const QString& unit = "unit=\"millimeter\"")
{
    return QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<model %3 xmlns=\"http://schemas.microsoft.com/3dmanufacturing/core/2015/02\">\n<resources>%1</resources><build>%2</build></model>")
        .arg(resources, build, unit)
        .toUtf8();
}

QString tetra(const QString& id) { return QString::fromLatin1(kCube).arg(id); }

// Elements of another namespace: levels nested in each other, or one tag of the given size.
QString foreignNest(int levels)
{
    return QString("<x:n xmlns:x=\"urn:o\">").repeated(levels) + QString("</x:n>").repeated(levels);
}
QString foreignTag(int bytes)
{
    const QString head = "<x:p xmlns:x=\"urn:o\" a=\"", tail = "\"/>";
    return head + QString(bytes - head.size() - tail.size(), 'a') + tail;
}

// A mesh of n vertices (i, i % 97, -i / 2) and n - 2 triangles (i, i + 1, i + 2), each element
// followed by the next of seps in turn; insert goes in after element `at` (vertices, then
// triangles). Elements around the lists take the prefix outer, the vertices and triangles inner.
struct PlainMesh
{
    int n = 60000;
    QList<QByteArray> seps{"\n"};
    int at = -1;
    QByteArray insert;
    QByteArray outer, inner;
    QByteArray rootAttributes = "xmlns=\"http://schemas.microsoft.com/3dmanufacturing/core/2015/02\"";
    QByteArray listAttributes; // of the triangles element
    QByteArray build() const
    {
        QByteArray x = "<?xml version=\"1.0\"?>\n<" + outer + "model " + rootAttributes + " unit=\"millimeter\"><" + outer + "resources><" + outer
                       + "object id=\"7\"><" + outer + "mesh><" + outer + "vertices>";
        x.reserve(n * 90);
        int k = 0;
        auto next = [&] {
            x += seps[k % seps.size()];
            if (k++ == at)
                x += insert;
        };
        for (int i = 0; i < n; ++i) {
            x += "<" + inner + "vertex x=\"" + QByteArray::number(i) + "\" y=\"" + QByteArray::number(i % 97) + "\" z=\""
                 + QByteArray::number(-i * 0.5, 'g', 10) + "\"/>";
            next();
        }
        x += "</" + outer + "vertices><" + outer + "triangles" + listAttributes + ">";
        for (int i = 0; i + 2 < n; ++i) {
            x += "<" + inner + "triangle v1=\"" + QByteArray::number(i) + "\" v2=\"" + QByteArray::number(i + 1) + "\" v3=\""
                 + QByteArray::number(i + 2) + "\"/>";
            next();
        }
        return x + "</" + outer + "triangles></" + outer + "mesh></" + outer + "object></" + outer + "resources><" + outer + "build><" + outer
               + "item objectid=\"7\"/></" + outer + "build></" + outer + "model>\n";
    }
};

// The line of byte `at` as an XML parser counts them: "\r\n", a lone "\r" and a lone "\n" end one.
int lineAt(const QByteArray& xml, int at)
{
    int line = 1;
    for (int i = 0; i < at; ++i)
        if (xml[i] == '\n' || (xml[i] == '\r' && xml[i + 1] != '\n'))
            ++line;
    return line;
}

QByteArray utf16(const QByteArray& utf8, bool bigEndian)
{
    QByteArray out(bigEndian ? "\xFE\xFF" : "\xFF\xFE", 2);
    const QString text = QString::fromUtf8(utf8).replace("UTF-8", "UTF-16");
    for (QChar c : text) {
        const char hi = char(c.unicode() >> 8), lo = char(c.unicode() & 0xFF);
        out += bigEndian ? hi : lo;
        out += bigEndian ? lo : hi;
    }
    return out;
}
} // namespace

class TestThreeMF : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;
    int counter = 0;

    QString makeZip(const QList<QPair<QString, QByteArray>>& entries)
    {
        const QString path = dir.filePath(QStringLiteral("t%1.3mf").arg(++counter));
        QuaZip zip(path);
        if (!zip.open(QuaZip::mdCreate))
            return QString();
        for (const auto& e : entries) {
            QuaZipFile f(&zip);
            if (!f.open(QIODevice::WriteOnly, QuaZipNewInfo(e.first)))
                return QString();
            f.write(e.second);
            f.close();
        }
        zip.close();
        return path;
    }
    QString make3mf(const QByteArray& xml)
    {
        return makeZip({{QStringLiteral("[Content_Types].xml"), QByteArray("<Types/>")},
                        {QStringLiteral("3D/3dmodel.model"), xml}});
    }
    bool load(const QString& path, std::vector<LoadedModel>& out)
    {
        FileReaderWriter rw;
        return rw.load3mf(path, out);
    }

private slots:
    void placement_data()
    {
        QTest::addColumn<QByteArray>("xml");
        QTest::addColumn<int>("models");
        QTest::addColumn<QVector<double>>("firstVertices"); // vertex 0 of each model, x y z

        QTest::newRow("item translated")
            << model(tetra("1"), "<item objectid=\"1\" transform=\"1 0 0 0 1 0 0 0 1 10 20 30\"/>") << 1
            << QVector<double>{10, 20, 30};
        QTest::newRow("two components, one mesh")
            << model(tetra("1") + "<object id=\"2\"><components><component objectid=\"1\" transform=\"1 0 0 0 1 0 0 0 1 5 0 0\"/>\n                     <component objectid=\"1\" transform=\"1 0 0 0 1 0 0 0 1 0 7 0\"/></components></object>",
                     "<item objectid=\"2\"/>")
            << 2 << QVector<double>{5, 0, 0, 0, 7, 0};
        // Component moved by (5,0,0) inside an item turned 90 degrees about Z and moved by (1,2,3).
        QTest::newRow("component in rotated item")
            << model(tetra("1") + "<object id=\"2\"><components><component objectid=\"1\" transform=\"1 0 0 0 1 0 0 0 1 5 0 0\"/></components></object>",
                     "<item objectid=\"2\" transform=\"0 1 0 -1 0 0 0 0 1 1 2 3\"/>")
            << 1 << QVector<double>{1, 7, 3};
        QTest::newRow("two items") << model(tetra("1") + tetra("2"), "<item objectid=\"1\"/><item objectid=\"2\"/>") << 2
                                   << QVector<double>{0, 0, 0, 0, 0, 0};
        // Extensions that only colour or track what the core places may be required.
        QTest::newRow("materials and production required")
            << model(tetra("1"), "<item objectid=\"1\" p:UUID=\"a\"/>",
                     "unit=\"millimeter\" requiredextensions=\"m p\" xmlns:m=\"http://schemas.microsoft.com/3dmanufacturing/material/2015/02\" "
                     "xmlns:p=\"http://schemas.microsoft.com/3dmanufacturing/production/2015/06\"")
            << 1 << QVector<double>{0, 0, 0};
        QTest::newRow("fifty items") << model(tetra("1"), QString("<item objectid=\"1\"/>").repeated(50)) << 50
                                     << QVector<double>(150, 0.0);
        // Numbers in forms other programs write: what is not a number reads as 0, and any
        // white space separates the parts of a transform.
        QTest::newRow("tab reference in transform")
            << model(tetra("1"), "<item objectid=\"1\" transform=\"1&#9;0 0 0 1 0 0 0 1 10&#9;20&#10;30\"/>") << 1
            << QVector<double>{10, 20, 30};
        QTest::newRow("transform part not a number")
            << model(tetra("1"), "<item objectid=\"1\" transform=\"1 0 0 0 1 0 0 0 1 10,5 20 x\"/>") << 1
            << QVector<double>{0, 20, 0};
        QTest::newRow("vertex not a number")
            << model(QString(tetra("1")).replace("<vertex x=\"0\" y=\"0\" z=\"0\"/>", "<vertex x=\"1,5\" y=\"&#9;2\" z=\"\"/>"),
                     "<item objectid=\"1\"/>")
            << 1 << QVector<double>{0, 2, 0};
    }
    void placement()
    {
        QFETCH(QByteArray, xml);
        QFETCH(int, models);
        QFETCH(QVector<double>, firstVertices);
        std::vector<LoadedModel> out;
        QVERIFY(load(make3mf(xml), out));
        QCOMPARE(int(out.size()), models);
        for (int i = 0; i < models; ++i) {
            const MeshData& m = *out[size_t(i)].mesh;
            QCOMPARE(out[size_t(i)].model->getName(), std::string("model"));
            QCOMPARE(m.faces.size(), size_t(4)); // taken as given, not welded
            for (int k = 0; k < 3; ++k)
                QCOMPARE(m.vertices[0][size_t(k)], firstVertices[3 * i + k]);
        }
    }

    void singlePrecision()
    {
        std::vector<LoadedModel> out;
        QVERIFY(load(make3mf(model(tetra("1"), "<item objectid=\"1\"/>")), out));
        QCOMPARE(out[0].mesh->vertices[3][0], double(0.1f));
    }

    // Only elements of the core namespace count, whatever prefix binds it, in either encoding.
    void namespaces_data()
    {
        QTest::addColumn<QByteArray>("xml");
        QTest::addColumn<int>("vertices"); // of all models
        QTest::addColumn<double>("boxMax"); // the largest coordinate of all models
        const QString item = "<item objectid=\"1\"/>";
        const QByteArray plain = model(tetra("1"), item);
        QTest::newRow("core on a prefix") << QByteArray(plain).replace("<", "<c:").replace("<c:/", "</c:").replace("<c:?", "<?").replace("xmlns=", "xmlns:c=")
                                          << 4 << 1.0;
        QTest::newRow("foreign vertex")
            << model(QString(tetra("1")).replace("</vertices>", "<x:vertex xmlns:x=\"urn:o\" x=\"200\" y=\"0\" z=\"0\"/>"
                                                                  "<x:e xmlns:x=\"urn:o\"><vertex x=\"300\" y=\"0\" z=\"0\"/></x:e></vertices>"),
                     item)
            << 4 << 1.0;
        QTest::newRow("foreign triangle")
            << model(QString(tetra("1")).replace("</triangles>", "<x:triangle xmlns:x=\"urn:o\" v1=\"0\" v2=\"1\" v3=\"9\"/></triangles>"), item)
            << 4 << 1.0;
        QTest::newRow("foreign object")
            << model(QString(tetra("1")).replace("<object", "<x:object xmlns:x=\"urn:o\"").replace("</object>", "</x:object>").replace("x=\"1\"", "x=\"200\"")
                         + tetra("1"),
                     item)
            << 4 << 1.0;
        QTest::newRow("no namespace at all") << QByteArray(plain).replace(" xmlns=", " xmlns:unused=") << 4 << 1.0;
        QTest::newRow("UTF-16 LE") << utf16(plain, false) << 4 << 1.0;
        QTest::newRow("UTF-16 BE") << utf16(plain, true) << 4 << 1.0;
        QTest::newRow("256 levels") << model(tetra("1") + foreignNest(254), item) << 4 << 1.0;
        QTest::newRow("tag at the cap") << model(tetra("1") + foreignTag(ThreeMFReader::kMaxTagBytes), item) << 4 << 1.0;
    }
    void namespaces()
    {
        QFETCH(QByteArray, xml);
        QFETCH(int, vertices);
        QFETCH(double, boxMax);
        FileReaderWriter rw;
        std::vector<LoadedModel> out;
        QVERIFY2(rw.load3mf(make3mf(xml), out), qPrintable(rw.failureReason));
        int count = 0;
        double top = 0;
        for (const LoadedModel& m : out)
            for (const auto& v : m.mesh->vertices) {
                ++count;
                top = std::max({top, v[0], v[1], v[2]});
            }
        QCOMPARE(count, vertices);
        QCOMPARE(top, boxMax);
    }

    void refused_data()
    {
        QTest::addColumn<QByteArray>("xml");
        QTest::addColumn<QString>("reason");
        const QString item = "<item objectid=\"1\"/>";
        const QString number = "The model holds a coordinate or transform that cannot be used.";
        const QString loop = "The model's components refer to each other in a loop or nest too deeply.";
        const QString index = "A triangle of the model refers to a vertex that does not exist.";
        const QString nothing = "The model places no mesh with triangles.";
        const QString notXml = "The 3D model is not well-formed XML.";
        const QString large = "The model is too large for this computer.";
        const QString missing = "The model places object \"9\", which it does not hold.";
        const QString production = "xmlns:p=\"http://schemas.microsoft.com/3dmanufacturing/production/2015/06\"";
        QTest::newRow("short transform") << model(tetra("1"), "<item objectid=\"1\" transform=\"1 0 0 0 1 0 0 0 1 10 20\"/>") << number;
        QTest::newRow("cycle") << model("<object id=\"1\"><components><component objectid=\"2\"/></components></object>\n                                          <object id=\"2\"><components><component objectid=\"1\"/></components></object>",
                                        item) << loop;
        QTest::newRow("self reference")
            << model("<object id=\"1\"><components><component objectid=\"1\"/></components></object>", item) << loop;
        QTest::newRow("index out of range") << model(QString(tetra("1")).replace("v3=\"3\"", "v3=\"4\""), item) << index;
        QTest::newRow("negative index") << model(QString(tetra("1")).replace("v1=\"0\" v2=\"2\"", "v1=\"-1\" v2=\"2\""), item) << index;
        QTest::newRow("huge index") << model(QString(tetra("1")).replace("v3=\"3\"", "v3=\"99999999999\""), item) << index;
        QTest::newRow("index past 64 bits") << model(QString(tetra("1")).replace("v3=\"3\"", "v3=\"99999999999999999999\""), item) << index;
        QTest::newRow("non-finite vertex") << model(QString(tetra("1")).replace("x=\"0.1\"", "x=\"1e300\""), item) << number;
        QTest::newRow("vertex past double") << model(QString(tetra("1")).replace("x=\"0.1\"", "x=\"1e400\""), item) << number;
        QTest::newRow("no build items") << model(tetra("1"), "") << nothing;
        QTest::newRow("vertices without triangles")
            << model("<object id=\"1\"><mesh><vertices><vertex x=\"0\" y=\"0\" z=\"0\"/></vertices></mesh></object>", item) << nothing;
        QTest::newRow("broken XML") << QByteArray("<model><resources>") << notXml;
        QTest::newRow("end tag mismatched") << model(tetra("1"), item).replace("</build>", "</built>") << notXml;
        QTest::newRow("second root") << model(tetra("1"), item) + "<model/>" << notXml;
        QTest::newRow("text after root") << model(tetra("1"), item) + "x" << notXml;
        QTest::newRow("attribute without equals") << model(tetra("1"), item).replace("v1=\"0\" v2", "v1\"0\" v2") << notXml;
        QTest::newRow("attribute unquoted") << model(tetra("1"), "<item objectid=1/>") << notXml;
        QTest::newRow("unknown reference") << model(tetra("1"), "<item objectid=\"&one;\"/>") << notXml;
        QTest::newRow("entity declaration")
            << "<!DOCTYPE model SYSTEM \"model.dtd\">" + model(tetra("1"), item) << notXml;
        QTest::newRow("wrong root") << QByteArray("<other/>") << "The archive holds no 3D model.";
        // A fan-out of 8 over 8 levels would make 8^8 meshes.
        QString chain = tetra("0");
        for (int level = 1; level <= 8; ++level) {
            QString comps;
            for (int k = 0; k < 8; ++k)
                comps += QStringLiteral("<component objectid=\"%1\"/>").arg(level - 1);
            chain += QStringLiteral("<object id=\"%1\"><components>%2</components></object>").arg(level).arg(comps);
        }
        QTest::newRow("exponential components") << model(chain, "<item objectid=\"8\"/>") << large;
        // Records that place nothing large still cost memory each: 20,000 of them pass 64 MB.
        QString objects;
        for (int i = 2; i < 20002; ++i)
            objects += QStringLiteral("<object id=\"%1\"/>").arg(i);
        QTest::newRow("objects bomb") << model(tetra("1") + objects, item) << large;
        QTest::newRow("items bomb") << model(tetra("1"), item.repeated(20000)) << large;
        QTest::newRow("components bomb")
            << model(tetra("1") + "<object id=\"2\"><components>" + QString("<component objectid=\"1\"/>").repeated(20000)
                         + "</components></object>",
                     "<item objectid=\"2\"/>")
            << large;
        QTest::newRow("transform past float") << model(tetra("1"), "<item objectid=\"1\" transform=\"1 0 0 0 1 0 0 0 1 1e39 0 0\"/>") << number;
        QTest::newRow("transform past -float") << model(tetra("1"), "<item objectid=\"1\" transform=\"1 0 0 0 1 0 0 0 1 -1e39 0 0\"/>") << number;
        QTest::newRow("transform past double") << model(tetra("1"), "<item objectid=\"1\" transform=\"1 0 0 0 1 0 0 0 1 1e400 0 0\"/>") << number;
        QTest::newRow("transform overflows a vertex")
            << model(QString(tetra("1")).replace("x=\"0.1\"", "x=\"3e38\""), "<item objectid=\"1\" transform=\"10 0 0 0 1 0 0 0 1 0 0 0\"/>")
            << number;
        QTest::newRow("transform all zero") << model(tetra("1"), "<item objectid=\"1\" transform=\"0 0 0 0 0 0 0 0 0 0 0 0\"/>") << number;
        QTest::newRow("component flattened")
            << model(tetra("1") + "<object id=\"2\"><components><component objectid=\"1\" transform=\"1 2 3 2 4 6 0 0 1 0 0 0\"/></components></object>",
                     "<item objectid=\"2\"/>")
            << number;
        QTest::newRow("257 levels") << model(tetra("1") + foreignNest(255), item) << notXml;
        QTest::newRow("tag over the cap") << model(tetra("1") + foreignTag(ThreeMFReader::kMaxTagBytes + 1), item) << notXml;
        // A comment is held whole while it is read: the cap counts for it too.
        QTest::newRow("comment over the cap") << model(tetra("1") + "<!--" + QString(2 * ThreeMFReader::kMaxTagBytes, 'a') + "-->", item) << notXml;
        QTest::newRow("not a zip") << QByteArray() << "The file is not a 3MF archive.";
        QTest::newRow("no model part") << QByteArray("other part") << "The archive holds no 3D model.";
        // What the file names must be there and be a model.
        QTest::newRow("item names a missing object") << model(tetra("1"), "<item objectid=\"9\"/>" + item) << missing;
        QTest::newRow("component names a missing object")
            << model(tetra("1") + "<object id=\"2\"><components><component objectid=\"1\"/><component objectid=\"9\"/></components></object>",
                     "<item objectid=\"2\"/>")
            << missing;
        QTest::newRow("type other on the plate")
            << model(QString(tetra("1")).replace("type=\"model\"", "type=\"other\""), item)
            << "The model places object \"1\", which is not a model (its type is \"other\").";
        QTest::newRow("type other in a component")
            << model(QString(tetra("1")).replace("type=\"model\"", "type=\"other\"")
                         + "<object id=\"2\"><components><component objectid=\"1\"/></components></object>",
                     "<item objectid=\"2\"/>")
            << "The model places object \"1\", which is not a model (its type is \"other\").";
        QTest::newRow("unknown required extension")
            << model(tetra("1"), item, "requiredextensions=\"b\" xmlns:b=\"http://schemas.microsoft.com/3dmanufacturing/beamlattice/2017/02\"")
            << "The model needs a 3MF extension this program cannot read: http://schemas.microsoft.com/3dmanufacturing/beamlattice/2017/02.";
        QTest::newRow("required extension undeclared")
            << model(tetra("1"), item, "requiredextensions=\"q\"") << "The model needs a 3MF extension this program cannot read: q.";
        QTest::newRow("duplicate ids")
            << model(tetra("1") + QString(tetra("1")).replace("x=\"1\"", "x=\"40\""), item) << "The model holds two objects with the id \"1\".";
        // A path names an object of another model part; its id would find this part's object.
        QTest::newRow("production path in a component")
            << model(tetra("1") + "<object id=\"2\"><components><component objectid=\"1\" p:path=\"/3D/other.model\"/></components></object>",
                     "<item objectid=\"2\"/>", production)
            << "The model places objects from another part of the archive, which this program cannot read.";
        QTest::newRow("production path in an item")
            << model(tetra("1"), "<item objectid=\"1\" p:path=\"/3D/other.model\"/>", production)
            << "The model places objects from another part of the archive, which this program cannot read.";
        QTest::newRow("items past the model limit")
            << model(tetra("1"), item.repeated(51)) << "The file holds 51 models; at most 50 fit on the plate.";
        QTest::newRow("components past the model limit")
            << model(tetra("1") + "<object id=\"2\"><components>" + QString("<component objectid=\"1\"/>").repeated(26)
                         + "</components></object>",
                     "<item objectid=\"2\"/><item objectid=\"2\"/>")
            << "The file holds 52 models; at most 50 fit on the plate.";
        // Under the machine's budget, as a user meets them.
        QTest::newRow("100,001 items") << model(tetra("1"), item.repeated(100001))
                                       << "The file holds 100001 models; at most 50 fit on the plate.";
        QTest::newRow("100,001 components placing nothing")
            << model(tetra("1") + "<object id=\"3\"/><object id=\"2\"><components>"
                         + QString("<component objectid=\"3\"/>").repeated(100001) + "</components></object>",
                     "<item objectid=\"2\"/>")
            << "The model places more than 100000 components and items.";
        QTest::newRow("scaled by 1e30")
            << model(tetra("1"), "<item objectid=\"1\" transform=\"1e30 0 0 0 1e30 0 0 0 1e30 0 0 0\"/>")
            << "The model reaches 1e+30 mm from the origin; a printer can use at most 1000000 mm.";
        QTest::newRow("moved a thousand km")
            << model(tetra("1"), "<item objectid=\"1\" transform=\"1 0 0 0 1 0 0 0 1 0 0 1e9\"/>")
            << "The model reaches 1e+09 mm from the origin; a printer can use at most 1000000 mm.";
    }
    void refused()
    {
        QFETCH(QByteArray, xml);
        QFETCH(QString, reason);
        const bool machineBudget = QByteArray(QTest::currentDataTag()).startsWith("100,001");
        ThreeMFReader::setMemoryBudgetForTests(machineBudget ? 0 : 64LL << 20);
        QString path;
        if (QByteArray(QTest::currentDataTag()) == "not a zip") {
            path = dir.filePath("plain.3mf");
            QFile plain(path);
            QVERIFY(plain.open(QIODevice::WriteOnly));
            plain.write(model(tetra("1"), "<item objectid=\"1\"/>"));
        } else if (QByteArray(QTest::currentDataTag()) == "no model part") {
            path = makeZip({{QStringLiteral("3D/other.model"), model(tetra("1"), "<item objectid=\"1\"/>")}});
        } else {
            path = make3mf(xml);
        }
        FileReaderWriter rw;
        std::vector<LoadedModel> out;
        QVERIFY(!rw.load3mf(path, out));
        QVERIFY(out.empty());
        QCOMPARE(rw.failureReason, reason);
        QCOMPARE(rw.overModelLimit, reason.contains("fit on the plate"));
        // The Chinese window reads it in Chinese.
        QTranslator zh;
        QVERIFY(zh.load(QStringLiteral(":/brevant_zh.qm")));
        QCoreApplication::installTranslator(&zh);
        QVERIFY(!rw.load3mf(path, out));
        QCoreApplication::removeTranslator(&zh);
        ThreeMFReader::setMemoryBudgetForTests(0);
        QVERIFY2(!rw.failureReason.isEmpty() && rw.failureReason != reason && rw.failureReason.toUtf8() != rw.failureReason.toLatin1(),
                 qPrintable(rw.failureReason));
    }

    void units_data()
    {
        QTest::addColumn<QString>("unit");
        QTest::addColumn<double>("mm"); // millimetres per unit
        QTest::newRow("micron") << "unit=\"micron\"" << 0.001;
        QTest::newRow("millimeter") << "unit=\"millimeter\"" << 1.0;
        QTest::newRow("centimeter") << "unit=\"centimeter\"" << 10.0;
        QTest::newRow("inch") << "unit=\"inch\"" << 25.4;
        QTest::newRow("foot") << "unit=\"foot\"" << 304.8;
        QTest::newRow("meter") << "unit=\"meter\"" << 1000.0;
        QTest::newRow("absent") << "" << 1.0;
        QTest::newRow("unknown") << "unit=\"furlong\"" << 1.0;
    }
    void units()
    {
        QFETCH(QString, unit);
        QFETCH(double, mm);
        // Translations are in the model's unit too.
        std::vector<LoadedModel> out;
        QVERIFY(load(make3mf(model(tetra("1"), "<item objectid=\"1\" transform=\"1 0 0 0 1 0 0 0 1 2 0 0\"/>", unit)), out));
        const MeshData& m = *out[0].mesh;
        QCOMPARE(m.vertices[1][0], 3.0 * mm);
        QCOMPARE(m.vertices[2][1], 1.0 * mm);
        QCOMPARE(m.vertices[3][2], 1.0 * mm);
    }

    void expansionBudget()
    {
        // One mesh of 3 vertices and 100,000 triangles, placed 100 times by an object that an
        // item places 100 times: 10^9 triangles, far more than memory holds.
        QString triangles;
        for (int i = 0; i < 100000; ++i)
            triangles += "<triangle v1=\"0\" v2=\"1\" v3=\"2\"/>";
        const QString mesh = "<object id=\"1\"><mesh><vertices><vertex x=\"0\" y=\"0\" z=\"0\"/><vertex x=\"1\" y=\"0\" z=\"0\"/>"
                             "<vertex x=\"0\" y=\"1\" z=\"0\"/></vertices><triangles>"
                             + triangles + "</triangles></mesh></object>";
        QString hundred;
        for (int i = 0; i < 100; ++i)
            hundred += QStringLiteral("<component objectid=\"1\" transform=\"1 0 0 0 1 0 0 0 1 %1 0 0\"/>").arg(i);
        const QString group = "<object id=\"2\"><components>" + hundred + "</components></object>";
        QString items;
        for (int i = 0; i < 100; ++i)
            items += "<item objectid=\"2\"/>";
        const QString path = make3mf(model(mesh + group, items));
        std::vector<MeshData*> meshes;
        std::atomic<int> progress{0};
        std::atomic<bool> cancelled{false};
        QString error;
        QElapsedTimer t;
        t.start();
        QVERIFY(!ThreeMFReader::load(path, meshes, progress, cancelled, &error));
        QVERIFY2(t.elapsed() < TestTime::waitMs(5000), "refused only after copying");
        QVERIFY(meshes.empty());
        QVERIFY2(error.contains("too large") && error.contains("1000000000 triangles"), qPrintable(error));

        // A hundred placements of it fit, each with its own copy of the faces.
        QVERIFY(ThreeMFReader::load(make3mf(model(mesh + group, "<item objectid=\"2\"/>")), meshes, progress, cancelled));
        QCOMPARE(meshes.size(), size_t(100));
        QCOMPARE(meshes[99]->faces.size(), size_t(100000));
        QCOMPARE(meshes[99]->vertices[1][0], 100.0);
        for (MeshData* m : meshes)
            delete m;
    }

    void hostileArchives()
    {
        std::vector<LoadedModel> out;
        const QByteArray good = model(tetra("1"), "<item objectid=\"1\"/>");
        // Not a zip at all.
        QFile plain(dir.filePath("plain.3mf"));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.write(good);
        plain.close();
        QVERIFY(!load(plain.fileName(), out));
        // No model part.
        QVERIFY(!load(makeZip({{QStringLiteral("3D/other.model"), good}}), out));

        // An entry climbing out of its folder is read in memory only: nothing lands outside.
        const QString sentinel = QDir::temp().filePath("3D/3dmodel.model");
        const bool existed = QFile::exists(sentinel);
        QVERIFY(load(makeZip({{QStringLiteral("../../3D/3dmodel.model"), good}}), out));
        QCOMPARE(out.size(), size_t(1));
        QCOMPARE(QFile::exists(sentinel), existed);
        QVERIFY(!QFile::exists(QDir::temp().filePath("Brevant/3D/3dmodel.model")) || existed);
    }

    void declaredSizeTooLarge()
    {
        const QString path = make3mf(model(tetra("1"), "<item objectid=\"1\"/>"));
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadWrite));
        QByteArray bytes = f.readAll();
        // Claim an uncompressed size far beyond the cap in both headers of the model entry.
        const QByteArray central("PK\x01\x02", 4), local("PK\x03\x04", 4);
        int patched = 0;
        for (int at = bytes.indexOf(central); at >= 0; at = bytes.indexOf(central, at + 1)) {
            if (bytes.mid(at + 46, 16) == "3D/3dmodel.model") {
                qToLittleEndian<quint32>(0xFFFFFFF0u, bytes.data() + at + 24);
                ++patched;
            }
        }
        QCOMPARE(patched, 1);
        f.seek(0);
        f.write(bytes);
        f.close();
        FileReaderWriter rw;
        std::vector<LoadedModel> out;
        QVERIFY(!rw.load3mf(path, out));
        QCOMPARE(rw.failureReason, QString("The archive is damaged."));
    }

    // Damage deep in a part of many chunks, met while the inflating thread runs ahead: the load
    // is refused with nothing of it kept, and ends instead of waiting on that thread.
    void damagedPart_data()
    {
        QTest::addColumn<double>("at");     // where in the compressed data, 0 to 1
        QTest::addColumn<int>("bytes");     // how many are overwritten there
        // The inflater fails while expat waits on it; expat fails while the inflater runs ahead.
        QTest::newRow("middle") << 0.5 << 64;
        QTest::newRow("last chunk") << 0.97 << 64;
    }
    void damagedPart()
    {
        QFETCH(double, at);
        QFETCH(int, bytes);
        // Coordinates that do not repeat, so that the compressed data is long.
        QString vertices, triangles;
        QRandomGenerator random(7);
        const int count = 120000;
        for (int i = 0; i < count; ++i)
            vertices += QStringLiteral("<vertex x=\"%1\" y=\"%2\" z=\"%3\"/>")
                            .arg(random.bounded(100.0), 0, 'f', 6).arg(random.bounded(100.0), 0, 'f', 6).arg(random.bounded(100.0), 0, 'f', 6);
        for (int i = 0; i + 2 < count; i += 3)
            triangles += QStringLiteral("<triangle v1=\"%1\" v2=\"%2\" v3=\"%3\"/>").arg(i).arg(i + 1).arg(i + 2);
        const QByteArray xml = model("<object id=\"1\" type=\"model\"><mesh><vertices>" + vertices + "</vertices><triangles>" + triangles
                                         + "</triangles></mesh></object>",
                                     "<item objectid=\"1\"/>");
        QVERIFY(xml.size() > 4 << 20);
        const QString path = make3mf(xml);
        std::vector<LoadedModel> whole;
        QVERIFY(load(path, whole)); // undamaged, it loads
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QByteArray zip = f.readAll();
        f.close();
        // The model part's compressed data is all but the first and last few hundred bytes.
        QVERIFY(zip.size() > 2 << 20);
        const int from = int(at * zip.size());
        zip.replace(from, bytes, QByteArray(bytes, '\xff'));
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QCOMPARE(f.write(zip), qint64(zip.size()));
        f.close();
        FileReaderWriter rw;
        std::vector<LoadedModel> out;
        QElapsedTimer t;
        t.start();
        QVERIFY(!rw.load3mf(path, out));
        QVERIFY(out.empty());
        QVERIFY2(!rw.failureReason.isEmpty(), "refused without a reason");
        QVERIFY2(t.elapsed() < TestTime::waitMs(10000), qPrintable(QString::number(t.elapsed())));
    }

    // A part of many chunks, with tags, references and comments across every chunk boundary,
    // is read whole; its meshes may take up to the budget and not a byte more.
    void streamedPart_data()
    {
        QTest::addColumn<qint64>("budgetSlack");
        QTest::addColumn<bool>("loads");
        QTest::addColumn<bool>("plain");
        QTest::newRow("at the budget") << qint64(0) << true << false;
        QTest::newRow("one byte over") << qint64(-1) << false << false;
        QTest::newRow("plain at the budget") << qint64(0) << true << true;
        QTest::newRow("plain one byte over") << qint64(-1) << false << true;
    }
    void streamedPart()
    {
        QFETCH(qint64, budgetSlack);
        QFETCH(bool, loads);
        QFETCH(bool, plain);
        const int n = 60000; // about 5 MB of XML
        QByteArray xml = "<?xml version=\"1.0\"?>\n<m:model xmlns:m=\"http://schemas.microsoft.com/3dmanufacturing/core/2015/02\" unit=\"millimeter\"><m:resources>"
                         "<m:object id=\"7\"><m:mesh><m:vertices>";
        for (int i = 0; i < n; ++i) {
            xml += QStringLiteral("<m:vertex x=\"%1\" y = '+%2'\n z=\"&#x20;%3\" />").arg(i).arg(i % 97).arg(-i * 0.5).toLatin1();
            if (i % 1000 == 0)
                xml += "<!-- a comment with <tags> and > signs --><![CDATA[ <vertex x=\"9\"/> ]]>";
        }
        xml += "</m:vertices><m:triangles>";
        for (int i = 0; i + 2 < n; ++i)
            xml += QStringLiteral("<m:triangle v1=\"%1\" v2=\"%2\" v3=\"%3\"></m:triangle>\r\n").arg(i).arg(i + 1).arg(i + 2).toLatin1();
        xml += "</m:triangles></m:mesh></m:object></m:resources><m:build><m:item objectid=\"7\"/></m:build></m:model>\n";
        if (plain)
            xml = PlainMesh().build();
        QVERIFY(xml.size() > 4 << 20);
        const qint64 need = qint64(n) * ThreeMFReader::kBytesPerVertex + qint64(n - 2) * ThreeMFReader::kBytesPerFace
                            + 2 * (ThreeMFReader::kBytesPerRecord + 2); // the object and the item, id "7"
        ThreeMFReader::setMemoryBudgetForTests(need + budgetSlack);
        FileReaderWriter rw;
        std::vector<LoadedModel> out;
        const bool ok = rw.load3mf(make3mf(xml), out);
        ThreeMFReader::setMemoryBudgetForTests(0);
        QCOMPARE(ok, loads);
        if (!loads) {
            QCOMPARE(rw.failureReason, QString("The model is too large for this computer."));
            return;
        }
        QCOMPARE(out.size(), size_t(1));
        const MeshData& m = *out[0].mesh;
        QCOMPARE(m.vertices.size(), size_t(n));
        QCOMPARE(m.faces.size(), size_t(n - 2));
        for (int i : {0, 4095, 17000, n - 1}) {
            QCOMPARE(m.vertices[size_t(i)][0], double(float(i)));
            QCOMPARE(m.vertices[size_t(i)][1], double(float(i % 97)));
            QCOMPARE(m.vertices[size_t(i)][2], double(float(-i * 0.5)));
        }
        QCOMPARE(m.faces.back()[2], n - 1);
    }

    // Long lists of vertices and triangles in the plain form, as most programs write them, read
    // alike whatever breaks them up: line ends, comments, other elements, namespaces, errors.
    void plainLists_data()
    {
        QTest::addColumn<QByteArray>("xml");
        QTest::addColumn<bool>("loads");
        QTest::addColumn<QString>("error"); // what the refusal's details hold
        const QByteArray core = "http://schemas.microsoft.com/3dmanufacturing/core/2015/02";
        PlainMesh p;
        QTest::newRow("plain") << p.build() << true << QString();
        // The first inflated chunk (4 MB) ends inside a triangle's first number.
        QByteArray cut = p.build();
        const int chunk = 4 << 20;
        int e = cut.lastIndexOf("<triangle", chunk);
        if (cut.indexOf("v1=\"", e) + 4 >= chunk - 1)
            e = cut.lastIndexOf("<triangle", e - 1);
        cut.insert(e, QByteArray(chunk - 1 - (cut.indexOf("v1=\"", e) + 4), ' '));
        QTest::newRow("number across chunks") << cut << true << QString();
        p.seps = {"\r", " ", "\n", "\t", "\r\n"};
        QTest::newRow("line ends mixed") << p.build() << true << QString();
        // An error past long runs is reported at its line.
        for (const auto& row : {std::make_pair("lone CR then lone LF", QList<QByteArray>{"\r", " ", "\n"}),
                                std::make_pair("CR LF", QList<QByteArray>{"\r\n"}), std::make_pair("CR", QList<QByteArray>{"\r"})}) {
            PlainMesh bad;
            bad.seps = row.second;
            bad.at = bad.n + 50000;
            bad.insert = "<triangle v1=\"0\" v1=\"1\"/>";
            const QByteArray xml = bad.build();
            QTest::newRow(qPrintable(QString("error after runs, ") + row.first))
                << xml << false << QString("XML error at line %1: duplicate attribute").arg(lineAt(xml, xml.indexOf(bad.insert)));
        }
        PlainMesh comment;
        comment.at = 30000;
        const QByteArray hidden = "<vertex x=\"900\" y=\"0\" z=\"0\"/><triangle v1=\"0\" v2=\"0\" v3=\"0\"/>";
        comment.insert = "<!-- a > b " + hidden + " --><![CDATA[ > " + hidden + "]]><?pi > " + hidden + "?>";
        QTest::newRow("comment in the vertices") << comment.build() << true << QString();
        comment.at = comment.n + 40000;
        QTest::newRow("comment in the triangles") << comment.build() << true << QString();
        PlainMesh foreign;
        foreign.rootAttributes += " xmlns:x=\"urn:o\"";
        foreign.at = 20000;
        foreign.insert = "<x:e><vertex x=\"900\" y=\"0\" z=\"0\"/></x:e><x:vertex x=\"900\"/>";
        QTest::newRow("other elements in the vertices") << foreign.build() << true << QString();
        // Unprefixed names are the core's only where the default namespace is.
        PlainMesh prefixed;
        prefixed.outer = prefixed.inner = "m:";
        prefixed.rootAttributes = "xmlns=\"urn:other\" xmlns:m=\"" + core + "\"";
        QTest::newRow("core on a prefix, default other") << prefixed.build() << true << QString();
        prefixed.inner = "";
        QTest::newRow("unprefixed in another default") << prefixed.build() << false << QString("no mesh with triangles");
        prefixed.rootAttributes += " xmlns:a=\"urn:a\"";
        prefixed.inner = "a:";
        QTest::newRow("vertices on another prefix") << prefixed.build() << false << QString("no mesh with triangles");
        PlainMesh below;
        below.outer = "m:";
        below.rootAttributes += " xmlns:m=\"" + core + "\"";
        below.listAttributes = " xmlns=\"urn:other\"";
        QTest::newRow("default rebound below the root") << below.build() << false << QString("no mesh with triangles");
    }
    void plainLists()
    {
        QFETCH(QByteArray, xml);
        QFETCH(bool, loads);
        QFETCH(QString, error);
        std::vector<MeshData*> meshes;
        std::atomic<int> progress{0};
        std::atomic<bool> cancelled{false};
        QString why;
        const bool ok = ThreeMFReader::load(make3mf(xml), meshes, progress, cancelled, &why);
        std::vector<std::unique_ptr<MeshData>> owned(meshes.begin(), meshes.end());
        QCOMPARE(ok, loads);
        if (!loads) {
            QVERIFY2(why.contains(error), qPrintable(why));
            return;
        }
        QCOMPARE(owned.size(), size_t(1));
        const MeshData& m = *owned[0];
        const int n = PlainMesh().n;
        QCOMPARE(m.vertices.size(), size_t(n));
        QCOMPARE(m.faces.size(), size_t(n - 2));
        for (int i = 0; i < n; ++i)
            if (m.vertices[size_t(i)] != std::array<double, 3>{double(i), double(i % 97), double(float(-i * 0.5))})
                QFAIL(qPrintable(QString("vertex %1 read wrong").arg(i)));
        for (int i = 0; i + 2 < n; ++i)
            if (m.faces[size_t(i)] != std::array<int32_t, 3>{i, i + 1, i + 2})
                QFAIL(qPrintable(QString("triangle %1 read wrong").arg(i)));
    }

    void transformParsing()
    {
        ThreeMFReader::Matrix m;
        QVERIFY(ThreeMFReader::parseTransform("  1 0 0  0 1 0 0 0 1 10 20 30 ", m));
        QCOMPARE(m[9], 10.0f);
        QVERIFY(!ThreeMFReader::parseTransform("1 0 0 0 1 0 0 0 1 10 20", m));
        QVERIFY(!ThreeMFReader::parseTransform("1 0 0 0 1 0 0 0 1 10 20 inf", m));
    }
};

QTEST_GUILESS_MAIN(TestThreeMF)
#include "tst_threemf.moc"
