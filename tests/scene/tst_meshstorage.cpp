#include <QtTest>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <future>
#include <map>
#include <random>
#include <thread>

#include "scene/BigAllocator.h"
#include "scene/MeshData.h"
#include "scene/MeshList.h"
#include "scene/Parallel.h"
#include "scene/RadixSort.h"

using Face = std::array<int32_t, 3>;
using Faces = std::vector<Face>;
Q_DECLARE_METATYPE(Faces)

class TestMeshStorage : public QObject
{
    Q_OBJECT

private:
    static MeshData* tagged(double x)
    {
        auto* m = new MeshData();
        m->vertices.push_back({x, 0.0, 0.0});
        return m;
    }

private slots:
    void cleanup() { MeshList::clear(true); }

    void slotsAreReusedAndTrimmed()
    {
        MeshList* list = MeshList::instance();
        QCOMPARE(list->add(tagged(0)), 0);
        QCOMPARE(list->add(tagged(1)), 1);
        QCOMPARE(list->add(tagged(2)), 2);
        list->remove(1);
        QCOMPARE(list->size(), 3);
        QVERIFY(list->at(1) == nullptr);
        std::vector<int> empty;
        list->emptySlots(empty);
        QCOMPARE(empty, std::vector<int>{1});
        QCOMPARE(list->add(tagged(3)), 1);
        QCOMPARE(list->at(1)->vertices[0][0], 3.0);

        // Removing the last slot cuts every empty slot before it too.
        list->remove(1);
        list->remove(2);
        QCOMPARE(list->size(), 1);
        list->remove(0);
        QCOMPARE(list->size(), 0);
        QVERIFY(list->at(-1) == nullptr);
        QVERIFY(list->at(0) == nullptr);
        list->remove(7); // out of range: nothing but the trim
        QCOMPARE(list->size(), 0);
    }

    void setAtGrowsAndResetKeepsSlot()
    {
        MeshList* list = MeshList::instance();
        MeshData* m = tagged(5);
        list->setAt(5, m);
        QCOMPARE(list->size(), 6);
        std::vector<int> empty;
        list->emptySlots(empty);
        QCOMPARE(empty, (std::vector<int>{0, 1, 2, 3, 4}));
        QCOMPARE(list->add(tagged(0)), 0);
        list->resetAt(5);
        QVERIFY(list->at(5) == m);
        QVERIFY(m->vertices.empty());
        MeshList::clear(false);
        QCOMPARE(MeshList::instance()->size(), 0);
    }

    void appendOffsetsFaces()
    {
        MeshData dst;
        dst.vertices.assign(4, {0.0, 0.0, 0.0});
        dst.faces.push_back({0, 1, 2});
        MeshData src;
        src.vertices = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
        src.faces.push_back({0, 1, 2});
        MeshData::appendMesh(dst, src);
        QCOMPARE(dst.vertices.size(), size_t(7));
        QCOMPARE(dst.faces.back(), (Face{4, 5, 6}));
        QCOMPARE(dst.vertices[6][2], 1.0);
    }

    void transformIsColumnMajorAffine()
    {
        MeshData src;
        src.vertices = {{1, 2, 3}};
        src.faces.push_back({0, 0, 0});
        // Rotation of 90 degrees about Z, then a shift of (10, 20, 30); the last row is ignored.
        const double m[16] = {0, 1, 0, 5, -1, 0, 0, 5, 0, 0, 1, 5, 10, 20, 30, 9};
        MeshData out;
        MeshData::transform(src, m, out);
        QCOMPARE(out.vertices[0][0], 8.0);
        QCOMPARE(out.vertices[0][1], 21.0);
        QCOMPARE(out.vertices[0][2], 33.0);
        QCOMPARE(out.faces, src.faces);
    }

