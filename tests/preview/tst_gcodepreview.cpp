// The tool-path preview container: bars, caps, normals, layer heights across batches and
// the clip height of the layer slider.
#include <QtTest>

#include <cmath>

#include "render/GcodePreviewData.h"
#include "scene/MeshData.h"
#include "support/Parallelepiped.h"

namespace {

struct Move
{
    int type;
    double x, y, z;
};

// Feeds moves; a -1 entry ends a batch, which is then taken and released as the renderer does.
std::vector<ToolPathMesh> feed(GcodePreviewData& d, const std::vector<Move>& moves)
{
    std::vector<ToolPathMesh> chunks;
    for (const Move& m : moves) {
        d.addPathPoint(m.type, m.x, m.y, m.z);
        if (m.type == -1) {
            d.publishChunk();
            const bool taken = d.takeChunk([&](const ToolPathMesh& c) { chunks.push_back(c); });
            if (!taken)
                qFatal("batch not taken");
        }
    }
    return chunks;
}

// A square loop of extrusion at each height, reached by a travel; the end marker closes it.
std::vector<Move> squareLayers(const std::vector<double>& zs, bool endMarker = true)
{
    std::vector<Move> m;
    for (double z : zs) {
        m.push_back({0, 0, 0, z});
        m.push_back({1, 10, 0, z});
        m.push_back({1, 10, 10, z});
        m.push_back({1, 0, 10, z});
        m.push_back({1, 0, 0, z});
    }
    if (endMarker)
        m.push_back({-1, 0, 0, zs.back() + 0.2});
    return m;
}

int barCount(const std::vector<ToolPathMesh>& chunks)
{
    int n = 0;
    for (const auto& c : chunks)
        n += c.vertexCount() / 8;
    return n;
}

QVector3D vec(const ToolPathMesh& m, uint32_t i)
{
    return QVector3D(m.vertices[3 * i], m.vertices[3 * i + 1], m.vertices[3 * i + 2]);
}

} // namespace

class TestGcodePreview : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void barsMatchTheBoxSolid();
    void barsAreClosedOutwardWithRadialNormals_data();
    void barsAreClosedOutwardWithRadialNormals();
    void barSideFollowsTheThinnerGap_data();
    void barSideFollowsTheThinnerGap();
    void flatFileBuildsOnlyAtTheMarker();
    void batchSplitKeepsEverySegmentAndHeight_data();
    void batchSplitKeepsEverySegmentAndHeight();
    void appendSolidMeshRefusesOtherShapes();
    void clipHeight_data();
    void clipHeight();
};

void TestGcodePreview::init()
{
    chunkPending.store(0);
    layerStep.store(1);
}

void TestGcodePreview::barsMatchTheBoxSolid()
{
    // The fast bar writer must give the same box as the support solid it stands for.
    GcodePreviewData d;
    auto chunks = feed(d, {{0, 1, 2, 0.3}, {1, 4, 6, 0.3}, {1, 4, 6, 0.3}, {-1, 4, 6, 0.5}});
    QCOMPARE(chunks.size(), size_t(1));
    const ToolPathMesh& fast = chunks[0];
    QCOMPARE(fast.vertexCount(), 8);
    QCOMPARE(fast.triangleCount(), 12); // after a travel: with caps

    // First layer: 0.3 above the bed, 0.2 below the marker; the thinner gap sets the side.
    const double s = 0.2 * 0.7;
    Eigen::Vector3d a(1, 2, 0.3), b(4, 6, 0.3), dvec = b - a;
    Parallelepiped box((a + b) * 0.5, s, s, dvec.norm());
    box.u = Eigen::Vector3d(0, 0, 1);
    box.v = Eigen::Vector3d(dvec.y(), -dvec.x(), 0).normalized();
    box.w = dvec.normalized();
    MeshData mesh;
    QVERIFY(box.buildMesh(mesh));

    for (int i = 0; i < 8; ++i)
        for (int k = 0; k < 3; ++k)
            QVERIFY2(std::abs(fast.vertices[size_t(3 * i + k)] - float(mesh.vertices[size_t(i)][size_t(k)])) < 1e-5f,
                     qPrintable(QString("vertex %1").arg(i)));
    for (int t = 0; t < 12; ++t)
        for (int k = 0; k < 3; ++k)
            QCOMPARE(int(fast.triangles[size_t(3 * t + k)]), mesh.faces[size_t(t)][size_t(k)]);
}

void TestGcodePreview::barsAreClosedOutwardWithRadialNormals_data()
{
    QTest::addColumn<double>("dx");
    QTest::addColumn<double>("dy");
    QTest::addColumn<double>("dz");
    QTest::newRow("along x") << 5.0 << 0.0 << 0.0;
    QTest::newRow("diagonal back") << -3.0 << -4.0 << 0.0;
    QTest::newRow("rising") << 2.0 << 1.0 << 0.1;
    QTest::newRow("straight up") << 0.0 << 0.0 << 0.15;
    QTest::newRow("straight down") << 0.0 << 0.0 << -0.15;
}

