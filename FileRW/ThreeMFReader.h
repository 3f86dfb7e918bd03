#pragma once

#include <QHash>
#include <QString>

#include <array>
#include <atomic>
#include <string_view>
#include <vector>

class QuaZipFile;
struct MeshData;

// Reads the geometry of a 3MF archive: meshes, components and build items with their transforms.
// Only the model part is read, parsed as it streams out of the archive.
class ThreeMFReader
{
public:
    // Row-vector affine transform: a point p becomes (p, 1) · M. Row 3 holds the translation.
    using Matrix = std::array<float, 12>;

    ThreeMFReader();
    ~ThreeMFReader();
    ThreeMFReader(const ThreeMFReader&) = delete;
    ThreeMFReader& operator=(const ThreeMFReader&) = delete;

    // Reads and parses the model part; false for anything that is not a sound 3MF model.
    bool open(const QString& path, std::atomic<int>* progress = nullptr,
              const std::atomic<bool>* cancelled = nullptr);

    int itemCount() const { return int(items.size()); }
    // The meshes one build item places, transformed; the caller owns them.
    // False (and nothing in out) when the item's objects form a cycle or exceed the limits.
    bool readItem(int item, std::vector<MeshData*>& out);
    // Refuses, before anything is copied, a model whose build names an object it lacks or one
    // of type "other", would place more faces and vertices than memoryBudget() holds
    // (components can repeat one mesh many times), or, withModelLimit, more meshes than the
    // plate takes models.
    bool checkBudget(bool withModelLimit = false);
    // Refused for the plate's model limit.
    bool overModelLimit() const { return modelLimitHit; }
    // Bytes the placed meshes may take: the scene's budget.
    static qint64 memoryBudget();
    // Tests put a small budget in place (0 puts the machine's back).
    static void setMemoryBudgetForTests(qint64 bytes);
    // Millimetres per unit of the model's coordinates.
    double unitScale() const { return unit; }

    QString errorString() const { return error; }
    // Why the model was refused, in a few words for the user in their language (errorString()
    // has the details); empty after success or when the load was cancelled.
    QString userReason() const;
    static QString outOfMemoryReason();

    // Every mesh of every item, in document order; false when any item is refused, or when the
    // build places more meshes than the plate takes models (withModelLimit; overModelLimit set).
    static bool load(const QString& path, std::vector<MeshData*>& meshes, std::atomic<int>& progress,
                     const std::atomic<bool>& cancelled, QString* error = nullptr, QString* userReason = nullptr,
                     bool withModelLimit = false, bool* overModelLimit = nullptr);

    // False for fewer than 12 numbers, a number a float cannot hold, or a transform that
    // flattens (its 3 x 3 part singular).
    static bool parseTransform(const QString& text, Matrix& out);
    static Matrix identity();
    // a applied first, then b.
    static Matrix multiply(const Matrix& a, const Matrix& b);

    static constexpr qint64 kMaxExpansions = 100LL * 1000;
    // What one placed face and one placed vertex cost once loaded and drawn (mesh, face tree,
    // buffers): a closed mesh, with half a vertex per face, was measured at 283 bytes a face.
    static constexpr qint64 kBytesPerVertex = 64;
    static constexpr qint64 kBytesPerFace = 283 - kBytesPerVertex / 2;
    // Every object, component and build item may become a model of its own (one object id can
    // name many objects): a placed tetrahedron was measured at 1.1 KB in the reader alone, and
    // its draw buffers and list row take more. Its id text is charged on top, 2 bytes a letter.
    static constexpr qint64 kBytesPerRecord = 4096;
    // The model part's XML: elements open at once, and bytes in one tag (or comment).
    static constexpr int kMaxXmlDepth = 256;
    static constexpr int kMaxTagBytes = 1 << 20;
    static constexpr std::string_view kCoreNamespace = "http://schemas.microsoft.com/3dmanufacturing/core/2015/02";
    // Extensions a file may require: the materials one only colours what the core places, and
    // of the production one only paths to other parts matter, which are refused where used.
    static constexpr std::string_view kMaterialNamespace = "http://schemas.microsoft.com/3dmanufacturing/material/2015/02";
    static constexpr std::string_view kProductionNamespace = "http://schemas.microsoft.com/3dmanufacturing/production/2015/06";

private:
    // A component of an object or an item of the build.
    struct Placement
    {
        QString objectId;
        Matrix transform;
    };
    struct Object
    {
        bool hasComponents = false;
        bool other = false; // of type "other": not to be placed
        std::vector<Placement> components;
        std::vector<float> vertices;   // x, y, z per vertex
        std::vector<std::array<int32_t, 3>> triangles; // checked against vertices
    };

    bool readObject(const QString& id, const Matrix& m, std::vector<QString>& stack,
                    std::vector<MeshData*>& out);
    // What placing an object makes, components included.
    struct Placed
    {
        qint64 faces = 0, vertices = 0, meshes = 0;
        void add(const Placed& other); // saturating
    };
    // The objects of that id, when there are any and they may be placed inside the objects of
    // stack (else the reader fails): no cycle, not too deep, none of type "other".
    const std::vector<int>* placeable(const QString& id, const std::vector<QString>& stack);
    // fn(index, object) for each placeable object of that id, with id on the stack meanwhile;
    // false when the id is not placeable or fn returns false.
    template <typename Fn>
    bool eachPlaced(const QString& id, std::vector<QString>& stack, Fn fn);
    // Memoised in sizes; false for a missing object, one of type "other", or a cycle.
    bool placedSize(const QString& id, std::vector<QString>& stack, QHash<QString, Placed>& sizes, Placed& out);
    bool parse(QuaZipFile& part, qint64 declaredSize, std::atomic<int>* progress);
    struct ParseState; // the XML parser's handlers
    // userText: a ThreeMFReader text for the user, untranslated; null when the user cancelled.
    bool fail(const char* userText, const QString& why);
    // The same with the user's text made already (translated, numbers filled in).
    bool failWith(const QString& userText, const QString& why);

    std::vector<Object> objects;           // in document order
    QHash<QString, std::vector<int>> byId; // objects by id (ids are unique: a second is refused)
    std::vector<Placement> items;
    qint64 expansions = 0;
    double unit = 1.0;
    const std::atomic<bool>* cancel = nullptr;
    QString error;
    const char* userText = nullptr;
    QString userMade;
    bool modelLimitHit = false;
};
