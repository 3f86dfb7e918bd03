#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <charconv>
#include <cmath>
#include <cstring>
#include <map>
#include <set>

#include "FileRW/AsciiStl.h"
#include "FileRW/FileReaderWriter.h"
#include "common/LogCapture.h"
#include "scene/LoadedModel.h"
#include "scene/MeshData.h"

namespace {
using Tri = std::array<std::array<float, 3>, 3>;

QByteArray binaryStl(const std::vector<Tri>& tris, qint64 countOverride = -1)
{
    QByteArray out(80, '\0');
    char n[4];
    qToLittleEndian<quint32>(quint32(countOverride >= 0 ? countOverride : qint64(tris.size())), n);
    out.append(n, 4);
    for (const Tri& t : tris) {
        out.append(QByteArray(12, '\0'));
        for (const auto& p : t)
            for (float v : p) {
                char b[4];
                quint32 bits;
                std::memcpy(&bits, &v, 4);
                qToLittleEndian<quint32>(bits, b);
                out.append(b, 4);
            }
        out.append(QByteArray(2, '\0'));
    }
    return out;
}

// The 12 triangles of a cube of side s, outward.
std::vector<Tri> cubeTriangles(float s)
{
    auto p = [s](int i) { return std::array<float, 3>{i & 1 ? s : 0.f, i & 2 ? s : 0.f, i & 4 ? s : 0.f}; };
    const int f[12][3] = {{0, 2, 1}, {1, 2, 3}, {4, 5, 6}, {5, 7, 6}, {0, 1, 4}, {1, 5, 4},
                          {2, 6, 3}, {3, 6, 7}, {0, 4, 2}, {2, 4, 6}, {1, 3, 5}, {3, 7, 5}};
    std::vector<Tri> out;
    for (const auto& t : f)
        out.push_back({p(t[0]), p(t[1]), p(t[2])});
    return out;
}

QByteArray asciiStl(const std::vector<Tri>& tris)
{
    QByteArray out = "solid cube\n";
    for (const Tri& t : tris) {
        out += "  facet normal 0 0 0\n    outer loop\n";
        for (const auto& p : t)
            out += QByteArray("      vertex ") + QByteArray::number(p[0]) + " " + QByteArray::number(p[1]) + " "
                   + QByteArray::number(p[2]) + "\n";
        out += "    endloop\n  endfacet\n";
    }
    return out + "endsolid cube\n";
}

double signedVolume(const MeshData& m)
{
    double v = 0;
    for (const auto& f : m.faces) {
        const auto& a = m.vertices[size_t(f[0])];
        const auto& b = m.vertices[size_t(f[1])];
        const auto& c = m.vertices[size_t(f[2])];
        v += (a[0] * (b[1] * c[2] - b[2] * c[1]) - a[1] * (b[0] * c[2] - b[2] * c[0]) + a[2] * (b[0] * c[1] - b[1] * c[0])) / 6;
    }
    return v;
}
} // namespace

class TestStl : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;

    QString write(const QString& name, const QByteArray& bytes)
    {
        const QString path = dir.filePath(name);
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
            return QString();
        return path;
    }

