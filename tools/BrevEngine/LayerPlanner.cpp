#include "LayerPlanner.h"

#include "Parallel.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <limits>

using ClipperLib::cInt;
using ClipperLib::IntPoint;
using ClipperLib::IntRect;
using ClipperLib::Path;
using ClipperLib::Paths;

namespace brev {

namespace {

constexpr double kPi = 3.14159265358979323846;
// Arcs of outward offsets are flattened to within this many micrometres.
constexpr double kArcToleranceUm = 10.0;

Paths clip(const Paths& a, const Paths& b, ClipperLib::ClipType type)
{
    Paths out;
    if (a.empty())
        return out;
    if (b.empty()) {
        if (type == ClipperLib::ctIntersection)
            return out;
        return a;
    }
    ClipperLib::Clipper c;
    c.AddPaths(a, ClipperLib::ptSubject, true);
    c.AddPaths(b, ClipperLib::ptClip, true);
    c.Execute(type, out, ClipperLib::pftNonZero, ClipperLib::pftNonZero);
    return out;
}

double dist2(const IntPoint& a, const IntPoint& b)
{
    double dx = double(a.X - b.X);
    double dy = double(a.Y - b.Y);
    return dx * dx + dy * dy;
}

void appendInt(std::string& out, long long v)
{
    char buf[24];
    int n = 0;
    unsigned long long u = v < 0 ? 0ull - static_cast<unsigned long long>(v)
                                 : static_cast<unsigned long long>(v);
    do {
        buf[n++] = char('0' + u % 10);
        u /= 10;
    } while (u);
    if (v < 0)
        out += '-';
    while (n)
        out += buf[--n];
}

// Fixed point: value / 10^decimals with exactly that many decimals.
void appendFixed(std::string& out, long long scaled, int decimals)
{
    long long div = 1;
    for (int i = 0; i < decimals; ++i)
        div *= 10;
    if (scaled < 0) {
        out += '-';
        scaled = -scaled;
    }
    appendInt(out, scaled / div);
    out += '.';
    long long frac = scaled % div;
    char buf[24];
    for (int i = decimals - 1; i >= 0; --i) {
        buf[i] = char('0' + frac % 10);
        frac /= 10;
    }
    out.append(buf, size_t(decimals));
}

// Writes one layer's moves; E is absolute from the layer's own G92 E0.
class MoveWriter {
public:
    // A layer that starts retracted starts lifted too when the nozzle hops.
    MoveWriter(const EngineSettings& s, LayerCode& code, bool startRetracted, int64_t zUm, double eScale)
        : s_(s), code_(code), retracted_(startRetracted),
          lifted_(startRetracted && s.retractionZHopUm > 0), eScale_(eScale), zUm_(zUm)
    {
    }

    // The opening move of the layer, the hop included.
    int64_t openingZUm() const { return zUm_ + (lifted_ ? s_.retractionZHopUm : 0); }

    // Moves to another height within the layer; while lifted, only the landing changes.
    void setZ(int64_t zUm)
    {
        if (zUm == zUm_)
            return;
        const double dz = std::fabs(double(zUm - zUm_));
        zUm_ = zUm;
        if (!lifted_)
            zMove(zUm_, dz);
    }

    void travel(const IntPoint& p)
    {
        if (havePos_ && p == pos_)
            return;
        double len = havePos_ ? std::sqrt(dist2(pos_, p)) : 0.0;
        if (havePos_ && len > double(s_.retractionMinimalDistanceUm))
            retract();
        line("G0", s_.moveSpeed);
        coords(p);
        code_.text += '\n';
        code_.seconds += len / 1000.0 / s_.moveSpeed;
        pos_ = p;
        havePos_ = true;
    }

    void extrude(const IntPoint& p, double speed)
    {
        if (!havePos_) {
            travel(p);
            return;
        }
        if (p == pos_)
            return;
        if (lifted_) {
            zMove(zUm_, double(s_.retractionZHopUm));
            lifted_ = false;
        }
        if (retracted_) {
            e_ += double(s_.retractionAmountUm) / 1000.0;
            retracted_ = false;
            line("G1", s_.retractionSpeed);
            eWord();
            code_.text += '\n';
            code_.seconds += double(s_.retractionAmountUm) / 1000.0 / s_.retractionSpeed;
        }
        double lenMm = std::sqrt(dist2(pos_, p)) / 1000.0;
        double de = lenMm * eScale_;
        e_ += de;
        code_.filamentMm += de;
        code_.seconds += lenMm / speed;
        line("G1", speed);
        coords(p);
        code_.text += ' ';
        eWord();
        code_.text += '\n';
        pos_ = p;
    }

    void loop(const Path& path, size_t start, double speed)
    {
        travel(path[start]);
        for (size_t k = 1; k <= path.size(); ++k)
            extrude(path[(start + k) % path.size()], speed);
    }

