#include "FileRW/ThreeMFReader.h"

#include <QCoreApplication>

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <utility>

#include <quazip.h>
#include <quazipfile.h>

#include <expat.h>

#include "FileRW/ThreeMFStream.h"
#include "app/QsLog.h"
#include "scene/MeshData.h"
#include "scene/SceneBudget.h"

namespace {
constexpr int kMaxComponentDepth = 64; // components nest a few levels in real files
constexpr qint64 kSaturated = qint64(1) << 60;

// What the user is told, by cause (translated when shown).
const char* const kNotZip = QT_TRANSLATE_NOOP("ThreeMFReader", "The file is not a 3MF archive.");
const char* const kNoModel = QT_TRANSLATE_NOOP("ThreeMFReader", "The archive holds no 3D model.");
const char* const kDamaged = QT_TRANSLATE_NOOP("ThreeMFReader", "The archive is damaged.");
const char* const kNotXml = QT_TRANSLATE_NOOP("ThreeMFReader", "The 3D model is not well-formed XML.");
const char* const kBadIndex =
    QT_TRANSLATE_NOOP("ThreeMFReader", "A triangle of the model refers to a vertex that does not exist.");
const char* const kBadNumber =
    QT_TRANSLATE_NOOP("ThreeMFReader", "The model holds a coordinate or transform that cannot be used.");
const char* const kComponents =
    QT_TRANSLATE_NOOP("ThreeMFReader", "The model's components refer to each other in a loop or nest too deeply.");
const char* const kNothingPlaced = QT_TRANSLATE_NOOP("ThreeMFReader", "The model places no mesh with triangles.");
const char* const kTooLarge = QT_TRANSLATE_NOOP("ThreeMFReader", "The model is too large for this computer.");
const char* const kNoMemory = QT_TRANSLATE_NOOP("ThreeMFReader", "There is not enough memory to load the model.");
// %1: an object id as the file gives it.
const char* const kMissingObject = QT_TRANSLATE_NOOP("ThreeMFReader", "The model places object \"%1\", which it does not hold.");
const char* const kOtherObject = QT_TRANSLATE_NOOP("ThreeMFReader", "The model places object \"%1\", which is not a model (its type is \"other\").");
const char* const kDuplicateObject = QT_TRANSLATE_NOOP("ThreeMFReader", "The model holds two objects with the id \"%1\".");
// %1: a namespace or prefix.
const char* const kUnknownExtension = QT_TRANSLATE_NOOP("ThreeMFReader", "The model needs a 3MF extension this program cannot read: %1.");
const char* const kOtherPart = QT_TRANSLATE_NOOP("ThreeMFReader", "The model places objects from another part of the archive, which this program cannot read.");
const char* const kTooManyParts = QT_TRANSLATE_NOOP("ThreeMFReader", "The model places more than %1 components and items.");

QString translated(const char* text)
{
    return QCoreApplication::translate("ThreeMFReader", text);
}

qint64 saturatedAdd(qint64 a, qint64 b)
{
    return std::min(kSaturated, a + b);
}

// Millimetres per unit; millimetres when the unit is missing or unknown.
double unitInMm(std::string_view unit)
{
    static const std::pair<std::string_view, double> units[] = {
        {"micron", 0.001}, {"millimeter", 1.0}, {"centimeter", 10.0}, {"inch", 25.4}, {"foot", 304.8}, {"meter", 1000.0}};
    for (const auto& u : units)
        if (unit == u.first)
            return u.second;
    return 1.0;
}

// An attribute of no namespace; expat hands them as name, value, ..., null.
const char* attribute(const char** atts, std::string_view name)
{
    for (; *atts; atts += 2)
        if (name == atts[0])
            return atts[1];
    return nullptr;
}

QString text(const char* value)
{
    return value ? QString::fromUtf8(value) : QString();
}

// The bytes of [p, p + n) up to the end of the first tag that may open a list of vertices or
// triangles (with inTag, of the tag the parser holds unfinished), where a run may begin; n when
// there is none.
size_t untilList(const char* p, size_t n, bool inTag)
{
    size_t from = 0;
    if (!inTag) {
        from = n;
        for (const std::string_view tag : {std::string_view("vertices"), std::string_view("triangles")})
            if (const void* at = memmem(p, from, tag.data(), tag.size()))
                from = size_t(static_cast<const char*>(at) - p) + tag.size();
        if (from == n)
            return n;
    }
    const void* gt = std::memchr(p + from, '>', n - from);
    return gt ? size_t(static_cast<const char*>(gt) - p) + 1 : n;
}

// The 3 x 3 part must keep a volume. |det| is weighed against the product of the row lengths,
// its largest value for those rows, so that the test does not depend on scale; below 1e-6 the
// rows are dependent within a few single-precision roundings and the model would be flattened.
bool singular(const ThreeMFReader::Matrix& m)
{
    double rows = 1.0;
    for (int r = 0; r < 3; ++r)
        rows *= std::sqrt(double(m[3 * r]) * m[3 * r] + double(m[3 * r + 1]) * m[3 * r + 1]
                          + double(m[3 * r + 2]) * m[3 * r + 2]);
    const double det = double(m[0]) * (double(m[4]) * m[8] - double(m[5]) * m[7])
                       - double(m[1]) * (double(m[3]) * m[8] - double(m[5]) * m[6])
                       + double(m[2]) * (double(m[3]) * m[7] - double(m[4]) * m[6]);
    return !std::isfinite(det) || !(std::abs(det) > 1e-6 * rows);
}
} // namespace

