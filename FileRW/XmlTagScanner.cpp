#include "FileRW/XmlTagScanner.h"

#include <QIODevice>

#include <cstring>

namespace {
constexpr size_t kChunk = 1 << 20;

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

void appendUtf8(std::string& out, uint32_t cp)
{
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | (cp >> 6));
        out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += char(0xE0 | (cp >> 12));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xF0 | (cp >> 18));
        out += char(0x80 | ((cp >> 12) & 0x3F));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

bool isXmlChar(uint32_t cp)
{
    return cp == 0x9 || cp == 0xA || cp == 0xD || (cp >= 0x20 && cp <= 0xD7FF) || (cp >= 0xE000 && cp <= 0xFFFD)
           || (cp >= 0x10000 && cp <= 0x10FFFF);
}
} // namespace

XmlTagScanner::XmlTagScanner(QIODevice& device)
    : source(device)
    , buffer(kChunk)
{
}

XmlTagScanner::Event XmlTagScanner::fail(const QString& why)
{
    if (error.isEmpty())
        error = why;
    return Event::Error;
}

bool XmlTagScanner::fill()
{
    if (atEnd || !error.isEmpty())
        return false;
    if (pos > 0) {
        std::memmove(buffer.data(), buffer.data() + pos, end - pos);
        end -= pos;
        pos = 0;
    }
    if (end == buffer.size()) {
        // Only one construct longer than a chunk gets here: a tag (bounded) or text being skipped.
        if (buffer.size() >= size_t(kMaxTagBytes) + kChunk) {
            fail(QStringLiteral("a tag longer than %1 bytes").arg(kMaxTagBytes));
            return false;
        }
        buffer.resize(buffer.size() * 2);
    }
    const qint64 n = source.read(buffer.data() + end, qint64(buffer.size() - end));
    if (n < 0) {
        fail(QStringLiteral("read error: %1").arg(source.errorString()));
        return false;
    }
    if (n == 0) {
        atEnd = true;
        return false;
    }
    consumed += n;
    end += size_t(n);
    return true;
}

bool XmlTagScanner::skipPast(std::string_view terminator)
{
    for (;;) {
        const std::string_view rest(buffer.data() + pos, end - pos);
        const size_t at = rest.find(terminator);
        if (at != std::string_view::npos) {
            pos += at + terminator.size();
            return true;
        }
        // Keep what may be the start of the terminator.
        if (end - pos >= terminator.size())
            pos = end - (terminator.size() - 1);
        if (!fill()) {
            fail(QStringLiteral("unterminated comment, CDATA or processing instruction"));
            return false;
        }
    }
}

XmlTagScanner::Event XmlTagScanner::next()
{
    attributes.clear();
    decoded.clear();
    if (pendingEnd) {
        pendingEnd = false;
        return closeElement();
    }
    if (consumed == 0) {
        // A UTF-8 byte order mark may open the document.
        while (end - pos < 3 && fill()) {
        }
        if (end - pos >= 3 && std::memcmp(buffer.data() + pos, "\xEF\xBB\xBF", 3) == 0)
            pos += 3;
    }
    for (;;) {
        if (pos == end && !fill()) {
            if (!error.isEmpty())
                return Event::Error;
            if (!rootClosed)
                return fail(rootSeen ? QStringLiteral("the document ends inside an element")
                                     : QStringLiteral("no root element"));
            return Event::Done;
        }
        const char* from = buffer.data() + pos;
        const char* lt = static_cast<const char*>(std::memchr(from, '<', end - pos));
        const char* textEnd = lt ? lt : buffer.data() + end;
        if (open.empty())
            for (const char* c = from; c < textEnd; ++c)
                if (!isSpace(*c))
                    return fail(QStringLiteral("text outside the root element"));
        pos = size_t(textEnd - buffer.data());
        if (!lt)
            continue;
        while (end - pos < 9 && fill()) {
        }
        if (!error.isEmpty())
            return Event::Error;
        const std::string_view head(buffer.data() + pos, std::min<size_t>(9, end - pos));
        if (head.substr(0, 2) == "<?") {
            pos += 2;
            if (!skipPast("?>"))
                return Event::Error;
        } else if (head.substr(0, 4) == "<!--") {
            pos += 4;
            if (!skipPast("-->"))
                return Event::Error;
        } else if (head == "<![CDATA[") {
            if (open.empty())
                return fail(QStringLiteral("CDATA outside the root element"));
            pos += 9;
            if (!skipPast("]]>"))
                return Event::Error;
        } else if (head.substr(0, 2) == "<!") {
            return fail(QStringLiteral("document type declarations are not allowed"));
        } else {
            return readTag();
        }
    }
}

XmlTagScanner::Event XmlTagScanner::closeElement()
{
    qualifiedName = std::move(open.back());
    open.pop_back();
    rootClosed = open.empty();
    takeLocalName();
    return Event::End;
}

void XmlTagScanner::takeLocalName()
{
    const size_t colon = qualifiedName.rfind(':');
    localName = std::string_view(qualifiedName).substr(colon == std::string::npos ? 0 : colon + 1);
}

