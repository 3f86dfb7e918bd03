#include "FileRW/PolygonTriangulator.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr double kEps = 1e-6;

double cross2(const PolygonTriangulator::Point2& a, const PolygonTriangulator::Point2& b)
{
    return a[0] * b[1] - a[1] * b[0];
}

PolygonTriangulator::Point2 sub2(const PolygonTriangulator::Point2& a, const PolygonTriangulator::Point2& b)
{
    return {a[0] - b[0], a[1] - b[1]};
}

PolygonTriangulator::Point3 sub3(const PolygonTriangulator::Point3& a, const PolygonTriangulator::Point3& b)
{
    return {a[0] - b[0], a[1] - b[1], a[2] - b[2]};
}

PolygonTriangulator::Point3 cross3(const PolygonTriangulator::Point3& a, const PolygonTriangulator::Point3& b)
{
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

double length3(const PolygonTriangulator::Point3& a)
{
    return std::sqrt(a[0] * a[0] + a[1] * a[1] + a[2] * a[2]);
}

// Newell's normal: the polygon's area vector, defined for any simple polygon even when
// the corners around the extreme point are collinear.
PolygonTriangulator::Point3 newellNormal(const std::vector<PolygonTriangulator::Point3>& p)
{
    PolygonTriangulator::Point3 n{0.0, 0.0, 0.0};
    const size_t count = p.size();
    for (size_t i = 0; i < count; ++i) {
        const auto& a = p[i];
        const auto& b = p[(i + 1) % count];
        n[0] += (a[1] - b[1]) * (a[2] + b[2]);
        n[1] += (a[2] - b[2]) * (a[0] + b[0]);
        n[2] += (a[0] - b[0]) * (a[1] + b[1]);
    }
    return n;
}
} // namespace

bool PolygonTriangulator::projectPolygon(const std::vector<Point3>& p)
{
    points2d.clear();
    const int n = int(p.size());
    if (n < 3)
        return false;

    // The extreme point (largest x, then y, then z) is convex.
    int k = 0;
    for (int i = 1; i < n; ++i) {
        const Point3& q = p[i];
        const Point3& b = p[k];
        if (q[0] - b[0] > kEps
            || (std::fabs(q[0] - b[0]) < kEps && q[1] - b[1] > kEps)
            || (std::fabs(q[0] - b[0]) < kEps && std::fabs(q[1] - b[1]) < kEps && q[2] - b[2] > kEps))
            k = i;
    }
    const int prev = (k + n - 1) % n;
    const int next = (k + 1) % n;
    Point3 normal = cross3(sub3(p[k], p[prev]), sub3(p[next], p[k]));
    double len = length3(normal);
    if (!(len > 1e-12)) {
        normal = newellNormal(p);
        len = length3(normal);
        if (!(len > 1e-12) || !std::isfinite(len))
            return false;
    }
    normal = {normal[0] / len, normal[1] / len, normal[2] / len};

    // Rotate about X so the normal lies in the XZ plane, then about Y onto +Z.
    double c1 = 1.0, s1 = 0.0;
    if (std::fabs(normal[1]) >= kEps) {
        const double r = std::sqrt(normal[1] * normal[1] + normal[2] * normal[2]);
        c1 = normal[2] / r;
        s1 = normal[1] / r;
    }
    const double w = s1 * normal[1] + c1 * normal[2];
    double c2 = w, s2 = 0.0;
    if (std::fabs(normal[0]) >= kEps) {
        const double l = std::sqrt(w * w + normal[0] * normal[0]);
        c2 = w / l;
        s2 = -normal[0] / l;
    }

    points2d.reserve(p.size());
    for (const Point3& q : p)
        points2d.push_back({c2 * q[0] + s2 * (s1 * q[1] + c1 * q[2]), c1 * q[1] - s1 * q[2]});
    return true;
}