ThreeMFReader::ThreeMFReader() = default;
ThreeMFReader::~ThreeMFReader() = default;

bool ThreeMFReader::fail(const char* user, const QString& why)
{
    if (error.isEmpty()) {
        error = why;
        userText = user;
    }
    return false;
}

QString ThreeMFReader::outOfMemoryReason()
{
    return QCoreApplication::translate("ThreeMFReader", kNoMemory);
}

bool ThreeMFReader::failWith(const QString& user, const QString& why)
{
    if (error.isEmpty())
        userMade = user;
    return fail(kNotXml, why); // userMade is what the user reads
}

QString ThreeMFReader::userReason() const
{
    if (!userMade.isEmpty())
        return userMade;
    return userText ? QCoreApplication::translate("ThreeMFReader", userText) : QString();
}

ThreeMFReader::Matrix ThreeMFReader::identity()
{
    return {1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0};
}

ThreeMFReader::Matrix ThreeMFReader::multiply(const Matrix& a, const Matrix& b)
{
    // Rows of a are (a[3r], a[3r+1], a[3r+2], 0 or 1); the product keeps the affine form.
    Matrix r{};
    for (int row = 0; row < 4; ++row) {
        for (int col = 0; col < 3; ++col) {
            float s = a[row * 3 + 0] * b[0 + col] + a[row * 3 + 1] * b[3 + col] + a[row * 3 + 2] * b[6 + col];
            if (row == 3)
                s += b[9 + col];
            r[row * 3 + col] = s;
        }
    }
    return r;
}

bool ThreeMFReader::parseTransform(const QString& text, Matrix& out)
{
    // Any white space separates (a tab may come as a character reference); a part that is not
    // a number reads as 0.
    QVector<QStringRef> parts;
    for (int i = 0, n = text.size(); i < n;) {
        while (i < n && text[i].isSpace())
            ++i;
        const int start = i;
        while (i < n && !text[i].isSpace())
            ++i;
        if (i > start)
            parts.push_back(text.midRef(start, i - start));
    }
    if (parts.size() < 12)
        return false;
    for (int i = 0; i < 12; ++i) {
        // A number past what a float holds would be stored as 0 or infinity: refused, not wrapped.
        bool ok = false;
        const double v = parts[i].toDouble(&ok);
        if (ok ? !(std::abs(v) <= FLT_MAX) : std::isinf(v))
            return false;
        out[size_t(i)] = ok ? float(v) : 0.0f;
    }
    return !singular(out);
}

bool ThreeMFReader::open(const QString& path, std::atomic<int>* progress, const std::atomic<bool>* cancelled)
{
    error.clear();
    userText = nullptr;
    userMade.clear();
    modelLimitHit = false;
    cancel = cancelled;
    QuaZip zip(path);
    if (!zip.open(QuaZip::mdUnzip))
        return fail(kNotZip, QStringLiteral("not a zip archive"));
    bool found = false;
    for (bool more = zip.goToFirstFile(); more; more = zip.goToNextFile()) {
        if (zip.getCurrentFileName().contains(QLatin1String("3D/3dmodel.model"))) {
            found = true;
            break;
        }
    }
    if (!found)
        return fail(kNoModel, QStringLiteral("no model part"));
    QuaZipFileInfo64 info;
    if (!zip.getCurrentFileInfo(&info))
        return fail(kDamaged, QStringLiteral("model part unreadable"));
    QuaZipFile part(&zip);
    if (!part.open(QIODevice::ReadOnly))
        return fail(kDamaged, QStringLiteral("model part unreadable"));
    // Parsed as it is inflated, so the part's size is bounded by what it holds, not by a cap.
    const bool parsed = parse(part, qint64(info.uncompressedSize), progress);
    const bool readError = part.getZipError() != UNZ_OK;
    part.close();
    if (readError || part.getZipError() != UNZ_OK)
        return fail(kDamaged, QStringLiteral("model part damaged"));
    if (!parsed)
        return false;
    if (progress)
        *progress = 5000;
    return true;
}