void TestGcodePreview::barsAreClosedOutwardWithRadialNormals()
{
    QFETCH(double, dx);
    QFETCH(double, dy);
    QFETCH(double, dz);
    // A travel to the start, then one extruding move; the marker far above closes the layer.
    GcodePreviewData d;
    const double z0 = 0.4;
    auto chunks = feed(d, {{0, 1, 1, z0}, {1, 1, 1, z0}, {1, 1 + dx, 1 + dy, z0 + dz}, {-1, 0, 0, 3.0}});
    QCOMPARE(chunks.size(), size_t(1));
    const ToolPathMesh& m = chunks[0];
    QCOMPARE(m.vertexCount(), 8);
    QCOMPARE(m.triangleCount(), 8); // the previous point extrudes: no caps
    QVector3D centre;
    for (uint32_t i = 0; i < 8; ++i)
        centre += vec(m, i) / 8.0f;
    for (float f : m.vertices)
        QVERIFY(std::isfinite(f));
    const QVector3D axis = QVector3D(float(dx), float(dy), float(dz)).normalized();
    for (uint32_t i = 0; i < 8; ++i) {
        const QVector3D n(m.normals[3 * i], m.normals[3 * i + 1], m.normals[3 * i + 2]);
        QVERIFY(std::abs(n.length() - 1.0f) < 1e-4f);
        if (dz == 0.0 || (dx == 0.0 && dy == 0.0))
            QVERIFY(std::abs(QVector3D::dotProduct(n, axis)) < 1e-4f);
        QVERIFY(QVector3D::dotProduct(n, vec(m, i) - centre) > 0);
    }
    for (int t = 0; t < m.triangleCount(); ++t) {
        const QVector3D a = vec(m, m.triangles[size_t(3 * t)]), b = vec(m, m.triangles[size_t(3 * t + 1)]),
                        c = vec(m, m.triangles[size_t(3 * t + 2)]);
        const QVector3D faceN = QVector3D::crossProduct(b - a, c - a);
        QVERIFY2(QVector3D::dotProduct(faceN, (a + b + c) / 3.0f - centre) > 0,
                 qPrintable(QString("triangle %1 faces inward").arg(t)));
    }
}

void TestGcodePreview::barSideFollowsTheThinnerGap_data()
{
    QTest::addColumn<int>("laps"); // times round the square in each layer
    QTest::newRow("one lap") << 1;
    // Enough bars to be built on several threads, each layer's part in its place.
    QTest::newRow("3,000 laps") << 3000;
}

void TestGcodePreview::barSideFollowsTheThinnerGap()
{
    // Layers at 0.3, 0.5, 0.6: the first uses its own gap to the bed (0.3) and the one above
    // (0.2); the last is closed by the marker 0.2 above it.
    QFETCH(int, laps);
    const std::vector<double> zs = {0.3, 0.5, 0.6};
    std::vector<Move> moves;
    for (double z : zs) {
        moves.push_back({0, 0, 0, z});
        for (int lap = 0; lap < laps; ++lap)
            for (const Move& corner : {Move{1, 10, 0, z}, Move{1, 10, 10, z}, Move{1, 0, 10, z}, Move{1, 0, 0, z}})
                moves.push_back(corner);
    }
    moves.push_back({-1, 0, 0, zs.back() + 0.2});
    GcodePreviewData d;
    d.setBatchHint(moves.size());
    auto chunks = feed(d, moves);
    QCOMPARE(chunks.size(), size_t(1));
    const ToolPathMesh& m = chunks[0];
    QCOMPARE(barCount(chunks), 12 * laps);
    const double expected[3] = {0.2 * 0.7, 0.1 * 0.7, 0.1 * 0.7};
    // Every bar in the order of its move: across the move by its layer's side, centred on it.
    int bar = 0;
    for (size_t k = 1; k < moves.size(); ++k) {
        if (moves[k].type != 1)
            continue;
        const int layer = moves[k].z < 0.4 ? 0 : moves[k].z < 0.55 ? 1 : 2;
        const float side = (vec(m, uint32_t(bar * 8)) - vec(m, uint32_t(bar * 8 + 1))).length();
        QVERIFY2(std::abs(side - float(expected[layer])) < 1e-5f, qPrintable(QString::number(side)));
        QVector3D centre;
        for (uint32_t i = 0; i < 8; ++i)
            centre += vec(m, uint32_t(bar * 8) + i) / 8.0f;
        const QVector3D mid(float(moves[k].x + moves[k - 1].x) / 2, float(moves[k].y + moves[k - 1].y) / 2,
                            float(moves[k].z));
        QVERIFY2((centre - mid).length() < 1e-4f, qPrintable(QString("bar %1").arg(bar)));
        ++bar;
    }
    QCOMPARE(bar, barCount(chunks));
    // The triangles of bar b use its own eight corners; only the first bar of a layer (after
    // its travel) has caps.
    int at = 0;
    for (int b = 0; b < bar; ++b) {
        const int triangles = b % (4 * laps) == 0 ? 12 : 8;
        for (int t = 0; t < triangles * 3; ++t)
            QVERIFY(m.triangles[size_t(at + t)] / 8 == uint32_t(b));
        at += triangles * 3;
    }
    QCOMPARE(at, m.triangleCount() * 3);
    QCOMPARE(d.layerHeightList(), zs);
}