    void retract()
    {
        if (retracted_ || s_.retractionAmountUm <= 0)
            return;
        e_ -= double(s_.retractionAmountUm) / 1000.0;
        retracted_ = true;
        line("G1", s_.retractionSpeed);
        eWord();
        code_.text += '\n';
        code_.seconds += double(s_.retractionAmountUm) / 1000.0 / s_.retractionSpeed;
        if (s_.retractionZHopUm > 0 && !lifted_) {
            zMove(zUm_ + s_.retractionZHopUm, double(s_.retractionZHopUm));
            lifted_ = true;
        }
    }

    const IntPoint& position() const { return pos_; }
    bool hasPosition() const { return havePos_; }

private:
    void zMove(int64_t zUm, double distanceUm)
    {
        line("G0", s_.moveSpeed);
        code_.text += 'Z';
        appendFixed(code_.text, zUm, 3);
        code_.text += '\n';
        code_.seconds += distanceUm / 1000.0 / s_.moveSpeed;
    }
    void line(const char* g, double speedMmS)
    {
        code_.text += g;
        long long f = std::llround(speedMmS * 60.0);
        if (f != lastF_) {
            code_.text += " F";
            appendInt(code_.text, f);
            lastF_ = f;
        }
        code_.text += ' ';
    }
    void coords(const IntPoint& p)
    {
        code_.text += 'X';
        appendFixed(code_.text, p.X, 3);
        code_.text += " Y";
        appendFixed(code_.text, p.Y, 3);
    }
    void eWord()
    {
        code_.text += 'E';
        appendFixed(code_.text, std::llround(e_ * 100000.0), 5);
    }