// Where each open element stands; an element the reader does not use, or of another namespace,
// is passed over with all it holds.
struct ThreeMFReader::ParseState
{
    enum class In { Skip, Model, Resources, Object, Mesh, Vertices, Triangles, Components, Build };

    ParseState(ThreeMFReader& reader, XML_Parser p)
        : r(reader)
        , parser(p)
    {
    }

    ThreeMFReader& r;
    XML_Parser parser;
    std::vector<In> path;
    bool sawModel = false, sawResources = false, sawBuild = false, sawMesh = false, sawComponents = false;
    bool sawVertices = false, sawTriangles = false;
    bool stopped = false; // expat may still report an element's end
    Object obj;
    QString objId;
    // Namespaces the root element declares, by prefix ("" for the default one).
    QHash<QString, QString> declared;
    // What the stored records will cost placed once: refused as they grow past the budget.
    const qint64 budget = memoryBudget();
    qint64 storedCost = 0;
    // The numbers of the vertices and triangles being read, converted beside the parser.
    ThreeMFStream::NumberTexts coordinates{ThreeMFStream::NumberTexts::Kind::Coordinates};
    ThreeMFStream::NumberTexts indices{ThreeMFStream::NumberTexts::Kind::Indices};

    // A coordinate read before the parser stopped comes first in the file, so its refusal
    // comes first too.
    void settleNumbers()
    {
        if (!coordinates.settle())
            r.fail(kBadNumber, QStringLiteral("vertex not finite"));
    }
    // Stops the parser; the reader keeps the first reason.
    void stop(const char* userText, const QString& why)
    {
        settleNumbers();
        r.fail(userText, why);
        stopped = true;
        XML_StopParser(parser, XML_FALSE);
    }
    bool charge(qint64 bytes)
    {
        storedCost += bytes;
        if (storedCost <= budget)
            return true;
        stop(kTooLarge, QStringLiteral("model too large: its records need more than the %1 MB "
                                       "this computer can spare").arg(budget >> 20));
        return false;
    }
    void stopWith(const QString& userText, const QString& why)
    {
        r.failWith(userText, why);
        stopped = true;
        XML_StopParser(parser, XML_FALSE);
    }
    // Every extension the file requires must be one whose absence cannot change the geometry.
    void checkRequired(const char* required)
    {
        const QStringList prefixes = text(required).simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts);
        for (const QString& prefix : prefixes) {
            const QString ns = declared.value(prefix);
            const std::string uri = ns.toStdString();
            if (uri != kCoreNamespace && uri != kMaterialNamespace && uri != kProductionNamespace)
                return stopWith(translated(kUnknownExtension).arg(ns.isEmpty() ? prefix : ns),
                                QStringLiteral("requires extension %1 (%2)").arg(prefix, ns));
        }
    }
    bool chargeRecord(const QString& name) { return charge(kBytesPerRecord + 2 * qint64(name.size())); }
    // A component or a build item: an object and where it stands.
    void place(std::vector<Placement>& into, const char** atts, const char* what)
    {
        // An object of another model part: its id means something else in this one.
        static const std::string otherPart = std::string(kProductionNamespace) + " path";
        for (const char** a = atts; *a; a += 2)
            if (otherPart == a[0])
                return stopWith(translated(kOtherPart), QStringLiteral("%1 with a path to %2").arg(QLatin1String(what), text(a[1])));
        Placement p{text(attribute(atts, "objectid")), identity()};
        const char* t = attribute(atts, "transform");
        if (t && !parseTransform(QString::fromUtf8(t), p.transform))
            return stop(kBadNumber, QStringLiteral("bad %1 transform").arg(QLatin1String(what)));
        if (chargeRecord(p.objectId))
            into.push_back(std::move(p));
    }
    bool admitVertex()
    {
        if (coordinates.count() >= size_t(INT32_MAX)) {
            stop(kTooLarge, QStringLiteral("more vertices than an index reaches"));
            return false;
        }
        return charge(kBytesPerVertex);
    }
    // Where the feeder may read a run of plain elements itself: directly inside the vertices or
    // triangles being read, with names that are the core's as the root binds them (nothing
    // below the root declares a namespace), and while runs keep coming.
    bool runsPossible = false, namespacesBelowRoot = false, runOpen = false;
    ThreeMFStream::RunScanner::Names runNames;
    bool inCdata = false; // its text is no markup, though expat holds no token of it
    int misses = 0; // places in this list where no run began
    void findRunPrefix()
    {
        const QString core = QString::fromUtf8(kCoreNamespace.data(), int(kCoreNamespace.size()));
        const QString plain = declared.value(QString());
        runNames.unprefixed = plain.isEmpty() || plain == core;
        QString first; // of the prefixes bound to the core, the same one each time
        for (auto d = declared.cbegin(); d != declared.cend(); ++d)
            if (!d.key().isEmpty() && d.value() == core && (first.isEmpty() || d.key() < first))
                first = d.key();
        if (!first.isEmpty())
            runNames.prefix = first.toStdString() + ":";
        runsPossible = runNames.unprefixed || !first.isEmpty();
    }
    // Outside what is skipped, the build and the components, which hold no list.
    bool runsMayCome() const
    {
        if (stopped || namespacesBelowRoot || (sawModel && !runsPossible))
            return false;
        return path.empty() || (path.back() != In::Skip && path.back() != In::Build && path.back() != In::Components);
    }
    const ThreeMFStream::NumberTexts::Kind* runKind() const
    {
        static constexpr auto c = ThreeMFStream::NumberTexts::Kind::Coordinates;
        static constexpr auto i = ThreeMFStream::NumberTexts::Kind::Indices;
        if (stopped || !runOpen || inCdata || !runsPossible || namespacesBelowRoot || path.empty())
            return nullptr;
        return path.back() == In::Vertices ? &c : path.back() == In::Triangles ? &i : nullptr;
    }
    // The run's elements, charged and refused as start() would, one by one.
    void takeRun(ThreeMFStream::RunScanner& runs, bool vertices)
    {
        const qint64 cost = vertices ? kBytesPerVertex : kBytesPerFace;
        for (size_t i = 0; i < runs.pieceCount(); ++i) {
            ThreeMFStream::RunScanner::Piece& p = runs.pieces()[i];
            size_t k = std::min(p.count, size_t((budget - storedCost) / cost));
            if (vertices)
                k = std::min(k, size_t(INT32_MAX) - std::min(coordinates.count(), size_t(INT32_MAX)));
            storedCost += qint64(k) * cost;
            if (vertices) {
                p.coordinates.resize(k * 3);
                coordinates.addConverted(std::move(p.coordinates), {}, k, p.firstBad < k);
            } else {
                p.indices.resize(k);
                indices.addConverted({}, std::move(p.indices), k, false);
            }
            if (k < p.count) {
                vertices ? admitVertex() : charge(kBytesPerFace); // refuses the first one left
                return;
            }
        }
    }
    void start(const char* qualified, const char** atts);
    void end();
};

