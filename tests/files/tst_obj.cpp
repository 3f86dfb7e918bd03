#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <cmath>

#include "FileRW/FileReaderWriter.h"
#include "FileRW/PolygonTriangulator.h"
#include "scene/MeshData.h"
#include "testutil_files.h"

using P3 = PolygonTriangulator::Point3;

class TestObj : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;

    bool load(const QByteArray& text, MeshData& out)
    {
        FileReaderWriter rw;
        return rw.loadMesh(testutil::writeFile(dir, "m.obj", text), &out);
    }

    // Area of the triangles and of the polygon, both measured in 3D.
    static double triangleArea(const std::vector<P3>& p, const std::vector<PolygonTriangulator::Triangle>& t)
    {
        MeshData m;
        m.vertices.assign(p.begin(), p.end());
        m.faces.assign(t.begin(), t.end());
        return testutil::surfaceArea(m);
    }

private slots:
    void triangulation_data()
    {
        QTest::addColumn<QVector<double>>("coords");
        QTest::addColumn<int>("triangles");
        QTest::addColumn<double>("area");
        QTest::addColumn<double>("normalZ"); // sign of every triangle's normal along Z

        QTest::newRow("square") << QVector<double>{0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0} << 2 << 1.0 << 1.0;
        // L-shaped hexagon: one reflex corner at (1,1).
        QTest::newRow("L hexagon") << QVector<double>{0, 0, 0, 2, 0, 0, 2, 1, 0, 1, 1, 0, 1, 2, 0, 0, 2, 0} << 4 << 3.0 << 1.0;
        // Pentagon in z = 5, clockwise seen from +Z.
        QTest::newRow("clockwise pentagon z=5")
            << QVector<double>{0, 0, 5, 0, 2, 5, 1, 3, 5, 2, 2, 5, 2, 0, 5} << 3 << 5.0 << -1.0;
        // Collinear corners around the extreme point: the plane comes from Newell's normal.
        QTest::newRow("collinear at extreme")
            << QVector<double>{0, 0, 0, 2, 0, 0, 2, 1, 0, 2, 2, 0, 0, 2, 0} << 3 << 4.0 << 1.0;
        // Comb with three notches (several reflex corners), tilted out of every axis plane.
        QTest::newRow("comb")
            << QVector<double>{0, 0, 0, 5, 0, 0, 5, 3, 0, 4, 3, 0, 4, 1, 0, 3, 1, 0, 3, 3, 0, 2, 3, 0, 2, 1, 0, 1, 1, 0, 1, 3, 0, 0, 3, 0}
            << 10 << 11.0 << 1.0;
        QTest::newRow("two points") << QVector<double>{0, 0, 0, 1, 0, 0} << 0 << 0.0 << 1.0;
        // One place given twice: the corners there are one corner of the fill.
        QTest::newRow("two squares through one corner")
            << QVector<double>{0, 0, 0, 1, 0, 0, 1, 1, 0, 2, 1, 0, 2, 2, 0, 1, 2, 0, 1, 1, 0, 0, 1, 0} << 4 << 2.0 << 1.0;
        QTest::newRow("a corner twice in a row") << QVector<double>{0, 0, 0, 1, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0} << 2 << 1.0 << 1.0;
        // A star of 100,000 corners, every other one reflex, tilted out of the axis planes.
        QVector<double> star;
        const int corners = 100000;
        for (int i = 0; i < corners; ++i) {
            const double a = 2 * M_PI * i / corners, r = i % 2 ? 50.0 : 100.0;
            const double x = r * std::cos(a), y = r * std::sin(a);
            star << x << 0.6 * y << 0.8 * y;
        }
        const double starArea = corners / 2 * 100.0 * 50.0 * std::sin(2 * M_PI / corners);
        QTest::newRow("star of 100,000 corners") << star << corners - 2 << starArea << 0.0;
    }
    void triangulation()
    {
        QFETCH(QVector<double>, coords);
        QFETCH(int, triangles);
        QFETCH(double, area);
        QFETCH(double, normalZ);
        std::vector<P3> p;
        for (int i = 0; i + 2 < coords.size(); i += 3)
            p.push_back({coords[i], coords[i + 1], coords[i + 2]});
        const auto t = PolygonTriangulator::triangulate(p);
        QCOMPARE(int(t.size()), triangles);
        QVERIFY(std::fabs(triangleArea(p, t) - area) < 1e-9 * std::max(1.0, area));
        for (const auto& tri : t) {
            if (normalZ == 0.0)
                break; // the face stands in no axis plane
            const P3 &a = p[size_t(tri[0])], &b = p[size_t(tri[1])], &c = p[size_t(tri[2])];
            const double nz = (b[0] - a[0]) * (c[1] - a[1]) - (b[1] - a[1]) * (c[0] - a[0]);
            QVERIFY2(nz * normalZ > 0, "a triangle lost the polygon's winding");
        }
    }

    void cancelledTriangulationGivesNothing()
    {
        // The file worker's stop reaches into one face's triangulation.
        std::vector<P3> star;
        for (int i = 0; i < 20000; ++i)
            star.push_back({(i % 2 ? 5.0 : 10.0) * std::cos(2 * M_PI * i / 20000), (i % 2 ? 5.0 : 10.0) * std::sin(2 * M_PI * i / 20000), 0});
        PolygonTriangulator t;
        std::atomic<bool> stop{true};
        t.cancelled = &stop;
        QVERIFY(t.projectPolygon(star));
        std::vector<PolygonTriangulator::Triangle> out{{0, 1, 2}};
        t.earClip(out);
        QVERIFY(out.empty());
        stop = false;
        t.earClip(out);
        QCOMPARE(out.size(), star.size() - 2);
    }

    void tiltedPolygonKeepsArea()
    {
        // The comb turned about an oblique axis: the projection must not distort it.
        std::vector<P3> flat = {{0, 0, 0}, {5, 0, 0}, {5, 3, 0}, {4, 3, 0}, {4, 1, 0}, {3, 1, 0}, {3, 3, 0}, {2, 3, 0}, {2, 1, 0}, {1, 1, 0}, {1, 3, 0}, {0, 3, 0}};
        const double c = std::cos(0.7), s = std::sin(0.7);
        std::vector<P3> tilted;
        for (const auto& q : flat) {
            const double y = c * q[1] - s * q[2], z = s * q[1] + c * q[2];
            tilted.push_back({c * q[0] + s * z, y, -s * q[0] + c * z});
        }
        const auto t = PolygonTriangulator::triangulate(tilted);
        QCOMPARE(int(t.size()), 10);
        QVERIFY(std::fabs(triangleArea(tilted, t) - 11.0) < 1e-9);
    }

    void faceReferences_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("faces");
        const QByteArray v = "v 0 0 0\nv 1 0 0\nv 0 1 0\nv 0 0 1\n";
        QTest::newRow("plain") << v + "f 1 2 3\n" << 1;
        QTest::newRow("v/vt/vn") << v + "f 1/1/1 2/2/2 3/3/3\n" << 1;
        QTest::newRow("v//vn") << v + "f 1//1 2//2 3//3\n" << 1;
        QTest::newRow("relative") << v + "f -4 -3 -2\n" << 1;
        QTest::newRow("ignored lines") << v + "vt 0.5 0.5\nvn 0 0 1\n# face\no name\ng grp\nf 1 2 3\n" << 1;
        QTest::newRow("CRLF and no final newline") << QByteArray("v 0 0 0\r\nv 1 0 0\r\nv 0 1 0\r\nf 1 2 3") << 1;
        QTest::newRow("missing vertex dropped") << v + "f 1 2 3\nf 1 2 9\nf 0 1 2\nf 1 2 4\n" << 2;
        QTest::newRow("two references") << v + "f 1 2\nf 1 2 3\n" << 1;
        // A short "v" line still counts, so later references keep their meaning.
        QTest::newRow("short v keeps numbering") << QByteArray("v 0 0\nv 0 0 0\nv 1 0 0\nv 0 1 0\nf 2 3 4\nf 1 3 4\n") << 1;
        QTest::newRow("non-finite v") << QByteArray("v nan 0 0\nv 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 3 4\nf 2 3 4\n") << 1;
        QTest::newRow("quad") << v + "f 1 2 4 3\n" << 2;
        // A bow tie has no inside to fill: only that face goes.
        QTest::newRow("unfillable polygon") << v + "v 1 1 0\nf 1 2 3\nf 1 5 2 3\n" << 1;
        QTest::newRow("no faces") << v << 0;
    }
    void faceReferences()
    {
        QFETCH(QByteArray, text);
        QFETCH(int, faces);
        MeshData m;
        const bool ok = load(text, m);
        QCOMPARE(ok, faces > 0);
        QCOMPARE(int(m.faces.size()), faces);
    }

    void longLines_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("faces");
        QTest::addColumn<double>("area");
        const QByteArray box = "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nv 0 0 1\nv 1 0 1\nv 1 1 1\nv 0 1 1\n"
                               "f 1 4 3 2\nf 5 6 7 8\nf 1 2 6 5\nf 2 3 7 6\nf 3 4 8 7\n";
        const QByteArray pad(300, ' ');
        QTest::newRow("OBJ long comment and names")
            << "m.obj" << "# " + QByteArray(5000, 'c') + "\nmtllib " + QByteArray(400, 'm') + ".mtl\n" + box + "usemtl "
                   + QByteArray(400, 'u') + "\nf 4 1 5 8\n"
            << 12 << 6.0;
        QTest::newRow("OBJ long face line") << "m.obj" << box + "f 4/4/4" + pad + "1/1/1" + pad + "5/5/5" + pad + "8/8/8\n" << 12 << 6.0;
        // A face in the shape of a disc with a round hole, written as one outline that runs in to
        // the hole and back along the same edge: two corners repeat.
        QByteArray keyhole;
        const int n = 32;
        for (int i = 0; i < n; ++i)
            keyhole += "v " + QByteArray::number(10 * std::cos(2 * M_PI * i / n)) + ' '
                       + QByteArray::number(10 * std::sin(2 * M_PI * i / n)) + " 0\n";
        for (int i = 0; i < n; ++i)
            keyhole += "v " + QByteArray::number(4 * std::cos(-2 * M_PI * i / n) + 3) + ' '
                       + QByteArray::number(4 * std::sin(-2 * M_PI * i / n)) + " 0\n";
        keyhole += "vt 0 0\nvn 0 0 1\nf";
        for (int i : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26,
                      27, 28, 29, 30, 31, 0, 32, 33, 34, 35, 36, 37, 38, 39, 40, 41, 42, 43, 44, 45, 46, 47, 48, 49, 50,
                      51, 52, 53, 54, 55, 56, 57, 58, 59, 60, 61, 62, 63, 32})
            keyhole += ' ' + QByteArray::number(i + 1) + "/1/1";
        const double ring = 0.5 * n * std::sin(2 * M_PI / n) * (100 - 16);
        QTest::newRow("OBJ keyhole polygon") << "m.obj" << keyhole + "\n" << 2 * n << ring;
        // Past the safety cap only that line goes: a vertex keeps its number, so the face that
        // uses it is dropped and the faces after it still find their vertices.
        QTest::newRow("OBJ line past the cap")
            << "m.obj" << "v 0 0 0\nv 1 0 0\nv 0 1 0\nv 5 5" + QByteArray(1100000, ' ') + "5\nv 0 0 1\nf 1 2 3\nf 1 2 4\nf 1 2 5\n"
            << 2 << 1.0;
        QByteArray stl = "solid " + QByteArray(3000, 's') + "\n";
        auto facet = [](const QByteArray& a, const QByteArray& b, const QByteArray& c) {
            return "facet normal 0 0 0\nouter loop\nvertex " + a + "\nvertex " + b + "\nvertex " + c + "\nendloop\nendfacet\n";
        };
        stl += facet("0 0 0", "1 0 0", "0 1 0") + facet("0 0 0", "0 1 0", "0 0 1");
        QTest::newRow("ASCII STL long solid name") << "m.stl" << stl + "endsolid\n" << 2 << 1.0;
        QTest::newRow("ASCII STL line past the cap")
            << "m.stl" << stl + facet("5 5 5", "6 5 5", "5 6 " + QByteArray(1100000, '5')) + facet("0 0 0", "0 0 1", "1 0 0")
            << 3 << 1.5;
    }
    void longLines()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, text);
        QFETCH(int, faces);
        QFETCH(double, area);
        FileReaderWriter rw;
        MeshData m;
        QVERIFY(rw.loadMesh(testutil::writeFile(dir, name, text), &m));
        QCOMPARE(int(m.faces.size()), faces);
        QVERIFY2(std::fabs(testutil::surfaceArea(m) - area) < 1e-3, qPrintable(QString::number(testutil::surfaceArea(m))));
    }

    void roundTrip()
    {
        // A cube written and read back keeps its vertices and faces.
        MeshData cube;
        cube.vertices = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0, 0, 1}, {1, 0, 1}, {1, 1, 1}, {0, 1, 1}};
        cube.faces = {{0, 2, 1}, {0, 3, 2}, {4, 5, 6}, {4, 6, 7}, {0, 1, 5}, {0, 5, 4},
                      {1, 2, 6}, {1, 6, 5}, {2, 3, 7}, {2, 7, 6}, {3, 0, 4}, {3, 4, 7}};
        FileReaderWriter rw;
        const QString path = dir.filePath("cube.obj");
        QVERIFY(rw.saveMesh(path, &cube));
        QCOMPARE(rw.getProgress(), 10000);
        MeshData back;
        QVERIFY(rw.loadMesh(path, &back));
        QCOMPARE(back.vertices.size(), size_t(8));
        QCOMPARE(back.faces.size(), size_t(12));
        QVERIFY(std::fabs(testutil::signedVolume(back) - 1.0) < 1e-12);
        QVERIFY(testutil::isClosedAndConsistent(back));
    }

    void writerNumberFormat()
    {
        MeshData m;
        m.vertices = {{0.123456789, 1.5, 1e-7}, {-2, 0, 100000}, {1234567, 0, 0}};
        m.faces = {{0, 1, 2}};
        FileReaderWriter rw;
        const QString path = dir.filePath("fmt.obj");
        QVERIFY(rw.saveMesh(path, &m));
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("v 0.123457 1.5 1e-07\nv -2 0 100000\nv 1.23457e+06 0 0\nf 1 2 3\n"));
    }

    void failedSaveKeepsOldFile()
    {
        // Saving into a missing folder fails and reports it.
        MeshData m;
        m.vertices = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
        m.faces = {{0, 1, 2}};
        FileReaderWriter rw;
        QVERIFY(!rw.saveMesh(dir.filePath("missing/x.obj"), &m));
    }
};

QTEST_GUILESS_MAIN(TestObj)
#include "tst_obj.moc"
