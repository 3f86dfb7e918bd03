#pragma once

#include <QString>

#include <deque>
#include <string>
#include <string_view>
#include <vector>

class QIODevice;

// Reads an XML document from a device a chunk at a time and hands out its start and end tags
// with their attributes; text, comments, CDATA and processing instructions are passed over.
// Made for large machine-written parts: nothing is decoded or copied unless an attribute holds
// a reference. The document must be well-formed; a document type declaration is refused, so
// no entity can expand.
class XmlTagScanner
{
public:
    enum class Event { Start, End, Done, Error };

    explicit XmlTagScanner(QIODevice& device);

    // A self-closing tag gives Start and then End.
    Event next();
    // The tag's name without its prefix; valid until the next call.
    std::string_view name() const { return localName; }
    // The attribute's value with references resolved; false when the tag has none of that name.
    bool attribute(std::string_view attrName, std::string_view& value) const;
    int depth() const { return int(open.size()); }
    // Bytes taken from the device so far.
    qint64 bytesRead() const { return consumed; }
    QString errorString() const { return error; }

    static constexpr int kMaxTagBytes = 1 << 20;
    static constexpr int kMaxDepth = 256;

private:
    struct Attribute
    {
        std::string_view name;
        std::string_view value;
    };

    bool fill();        // more bytes after end; false at the end of the device
    Event readTag(); // at '<' of a start or end tag
    bool skipPast(std::string_view terminator);
    void takeLocalName();
    Event closeElement(); // the innermost open element ends
    bool decodeValue(std::string_view raw, std::string& out);
    Event fail(const QString& why);

    QIODevice& source;
    std::vector<char> buffer;
    size_t pos = 0, end = 0;
    qint64 consumed = 0;
    bool atEnd = false;
    bool pendingEnd = false; // a self-closing tag still owes its End
    bool rootSeen = false, rootClosed = false;
    std::vector<std::string> open;
    std::string qualifiedName;
    std::string_view localName;
    std::vector<Attribute> attributes;
    std::deque<std::string> decoded; // values that held references (a deque keeps them in place)
    QString error;
};