void ThreeMFReader::ParseState::start(const char* qualified, const char** atts)
{
    if (stopped)
        return;
    if (path.size() >= size_t(kMaxXmlDepth))
        return stop(kNotXml, QStringLiteral("elements nested deeper than %1").arg(kMaxXmlDepth));
    if (XML_GetCurrentByteCount(parser) > kMaxTagBytes)
        return stop(kNotXml, QStringLiteral("a tag longer than %1 bytes").arg(kMaxTagBytes));
    // Names come as "namespace local"; only the core namespace's elements count. A name with no
    // namespace at all counts too: files written without any xmlns loaded before and still do.
    std::string_view name(qualified);
    const size_t coreSize = kCoreNamespace.size();
    const bool core = name.size() > coreSize && name[coreSize] == ' ' && name.substr(0, coreSize) == kCoreNamespace;
    if (core)
        name = name.substr(coreSize + 1);
    else if (name.find(' ') != std::string_view::npos)
        name = std::string_view();
    auto firstTime = [](bool& seen) { return !std::exchange(seen, true); };
    In next = In::Skip;
    switch (path.empty() ? In::Skip : path.back()) {
    case In::Skip:
        if (path.empty() && name == "model") {
            const char* unitText = attribute(atts, "unit");
            r.unit = unitText ? unitInMm(unitText) : 1.0;
            sawModel = true;
            findRunPrefix();
            if (const char* required = attribute(atts, "requiredextensions")) {
                checkRequired(required);
                if (stopped)
                    return;
            }
            next = In::Model;
        }
        break;
    case In::Model:
        if (name == "resources" && firstTime(sawResources))
            next = In::Resources;
        else if (name == "build" && firstTime(sawBuild))
            next = In::Build;
        break;
    case In::Resources:
        if (name == "object") {
            obj = Object();
            objId = text(attribute(atts, "id"));
            const char* type = attribute(atts, "type");
            obj.other = type && std::string_view(type) == "other";
            sawMesh = sawComponents = false;
            if (!chargeRecord(objId))
                return;
            next = In::Object;
        }
        break;
    case In::Object:
        if (name == "mesh" && firstTime(sawMesh)) {
            sawVertices = sawTriangles = false;
            next = In::Mesh;
        } else if (name == "components") {
            obj.hasComponents = true;
            if (firstTime(sawComponents))
                next = In::Components;
        }
        break;
    case In::Mesh:
        if (name == "vertices" && firstTime(sawVertices))
            next = In::Vertices;
        else if (name == "triangles" && firstTime(sawTriangles))
            next = In::Triangles;
        runOpen = next != In::Skip;
        misses = 0;
        break;
    case In::Vertices:
        if (name == "vertex") {
            if (!admitVertex())
                return;
            coordinates.add(attribute(atts, "x"), attribute(atts, "y"), attribute(atts, "z"));
        }
        break;
    case In::Triangles:
        if (name == "triangle") {
            if (!charge(kBytesPerFace))
                return;
            indices.add(attribute(atts, "v1"), attribute(atts, "v2"), attribute(atts, "v3"));
        }
        break;
    case In::Components:
        if (name == "component")
            place(obj.components, atts, "component");
        break;
    case In::Build:
        if (name == "item")
            place(r.items, atts, "item");
        break;
    }
    path.push_back(next);
}