private slots:
    void fileTypes_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("type");
        QTest::newRow("obj") << "a/b.OBJ" << 1;
        QTest::newRow("stl") << "x.y.stl" << 2;
        QTest::newRow("png") << "p.png" << 3;
        QTest::newRow("jpg") << "p.JPG" << 3;
        QTest::newRow("3mf") << "m.3mf" << 0;
        QTest::newRow("none") << "stl" << 0;
    }
    void fileTypes()
    {
        QFETCH(QString, path);
        QFETCH(int, type);
        QCOMPARE(FileReaderWriter::getFileType(path), type);
    }

    void cubeWeldsToEightVertices_data()
    {
        QTest::addColumn<bool>("binary");
        QTest::newRow("binary") << true;
        QTest::newRow("ascii") << false;
    }
    void cubeWeldsToEightVertices()
    {
        QFETCH(bool, binary);
        const auto tris = cubeTriangles(10.f);
        const QString path = write("cube.stl", binary ? binaryStl(tris) : asciiStl(tris));
        FileReaderWriter rw;
        MeshData mesh;
        QVERIFY(rw.loadMesh(path, &mesh));
        QCOMPARE(mesh.vertices.size(), size_t(8));
        QCOMPARE(mesh.faces.size(), size_t(12));
        QCOMPARE(mesh.normals.size(), size_t(8));
        QVERIFY(std::fabs(signedVolume(mesh) - 1000.0) < 1e-9);
        QVERIFY(rw.corners.empty());
        QCOMPARE(rw.getProgress(), 9900);
    }

    void weldTolerance_data()
    {
        QTest::addColumn<std::vector<double>>("points"); // x, y, z of each corner
        QTest::addColumn<int>("vertices");
        QTest::addColumn<int>("faces");
        const std::vector<double> tri = {0, 0, 0, 1, 0, 0, 0, 1, 0};
        auto with = [&](std::vector<double> extra) {
            std::vector<double> all = tri;
            all.insert(all.end(), extra.begin(), extra.end());
            return all;
        };
        QTest::newRow("5e-7 apart on every axis") << with({5e-7, 5e-7, 5e-7, 1, 0, 0, 0, 0, 1}) << 4 << 2;
        QTest::newRow("2e-6 apart on one axis") << with({2e-6, 0, 0, 1, 0, 0, 0, 0, 1}) << 5 << 2;
        // Near in space but not neighbours in sorted order: another point sorts between them.
        QTest::newRow("near, apart in sorted order")
            << std::vector<double>{0, 0, 0, 2e-7, 5, 5, 4e-7, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1} << 5 << 1;
        QTest::newRow("triangle welded to an edge") << std::vector<double>{0, 0, 0, 1e-7, 0, 0, 1, 0, 0} << 2 << 0;
        QTest::newRow("trailing corners") << with({7, 7, 7}) << 3 << 1;
        // Corners repeated in two neighbouring cells, near only through the last point of one.
        std::vector<double> repeated;
        for (int k = 1; k <= 12; ++k) {
            const double corner = k <= 6 ? 0.02e-6 : 0.95e-6;
            repeated.insert(repeated.end(), {corner, 0, 0, 1, double(k), 0, 0, double(k), 1});
            repeated.insert(repeated.end(), {1.08e-6, 0, 0, 2, double(k), 0, 0, double(k), 2});
        }
        QTest::newRow("repeated corners in neighbouring cells") << repeated << 49 << 24;
    }
    void weldTolerance()
    {
        QFETCH(std::vector<double>, points);
        QFETCH(int, vertices);
        QFETCH(int, faces);
        FileReaderWriter rw;
        MeshData mesh;
        rw.target = &mesh;
        for (size_t i = 0; i + 2 < points.size(); i += 3)
            rw.corners.push_back({points[i], points[i + 1], points[i + 2], 0});
        const bool ok = rw.weldVertices();
        QCOMPARE(ok, faces > 0);
        if (ok) {
            QCOMPARE(int(mesh.vertices.size()), vertices);
            QCOMPARE(int(mesh.faces.size()), faces);
            for (const auto& f : mesh.faces)
                for (int k = 0; k < 3; ++k)
                    QVERIFY(f[size_t(k)] >= 0 && f[size_t(k)] < vertices);
        } else {
            QVERIFY(mesh.faces.empty());
        }
    }

    void weldMatchesPairwiseRule_data()
    {
        QTest::addColumn<int>("perCell"); // points in a cell of 1e-6, of 5 x 5 x 5 cells per cluster
        QTest::addColumn<double>("box");  // they lie in a box this wide (in cells) at either end of their cell
        QTest::addColumn<double>("empty"); // share of cells left empty
        QTest::addColumn<double>("offset"); // where the clusters sit
        QTest::addColumn<bool>("flatX");    // every point of a cluster has the same x
        QTest::addColumn<uint>("seed");
        // Chains across cell borders; crowded cells, near or not near their neighbours; and
        // coordinates so large that neighbouring doubles lie further apart than the weld distance.
        QTest::newRow("sparse") << 1 << 1.0 << 0.5 << 0.0 << false << 7u;
        QTest::newRow("crowded") << 12 << 0.3 << 0.8 << 3.0 << false << 7u;
        QTest::newRow("crowded, one x") << 12 << 0.3 << 0.85 << -7.0 << true << 7u;
        QTest::newRow("huge coordinates") << 3 << 0.3 << 0.8 << 3e10 << false << 7u;
        // A class joined through more than two runs: every run must name the class's root.
        QTest::newRow("sparse, classes of many runs") << 1 << 1.0 << 0.5 << 0.0 << false << 2u;
    }
    void weldMatchesPairwiseRule()
    {
        QFETCH(int, perCell);
        QFETCH(double, box);
        QFETCH(double, empty);
        QFETCH(double, offset);
        QFETCH(bool, flatX);
        QFETCH(uint, seed);
        // Three clusters far apart; triangle k takes its k-th corner from each, so no triangle
        // folds up and every face shows which points were merged.
        auto random = [&] {
            seed = seed * 1664525u + 1013904223u;
            return double(seed >> 8) / double(1 << 24);
        };
        std::vector<std::array<double, 3>> pts[3];
        for (int c = 0; c < 3; ++c)
            for (int cell = 0; cell < 125; ++cell) {
                if (random() < empty)
                    continue; // room between most cells
                double start[3];
                for (int k = 0; k < 3; ++k)
                    start[k] = (cell / (k == 0 ? 1 : k == 1 ? 5 : 25)) % 5 + (random() < 0.5 ? 0.0 : 1.0 - box);
                for (int i = 0; i < perCell; ++i) {
                    double q[3];
                    for (int k = 0; k < 3; ++k)
                        q[k] = (start[k] + random() * box) * 1e-6;
                    pts[c].push_back({offset + c + (flatX ? 0.0 : q[0]), c * 2.0 + q[1], q[2]});
                }
            }
        const int points = int(std::min({pts[0].size(), pts[1].size(), pts[2].size()}));
        for (auto& p : pts)
            p.resize(size_t(points));
        FileReaderWriter rw;
        MeshData mesh;
        rw.target = &mesh;
        for (int i = 0; i < points; ++i)
            for (int c = 0; c < 3; ++c)
                rw.corners.push_back({pts[c][size_t(i)][0], pts[c][size_t(i)][1], pts[c][size_t(i)][2], 0});
        QVERIFY(rw.weldVertices());

        // The rule itself: points within 1e-6 on every axis, joined transitively; each class
        // becomes the vertex at its smallest point.
        std::vector<std::array<double, 3>> expected;
        std::set<std::array<std::array<double, 3>, 3>> faces;
        std::vector<std::array<double, 3>> rep[3];
        for (int c = 0; c < 3; ++c) {
            const auto& p = pts[c];
            std::vector<int> cls(p.size());
            for (size_t i = 0; i < p.size(); ++i)
                cls[i] = int(i);
            for (bool changed = true; changed;) {
                changed = false;
                for (size_t i = 0; i < p.size(); ++i)
                    for (size_t j = 0; j < p.size(); ++j)
                        if (cls[j] < cls[i] && std::fabs(p[i][0] - p[j][0]) < 1e-6 && std::fabs(p[i][1] - p[j][1]) < 1e-6
                            && std::fabs(p[i][2] - p[j][2]) < 1e-6) {
                            cls[i] = cls[j];
                            changed = true;
                        }
            }
            std::map<int, std::array<double, 3>> smallest;
            for (size_t i = 0; i < p.size(); ++i) {
                auto it = smallest.find(cls[i]);
                if (it == smallest.end() || p[i] < it->second)
                    smallest[cls[i]] = p[i];
            }
            for (size_t i = 0; i < p.size(); ++i)
                rep[c].push_back(smallest[cls[i]]);
            for (const auto& e : smallest)
                expected.push_back(e.second);
        }
        std::sort(expected.begin(), expected.end());
        QCOMPARE(mesh.vertices, expected);
        for (int i = 0; i < points; ++i)
            faces.insert({rep[0][size_t(i)], rep[1][size_t(i)], rep[2][size_t(i)]});
        std::set<std::array<std::array<double, 3>, 3>> got;
        for (const auto& f : mesh.faces) {
            std::array<std::array<double, 3>, 3> t{mesh.vertices[size_t(f[0])], mesh.vertices[size_t(f[1])], mesh.vertices[size_t(f[2])]};
            while (t[0][1] != 0.0 + std::min({t[0][1], t[1][1], t[2][1]}))
                std::rotate(t.begin(), t.begin() + 1, t.end());
            got.insert(t);
        }
        QCOMPARE(got, faces);
        QVERIFY(expected.size() > 3 && expected.size() < size_t(3 * points)); // some merged, some not
    }

    void binaryLayout_data()
    {
        QTest::addColumn<int>("delta");
        QTest::addColumn<bool>("binary");
        QTest::newRow("134 bytes") << 0 << true;
        QTest::newRow("133 bytes") << -1 << false;
        QTest::newRow("135 bytes") << 1 << false;
    }
    void binaryLayout()
    {
        QFETCH(int, delta);
        QFETCH(bool, binary);
        QByteArray bytes = binaryStl({{{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}}});
        QCOMPARE(bytes.size(), 134);
        bytes.resize(134 + delta);
        const QString path = write("one.stl", bytes);
        FileReaderWriter rw;
        rw.fileName = path;
        QCOMPARE(rw.loadBinaryStl(), binary);
        QCOMPARE(rw.corners.size(), size_t(binary ? 3 : 0));
        MeshData mesh;
        QCOMPARE(rw.loadMesh(path, &mesh), binary);
    }

    void badFilesFail_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("reason");
        const float nan = std::nanf("");
        const QString none = "The file holds no triangles that can be used.";
        const QString notNumber = "The file holds a coordinate that is not a number.";
        QTest::newRow("count 0") << binaryStl({}) << none;
        QTest::newRow("truncated") << binaryStl(cubeTriangles(1)).left(84 + 50 * 5 + 20) << none;
        QTest::newRow("absurd count") << binaryStl(cubeTriangles(1), 0xffffffffLL) << none;
        QTest::newRow("NaN corner") << binaryStl({{{{0, 0, 0}, {nan, 0, 0}, {0, 1, 0}}}}) << notNumber;
        QTest::newRow("infinite corner") << binaryStl({{{{0, 0, 0}, {INFINITY, 0, 0}, {0, 1, 0}}}}) << notNumber;
        QTest::newRow("empty") << QByteArray() << none;
        QTest::newRow("long line") << QByteArray("solid x\n") + QByteArray(300, 'v') + "\n" << none;
        QTest::newRow("only keywords") << QByteArray("solid x\nfacet normal 0 0 1\nouter loop\nendloop\nendfacet\n") << none;
        QTest::newRow("all degenerate") << asciiStl({{{{0, 0, 0}, {0, 0, 0}, {1, 1, 1}}}}) << none;
        QTest::newRow("binary garbage") << QByteArray(1000, '\xff') << none;
        // Read and welded, but no printer can use them.
        const QString far = "The model reaches %1 mm from the origin; a printer can use at most 1000000 mm.";
        QTest::newRow("ascii coordinate 1e300")
            << QByteArray("solid t\nfacet normal 0 0 1\nouter loop\nvertex 0 0 0\nvertex 1e300 0 0\nvertex 0 1 0\nendloop\nendfacet\nendsolid\n")
            << far.arg("1e+300");
        QTest::newRow("binary coordinate 3e38") << binaryStl({{{{0, 0, 0}, {0, -3e38f, 0}, {0, 0, 1}}}}) << far.arg("3e+38");
    }
    void badFilesFail()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, reason);
        const QString path = write("bad.stl", bytes);
        FileReaderWriter rw;
        MeshData mesh;
        mesh.vertices.push_back({1, 2, 3});
        const bool welds = reason.contains("origin");
        QCOMPARE(rw.loadMesh(path, &mesh), welds);
        if (!welds) {
            QCOMPARE(rw.failureReason, reason);
            // A failed load leaves the target as it was.
            QCOMPARE(mesh.vertices.size(), size_t(1));
            QVERIFY(mesh.faces.empty());
        }
        LoadedModel loaded;
        QVERIFY(!rw.loadModel(path, loaded));
        QVERIFY(!loaded.isValid());
        QCOMPARE(rw.failureReason, reason);
        QVERIFY(!rw.loadMesh(dir.filePath("missing.stl"), &mesh));
        QCOMPARE(rw.failureReason, QString("The file cannot be opened."));
    }

    void asciiFacetsStayTogether()
    {
        // The second facet has a broken vertex line: only it is lost, the third stays whole.
        QByteArray text = "solid t\n"
                          "facet normal 0 0 1\nouter loop\nvertex 0 0 0\nvertex 1 0 0\nvertex 0 1 0\nendloop\nendfacet\n"
                          "facet normal 0 0 1\nouter loop\nvertex 5 5 5\nvertex 1 2\nvertex 6 5 5\nendloop\nendfacet\n"
                          "facet normal 0 0 1\nouter loop\nvertex 0 0 3\nvertex 1 0 3\nvertex 0 1 3\nendloop\nendfacet\n"
                          "facet normal 0 0 1\nouter loop\nvertex 0 0 9\nvertex x 0 9\nvertex 0 1 9\nendloop\nendfacet\n"
                          // No line feed at the very end: the last line still counts.
                          "facet normal 0 0 1\nouter loop\nvertex 0 0 7\nvertex 1 0 7\nvertex 0 1 7";
        const QString path = write("broken.stl", text);
        FileReaderWriter rw;
        MeshData mesh;
        QVERIFY(rw.loadMesh(path, &mesh));
        QCOMPARE(mesh.faces.size(), size_t(3));
        QCOMPARE(mesh.vertices.size(), size_t(9));
        for (const auto& v : mesh.vertices)
            QVERIFY(v[2] == 0 || v[2] == 3 || v[2] == 7);
    }

    void writerRoundTrip()
    {
        MeshData mesh;
        mesh.vertices = {{0, 0, 0}, {10, 0, 0}, {0, 10, 0}, {0, 0, 10}, {20, 0, 0}};
        mesh.faces = {{0, 2, 1}, {0, 1, 3}, {0, 3, 2}, {1, 2, 3}, {0, 1, 4}};
        FileReaderWriter rw;
        const QString path = dir.filePath("out.stl");
        QVERIFY(rw.saveMesh(path, &mesh));
        QCOMPARE(rw.getProgress(), 10000);
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        QCOMPARE(bytes.size(), 84 + 50 * 5);
        QCOMPARE(qFromLittleEndian<quint32>(bytes.constData() + 80), quint32(5));
        auto floatAt = [&](int offset) {
            float v;
            const quint32 bits = qFromLittleEndian<quint32>(bytes.constData() + offset);
            std::memcpy(&v, &bits, 4);
            return v;
        };
        // First face's normal points down; the zero-area last face gets (0, 0, 0).
        QCOMPARE(floatAt(84 + 8), -1.f);
        for (int k = 0; k < 3; ++k)
            QCOMPARE(floatAt(84 + 4 * 50 + 4 * k), 0.f);
        QCOMPARE(floatAt(84 + 50 + 12 + 12), 10.f);

        MeshData back;
        QVERIFY(rw.loadMesh(path, &back));
        QCOMPARE(back.faces.size(), size_t(5));
        QVERIFY(std::fabs(signedVolume(back) - 1000.0 / 6) < 1e-9);
    }

    void writerDispatchAndErrors()
    {
        MeshData mesh;
        mesh.vertices = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
        mesh.faces = {{0, 1, 2}};
        FileReaderWriter rw;
        QVERIFY(rw.saveMesh(dir.filePath("x.png"), &mesh));
        QVERIFY(!QFile::exists(dir.filePath("x.png")));
        QVERIFY(!rw.saveMesh(dir.filePath("x.ply"), &mesh));
        QVERIFY(!rw.saveMesh(dir.filePath("no/such/dir/x.stl"), &mesh));
        mesh.faces = {{0, 1, 3}};
        QVERIFY(!rw.saveMesh(dir.filePath("badindex.stl"), &mesh));
        if (QFile::exists("/dev/full")) {
            mesh.faces = {{0, 1, 2}};
            rw.fileName = "/dev/full";
            rw.source = &mesh;
            QVERIFY(!rw.saveBinaryStl());
        }
    }

    void loadModelNamesAndPrepares()
    {
        const QString path = write("my.part.stl", binaryStl(cubeTriangles(4.f)));
        FileReaderWriter rw;
        LoadedModel loaded;
        QVERIFY(rw.loadModel(path, loaded));
        QCOMPARE(loaded.model->name, std::string("my.part"));
        QCOMPARE(loaded.model->meshSlot, -1);
        QCOMPARE(loaded.model->size, (std::array<double, 3>{4, 4, 4}));
        QCOMPARE(loaded.model->position, (std::array<double, 3>{2, 2, 2}));
    }

    void largeGridEveryPath_data()
    {
        QTest::addColumn<bool>("binary");
        QTest::addColumn<bool>("noise"); // each coordinate of each corner off by its last bit
        // Enough corners and points for every threaded step of reading and welding.
        QTest::newRow("binary") << true << false;
        QTest::newRow("binary, float noise") << true << true;
        QTest::newRow("ascii") << false << false;
        QTest::newRow("ascii, float noise") << false << true;
    }
    void largeGridEveryPath()
    {
        QFETCH(bool, binary);
        QFETCH(bool, noise);
        // Below 8 mm a float's last bit is finer than the weld distance.
        std::vector<Tri> tris;
        const int nx = 200, ny = 150;
        const float step = 0.025f;
        uint32_t seed = 99;
        auto nudge = [&](float v) {
            if (!noise)
                return v;
            seed = seed * 1664525u + 1013904223u;
            quint32 bits;
            std::memcpy(&bits, &v, 4);
            bits ^= (seed >> 16) & 1u;
            std::memcpy(&v, &bits, 4);
            return v;
        };
        auto p = [&](int i, int j) { return std::array<float, 3>{nudge(i * step), nudge(j * step), nudge(1.0f)}; };
        for (int i = 0; i < nx; ++i)
            for (int j = 0; j < ny; ++j) {
                tris.push_back({p(i, j), p(i + 1, j), p(i + 1, j + 1)});
                tris.push_back({p(i, j), p(i + 1, j + 1), p(i, j + 1)});
            }
        FileReaderWriter rw;
        MeshData mesh;
        QVERIFY(rw.loadMesh(write("grid.stl", binary ? binaryStl(tris) : asciiStl(tris)), &mesh));
        QCOMPARE(int(mesh.faces.size()), 2 * nx * ny);
        QCOMPARE(int(mesh.vertices.size()), (nx + 1) * (ny + 1));
        // Every point welded to one read near it, none left unwritten.
        for (const auto& v : mesh.vertices)
            QVERIFY(v[0] > -1e-6 && v[0] < nx * 0.025 + 1e-6 && v[1] > -1e-6 && v[1] < ny * 0.025 + 1e-6 && std::fabs(v[2] - 1) < 1e-6);
        if (binary) {
            // A bad corner in the very last triangle fails the whole file.
            tris.back()[2][1] = std::nanf("");
            QVERIFY(!rw.loadMesh(write("gridnan.stl", binaryStl(tris)), &mesh));
            QCOMPARE(int(mesh.faces.size()), 2 * nx * ny);
        }
    }

    void asciiSplitAnywhere_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("faces");
        QTest::addColumn<int>("vertices");
        QTest::addColumn<int>("malformedLine"); // logged with its number, 0 for none
        const QByteArray broken =
            "solid t\n"
            "facet normal 0 0 1\nouter loop\nvertex 0 0 0\nvertex 1 0 0\nvertex 0 1 0\nendloop\nendfacet\n"
            "facet normal 0 0 1\nouter loop\nvertex 5 5 5\nvertex 1 2\nvertex 6 5 5\nendloop\nendfacet\n"
            "facet normal 0 0 1\nouter loop\nvertex 0 0 3\nvertex 1 0 3\nvertex 0 1 3\nendloop\nendfacet\n"
            "facet normal 0 0 1\nouter loop\nvertex 0 0 9\nvertex x 0 9\nvertex 0 1 9\nendloop\nendfacet\n"
            "facet normal 0 0 1\nouter loop\nvertex 0 0 7\nvertex 1 0 7\nvertex 0 1 7";
        QTest::newRow("broken facets") << broken << 3 << 9 << 12;
        QByteArray crlf = broken;
        crlf.replace("\n", "\r\n\t \r\n");
        QTest::newRow("CRLF, blank lines, tabs") << crlf << 3 << 9 << 23;
        QByteArray packed = "solid t\n";
        for (int k = 0; k < 40; ++k)
            packed += "v " + QByteArray::number(k) + " 0 0\nv " + QByteArray::number(k) + " 1 0\nv " + QByteArray::number(k)
                      + ".5 0 1e-1\ne\n";
        QTest::newRow("short lines, facets back to back") << packed << 40 << 120 << 0;
        // A line past the limit is dropped: as a vertex it spoils its facet, as anything else
        // it ends the facet open before it.
        const QByteArray lead = "solid t\nfacet\nvertex 0 0 0\nvertex 1 0 0\nvertex 0 1 0\n";
        const QByteArray tail = "facet\nvertex 0 0 2\nvertex 1 0 2\nvertex 0 1 2\nendfacet\n";
        QTest::newRow("overlong vertex line") << lead + "  vertex" + QByteArray((1 << 20) + 5000, '7') + "\n" + tail << 1 << 3 << 0;
        QTest::newRow("overlong keyword line")
            << lead + "endloop" + QByteArray((1 << 20) + 5000, ' ') + "x\n" + tail + "facet\nvertex 1 2\nendfacet\n" << 2 << 6 << 13;
        QTest::newRow("overlong last line") << lead + "endfacet\n" + QByteArray((1 << 20) + 5, 'v') << 1 << 3 << 0;
        // Vertex lines read in one pass must come out as when split into words: a number is its
        // whole word or the facet is dropped, and a line past the limit in blanks is dropped too.
        QTest::newRow("numbers at their edges")
            << QByteArray("solid t\nfacet\nv +1 2 3\nvertex\t+-1 2 3\nvertex 1e0 2.5E+0 3 \r\nendfacet\n"
                          "facet\nvertex 0 0 7\nvertex 1-2 7\nvertex 0 1 7\nendfacet\n"
                          "facet\nvertex 0 0 8\nvertex 1.5x 0 8\nvertex 0 1 8\nendfacet\n"
                          "facet\nvertex 0 0 9\nvertex 1 0 inf\nvertex 0 1 9\nendfacet\n"
                          "facet\nvertex 0 0 10\nvertex 1 0 10x\nvertex 0 1 10\nendfacet\n"
                          "facet\nvertex 0 0 11\nvertex 1 0 +\nvertex 0 1 11\nendfacet\n"
                          "facet\nvertex 0 0 13\nvertex 1 0 13,5\nvertex 0 1 13\nendfacet\n"
                          "facet\nvertex 0 0 14\nvertex 1e 0 14\nvertex 0 1 14\nendfacet\n"
                          "facet\nvertex 0 0 15\nvertex 1 0 15E+\nvertex 0 1 15\nendfacet\n"
                          "facet\nvertex 5 5 5\nvertex 6 5 5\nvertex 5 6 5 \t")
            << 2 << 6 << 9;
        QTest::newRow("five words on a vertex line")
            << QByteArray("solid t\nfacet\nvertex 0 0 0\nvertex 1 0 0 0\nvertex 0 1 0\nendfacet\n"
                          "facet\nvertex 0 0 1\nvertex 1 0 1\nvertex 0 1 1\n")
            << 1 << 3 << 4;
        QTest::newRow("overlong blanks after a vertex")
            << "solid t\nfacet\nvertex 0 0 0\nvertex 1 0 0\nvertex 0 1 0" + QByteArray((1 << 20) + 5, ' ') + "\n" + tail
            << 1 << 3 << 0;
    }
    void asciiSplitAnywhere()
    {
        QFETCH(QByteArray, text);
        QFETCH(int, faces);
        QFETCH(int, vertices);
        QFETCH(int, malformedLine);
        const QString path = write("split.stl", text);
        // Read whole, and in blocks that end inside words, numbers and line ends.
        for (size_t block : {size_t(0), size_t(5), size_t(64), size_t(4099)}) {
            if (block > 0 && size_t(text.size()) / block > 50000)
                continue; // a megabyte line in blocks of a few bytes only takes long
            AsciiStl::setBlockBytesForTests(block);
            LogCapture::instance().lines(true);
            FileReaderWriter rw;
            MeshData mesh;
            const bool ok = rw.loadMesh(path, &mesh);
            const QStringList log = LogCapture::instance().lines(true);
            AsciiStl::setBlockBytesForTests(0);
            QVERIFY2(ok, qPrintable(QString::number(block)));
            QCOMPARE(int(mesh.faces.size()), faces);
            QCOMPARE(int(mesh.vertices.size()), vertices);
            const QStringList malformed = log.filter(QStringLiteral("!4 at line"));
            QCOMPARE(malformed.size(), malformedLine ? 1 : 0);
            if (malformedLine)
                QVERIFY2(malformed[0].endsWith(QStringLiteral("!4 at line %1").arg(malformedLine)), qPrintable(malformed[0]));
        }
    }

    // Every coordinate comes out as from_chars reads it, whichever way it is converted.
    void asciiNumbersExact_data()
    {
        QTest::addColumn<QByteArray>("number");
        // The plain forms first, then those past what one exact multiply or divide can give, or
        // too long to add up in 64 bits.
        for (const char* n : {"0.1", "-1.25", "3.5e-05", "-0", ".5", "-.5", "5.", "1.e2", "+2.5", "7E+0", "1e22",
                              "9007199254740992", "5.9226e-19", "8.4511e-19", "1e23", "509.92969918985852",
                              "-3.5801832809014882e-06", "9007199254740993", "18446744073709551616",
                              "123456789012345678901e-10", "5E00214", "4.9e-324", "2.2250738585072011e-308",
                              "1.7976931348623157e308"})
            QTest::newRow(n) << QByteArray(n);
    }
    void asciiNumbersExact()
    {
        QFETCH(QByteArray, number);
        const QString path = write("number.stl", "solid t\nfacet\nvertex " + number + " 0 0\nvertex 0 1 0\nvertex 0 0 1\nendfacet\n");
        FileReaderWriter rw;
        MeshData mesh;
        QVERIFY(rw.loadMesh(path, &mesh));
        const char* b = number.constData() + (number.startsWith('+') ? 1 : 0);
        double expected = 0;
        QVERIFY(std::from_chars(b, number.constData() + number.size(), expected).ec == std::errc());
        const auto it = std::find_if(mesh.vertices.begin(), mesh.vertices.end(), [](const auto& v) { return v[1] == 0 && v[2] == 0; });
        QVERIFY(it != mesh.vertices.end());
        QVERIFY2(std::memcmp(&(*it)[0], &expected, sizeof expected) == 0, qPrintable(QString::number((*it)[0], 'g', 17)));
    }

    // A file cut short by another program while it is read is refused, whichever run meets
    // the cut: the bytes past the end are never parsed.
    void asciiFileShrinksWhileRead_data()
    {
        QTest::addColumn<qint64>("when"); // the offset of the first run that finds it shrunk
        QTest::addColumn<qint64>("to");   // bytes left, counted back from the end when negative
        QTest::newRow("to nothing, half way") << qint64(4096) << qint64(0);
        QTest::newRow("inside the run being read") << qint64(4096) << qint64(4096 + 10);
        QTest::newRow("by a byte, at the last run") << qint64(-1) << qint64(-1);
    }
    void asciiFileShrinksWhileRead()
    {
        QFETCH(qint64, when);
        QFETCH(qint64, to);
        std::vector<Tri> tris;
        for (int k = 0; k < 100; ++k)
            tris.push_back({{{0, 0, float(k)}, {1, 0, float(k)}, {0, 1, float(k)}}});
        const QByteArray text = asciiStl(tris);
        const QString path = write("shrinks.stl", text);
        const qint64 size = text.size();
        const qint64 at = when < 0 ? (size - 1) / 64 * 64 : when;
        const qint64 left = to < 0 ? size + to : to;
        std::atomic<bool> cut{false};
        AsciiStl::setBlockBytesForTests(64);
        AsciiStl::setBeforeReadForTests([&](qint64 offset) {
            if (offset >= at && !cut.exchange(true))
                QFile::resize(path, left);
        });
        FileReaderWriter rw;
        MeshData mesh;
        const bool ok = rw.loadMesh(path, &mesh);
        AsciiStl::setBeforeReadForTests({});
        AsciiStl::setBlockBytesForTests(0);
        QVERIFY(cut.load());
        QVERIFY(!ok);
        QCOMPARE(rw.failureReason, QString("The file holds no triangles that can be used."));
        QVERIFY(mesh.faces.empty());
    }

    void admeshAgrees()
    {
        // A sphere-like closed mesh, written by us and measured by admesh.
        MeshData mesh;
        const int slices = 24, stacks = 12;
        mesh.vertices.push_back({0, 0, 10});
        for (int i = 1; i < stacks; ++i)
            for (int j = 0; j < slices; ++j) {
                const double t = M_PI * i / stacks, p = 2 * M_PI * j / slices;
                mesh.vertices.push_back({10 * std::sin(t) * std::cos(p), 10 * std::sin(t) * std::sin(p), 10 * std::cos(t)});
            }
        mesh.vertices.push_back({0, 0, -10});
        const int bottom = int(mesh.vertices.size()) - 1;
        auto ring = [&](int i, int j) { return 1 + (i - 1) * slices + (j % slices); };
        for (int j = 0; j < slices; ++j) {
            mesh.faces.push_back({0, ring(1, j), ring(1, j + 1)});
            mesh.faces.push_back({bottom, ring(stacks - 1, j + 1), ring(stacks - 1, j)});
            for (int i = 1; i + 1 < stacks; ++i) {
                mesh.faces.push_back({ring(i, j), ring(i + 1, j), ring(i + 1, j + 1)});
                mesh.faces.push_back({ring(i, j), ring(i + 1, j + 1), ring(i, j + 1)});
            }
        }
        FileReaderWriter rw;
        const QString path = dir.filePath("sphere.stl");
        QVERIFY(rw.saveMesh(path, &mesh));
        const double volume = signedVolume(mesh);

        QProcess admesh;
        admesh.start("admesh", {path});
        QVERIFY2(admesh.waitForFinished(30000), "admesh (Debian package admesh) must be installed");
        const QString out = QString::fromLocal8Bit(admesh.readAllStandardOutput());
        const auto facets = QRegularExpression(R"(Number of facets\s*:\s*(\d+))").match(out);
        const auto vol = QRegularExpression(R"(Volume\s*:\s*([-0-9.eE+]+))").match(out);
        QVERIFY2(facets.hasMatch() && vol.hasMatch(), qPrintable(out));
        QCOMPARE(facets.captured(1).toInt(), int(mesh.faces.size()));
        QVERIFY2(std::fabs(vol.captured(1).toDouble() - volume) < 1e-3 * volume, qPrintable(vol.captured(1)));
    }
};

QTEST_GUILESS_MAIN(TestStl)
#include "tst_stl.moc"