    void sortFaces_data()
    {
        QTest::addColumn<Faces>("in");
        QTest::addColumn<Faces>("out");
        QTest::newRow("rotate, sort, drop repeats and degenerate")
            << Faces{{2, 0, 1}, {0, 1, 2}, {1, 1, 3}, {0, 2, 1}} << Faces{{0, 1, 2}, {0, 2, 1}};
        QTest::newRow("winding kept") << Faces{{5, 2, 9}} << Faces{{2, 9, 5}};
        // First and last equal: the smallest index first still leaves a repeat at the ends.
        QTest::newRow("repeat at the ends") << Faces{{2, 5, 2}, {3, 1, 3}, {4, 4, 4}} << Faces{};
        QTest::newRow("opposite windings both kept") << Faces{{3, 2, 1}, {1, 2, 3}} << Faces{{1, 2, 3}, {1, 3, 2}};
    }

    void sortFaces()
    {
        QFETCH(Faces, in);
        QFETCH(Faces, out);
        MeshData m;
        m.vertices.assign(10, {0.0, 0.0, 0.0});
        m.faces = in;
        MeshData::sortFaces(m);
        QCOMPARE(m.faces, out);
    }

    void sortFacesLarge()
    {
        // Large enough to take the threaded sort.
        MeshData m;
        const int n = 300000;
        for (int i = n; i-- > 0;)
            m.faces.push_back({i + 2, i, i + 1});
        m.faces.push_back({0, 1, 2});
        MeshData::sortFaces(m);
        QCOMPARE(int(m.faces.size()), n);
        for (int i = 0; i < n; ++i)
            QVERIFY(m.faces[size_t(i)] == (Face{i, i + 1, i + 2}));
    }