void ThreeMFReader::ParseState::end()
{
    if (stopped)
        return;
    const In closed = path.back();
    path.pop_back();
    if (closed == In::Vertices) {
        if (!coordinates.takeCoordinates(obj.vertices))
            return stop(kBadNumber, QStringLiteral("vertex not finite"));
    } else if (closed == In::Triangles) {
        indices.takeIndices(obj.triangles);
    } else if (closed == In::Mesh) {
        const qint64 n = qint64(obj.vertices.size() / 3);
        for (const auto& t : obj.triangles)
            for (int32_t v : t)
                if (v < 0 || v >= n)
                    return stop(kBadIndex, QStringLiteral("triangle index out of range"));
    } else if (closed == In::Object) {
        if (r.byId.contains(objId))
            return stopWith(translated(kDuplicateObject).arg(objId), QStringLiteral("object id %1 given twice").arg(objId));
        r.byId[objId].push_back(int(r.objects.size()));
        r.objects.push_back(std::move(obj));
    }
}

bool ThreeMFReader::parse(QuaZipFile& part, qint64 declaredSize, std::atomic<int>* progress)
{
    objects.clear();
    byId.clear();
    items.clear();
    expansions = 0;

    // Names with their namespace, so that a prefix counts only for what it is bound to; expat
    // reads UTF-8 and UTF-16 and hands out UTF-8.
    const std::unique_ptr<XML_ParserStruct, void (*)(XML_Parser)> parser(XML_ParserCreateNS(nullptr, ' '), XML_ParserFree);
    if (!parser)
        throw std::bad_alloc();
    ParseState state(*this, parser.get());
    XML_SetUserData(parser.get(), &state);
    // Prefixes are resolved for the root's requiredextensions; expat takes xmlns attributes away.
    XML_SetStartNamespaceDeclHandler(parser.get(), [](void* s, const XML_Char* prefix, const XML_Char* uri) {
        auto* state = static_cast<ParseState*>(s);
        if (state->path.empty())
            state->declared.insert(text(prefix), text(uri));
        else
            state->namespacesBelowRoot = true;
    });
    XML_SetElementHandler(
        parser.get(),
        [](void* s, const XML_Char* name, const XML_Char** atts) { static_cast<ParseState*>(s)->start(name, atts); },
        [](void* s, const XML_Char*) { static_cast<ParseState*>(s)->end(); });
    XML_SetCdataSectionHandler(
        parser.get(), [](void* s) { static_cast<ParseState*>(s)->inCdata = true; },
        [](void* s) { static_cast<ParseState*>(s)->inCdata = false; });
    // No document type, so no entity can expand.
    XML_SetStartDoctypeDeclHandler(parser.get(), [](void* s, const XML_Char*, const XML_Char*, const XML_Char*, int) {
        static_cast<ParseState*>(s)->stop(kNotXml, QStringLiteral("document type declarations are not allowed"));
    });

    // The part is inflated on a thread of its own while expat parses what came before. Runs of
    // plain vertices and triangles are read on every core instead; expat gets their line ends,
    // so that it still counts lines for its errors.
    ThreeMFStream::InflatingReader inflated(part, size_t(4) << 20);
    ThreeMFStream::RunScanner runs;
    // Fed in slices, so that the cap on an unfinished tag is checked at least once a megabyte.
    constexpr size_t kSlice = size_t(1) << 20;
    qint64 fed = 0, fedXml = 0;
    char lastFed = 0;
    auto feed = [&](const char* data, size_t n, bool last) {
        fedXml += qint64(n);
        if (n > 0)
            lastFed = data[n - 1];
        return XML_Parse(parser.get(), data, int(n), last) == XML_STATUS_OK;
    };
    auto xmlError = [&]() {
        state.settleNumbers();
        if (!error.isEmpty())
            return false;
        return fail(kNotXml, QStringLiteral("XML error at line %1: %2")
                                 .arg(XML_GetCurrentLineNumber(parser.get()))
                                 .arg(QLatin1String(XML_ErrorString(XML_GetErrorCode(parser.get())))));
    };
    static const std::string lineEnds(4096, '\n');
    for (bool last = false; !last;) {
        if (cancel && cancel->load(std::memory_order_relaxed))
            return fail(nullptr, QStringLiteral("cancelled"));
        const char* chunk = nullptr;
        qint64 n = 0;
        if (!inflated.next(chunk, n)) {
            state.settleNumbers();
            return fail(kDamaged, QStringLiteral("model part damaged"));
        }
        fed += n;
        last = n == 0;
        if (last && !feed(chunk, 0, true))
            return xmlError();
        for (size_t left = size_t(n); left > 0;) {
            size_t m = std::min(left, kSlice);
            if (const auto* kind = state.runKind()) {
                // Only where expat holds no unfinished token, nor a "\r" that may pair with a "\n".
                if (XML_GetCurrentByteIndex(parser.get()) == fedXml && lastFed != '\r') {
                    const auto run = runs.scan(*kind, state.runNames, chunk, left);
                    if (run.count == 0 && left > 4096 && ++state.misses > 16)
                        state.runOpen = false; // not a list of plain elements: expat reads the rest
                    if (run.count > 0) {
                        state.takeRun(runs, *kind == ThreeMFStream::NumberTexts::Kind::Coordinates);
                        if (state.stopped) {
                            state.settleNumbers();
                            return false;
                        }
                        for (size_t k = run.lines; k > 0;) {
                            const size_t e = std::min(k, lineEnds.size());
                            if (!feed(lineEnds.data(), e, false))
                                return xmlError();
                            k -= e;
                        }
                        chunk += run.bytes;
                        left -= run.bytes;
                        continue;
                    }
                }
                // Up to the end of the next tag, where a run may begin.
                m = untilList(chunk, m, true);
            } else if (state.runsMayCome()) {
                m = untilList(chunk, m, XML_GetCurrentByteIndex(parser.get()) != fedXml);
            }
            if (!feed(chunk, m, false))
                return xmlError();
            chunk += m;
            left -= m;
            // Expat holds an unfinished tag, comment or instruction whole: not past the cap.
            if (fedXml - XML_GetCurrentByteIndex(parser.get()) > kMaxTagBytes) {
                state.settleNumbers();
                return fail(kNotXml, QStringLiteral("a tag longer than %1 bytes").arg(kMaxTagBytes));
            }
        }
        if (progress && declaredSize > 0)
            *progress = int(std::min(fed, declaredSize) * 5000 / declaredSize);
    }
    state.settleNumbers();
    if (!error.isEmpty())
        return false;
    if (!state.sawModel)
        return fail(kNoModel, QStringLiteral("no model root"));
    // The header's size is a claim: a part that does not match it is damaged.
    if (declaredSize != fed)
        return fail(kDamaged, QStringLiteral("model part holds %1 bytes, its header says %2").arg(fed).arg(declaredSize));
    return true;
}