void TestGcodePreview::flatFileBuildsOnlyAtTheMarker()
{
    GcodePreviewData d;
    auto moves = squareLayers({0.3}, false);
    for (const Move& m : moves)
        d.addPathPoint(m.type, m.x, m.y, m.z);
    QVERIFY(d.currentChunk() == nullptr);
    auto chunks = feed(d, {{-1, 0, 0, 0.5}});
    QCOMPARE(barCount(chunks), 4);
    QCOMPARE(chunks[0].triangleCount(), 12 + 3 * 8); // only the first bar follows a travel
}

void TestGcodePreview::batchSplitKeepsEverySegmentAndHeight_data()
{
    QTest::addColumn<int>("splitAfter");
    QTest::newRow("inside a layer") << 7;
    QTest::newRow("at a layer's end") << 10;
    QTest::newRow("after the first move") << 1;
}

void TestGcodePreview::batchSplitKeepsEverySegmentAndHeight()
{
    QFETCH(int, splitAfter);
    const std::vector<double> zs = {0.3, 0.5, 0.7, 0.9};
    auto whole = squareLayers(zs, false);

    GcodePreviewData one;
    auto a = whole;
    a.push_back({-1, 0, 0, 1.1});
    const auto chunksOne = feed(one, a);

    // The same moves in two batches, each closed by a marker at the current position.
    GcodePreviewData two;
    std::vector<Move> b(whole.begin(), whole.begin() + splitAfter);
    b.push_back({-1, b.back().x, b.back().y, b.back().z + 0.2});
    b.insert(b.end(), whole.begin() + splitAfter, whole.end());
    b.push_back({-1, 0, 0, 1.1});
    const auto chunksTwo = feed(two, b);

    QCOMPARE(barCount(chunksTwo), barCount(chunksOne));
    QCOMPARE(barCount(chunksOne), 16);
    QCOMPARE(two.layerHeightList(), zs);
    QCOMPARE(one.layerHeightList(), zs);
}

void TestGcodePreview::appendSolidMeshRefusesOtherShapes()
{
    GcodePreviewData d;
    MeshData m;
    QVERIFY(!d.appendSolidMesh(m, true));
    Parallelepiped box(Eigen::Vector3d(0, 0, 0), 1, 1, 1);
    QVERIFY(box.buildMesh(m));
    m.faces[3][1] = 8; // names a vertex the box does not have
    QVERIFY(!d.appendSolidMesh(m, false));
    m.faces.pop_back();
    QVERIFY(!d.appendSolidMesh(m, false));
}

void TestGcodePreview::clipHeight_data()
{
    QTest::addColumn<std::vector<double>>("layers");
    QTest::addColumn<int>("step");
    QTest::addColumn<int>("slider");
    QTest::addColumn<double>("clip");
    const std::vector<double> h = {0.3, 0.5, 0.6, 0.9, 1.1};
    QTest::newRow("below one step") << h << 2 << 1 << 0.0;
    QTest::newRow("zero") << h << 1 << 0 << 0.0;
    QTest::newRow("negative") << h << 1 << -5 << 0.0;
    QTest::newRow("two layers only") << std::vector<double>{0.3, 0.5} << 1 << 1 << 1000.0;
    QTest::newRow("lower gap on the upper side") << h << 1 << 1 << 0.55;
    QTest::newRow("lower gap below") << h << 1 << 2 << 0.65;
    QTest::newRow("divided by the step") << h << 2 << 5 << 0.65;
    QTest::newRow("top layer whole") << h << 1 << 4 << 1.2;
    QTest::newRow("past the top") << h << 1 << 99 << 1.2;
}

Q_DECLARE_METATYPE(std::vector<double>)

void TestGcodePreview::clipHeight()
{
    QFETCH(std::vector<double>, layers);
    QFETCH(int, step);
    QFETCH(int, slider);
    QFETCH(double, clip);
    GcodePreviewData d;
    std::vector<double> zs = layers;
    feed(d, squareLayers(zs));
    QCOMPARE(d.layerHeightList(), layers);
    layerStep.store(step);
    QVERIFY2(std::abs(d.clipHeightForLayer(slider) - clip) < 1e-9, qPrintable(QString::number(d.clipHeightForLayer(slider))));
}

QTEST_GUILESS_MAIN(TestGcodePreview)
#include "tst_gcodepreview.moc"