XmlTagScanner::Event XmlTagScanner::readTag()
{
    // The tag ends at the first '>' outside quotes; read on until it is whole.
    size_t scanned = 1;
    char quote = 0;
    for (;;) {
        const char* b = buffer.data() + pos;
        const size_t avail = end - pos;
        for (; scanned < avail; ++scanned) {
            const char c = b[scanned];
            if (quote) {
                if (c == quote)
                    quote = 0;
            } else if (c == '"' || c == '\'') {
                quote = c;
            } else if (c == '>') {
                break;
            }
        }
        if (scanned < avail)
            break;
        if (scanned > size_t(kMaxTagBytes))
            return fail(QStringLiteral("a tag longer than %1 bytes").arg(kMaxTagBytes));
        if (!fill())
            return error.isEmpty() ? fail(QStringLiteral("the document ends inside a tag")) : Event::Error;
    }
    const char* b = buffer.data();
    const size_t tagStart = pos, gt = pos + scanned;
    pos = gt + 1;

    if (b[tagStart + 1] == '/') {
        size_t e = gt;
        while (e > tagStart + 2 && isSpace(b[e - 1]))
            --e;
        const std::string_view closing(b + tagStart + 2, e - tagStart - 2);
        if (open.empty() || closing != open.back())
            return fail(QStringLiteral("end tag </%1> does not match").arg(QString::fromUtf8(closing.data(), int(closing.size()))));
        return closeElement();
    }

    size_t e = gt;
    const bool selfClosing = b[e - 1] == '/' && e - 1 > tagStart;
    if (selfClosing)
        --e;
    size_t i = tagStart + 1;
    while (i < e && !isSpace(b[i]))
        ++i;
    if (i == tagStart + 1)
        return fail(QStringLiteral("a tag without a name"));
    if (rootClosed)
        return fail(QStringLiteral("content after the root element"));
    if (open.size() >= size_t(kMaxDepth))
        return fail(QStringLiteral("elements nested deeper than %1").arg(kMaxDepth));
    qualifiedName.assign(b + tagStart + 1, i - tagStart - 1);

    for (;;) {
        const size_t before = i;
        while (i < e && isSpace(b[i]))
            ++i;
        if (i == e)
            break;
        if (i == before)
            return fail(QStringLiteral("attributes not separated by white space"));
        const size_t nameStart = i;
        while (i < e && b[i] != '=' && !isSpace(b[i]))
            ++i;
        const std::string_view attrName(b + nameStart, i - nameStart);
        while (i < e && isSpace(b[i]))
            ++i;
        if (attrName.empty() || i == e || b[i] != '=')
            return fail(QStringLiteral("an attribute without a value"));
        ++i;
        while (i < e && isSpace(b[i]))
            ++i;
        if (i == e || (b[i] != '"' && b[i] != '\''))
            return fail(QStringLiteral("an attribute value without quotes"));
        const char q = b[i++];
        const char* close = static_cast<const char*>(std::memchr(b + i, q, e - i));
        if (!close)
            return fail(QStringLiteral("an unterminated attribute value"));
        std::string_view value(b + i, size_t(close - (b + i)));
        i = size_t(close - b) + 1;
        bool plain = true;
        for (char c : value) {
            if (c == '<')
                return fail(QStringLiteral("'<' in an attribute value"));
            if (c == '&' || c == '\t' || c == '\n' || c == '\r')
                plain = false;
        }
        if (!plain) {
            decoded.emplace_back();
            if (!decodeValue(value, decoded.back()))
                return fail(QStringLiteral("a bad reference in an attribute value"));
            value = decoded.back();
        }
        attributes.push_back({attrName, value});
    }
    rootSeen = true;
    open.push_back(qualifiedName);
    pendingEnd = selfClosing;
    takeLocalName();
    return Event::Start;
}

bool XmlTagScanner::decodeValue(std::string_view raw, std::string& out)
{
    out.reserve(raw.size());
    for (size_t i = 0; i < raw.size(); ++i) {
        const char c = raw[i];
        if (c == '\t' || c == '\n' || c == '\r') {
            out += ' '; // attribute values are normalised so
            continue;
        }
        if (c != '&') {
            out += c;
            continue;
        }
        const size_t semi = raw.find(';', i);
        if (semi == std::string_view::npos)
            return false;
        const std::string_view ref = raw.substr(i + 1, semi - i - 1);
        i = semi;
        static const std::pair<std::string_view, char> named[] = {
            {"lt", '<'}, {"gt", '>'}, {"amp", '&'}, {"quot", '"'}, {"apos", '\''}};
        bool found = false;
        for (const auto& n : named)
            if (ref == n.first) {
                out += n.second;
                found = true;
            }
        if (found)
            continue;
        if (ref.size() < 2 || ref[0] != '#')
            return false;
        const bool hex = ref[1] == 'x';
        const std::string_view digits = ref.substr(hex ? 2 : 1);
        if (digits.empty() || digits.size() > 8)
            return false;
        uint32_t cp = 0;
        for (char d : digits) {
            int v;
            if (d >= '0' && d <= '9')
                v = d - '0';
            else if (hex && d >= 'a' && d <= 'f')
                v = d - 'a' + 10;
            else if (hex && d >= 'A' && d <= 'F')
                v = d - 'A' + 10;
            else
                return false;
            cp = cp * (hex ? 16 : 10) + uint32_t(v);
        }
        if (!isXmlChar(cp))
            return false;
        appendUtf8(out, cp);
    }
    return true;
}

bool XmlTagScanner::attribute(std::string_view attrName, std::string_view& value) const
{
    for (const Attribute& a : attributes)
        if (a.name == attrName) {
            value = a.value;
            return true;
        }
    return false;
}