template <typename Fn>
bool ThreeMFReader::eachPlaced(const QString& id, std::vector<QString>& stack, Fn fn)
{
    const auto found = placeable(id, stack);
    if (!found)
        return false;
    stack.push_back(id);
    for (int index : *found)
        if (!fn(index, objects[size_t(index)]))
            return false;
    stack.pop_back();
    return true;
}

bool ThreeMFReader::readObject(const QString& id, const Matrix& m, std::vector<QString>& stack,
                               std::vector<MeshData*>& out)
{
    if (++expansions > kMaxExpansions)
        return failWith(translated(kTooManyParts).arg(kMaxExpansions), QStringLiteral("too many components"));
    return eachPlaced(id, stack, [&](int, const Object& obj) {
        if (obj.hasComponents) {
            for (const Placement& c : obj.components)
                if (!readObject(c.objectId, multiply(c.transform, m), stack, out))
                    return false;
            return true;
        }
        const size_t n = obj.vertices.size() / 3;
        if (n == 0 || obj.triangles.empty())
            return true; // a mesh without vertices or triangles adds no model
        if (cancel && cancel->load(std::memory_order_relaxed))
            return fail(nullptr, QStringLiteral("cancelled"));
        auto* mesh = new MeshData;
        out.push_back(mesh);
        mesh->vertices.resize(n);
        const float* v = obj.vertices.data();
        for (size_t i = 0; i < n; ++i, v += 3) {
            if ((i & 0xffff) == 0xffff && cancel && cancel->load(std::memory_order_relaxed))
                return fail(nullptr, QStringLiteral("cancelled"));
            const float x = v[0], y = v[1], z = v[2];
            mesh->vertices[i] = {double(x * m[0] + y * m[3] + z * m[6] + m[9]) * unit,
                                 double(x * m[1] + y * m[4] + z * m[7] + m[10]) * unit,
                                 double(x * m[2] + y * m[5] + z * m[8] + m[11]) * unit};
        }
        mesh->faces = obj.triangles;
        for (const auto& p : mesh->vertices)
            if (!std::isfinite(p[0]) || !std::isfinite(p[1]) || !std::isfinite(p[2]))
                return fail(kBadNumber, QStringLiteral("transformed vertex not finite"));
        return true;
    });
}

