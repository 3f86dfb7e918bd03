#include "LayerPlanner.h"

#include <algorithm>
#include <cmath>
#include <limits>

using ClipperLib::cInt;
using ClipperLib::IntPoint;
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
    MoveWriter(const EngineSettings& s, LayerCode& code, bool startRetracted, double eScale)
        : s_(s), code_(code), retracted_(startRetracted), eScale_(eScale)
    {
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
    }

    const IntPoint& position() const { return pos_; }
    bool hasPosition() const { return havePos_; }

private:
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
    double eScale_;
    double e_ = 0;
    IntPoint pos_;
    bool havePos_ = false;
    long long lastF_ = -1;
};

// Closed loops, each started at its vertex nearest to the nozzle, the nearest loop next.
void writeLoops(MoveWriter& w, Paths loops, double speed)
{
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

LayerPlanner::LayerPlanner(const EngineSettings& settings, const LayerHeights& heights,
                           const std::vector<Paths>& outlines)
    : s_(settings), heights_(heights), outlines_(outlines), regions_(outlines.size())
{
}

void LayerPlanner::makeInsets(size_t layer)
{
    const Paths& outline = outlines_[layer];
    LayerRegions& r = regions_[layer];
    const double w = double(s_.extrusionWidthUm);
    for (int k = 0; k < s_.insetCount; ++k) {
        Paths inset = offsetPaths(outline, -(w / 2 + k * w));
        if (inset.empty())
            break;
        r.insets.push_back(std::move(inset));
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

void LayerPlanner::makeSupport(size_t layer)
{
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
    Paths merged;
    ClipperLib::Clipper c;
    c.AddPaths(squares, ClipperLib::ptSubject, true);
    c.Execute(ClipperLib::ctUnion, merged, ClipperLib::pftNonZero, ClipperLib::pftNonZero);
    // Keep clear of the model where a column passes beside it.
    Paths model = offsetPaths(outlines_[layer], double(s_.supportXYDistanceUm));
    regions_[layer].support = clip(merged, model, ClipperLib::ctDifference);
}

void LayerPlanner::dropSmallAreas(size_t layer)
{
    LayerRegions& r = regions_[layer];
    const double w = double(s_.extrusionWidthUm);
    dropSmall(r.skin, w * w);
    dropSmall(r.sparse, w * w);
    dropSmall(r.support, w * w);
}

LayerCode LayerPlanner::writeLayer(size_t layer) const
{
    const LayerRegions& r = regions_[layer];
    const int64_t z = heights_.printZUm[layer];
    const int64_t thickness = layer == 0 ? z : z - heights_.printZUm[layer - 1];
    const double w = double(s_.extrusionWidthUm);
    const double filamentRadiusMm = double(s_.filamentDiameterUm) / 2000.0;
    const double eScale = (w / 1000.0) * (double(thickness) / 1000.0)
                          / (kPi * filamentRadiusMm * filamentRadiusMm)
                          * s_.filamentFlowPercent / 100.0;
    const bool first = layer == 0;
    auto speed = [&](double v) { return first ? std::min(v, s_.initialLayerSpeed) : v; };

    LayerCode code;
    std::string& t = code.text;
    t.reserve(4096);
    t += "G0 F";
    appendInt(t, std::llround(s_.moveSpeed * 60.0));
    t += " Z";
    appendFixed(t, z, 3);
    t += "\n;LAYER:";
    appendInt(t, static_cast<long long>(layer));
    t += "\nG92 E0\n";
    // Every layer but the first starts retracted: the one before ended so.
    MoveWriter mw(s_, code, !first && s_.retractionAmountUm > 0, eScale);
    code.seconds += double(thickness) / 1000.0 / s_.moveSpeed;

    const bool odd = layer % 2 == 1;
    if (!r.support.empty()) {
        writeLoops(mw, offsetPaths(r.support, -w / 2), speed(s_.supportSpeed));
        if (s_.supportLineDistanceUm > 0)
            writeLines(mw, fillLines(offsetPaths(r.support, -w), s_.supportLineDistanceUm, odd ? 90 : 0),
                       speed(s_.supportSpeed));
    }
    // Inner perimeters first, the outer one last, so the visible wall is laid against support.
    for (size_t k = r.insets.size(); k-- > 0;)
        writeLoops(mw, r.insets[k], speed(k == 0 ? s_.inset0Speed : s_.insetXSpeed));
    const double overlap = w * s_.infillOverlapPercent / 100.0;
    if (!r.skin.empty())
        writeLines(mw, fillLines(offsetPaths(r.skin, overlap), s_.skinLineSpacingUm, odd ? 135 : 45),
                   speed(s_.skinSpeed));
    if (!r.sparse.empty())
        writeLines(mw, fillLines(offsetPaths(r.sparse, overlap), s_.sparseInfillLineDistanceUm, odd ? 135 : 45),
                   speed(s_.infillSpeed));
    mw.retract();
    return code;
}

} // namespace brev