bool PolygonTriangulator::pointInTriangle(int a, int b, int c, int p) const
{
    const Point2 e0 = sub2(points2d[c], points2d[a]);
    const Point2 e1 = sub2(points2d[b], points2d[a]);
    const Point2 e2 = sub2(points2d[p], points2d[a]);
    const double d00 = e0[0] * e0[0] + e0[1] * e0[1];
    const double d01 = e0[0] * e1[0] + e0[1] * e1[1];
    const double d02 = e0[0] * e2[0] + e0[1] * e2[1];
    const double d11 = e1[0] * e1[0] + e1[1] * e1[1];
    const double d12 = e1[0] * e2[0] + e1[1] * e2[1];
    const double det = d00 * d11 - d01 * d01;
    if (det == 0.0)
        return false; // a flat triangle covers nothing
    const double inv = 1.0 / det;
    const double u = (d11 * d02 - d01 * d12) * inv;
    const double v = (d00 * d12 - d01 * d02) * inv;
    if (u < -1e-10 || u > 1.0000000001 || v < -1e-10 || v > 1.0000000001)
        return false;
    const double s = u + v;
    if ((std::fabs(s - 1.0) < 1e-10 || std::fabs(s) < 1e-10) && std::fabs(u * v) < 1e-10)
        return false; // a corner of the triangle
    return s <= 1.0000000001;
}

void PolygonTriangulator::earClip(std::vector<Triangle>& out) const
{
    out.clear();
    const int n = int(points2d.size());
    if (n < 3)
        return;
    // The orientation from the signed area, which outlines that touch themselves (a keyhole's
    // repeated corners) still have.
    double area = 0.0;
    for (int i = 0; i < n; ++i)
        area += cross2(points2d[i], points2d[(i + 1) % n]);
    if (area == 0.0 || !std::isfinite(area))
        return;
    const double sign = area > 0.0 ? 1.0 : -1.0;

    std::vector<int> next(n), prev(n);
    for (int i = 0; i < n; ++i) {
        next[i] = (i + 1) % n;
        prev[i] = (i + n - 1) % n;
    }
    auto convex = [&](int j) {
        return sign * cross2(sub2(points2d[j], points2d[prev[j]]), sub2(points2d[next[j]], points2d[j])) > 0.0;
    };
    // Only reflex corners (collinear ones included) can lie in an ear; cutting an ear never
    // makes a convex corner reflex, so the list only shrinks.
    std::vector<char> reflex(n, 0);
    std::vector<int> reflexList;
    for (int i = 0; i < n; ++i)
        if (!convex(i)) {
            reflex[i] = 1;
            reflexList.push_back(i);
        }
    auto isEar = [&](int c) {
        if (reflex[c])
            return false;
        for (int r : reflexList)
            if (reflex[r] && r != prev[c] && r != next[c] && pointInTriangle(prev[c], c, next[c], r))
                return false;
        return true;
    };
    int live = n, c = 0, sinceCut = 0;
    long long tests = 0;
    while (live > 3) {
        if (cancelled && (++tests & 0xff) == 0 && cancelled->load(std::memory_order_relaxed)) {
            out.clear();
            return;
        }
        if (!isEar(c)) {
            c = next[c];
            if (++sinceCut > live) {
                out.clear(); // a whole round without an ear: this outline cannot be filled
                return;
            }
            continue;
        }
        const int a = prev[c], b = next[c];
        out.push_back({a, c, b});
        next[a] = b;
        prev[b] = a;
        reflex[c] = 0;
        --live;
        sinceCut = 0;
        for (int v : {a, b})
            if (reflex[v] && convex(v))
                reflex[v] = 0;
        if ((live & 0x3f) == 0)
            reflexList.erase(std::remove_if(reflexList.begin(), reflexList.end(), [&](int r) { return !reflex[r]; }),
                             reflexList.end());
        c = a; // the corner before may have become an ear
    }
    out.push_back({prev[c], c, next[c]});
}

std::vector<PolygonTriangulator::Triangle> PolygonTriangulator::triangulate(const std::vector<Point3>& points)
{
    std::vector<Triangle> out;
    PolygonTriangulator t;
    if (t.projectPolygon(points))
        t.earClip(out);
    return out;
}