const std::vector<int>* ThreeMFReader::placeable(const QString& id, const std::vector<QString>& stack)
{
    if (int(stack.size()) >= kMaxComponentDepth) {
        fail(kComponents, QStringLiteral("components nested too deep"));
        return nullptr;
    }
    for (const QString& s : stack) {
        if (s == id) {
            fail(kComponents, QStringLiteral("component cycle through object %1").arg(id));
            return nullptr;
        }
    }
    const auto found = byId.constFind(id);
    if (found == byId.constEnd()) {
        failWith(translated(kMissingObject).arg(id), QStringLiteral("no object %1").arg(id));
        return nullptr;
    }
    for (int index : *found) {
        if (objects[size_t(index)].other) {
            failWith(translated(kOtherObject).arg(id), QStringLiteral("object %1 of type other placed").arg(id));
            return nullptr;
        }
    }
    return &*found;
}

bool ThreeMFReader::placedSize(const QString& id, std::vector<QString>& stack, QHash<QString, Placed>& sizes, Placed& out)
{
    const auto known = sizes.constFind(id);
    if (known != sizes.constEnd()) {
        out = *known;
        return true;
    }
    Placed sum;
    const bool ok = eachPlaced(id, stack, [&](int, const Object& obj) {
        if (!obj.hasComponents) {
            if (!obj.vertices.empty() && !obj.triangles.empty())
                sum.add({qint64(obj.triangles.size()), qint64(obj.vertices.size() / 3), 1});
            return true;
        }
        for (const Placement& c : obj.components) {
            Placed part;
            if (!placedSize(c.objectId, stack, sizes, part))
                return false;
            sum.add(part);
        }
        return true;
    });
    if (!ok)
        return false;
    sizes.insert(id, sum);
    out = sum;
    return true;
}