    // The cut's sorts by place and by rank: the same order as a stable comparison sort, equal
    // keys in the order they came, on lists long enough to be sorted in ranges on several
    // threads and short enough to be sorted by insertion, keys of a few bits anywhere in the
    // word or of all 64.
    void radixSortKeepsOrder_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<quint64>("mask"); // the bits keys may differ in
        QTest::newRow("short list, equal keys") << 40 << quint64(0x7);
        QTest::newRow("ranges on threads, 34 bits") << 300000 << quint64((uint64_t(1) << 34) - 1);
        QTest::newRow("few keys, many equal") << 200000 << quint64(0x3);
        QTest::newRow("only the top bit") << 100000 << quint64(uint64_t(1) << 63);
        QTest::newRow("bits apart at both ends") << 100000 << quint64((uint64_t(1) << 63) | 1);
        QTest::newRow("all 64 bits") << 250000 << ~quint64(0);
        QTest::newRow("one key") << 5000 << quint64(0);
    }

    void radixSortKeepsOrder()
    {
        QFETCH(int, count);
        QFETCH(quint64, mask);
        struct Item
        {
            uint64_t key;
            int32_t at;
        };
        std::mt19937_64 rng{uint64_t(count) ^ mask};
        std::vector<Item> items(static_cast<size_t>(count));
        for (int i = 0; i < count; ++i)
            items[size_t(i)] = {(rng() & mask) | 0x10, i}; // a bit all share, which no pass needs
        std::vector<Item> want = items;
        std::stable_sort(want.begin(), want.end(), [](const Item& a, const Item& b) { return a.key < b.key; });
        radixSortRange(items.data(), items.size(), [](const Item& i) { return i.key; });
        for (size_t i = 0; i < items.size(); ++i)
            if (items[i].key != want[i].key || items[i].at != want[i].at)
                QFAIL(qPrintable(QString("place %1: key %2 (came %3), wanted %4 (came %5)")
                                     .arg(i).arg(items[i].key).arg(items[i].at).arg(want[i].key).arg(want[i].at)));
    }

    // Pairs of ids put in the order of both, with every entry kept: many pairs per first id,
    // as at a fan's centre.
    void sortByIdPairOrders()
    {
        std::mt19937 rng{7};
        std::vector<std::array<int32_t, 3>> list;
        for (int32_t i = 0; i < 50000; ++i)
            list.push_back({int32_t(rng() % 3000), int32_t(rng() % 3000), i});
        std::vector<std::array<int32_t, 3>> want = list;
        sortByIdPair(list, 3000, [](const auto& e) { return e[0]; }, [](const auto& e) { return e[1]; });
        QVERIFY(std::is_sorted(list.begin(), list.end(), [](const auto& a, const auto& b) { return a[0] != b[0] ? a[0] < b[0] : a[1] < b[1]; }));
        std::sort(want.begin(), want.end());
        std::sort(list.begin(), list.end());
        QVERIFY(list == want);
    }

    // Place keys order points by x, then y, and are equal just for equal points: on a small
    // grid either side of zero, and where the spans do not fit in one word together, which
    // takes the ranks of a comparison sort instead.
    void placeKeysOrderPoints_data()
    {
        QTest::addColumn<qint64>("scale");
        QTest::addColumn<bool>("extremes"); // points at the ends of the 64-bit range too
        QTest::newRow("micrometres either side of zero") << qint64(1) << false;
        QTest::newRow("spans of 2^40 each") << qint64(int64_t(1) << 37) << false;
        QTest::newRow("the whole 64-bit range") << qint64(int64_t(1) << 59) << true;
    }

    void placeKeysOrderPoints()
    {
        QFETCH(qint64, scale);
        QFETCH(bool, extremes);
        std::mt19937_64 rng{uint64_t(scale)};
        std::vector<std::array<int64_t, 2>> pts;
        for (int i = 0; i < 3000; ++i)
            pts.push_back({(int64_t(rng() % 15) - 7) * scale, (int64_t(rng() % 15) - 7) * scale});
        if (extremes)
            for (const auto& p : {std::array<int64_t, 2>{INT64_MIN, INT64_MAX}, {INT64_MAX, INT64_MIN}, {INT64_MIN, INT64_MIN}})
                pts.insert(pts.begin() + long(pts.size() / 2), p);
        std::vector<uint64_t> keys(pts.size(), 0);
        placeKeys(pts.size(), [&](size_t i) -> const std::array<int64_t, 2>& { return pts[i]; },
                  [&](size_t i, uint64_t k) { keys[i] = k; });
        for (size_t i = 0; i < pts.size(); i += 7)
            for (size_t j = 0; j < pts.size(); j += 5)
                if ((pts[i] < pts[j]) != (keys[i] < keys[j]) || (pts[i] == pts[j]) != (keys[i] == keys[j]))
                    QFAIL(qPrintable(QString("points %1 and %2 keyed out of order").arg(i).arg(j)));
    }

    // Large blocks of operator new start on a huge page and are whole; small ones, and blocks
    // too large to have, behave as the library's do.
    void operatorNewBlocks_data()
    {
        QTest::addColumn<qint64>("bytes");
        QTest::newRow("small") << qint64(1000);
        QTest::newRow("just below huge") << qint64((1 << 20) - 8);
        QTest::newRow("huge, 1 MB") << qint64(1 << 20);
        QTest::newRow("huge, not a whole page") << qint64((6 << 20) + 24);
        QTest::newRow("huge, whole pages") << qint64(16 << 20);
        QTest::newRow("zero") << qint64(0);
    }

    void operatorNewBlocks()
    {
        QFETCH(qint64, bytes);
        const size_t n = size_t(bytes);
        std::vector<char> v(n, 'x');
        if (n > 0) {
            QCOMPARE(v.front(), 'x');
            QCOMPARE(v.back(), 'x');
        }
#if defined(__linux__) && !defined(__SANITIZE_ADDRESS__) && !(defined(__has_feature) && __has_feature(address_sanitizer))
        // Under AddressSanitizer its own operator new is used.
        const bool huge = n >= (size_t(1) << 20);
        if (n > 0)
            QCOMPARE(reinterpret_cast<uintptr_t>(v.data()) % (uintptr_t(2) << 20) == 0, huge);
#endif
        // The lists of scratch arrays take huge pages from the same size, themselves.
        HugeList<char> list(n);
        if (n > 0)
            QCOMPARE(reinterpret_cast<uintptr_t>(list.data()) % (uintptr_t(2) << 20) == 0, n >= (size_t(1) << 20));
        // Room made for more, touched page by page on every core, keeps what the list holds.
        std::vector<uint32_t> items(n / 4);
        for (size_t i = 0; i < items.size(); ++i)
            items[i] = uint32_t(i) * 2654435761u + 0x5au;
        reserveHuge(items, 2 * items.size() + 1);
        for (size_t i = 0; i < items.size(); ++i)
            if (items[i] != uint32_t(i) * 2654435761u + 0x5au)
                QFAIL(qPrintable(QString("item %1 lost").arg(i)));
        char* a = new char[n];
        delete[] a;
        void* nothrow = ::operator new(n, std::nothrow);
        QVERIFY(nothrow != nullptr);
        ::operator delete(nothrow);
    }

    void operatorNewTooLarge()
    {
#if defined(__linux__) && !defined(__SANITIZE_ADDRESS__) && !(defined(__has_feature) && __has_feature(address_sanitizer))
        // AddressSanitizer's own operator new ends the program on such a size instead.
        volatile size_t asked = SIZE_MAX - 4096; // not known to the compiler, which would warn
        const size_t tooLarge = asked;
        QVERIFY(::operator new(tooLarge, std::nothrow) == nullptr);
        bool thrown = false;
        try {
            void* p = ::operator new(tooLarge);
            ::operator delete(p);
        } catch (const std::bad_alloc&) {
            thrown = true;
        }
        QVERIFY(thrown);
#endif
    }

    // Large blocks given back are kept for a later block of about their size, within a bound
    // on all kept; a block that is no fit, or one of malloc off a huge page's boundary, is not
    // taken or kept; threads taking and giving back blocks at once never share one.
    void keptBlocks_data()
    {
        QTest::addColumn<qint64>("limit");
        QTest::addColumn<qint64>("first");  // bytes given back; below zero from malloc
        QTest::addColumn<qint64>("second"); // bytes then asked for
        QTest::addColumn<bool>("same");     // the first block comes back
        QTest::newRow("the same size again") << qint64(64 << 20) << qint64(6 << 20) << qint64(6 << 20) << true;
        QTest::newRow("far smaller: not wasted") << qint64(64 << 20) << qint64(16 << 20) << qint64(2 << 20) << false;
        QTest::newRow("beyond the bound") << qint64(4 << 20) << qint64(6 << 20) << qint64(6 << 20) << false;
        QTest::newRow("from malloc") << qint64(64 << 20) << qint64(-(3 << 20) - 16) << qint64(3 << 20) << false;
    }

    void keptBlocks()
    {
        QFETCH(qint64, limit);
        QFETCH(qint64, first);
        QFETCH(qint64, second);
        QFETCH(bool, same);
        const size_t before = keptBlockLimit();
        const auto restore = qScopeGuard([&] {
            setKeptBlockLimit(0);
            setKeptBlockLimit(before);
        });
        setKeptBlockLimit(0);
        setKeptBlockLimit(size_t(limit));
        // A block of malloc lies on a huge page's boundary only by chance: another is asked for then.
        std::vector<void*> onBoundary;
        void* a = first > 0 ? allocateBlock(size_t(first)) : std::malloc(size_t(-first));
        while (first < 0 && reinterpret_cast<uintptr_t>(a) % (uintptr_t(2) << 20) == 0 && onBoundary.size() < 8) {
            onBoundary.push_back(a);
            a = std::malloc(size_t(-first));
        }
        for (void* p : onBoundary)
            std::free(p);
        QVERIFY(a != nullptr);
        releaseBlock(a);
        const bool kept = keptBlockBytes() >= size_t(std::abs(first));
        QVERIFY(keptBlockBytes() <= size_t(limit));
        void* b = allocateBlock(size_t(second));
        QCOMPARE(reinterpret_cast<uintptr_t>(b) % (uintptr_t(2) << 20), uintptr_t(0));
        // Compared only while the first is kept: one given back to malloc may come back there.
        QCOMPARE(kept && b == a, same);
        QCOMPARE(kept, same || (first > 0 && size_t(first) <= size_t(limit)));
        releaseBlock(b);
        if (QByteArray(QTest::currentDataTag()) != "the same size again")
            return;
        std::atomic<int> clashes{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < 8; ++t)
            threads.emplace_back([t, &clashes] {
                std::mt19937 rng{uint32_t(t)};
                for (int i = 0; i < 3000; ++i) {
                    const size_t bytes = (size_t(1) << 20) + size_t(rng() % (2u << 20));
                    auto* p = static_cast<uint32_t*>(allocateBlock(bytes));
                    const uint32_t mark = uint32_t(t * 100000 + i), last = uint32_t(bytes / 4 - 1);
                    p[0] = p[last] = mark;
                    std::this_thread::yield();
                    clashes += p[0] != mark || p[last] != mark;
                    releaseBlock(p);
                }
            });
        for (auto& th : threads)
            th.join();
        QCOMPARE(clashes.load(), 0);
#if defined(__linux__) && !defined(__SANITIZE_ADDRESS__) && !(defined(__has_feature) && __has_feature(address_sanitizer))
        // A list's room given back through operator delete is kept too (not under
        // AddressSanitizer, whose own operator delete is used).
        uintptr_t was = 0;
        {
            std::vector<char> v(size_t(5) << 20, 'x');
            was = reinterpret_cast<uintptr_t>(v.data());
        }
        std::vector<char> again(size_t(5) << 20, 'y');
        QCOMPARE(reinterpret_cast<uintptr_t>(again.data()), was);
#endif
    }

    // The threads of parallel steps are kept and shared: a part that runs parts of its own,
    // several callers at once, or a part that throws must neither hang nor lose a part. The
    // throwing row comes first, so that the rows after it show the threads still work.
    void parallelStepsShareKeptThreads_data()
    {
        QTest::addColumn<int>("callers");
        QTest::addColumn<int>("outer");
        QTest::addColumn<int>("inner");
        QTest::addColumn<int>("throwing"); // the outer part that throws once its step is done
        QTest::newRow("a part throws, the rest still end") << 1 << 8 << 1 << 3;
        QTest::newRow("every part with a step of its own") << 1 << 8 << 8 << -1;
        QTest::newRow("callers on threads of their own at once") << 12 << 8 << 4 << -1;
    }

    void parallelStepsShareKeptThreads()
    {
        QFETCH(int, callers);
        QFETCH(int, outer);
        QFETCH(int, inner);
        QFETCH(int, throwing);
        auto one = [=] {
            std::vector<std::atomic<int>> runs(size_t(outer * inner));
            std::atomic<bool> firstHere{false};
            const auto caller = std::this_thread::get_id();
            bool thrown = false;
            try {
                runParts(size_t(outer), [&](size_t o) {
                    if (o == 0)
                        firstHere = std::this_thread::get_id() == caller;
                    // The others end later than the thrower: the caller must wait for them.
                    std::this_thread::sleep_for(std::chrono::milliseconds(throwing >= 0 && int(o) != throwing ? 20 : 0));
                    runParts(size_t(inner), [&](size_t i) { ++runs[o * size_t(inner) + i]; });
                    if (int(o) == throwing)
                        throw std::runtime_error("thrown");
                });
            } catch (const std::runtime_error&) {
                thrown = true;
            }
            bool once = true;
            for (const auto& r : runs)
                once = once && r.load() == 1;
            return once && firstHere.load() && thrown == (throwing >= 0);
        };
        // A hang shows as a failure, not as a test that never ends.
        std::vector<std::future<bool>> done;
        for (int c = 0; c < callers; ++c)
            done.push_back(std::async(std::launch::async, one));
        for (auto& d : done) {
            QVERIFY2(d.wait_for(std::chrono::seconds(30)) == std::future_status::ready, "a parallel step never ended");
            QVERIFY(d.get());
        }
    }

    void normals_data()
    {
        QTest::addColumn<bool>("reversed");
        QTest::newRow("counter-clockwise") << false;
        QTest::newRow("clockwise") << true;
    }

    void normals()
    {
        QFETCH(bool, reversed);
        MeshData m;
        m.vertices = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {5, 5, 5}, {7, 7, 7}};
        m.faces.push_back(reversed ? Face{0, 2, 1} : Face{0, 1, 2});
        m.faces.push_back({3, 4, 3}); // zero area
        MeshData::computeNormals(m);
        QCOMPARE(m.normals.size(), m.vertices.size());
        const double z = reversed ? -1.0 : 1.0;
        for (int i = 0; i < 3; ++i)
            QCOMPARE(m.normals[size_t(i)], (std::array<double, 3>{0.0, 0.0, z}));
        // A zero-area face adds nothing; its vertices keep a clean zero normal.
        for (int i = 3; i < 5; ++i)
            QCOMPARE(m.normals[size_t(i)], (std::array<double, 3>{0.0, 0.0, 0.0}));
        // A stopped load leaves them as they were.
        const std::atomic<bool> stop{true};
        m.normals.clear();
        QVERIFY(!MeshData::computeNormals(m, &stop));
        QVERIFY(m.normals.empty());
    }

    // Large meshes are summed on every core, each vertex by one core in face order: the same
    // normals to the last bit as a mesh of a vertex's own faces alone, summed in one pass,
    // whatever order the faces come in and with faces that name no vertex left out.
    void normalsOnEveryCore()
    {
        constexpr int Side = 300;
        MeshData m;
        for (int j = 0; j <= Side; ++j)
            for (int i = 0; i <= Side; ++i)
                m.vertices.push_back({double(i), double(j), std::sin(i * 0.37) * std::cos(j * 0.23)});
        for (int j = 0; j < Side; ++j)
            for (int i = 0; i < Side; ++i) {
                const int v = j * (Side + 1) + i;
                m.faces.push_back({v, v + 1, v + Side + 2});
                m.faces.push_back({v, v + Side + 2, v + Side + 1});
            }
        std::shuffle(m.faces.begin(), m.faces.end(), std::mt19937(7));
        m.faces[m.faces.size() / 3] = {0, 1, int32_t(m.vertices.size())};
        m.faces[m.faces.size() / 2] = {-1, 5, 6};
        QVERIFY(MeshData::computeNormals(m));
        const auto nv = int32_t(m.vertices.size());
        for (int32_t v = 0; v < nv; v += 31) {
            MeshData own;
            std::map<int32_t, int32_t> idOf;
            auto id = [&](int32_t w) {
                const auto it = idOf.emplace(w, int32_t(own.vertices.size())).first;
                if (it->second == int32_t(own.vertices.size()))
                    own.vertices.push_back(m.vertices[size_t(w)]);
                return it->second;
            };
            for (const auto& f : m.faces)
                if ((f[0] == v || f[1] == v || f[2] == v) && std::min({f[0], f[1], f[2]}) >= 0 && std::max({f[0], f[1], f[2]}) < nv)
                    own.faces.push_back({id(f[0]), id(f[1]), id(f[2])});
            QVERIFY(MeshData::computeNormals(own));
            if (own.normals[size_t(id(v))] != m.normals[size_t(v)])
                QFAIL(qPrintable(QString("vertex %1 differs").arg(v)));
        }
    }

    void normalsAverageFaces()
    {
        MeshData m;
        m.vertices = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
        m.faces = {{0, 2, 1}, {0, 1, 3}};
        MeshData::computeNormals(m);
        const auto& n = m.normals[0];
        QVERIFY(std::fabs(n[0]) < 1e-12);
        QVERIFY(std::fabs(n[1] + std::sqrt(0.5)) < 1e-12);
        QVERIFY(std::fabs(n[2] + std::sqrt(0.5)) < 1e-12);
    }
};

QTEST_GUILESS_MAIN(TestMeshStorage)
#include "tst_meshstorage.moc"