    const EngineSettings& s_;
    LayerCode& code_;
    bool retracted_;
    bool lifted_;
    double eScale_;
    int64_t zUm_;
    double e_ = 0;
    IntPoint pos_;
    bool havePos_ = false;
    long long lastF_ = -1;
};

// Closed loops, each started at its vertex nearest to the nozzle, the nearest loop next. Many
// loops (a forest of support branches) go in bands across the plate instead: the nearest-next
// search would take longer than the whole slice.
void writeLoops(MoveWriter& w, Paths loops, double speed)
{
    if (loops.size() > 200) {
        constexpr cInt kBandUm = 5000;
        auto band = [](const Path& p) { return p.empty() ? 0 : p[0].Y / kBandUm; };
        std::sort(loops.begin(), loops.end(), [&](const Path& a, const Path& b) {
            const cInt ba = band(a), bb = band(b);
            if (ba != bb)
                return ba < bb;
            if (a.empty() || b.empty())
                return a.size() < b.size();
            return ba % 2 == 0 ? a[0].X < b[0].X : a[0].X > b[0].X;
        });
        for (const Path& loop : loops) {
            if (loop.size() < 2)
                continue;
            size_t start = 0;
            if (w.hasPosition()) {
                double best = std::numeric_limits<double>::max();
                for (size_t k = 0; k < loop.size(); ++k)
                    if (dist2(loop[k], w.position()) < best)
                        best = dist2(loop[k], w.position()), start = k;
            }
            w.loop(loop, start, speed);
        }
        return;
    }
    while (!loops.empty()) {
        size_t bestLoop = 0;
        size_t bestVertex = 0;
        if (w.hasPosition()) {
            double best = std::numeric_limits<double>::max();
            for (size_t i = 0; i < loops.size(); ++i)
                for (size_t k = 0; k < loops[i].size(); ++k) {
                    double d = dist2(loops[i][k], w.position());
                    if (d < best) {
                        best = d;
                        bestLoop = i;
                        bestVertex = k;
                    }
                }
        }
        if (loops[bestLoop].size() >= 2)
            w.loop(loops[bestLoop], bestVertex, speed);
        loops.erase(loops.begin() + long(bestLoop));
    }
}

// Lines in nearest-first order, each from its nearer end.
void writeLines(MoveWriter& w, std::vector<FillLine> lines, double speed)
{
    const bool greedy = lines.size() <= 3000;
    std::vector<char> done(lines.size(), 0);
    for (size_t n = 0; n < lines.size(); ++n) {
        size_t pick = n;
        bool flip = false;
        if (greedy && w.hasPosition()) {
            double best = std::numeric_limits<double>::max();
            for (size_t i = 0; i < lines.size(); ++i) {
                if (done[i])
                    continue;
                double da = dist2(lines[i].a, w.position());
                double db = dist2(lines[i].b, w.position());
                if (da < best) {
                    best = da;
                    pick = i;
                    flip = false;
                }
                if (db < best) {
                    best = db;
                    pick = i;
                    flip = true;
                }
            }
        } else if (greedy) {
            while (done[pick])
                ++pick;
        } else {
            flip = n % 2 == 1;
        }
        done[pick] = 1;
        const FillLine& l = lines[pick];
        w.travel(flip ? l.b : l.a);
        w.extrude(flip ? l.a : l.b, speed);
    }
}

void dropSmall(Paths& paths, double minAreaUm2)
{
    paths.erase(std::remove_if(paths.begin(), paths.end(),
                               [&](const Path& p) {
                                   return p.size() < 3 || std::fabs(ClipperLib::Area(p)) < minAreaUm2;
                               }),
                paths.end());
}

} // namespace

Paths offsetPaths(const Paths& paths, double deltaUm)
{
    Paths out;
    if (paths.empty())
        return out;
    ClipperLib::ClipperOffset co(2.0, kArcToleranceUm);
    co.AddPaths(paths, ClipperLib::jtMiter, ClipperLib::etClosedPolygon);
    co.Execute(out, deltaUm);
    return out;
}

std::vector<FillLine> fillLines(const Paths& region, int64_t spacingUm, double angleDeg)
{
    std::vector<FillLine> lines;
    if (region.empty() || spacingUm <= 0)
        return lines;
    const double a = angleDeg * kPi / 180.0;
    const double c = std::cos(a);
    const double s = std::sin(a);
    // Rotate the region by -angle so the lines become horizontal.
    struct Crossing {
        long long row;
        double x;
    };
    std::vector<Crossing> crossings;
    const double sp = double(spacingUm);
    for (const Path& path : region) {
        const size_t n = path.size();
        for (size_t i = 0; i < n; ++i) {
            const IntPoint& p = path[i];
            const IntPoint& q = path[(i + 1) % n];
            double px = p.X * c + p.Y * s, py = -p.X * s + p.Y * c;
            double qx = q.X * c + q.Y * s, qy = -q.X * s + q.Y * c;
            if (py == qy)
                continue;
            if (py > qy) {
                std::swap(px, qx);
                std::swap(py, qy);
            }
            // Rows sit at y = (row + 0.5) * spacing; an edge owns the rows in [py, qy).
            long long first = static_cast<long long>(std::ceil(py / sp - 0.5));
            long long last = static_cast<long long>(std::ceil(qy / sp - 0.5)) - 1;
            for (long long row = first; row <= last; ++row) {
                double y = (double(row) + 0.5) * sp;
                crossings.push_back({row, px + (qx - px) * (y - py) / (qy - py)});
            }
        }
    }
    std::sort(crossings.begin(), crossings.end(), [](const Crossing& l, const Crossing& r) {
        return l.row != r.row ? l.row < r.row : l.x < r.x;
    });
    for (size_t i = 0; i + 1 < crossings.size();) {
        if (crossings[i].row != crossings[i + 1].row) {
            ++i;
            continue;
        }
        const double y = (double(crossings[i].row) + 0.5) * sp;
        const double x0 = crossings[i].x;
        const double x1 = crossings[i + 1].x;
        if (x1 - x0 > 1.0) {
            IntPoint pa(std::llround(x0 * c - y * s), std::llround(x0 * s + y * c));
            IntPoint pb(std::llround(x1 * c - y * s), std::llround(x1 * s + y * c));
            lines.push_back({pa, pb});
        }
        i += 2;
    }
    return lines;
}

namespace {

Paths unionOf(const Paths& paths)
{
    Paths out;
    if (paths.empty())
        return out;
    ClipperLib::Clipper c;
    c.AddPaths(paths, ClipperLib::ptSubject, true);
    c.Execute(ClipperLib::ctUnion, out, ClipperLib::pftNonZero, ClipperLib::pftNonZero);
    return out;
}

Path circle(double x, double y, double r)
{
    constexpr int kSides = 16;
    Path p;
    p.reserve(kSides);
    for (int k = 0; k < kSides; ++k) {
        const double a = 2 * kPi * k / kSides;
        p.emplace_back(std::llround(x + r * std::cos(a)), std::llround(y + r * std::sin(a)));
    }
    return p;
}

ClipperLib::IntRect boundsOf(const Path& p)
{
    ClipperLib::IntRect r{LLONG_MAX, LLONG_MAX, LLONG_MIN, LLONG_MIN};
    for (const IntPoint& q : p) {
        r.left = std::min(r.left, q.X), r.right = std::max(r.right, q.X);
        r.top = std::min(r.top, q.Y), r.bottom = std::max(r.bottom, q.Y);
    }
    return r;
}

// A negative offset of many separate islands, tile by tile: one offset of them all spends its
// time sorting edges that never meet. Islands with holes go as one.
Paths insetIslands(const Paths& paths, double deltaUm)
{
    if (paths.size() <= 64)
        return offsetPaths(paths, deltaUm);
    constexpr cInt kTileUm = 16000;
    std::vector<std::pair<std::pair<cInt, cInt>, size_t>> order;
    order.reserve(paths.size());
    for (size_t i = 0; i < paths.size(); ++i) {
        if (!ClipperLib::Orientation(paths[i]))
            return offsetPaths(paths, deltaUm);
        const ClipperLib::IntRect b = boundsOf(paths[i]);
        order.push_back({{(b.top + b.bottom) / 2 / kTileUm, (b.left + b.right) / 2 / kTileUm}, i});
    }
    std::sort(order.begin(), order.end());
    Paths out, group;
    for (size_t k = 0; k < order.size(); ++k) {
        group.push_back(paths[order[k].second]);
        if (k + 1 == order.size() || order[k + 1].first != order[k].first) {
            Paths part = offsetPaths(group, deltaUm);
            out.insert(out.end(), part.begin(), part.end());
            group.clear();
        }
    }
    return out;
}

bool inside(const Paths& region, double x, double y)
{
    const IntPoint p(std::llround(x), std::llround(y));
    int count = 0;
    for (const Path& path : region)
        if (ClipperLib::PointInPolygon(p, path) != 0)
            ++count;
    return count % 2 == 1;
}

// Whole layers in a gap of gapUm, the gap first taken in whole reference layers.
long long gapLayers(int64_t gapUm, int64_t referUm, int64_t layerUm)
{
    const double refs = std::round(double(gapUm) / double(referUm));
    return std::llround(refs * double(referUm) / double(layerUm));
}

} // namespace

LayerPlanner::LayerPlanner(const EngineSettings& settings, const LayerHeights& heights,
                           const std::vector<Paths>& outlines)
    : s_(settings), heights_(heights), outlines_(outlines), plate_(settings), regions_(outlines.size())
{
    const bool engineSupport = s_.supportAngle >= 0;
    if (engineSupport) {
        clearance_.resize(outlines.size());
        overhang_.resize(outlines.size());
        carried_.resize(outlines.size());
        if (s_.supportType == 2)
            tree_.resize(outlines.size());
    }
    // Raft layers from the bottom; the model then stands on the raft with its air gaps.
    int64_t z = 0;
    const int64_t w = s_.extrusionWidthUm;
    if (s_.raftBaseThicknessUm > 0) {
        z += s_.raftBaseThicknessUm;
        raft_.push_back({z, s_.raftBaseThicknessUm, w * 3, 0.0, s_.raftBaseSpeed});
        if (s_.raftInterfaceThicknessUm > 0) {
            z += s_.raftInterfaceThicknessUm;
            raft_.push_back({z, s_.raftInterfaceThicknessUm, w * 2, 90.0, s_.raftInterfaceSpeed});
        }
        if (s_.raftSurfaceThicknessUm > 0) {
            z += s_.raftSurfaceThicknessUm;
            raft_.push_back({z, s_.raftSurfaceThicknessUm, w, 0.0, s_.raftSurfaceSpeed});
        }
    }
    const bool raft = !raft_.empty();
    modelZUm_.resize(outlines.size());
    for (size_t i = 0; i < outlines.size(); ++i) {
        int64_t mz = heights.printZUm[i];
        if (raft)
            mz += z + std::llround(i == 0 ? s_.raftAirGapLayer0Um : s_.raftAirGapUm);
        // Every layer above the one before, the first layer's walls included.
        if (i > 0)
            mz = std::max(mz, std::max(modelZUm_[i - 1], firstWallZUm_) + 10);
        modelZUm_[i] = mz;
        if (i == 0)
            firstWallZUm_ = raft ? z + heights.printZUm[0] + std::llround(s_.insetRaftAirGapLayer0Um) : mz;
    }
}


void LayerPlanner::makeInsets(size_t layer)
{
    const Paths& outline = outlines_[layer];
    LayerRegions& r = regions_[layer];
    const double w = double(s_.extrusionWidthUm);
    const double minWidth = double(s_.insetMinWidthUm);
    // Stretches narrower than the minimum width are left out of every inset; one line wide
    // and more, an inset at half a line never reaches them anyway.
    const Paths opened = minWidth > w ? offsetPaths(offsetPaths(outline, -minWidth / 2), minWidth / 2) : Paths();
    const Paths& walls = minWidth > w ? opened : outline;
    for (int k = 0; k < s_.insetCount; ++k) {
        Paths inset = offsetPaths(walls, -(w / 2 + k * w));
        if (inset.empty())
            break;
        r.insets.push_back(std::move(inset));
    }
    if (s_.insetCount > 0 && minWidth < w) {
        // A stretch narrower than a line but not than the minimum gets a loop along its middle.
        const Paths rest = clip(outline, offsetPaths(r.insets.empty() ? Paths() : r.insets[0], w / 2 + 2),
                                ClipperLib::ctDifference);
        Paths thin = offsetPaths(rest, -minWidth / 2);
        thin.erase(std::remove_if(thin.begin(), thin.end(),
                                  [&](const Path& p) {
                                      const IntRect b = boundsOf(p);
                                      return double(b.right - b.left) + double(b.bottom - b.top) < w;
                                  }),
                   thin.end());
        if (!thin.empty()) {
            if (r.insets.empty())
                r.insets.emplace_back();
            r.insets[0].insert(r.insets[0].end(), thin.begin(), thin.end());
        }
    }
    r.inner = offsetPaths(outline, s_.insetCount > 0 ? -w * s_.insetCount : -w / 2);
}

void LayerPlanner::makeSkin(size_t layer)
{
    LayerRegions& r = regions_[layer];
    if (r.inner.empty())
        return;
    // Solid where a layer within the skin counts below or above lacks the area.
    const long long L = static_cast<long long>(regions_.size());
    const long long i = static_cast<long long>(layer);
    Paths covered = r.inner;
    for (long long j = i - s_.downSkinCount; j <= i + s_.upSkinCount && !covered.empty(); ++j) {
        if (j == i)
            continue;
        if (j < 0 || j >= L) {
            covered.clear();
            break;
        }
        covered = clip(covered, regions_[size_t(j)].inner, ClipperLib::ctIntersection);
    }
    Paths skin = clip(r.inner, covered, ClipperLib::ctDifference);
    // Strips narrower than one line cannot be filled with lines.
    const double w = double(s_.extrusionWidthUm);
    r.skin = offsetPaths(offsetPaths(skin, -w / 2), w / 2);
    r.skin = clip(r.skin, r.inner, ClipperLib::ctIntersection);
    if (s_.sparseInfillLineDistanceUm > 0)
        r.sparse = clip(r.inner, r.skin, ClipperLib::ctDifference);
}


// The part of a layer that hangs over the layer below on a downward surface steeper than the
// support angle (from the vertical), the whole step from the edge below out to its own edge.
Paths LayerPlanner::overhangAt(size_t j) const
{
    Paths band = clip(outlines_[j], outlines_[j - 1], ClipperLib::ctDifference);
    if (band.empty())
        return band;
    // Widened a little within the layer, so the steps of one slope overlap and join into one
    // area rather than slivers split by the rounding of the outlines.
    band = clip(offsetPaths(band, 40.0), outlines_[j], ClipperLib::ctIntersection);
    const double tanAngle = std::tan(s_.supportAngle * kPi / 180.0);
    // Steepness is measured over one layer, which finds ledges, and over up to a millimetre,
    // which tells a slope a little steeper than the angle from one a little less steep: over a
    // single layer their difference is thinner than the rounding of the outlines.
    const double spanUm = std::min(1000.0, tanAngle > 0 ? 2000.0 / tanAngle : 1000.0);
    size_t far = j - 1;
    while (far > 0 && double(heights_.printZUm[j] - heights_.printZUm[far]) < spanUm)
        --far;
    Paths grown;
    const size_t refs[2] = {j - 1, far};
    for (size_t n = 0; n < (far == j - 1 ? 1u : 2u); ++n) {
        const size_t below = refs[n];
        const double reach = double(heights_.printZUm[j] - heights_.printZUm[below]) * tanAngle;
        Paths out = clip(outlines_[j], offsetPaths(outlines_[below], reach), ClipperLib::ctDifference);
        // A thin opening drops the rounding slivers of walls that stand straight.
        out = offsetPaths(offsetPaths(out, -25.0), 25.0);
        // Back to the edge of the layer below: what was found is the outer part of the step.
        out = offsetPaths(out, reach + 50.0);
        grown.insert(grown.end(), out.begin(), out.end());
    }
    return clip(band, grown, ClipperLib::ctIntersection);
}

void LayerPlanner::makeSupport(size_t layer)
{
    if (!clearance_.empty()) {
        clearance_[layer] = offsetPaths(outlines_[layer], double(s_.supportXYDistanceUm));
        if (layer > 0)
            overhang_[layer] = overhangAt(layer);
    }

    if (!s_.manualSupportEnable || s_.supportPoints.empty())
        return;
    const int64_t z = heights_.printZUm[layer];
    const double half = double(s_.manualSupportSideLenUm) / 2.0;
    Paths squares;
    for (const SupportPoint& p : s_.supportPoints) {
        if (double(z) > p.topUm - double(s_.supportZDistanceTopUm))
            continue;
        const double x = p.xUm + double(s_.posxUm);
        const double y = p.yUm + double(s_.posyUm);
        squares.push_back({IntPoint(std::llround(x - half), std::llround(y - half)),
                           IntPoint(std::llround(x + half), std::llround(y - half)),
                           IntPoint(std::llround(x + half), std::llround(y + half)),
                           IntPoint(std::llround(x - half), std::llround(y + half))});
    }
    if (squares.empty())
        return;
    // Keep clear of the model where a column passes beside it.
    Paths model = offsetPaths(outlines_[layer], double(s_.supportXYDistanceUm));
    regions_[layer].support = clip(unionOf(squares), model, ClipperLib::ctDifference);
}

void LayerPlanner::spreadSupport()
{
    if (carried_.empty())
        return;
    // From the top down: what the layers above need, less where the model stands in the way
    // (support that meets the model ends on it). Beside the model, within the XY distance, it
    // only skips the layer: lower down the model may have drawn back.
    const long long L = static_cast<long long>(regions_.size());
    const long long topGap = gapLayers(s_.supportZDistanceTopUm, s_.supportReferLayerThicknessUm,
                                       s_.layerThicknessUm);
    Paths need;
    for (long long i = L - 1; i >= 0; --i) {
        const long long j = i + 1 + topGap;
        if (j < L && !overhang_[size_t(j)].empty()) {
            need.insert(need.end(), overhang_[size_t(j)].begin(), overhang_[size_t(j)].end());
            need = unionOf(need);
        }
        if (!need.empty())
            need = clip(need, outlines_[size_t(i)], ClipperLib::ctDifference);
        carried_[size_t(i)] = clip(need, clearance_[size_t(i)], ClipperLib::ctDifference);
    }
    if (s_.supportType == 2)
        growTrees();
}

// Branches start on a grid under everything that needs support, lean toward their nearest
// neighbour and merge with it, thicken on the way down up to the largest radius, and stand on
// the plate or end on the model.
void LayerPlanner::growTrees()
{
    const size_t L = regions_.size();
    const double w = double(s_.extrusionWidthUm);
    const double spacing = double(std::max<int64_t>(s_.supportLineDistanceUm, 2 * s_.extrusionWidthUm));
    const double rMax = std::max(w, double(s_.supportTreeRadiusMaxUm));
    const double reachUm = 8000.0; // branches farther apart than this do not lean together

    // The grid cells whose centre lies in each layer's support, by rows of the fill.
    std::vector<std::vector<std::pair<int32_t, int32_t>>> cells(L);
    parallelFor(L, [&](size_t i) {
        for (const FillLine& l : fillLines(carried_[i], int64_t(spacing), 0)) {
            const int32_t row = int32_t(std::floor(double(l.a.Y) / spacing));
            const double x0 = std::min(l.a.X, l.b.X), x1 = std::max(l.a.X, l.b.X);
            for (long long col = std::llround(std::ceil(x0 / spacing - 0.5));
                 (double(col) + 0.5) * spacing <= x1; ++col)
                cells[i].emplace_back(int32_t(col), row);
        }
    });

    std::vector<TreeNode> nodes;
    std::vector<TreeNode> before;
    std::vector<char> claimed;
    long long minCol = 0, minRow = 0, cols = 0, rows = 0;
    {
        long long c0 = LLONG_MAX, c1 = LLONG_MIN, r0 = LLONG_MAX, r1 = LLONG_MIN;
        for (const auto& layer : cells)
            for (const auto& c : layer) {
                c0 = std::min<long long>(c0, c.first), c1 = std::max<long long>(c1, c.first);
                r0 = std::min<long long>(r0, c.second), r1 = std::max<long long>(r1, c.second);
            }
        if (c0 <= c1) {
            minCol = c0, minRow = r0, cols = c1 - c0 + 1, rows = r1 - r0 + 1;
            claimed.assign(size_t(cols * rows), 0);
        }
    }
    for (size_t i = L; i-- > 0;) {
        const double t = double(heights_.printZUm[i] - (i > 0 ? heights_.printZUm[i - 1] : 0));
        const double step = t * 0.84; // a lean of about 40 degrees
        // New tips: grid cells reached for the first time, and support islands too small to
        // hold a cell centre.
        for (const auto& c : cells[i]) {
            char& taken = claimed[size_t((c.second - minRow) * cols + (c.first - minCol))];
            if (taken)
                continue;
            taken = 1;
            nodes.push_back({(c.first + 0.5) * spacing, (c.second + 0.5) * spacing, w});
        }
        for (const Path& island : carried_[i]) {
            if (!ClipperLib::Orientation(island) || std::fabs(ClipperLib::Area(island)) < w * w)
                continue;
            double cx = 0, cy = 0;
            for (const IntPoint& p : island)
                cx += double(p.X), cy += double(p.Y);
            cx /= double(island.size()), cy /= double(island.size());
            bool held = false;
            for (const TreeNode& n : nodes)
                if (ClipperLib::PointInPolygon(IntPoint(std::llround(n.x), std::llround(n.y)), island) != 0) {
                    held = true;
                    break;
                }
            if (!held)
                nodes.push_back(inside({island}, cx, cy) ? TreeNode{cx, cy, w}
                                                         : TreeNode{double(island[0].X), double(island[0].Y), w});
        }

        // Lean toward the nearest neighbour; the nodes are sorted by x to find it quickly.
        before = nodes;
        std::sort(before.begin(), before.end(), [](const TreeNode& a, const TreeNode& b) { return a.x < b.x; });
        nodes = before;
        for (size_t k = 0; k < before.size(); ++k) {
            double best = reachUm * reachUm;
            long long pick = -1;
            for (long long dir : {-1LL, 1LL})
                for (long long m = (long long)k + dir; m >= 0 && m < (long long)before.size(); m += dir) {
                    const double dx = before[size_t(m)].x - before[k].x;
                    if (dx * dx >= best)
                        break;
                    const double dy = before[size_t(m)].y - before[k].y;
                    if (dx * dx + dy * dy < best)
                        best = dx * dx + dy * dy, pick = m;
                }
            TreeNode& n = nodes[k];
            n.r = std::min(rMax, n.r + t * 0.1);
            if (pick >= 0) {
                const double d = std::sqrt(best);
                const double move = std::min(step, d / 2);
                n.x += (before[size_t(pick)].x - before[k].x) / d * move;
                n.y += (before[size_t(pick)].y - before[k].y) / d * move;
            }
        }
        // Keep clear of the model: a branch pushed into it stays where it was, one standing
        // on it ends there.
        size_t keep = 0;
        for (size_t k = 0; k < nodes.size(); ++k) {
            TreeNode n = nodes[k];
            if (inside(clearance_[i], n.x, n.y)) {
                if (inside(clearance_[i], before[k].x, before[k].y))
                    continue;
                n.x = before[k].x, n.y = before[k].y;
            }
            nodes[keep++] = n;
        }
        nodes.resize(keep);
        // Branches that touch become one, as thick as both together allow.
        std::vector<char> gone;
        for (bool merged = true; merged;) {
            merged = false;
            std::sort(nodes.begin(), nodes.end(), [](const TreeNode& a, const TreeNode& b) { return a.x < b.x; });
            gone.assign(nodes.size(), 0);
            for (size_t k = 0; k < nodes.size(); ++k) {
                if (gone[k])
                    continue;
                for (size_t m = k + 1; m < nodes.size() && nodes[m].x - nodes[k].x < 2 * rMax; ++m) {
                    const double dx = nodes[m].x - nodes[k].x, dy = nodes[m].y - nodes[k].y;
                    const double touch = nodes[k].r + nodes[m].r;
                    if (gone[m] || dx * dx + dy * dy >= touch * touch)
                        continue;
                    const double a = nodes[k].r * nodes[k].r, b = nodes[m].r * nodes[m].r;
                    nodes[k] = {(nodes[k].x * a + nodes[m].x * b) / (a + b), (nodes[k].y * a + nodes[m].y * b) / (a + b),
                                std::min(rMax, std::sqrt(a + b))};
                    gone[m] = 1;
                    merged = true;
                }
            }
            size_t live = 0;
            for (size_t k = 0; k < nodes.size(); ++k)
                if (!gone[k])
                    nodes[live++] = nodes[k];
            nodes.resize(live);
        }
        tree_[i] = nodes;
    }
}

void LayerPlanner::shapeSupport(size_t layer)
{
    if (carried_.empty())
        return;
    const long long bottomGap = gapLayers(s_.supportZDistanceBottomUm, s_.supportReferLayerThicknessUm,
                                          s_.layerThicknessUm);
    // The gap above the model where support stands on it.
    auto leaveBottomGap = [&](Paths area) {
        for (long long k = 1; k <= bottomGap && (long long)layer - k >= 0 && !area.empty(); ++k)
            area = clip(area, outlines_[size_t((long long)layer - k)], ClipperLib::ctDifference);
        return area;
    };
    Paths& support = regions_[layer].support;
    if (s_.supportType != 2) {
        // Manual columns keep their own walls; the rods fill around them.
        regions_[layer].rods = plate_.clipped(clip(leaveBottomGap(carried_[layer]), support, ClipperLib::ctDifference));
        support = plate_.clipped(support);
        return;
    }
    // Branches do not touch one another (touching ones were merged), so only those near the
    // model or a manual column go through the clipper: thousands at once would be slow.
    std::vector<IntRect> obstacles;
    for (const Path& p : clearance_[layer])
        obstacles.push_back(boundsOf(p));
    for (long long k = 1; k <= bottomGap && (long long)layer - k >= 0; ++k)
        for (const Path& p : outlines_[size_t((long long)layer - k)])
            obstacles.push_back(boundsOf(p));
    for (const Path& p : support)
        obstacles.push_back(boundsOf(p));
    Paths near;
    const size_t columns = support.size();
    for (const TreeNode& n : tree_[layer]) {
        Path c = circle(n.x, n.y, n.r);
        const IntRect b = boundsOf(c);
        bool close = false;
        for (const IntRect& o : obstacles)
            close = close || (b.left <= o.right && o.left <= b.right && b.top <= o.bottom && o.top <= b.bottom);
        (close ? near : support).push_back(std::move(c));
    }
    if (near.empty()) {
        support = plate_.clipped(support);
        return;
    }
    near = leaveBottomGap(clip(near, clearance_[layer], ClipperLib::ctDifference));
    if (columns > 0)
        near = clip(near, Paths(support.begin(), support.begin() + long(columns)), ClipperLib::ctDifference);
    support.insert(support.end(), near.begin(), near.end());
    support = plate_.clipped(support);
}

void LayerPlanner::dropSmallAreas(size_t layer)
{
    LayerRegions& r = regions_[layer];
    const double w = double(s_.extrusionWidthUm);
    dropSmall(r.skin, w * w);
    dropSmall(r.sparse, w * w);
    dropSmall(r.support, w * w);
    dropSmall(r.rods, w * w);
}

void LayerPlanner::planRaft()
{
    if (raft_.empty() || regions_.empty())
        return;
    Paths foot = outlines_[0];
    foot.insert(foot.end(), regions_[0].support.begin(), regions_[0].support.end());
    foot.insert(foot.end(), regions_[0].rods.begin(), regions_[0].rods.end());
    raftArea_ = plate_.clipped(offsetPaths(unionOf(foot), double(s_.raftMarginUm)));
}

double LayerPlanner::eScale(int64_t thicknessUm) const
{
    const double filamentRadiusMm = double(s_.filamentDiameterUm) / 2000.0;
    return (double(s_.extrusionWidthUm) / 1000.0) * (double(thicknessUm) / 1000.0)
           / (kPi * filamentRadiusMm * filamentRadiusMm) * s_.filamentFlowPercent / 100.0;
}

namespace {

void openLayer(std::string& t, const EngineSettings& s, int64_t zUm, size_t number)
{
    t += "G0 F";
    appendInt(t, std::llround(s.moveSpeed * 60.0));
    t += " Z";
    appendFixed(t, zUm, 3);
    t += "\n;LAYER:";
    appendInt(t, static_cast<long long>(number));
    t += "\nG92 E0\n";
}

} // namespace

LayerCode LayerPlanner::writeRaftLayer(size_t k) const
{
    const RaftLayer& rl = raft_[k];
    const double w = double(s_.extrusionWidthUm);
    LayerCode code;
    MoveWriter mw(s_, code, k > 0 && s_.retractionAmountUm > 0, rl.zUm, eScale(rl.thicknessUm));
    code.text.reserve(4096);
    openLayer(code.text, s_, mw.openingZUm(), k);
    code.seconds += double(rl.thicknessUm) / 1000.0 / s_.moveSpeed;
    writeLoops(mw, offsetPaths(raftArea_, -w / 2), rl.speed);
    writeLines(mw, fillLines(offsetPaths(raftArea_, -w), rl.spacingUm, rl.angleDeg), rl.speed);
    mw.retract();
    return code;
}

LayerCode LayerPlanner::writeLayer(size_t layer) const
{
    const LayerRegions& r = regions_[layer];
    const int64_t z = modelZUm_[layer];
    const int64_t wallZ = layer == 0 ? firstWallZUm_ : z;
    const int64_t thickness = layer == 0 ? heights_.printZUm[0]
                                         : heights_.printZUm[layer] - heights_.printZUm[layer - 1];
    const double w = double(s_.extrusionWidthUm);
    const bool first = layer == 0;
    auto speed = [&](double v) { return first ? std::min(v, s_.initialLayerSpeed) : v; };
    const size_t number = raft_.size() + layer;

    LayerCode code;
    std::string& t = code.text;
    t.reserve(4096);
    // Walls that sit higher than the rest of the layer go first: the nozzle never climbs while
    // a layer prints, so a rise while extruding always means the next layer.
    const bool wallsFirst = wallZ > z;
    // Every layer but the first starts retracted: the one before ended so.
    MoveWriter mw(s_, code, number > 0 && s_.retractionAmountUm > 0, wallsFirst ? wallZ : z, eScale(thickness));
    openLayer(t, s_, mw.openingZUm(), number);
    code.seconds += double(thickness) / 1000.0 / s_.moveSpeed;

    const bool odd = layer % 2 == 1;
    auto walls = [&] {
        mw.setZ(wallZ);
        // Inner perimeters first, the outer one last, so the visible wall is laid against support.
        for (size_t k = r.insets.size(); k-- > 0;)
            writeLoops(mw, r.insets[k], speed(k == 0 ? s_.inset0Speed : s_.insetXSpeed));
        mw.setZ(z);
    };
    if (wallsFirst)
        walls();
    if (!r.support.empty()) {
        writeLoops(mw, insetIslands(r.support, -w / 2), speed(s_.supportSpeed));
        writeLines(mw, fillLines(insetIslands(r.support, -w), s_.supportLineDistanceUm, odd ? 90 : 0),
                   speed(s_.supportSpeed));
    }
    if (!r.rods.empty())
        writeLines(mw, fillLines(insetIslands(r.rods, -w / 2), s_.supportLineDistanceUm, odd ? 90 : 0),
                   speed(s_.supportSpeed));
    if (!wallsFirst)
        walls();
    const double overlap = w * s_.infillOverlapPercent / 100.0;
    if (!r.skin.empty())
        writeLines(mw, fillLines(offsetPaths(r.skin, overlap), s_.skinLineSpacingUm, odd ? 135 : 45),
                   speed(s_.skinSpeed));
    if (!r.sparse.empty()) {
        const Paths area = offsetPaths(r.sparse, overlap);
        const int64_t d = s_.sparseInfillLineDistanceUm;
        std::vector<FillLine> lines;
        auto add = [&](int64_t spacing, double angle) {
            std::vector<FillLine> more = fillLines(area, spacing, angle);
            lines.insert(lines.end(), more.begin(), more.end());
        };
        if (s_.infillPattern == 0) {
            add(d, odd ? 135 : 45); // one direction, turned every layer
        } else if (s_.infillPattern == 4) {
            // Three directions on every layer close the cells, which stack into prisms.
            add(3 * d, 0);
            add(3 * d, 60);
            add(3 * d, 120);
        } else {
            add(2 * d, 45); // a grid: both directions on every layer
            add(2 * d, 135);
        }
        writeLines(mw, std::move(lines), speed(s_.infillSpeed));
    }
    mw.retract();
    return code;
}

} // namespace brev