void ThreeMFReader::Placed::add(const Placed& other)
{
    faces = saturatedAdd(faces, other.faces);
    vertices = saturatedAdd(vertices, other.vertices);
    meshes = saturatedAdd(meshes, other.meshes);
}

void ThreeMFReader::setMemoryBudgetForTests(qint64 bytes)
{
    SceneBudget::setMemoryBytesForTests(bytes);
}

qint64 ThreeMFReader::memoryBudget()
{
    return SceneBudget::memoryBytes();
}

bool ThreeMFReader::checkBudget(bool withModelLimit)
{
    QHash<QString, Placed> sizes;
    Placed all;
    for (const Placement& item : items) {
        std::vector<QString> stack;
        Placed part;
        if (!placedSize(item.objectId, stack, sizes, part))
            return false;
        all.add(part);
    }
    const qint64 budget = memoryBudget();
    const qint64 need = std::min(kSaturated, all.faces) / 1024 * kBytesPerFace / 1024
                        + std::min(kSaturated, all.vertices) / 1024 * kBytesPerVertex / 1024;
    if (need > budget / (1024 * 1024)) {
        return fail(kTooLarge, QStringLiteral("model too large: its components place %1 triangles and %2 vertices, "
                                   "about %3 MB, more than the %4 MB this computer can spare")
                        .arg(all.faces)
                        .arg(all.vertices)
                        .arg(need)
                        .arg(budget / (1024 * 1024)));
    }
    // Each placed mesh becomes a model of its own.
    QString reason;
    if (withModelLimit && !SceneBudget::admitsModels(0, all.meshes, &reason)) {
        modelLimitHit = true;
        return failWith(reason, QStringLiteral("the build places %1 meshes").arg(all.meshes));
    }
    return true;
}

bool ThreeMFReader::readItem(int item, std::vector<MeshData*>& out)
{
    out.clear();
    if (item < 0 || item >= itemCount())
        return false;
    std::vector<QString> stack;
    std::vector<MeshData*> meshes;
    bool ok = false;
    try {
        ok = readObject(items[size_t(item)].objectId, items[size_t(item)].transform, stack, meshes);
    } catch (const std::bad_alloc&) {
        ok = fail(kNoMemory, QStringLiteral("out of memory"));
    }
    if (!ok) {
        for (MeshData* m : meshes)
            delete m;
        return false;
    }
    out.swap(meshes);
    return true;
}

bool ThreeMFReader::load(const QString& path, std::vector<MeshData*>& meshes, std::atomic<int>& progress,
                         const std::atomic<bool>& cancelled, QString* error, QString* userReason,
                         bool withModelLimit, bool* overModelLimit)
{
    progress = 0;
    ThreeMFReader reader;
    std::vector<MeshData*> all;
    auto refuse = [&]() {
        for (MeshData* m : all)
            delete m;
        if (error)
            *error = reader.errorString();
        if (userReason)
            *userReason = reader.userReason();
        if (overModelLimit)
            *overModelLimit = reader.overModelLimit();
        QLOG_INFO() << "FileRW\\ThreeMFReader@" << __LINE__ << path << "refused:" << reader.errorString();
        return false;
    };
    bool opened = false;
    try {
        opened = reader.open(path, &progress, &cancelled);
    } catch (const std::bad_alloc&) {
        reader.fail(kNoMemory, QStringLiteral("out of memory"));
    }
    if (!opened)
        return refuse();
    if (reader.itemCount() == 0) {
        reader.fail(kNothingPlaced, QStringLiteral("no build items"));
        return refuse();
    }
    if (!reader.checkBudget(withModelLimit))
        return refuse();
    for (int i = 0; i < reader.itemCount(); ++i) {
        if (cancelled.load(std::memory_order_relaxed)) {
            reader.fail(nullptr, QStringLiteral("cancelled"));
            return refuse();
        }
        std::vector<MeshData*> itemMeshes;
        if (!reader.readItem(i, itemMeshes))
            return refuse();
        all.insert(all.end(), itemMeshes.begin(), itemMeshes.end());
        progress = 5000 + int(5000LL * (i + 1) / reader.itemCount());
    }
    if (all.empty()) {
        reader.fail(kNothingPlaced, QStringLiteral("no mesh with triangles"));
        return refuse();
    }
    meshes.insert(meshes.end(), all.begin(), all.end());
    progress = 10000;
    return true;
}
