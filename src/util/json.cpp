#include "util/json.h"

#include "platform/errors.h"
#include "util/stringbuilder.h"

#include <exception>

namespace rh {
namespace {

// Nesting is bounded by a depth limit, not by an explicit stack: the parser
// recurses once per object or array level, and a value deeper than this limit
// ends the whole parse with one ParseErrors entry. Bounding the depth also
// bounds the recursion of copying, comparing, writing and destroying values.
constexpr int kMaxDepth = 512;

// Diagnostics are bounded so hostile input cannot make them quadratic: an
// entry quotes at most this much of the remaining text, and after this many
// entries one closing line says that more were dropped.
constexpr qsizetype kMaxQuoted = 200;
constexpr int kMaxEntries = 100;

// The description the original collection gave for adding an existing key
// (its error 457).
const char* const kDuplicateKeyDescription =
    "This key is already associated with an element of this collection";

thread_local QString t_parseErrors;

class Parser {
public:
    explicit Parser(const QString& text) : m_s(text.constData()), m_n(text.size()) {}

    JsonValue parseTop()
    {
        SkipSpace();
        if (is(m_pos, u'{'))
            return ParseObject();
        if (is(m_pos, u'['))
            return ParseArray();
        m_errors = QStringLiteral("Invalid JSON");
        return JsonValue();
    }

    QString takeErrors() { return std::move(m_errors); }

private:
    bool is(qsizetype p, char16_t c) const { return p < m_n && m_s[p].unicode() == c; }

    QString position(qsizetype p) const { return QString::number(p + 1); }

    // "the rest of the text", bounded.
    QString rest(qsizetype p) const
    {
        if (p >= m_n)
            return QString();
        return QString(m_s + p, std::min(m_n - p, kMaxQuoted));
    }
    QString next20(qsizetype p) const
    {
        if (p >= m_n)
            return QString();
        return QString(m_s + p, std::min<qsizetype>(m_n - p, 20));
    }
    QString last20() const
    {
        const qsizetype k = std::min<qsizetype>(m_n, 20);
        return QString(m_s + m_n - k, k);
    }

    void record(const QString& entry)
    {
        if (m_entries < kMaxEntries) {
            m_errors += entry;
            m_errors += QLatin1String("\r\n");
        } else if (m_entries == kMaxEntries) {
            m_errors += QLatin1String("(further errors not listed)\r\n");
        }
        ++m_entries;
    }

    void SkipSpace()
    {
        bool pending = false, inComment = false, inBlock = false;
        while (m_pos < m_n) {
            switch (m_s[m_pos].unicode()) {
            case u'\r':
            case u'\n':
                if (!inBlock) {
                    pending = false;
                    inComment = false;
                }
                break;
            case u'\t':
            case u' ':
            case u'(':
            case u')':
                break;
            case u'/':
                if (inBlock) {
                    if (pending) {
                        inBlock = false;
                        pending = false;
                        inComment = false;
                    }
                } else if (pending) {
                    inComment = true;
                    pending = false;
                } else {
                    pending = true;
                    inComment = false;
                    inBlock = false;
                }
                break;
            case u'*':
                if (pending) {
                    inComment = true;
                    inBlock = true;
                    pending = false;
                } else {
                    pending = true;
                }
                break;
            default:
                if (!inComment)
                    return;
                break;
            }
            ++m_pos;
        }
    }

    JsonValue ParseValue()
    {
        SkipSpace();
        if (m_pos >= m_n)
            return ParseNumber();
        switch (m_s[m_pos].unicode()) {
        case u'{':
        case u'[':
            if (m_depth >= kMaxDepth) {
                record(QStringLiteral("Nesting deeper than %1 levels at position ").arg(kMaxDepth)
                       + position(m_pos) + QLatin1String(" : ") + next20(m_pos));
                m_aborted = true;
                return JsonValue();
            }
            return m_s[m_pos] == u'{' ? ParseObject() : ParseArray();
        case u'"':
        case u'\'':
            return ParseString();
        case u't':
        case u'f':
            return ParseBoolean();
        case u'n':
            return ParseNull();
        default:
            return ParseNumber();
        }
    }

    struct DepthGuard {
        explicit DepthGuard(int& d) : depth(d) { ++depth; }
        ~DepthGuard() { --depth; }
        int& depth;
    };

    JsonValue ParseObject()
    {
        JsonMap map;
        SkipSpace();
        if (!is(m_pos, u'{')) {
            record(QLatin1String("Invalid Object at position ") + position(m_pos)
                   + QLatin1String(" : ") + rest(m_pos));
            return map;
        }
        ++m_pos;
        DepthGuard guard(m_depth);
        for (;;) {
            SkipSpace();
            if (is(m_pos, u'}')) {
                ++m_pos;
                break;
            }
            if (is(m_pos, u',')) {
                ++m_pos;
                SkipSpace();
            } else if (m_pos >= m_n) {
                record(QLatin1String("Missing '}': ") + last20());
                break;
            }
            QString key = ParseKey();
            JsonValue value = ParseValue();
            if (m_valueError) {
                record(standardErrorDescription(m_valueError) + QLatin1String(": ") + key);
                m_valueError = 0;
                break;
            }
            if (m_aborted) {
                if (!value.isEmpty())
                    map.add(std::move(key), std::move(value));
                break;
            }
            if (!map.add(key, std::move(value))) {
                record(QLatin1String(kDuplicateKeyDescription) + QLatin1String(": ") + key);
                break;
            }
        }
        return map;
    }

    JsonValue ParseArray()
    {
        JsonList list;
        SkipSpace();
        if (!is(m_pos, u'[')) {
            record(QLatin1String("Invalid Array at position ") + position(m_pos)
                   + QLatin1String(" : ") + next20(m_pos));
            return list;
        }
        ++m_pos;
        DepthGuard guard(m_depth);
        for (;;) {
            SkipSpace();
            if (is(m_pos, u']')) {
                ++m_pos;
                break;
            }
            if (is(m_pos, u',')) {
                ++m_pos;
                SkipSpace();
            } else if (m_pos >= m_n) {
                record(QLatin1String("Missing ']': ") + last20());
                break;
            }
            const qsizetype before = m_pos;
            JsonValue value = ParseValue();
            if (m_valueError) {
                record(standardErrorDescription(m_valueError) + QLatin1String(": ")
                       + next20(m_pos));
                m_valueError = 0;
                break;
            }
            if (m_aborted) {
                if (!value.isEmpty())
                    list.append(std::move(value));
                break;
            }
            list.append(std::move(value));
            // A bad true/false/null is recorded but not consumed; reading on
            // would meet it again for ever, so the list ends here.
            if (m_pos == before && m_pos < m_n)
                break;
        }
        return list;
    }

    JsonValue ParseString()
    {
        SkipSpace();
        const QChar quote = m_s[m_pos];
        ++m_pos;
        // Most strings hold no escape and are taken as one piece.
        const qsizetype start = m_pos;
        while (m_pos < m_n && m_s[m_pos] != quote && m_s[m_pos] != u'\\')
            ++m_pos;
        if (m_pos >= m_n)
            return QString(m_s + start, m_pos - start);
        if (m_s[m_pos] == quote) {
            QString text(m_s + start, m_pos - start);
            ++m_pos;
            return text;
        }

        // One builder serves every string of the parse; emptying it keeps its
        // buffer, so a document with many escaped strings allocates once.
        m_builder.Remove(0, m_builder.Length());
        m_builder.Append(QStringView(m_s + start, m_pos - start));
        while (m_pos < m_n) {
            const QChar c = m_s[m_pos];
            if (c == quote) {
                ++m_pos;
                return m_builder.toString();
            }
            if (c != u'\\') {
                const qsizetype run = m_pos;
                while (m_pos < m_n && m_s[m_pos] != quote && m_s[m_pos] != u'\\')
                    ++m_pos;
                m_builder.Append(QStringView(m_s + run, m_pos - run));
                continue;
            }
            ++m_pos;
            if (m_pos >= m_n)
                break;
            char16_t decoded = 0;
            switch (m_s[m_pos].unicode()) {
            case u'"':
            case u'\\':
            case u'/':
            case u'\'':
                decoded = m_s[m_pos].unicode();
                break;
            case u'b': decoded = 8; break;
            case u'f': decoded = 12; break;
            case u'n': decoded = 10; break;
            case u'r': decoded = 13; break;
            case u't': decoded = 9; break;
            case u'u':
                if (hex4(m_pos + 1, &decoded)) {
                    m_pos += 4;
                    break;
                }
                // "\u" without four hex digits: like any unknown escape, the
                // backslash goes and the "u" stays; nothing after it is eaten.
                continue;
            default:
                // Unknown escape: the backslash is dropped, the character is
                // read as an ordinary one.
                continue;
            }
            m_builder.Append(QStringView(&decoded, 1));
            ++m_pos;
        }
        return m_builder.toString();
    }

    bool hex4(qsizetype p, char16_t* out) const
    {
        if (m_n - p < 4)
            return false;
        unsigned v = 0;
        for (qsizetype k = p; k < p + 4; ++k) {
            const char16_t c = m_s[k].unicode();
            unsigned d;
            if (c >= u'0' && c <= u'9')
                d = c - u'0';
            else if (c >= u'a' && c <= u'f')
                d = c - u'a' + 10;
            else if (c >= u'A' && c <= u'F')
                d = c - u'A' + 10;
            else
                return false;
            v = v * 16 + d;
        }
        *out = char16_t(v);
        return true;
    }

    static bool isNumberChar(QChar c)
    {
        switch (c.unicode()) {
        case u'+': case u'-': case u'.': case u'e': case u'E':
        case u'0': case u'1': case u'2': case u'3': case u'4':
        case u'5': case u'6': case u'7': case u'8': case u'9':
            return true;
        default:
            return false;
        }
    }

    JsonValue ParseNumber()
    {
        SkipSpace();
        const qsizetype start = m_pos;
        while (m_pos < m_n && isNumberChar(m_s[m_pos]))
            ++m_pos;
        // A number running into the end of the text is not taken.
        if (m_pos >= m_n)
            return JsonValue();
        int error = 0;
        JsonDecimal d = JsonDecimal::fromText(QStringView(m_s + start, m_pos - start), &error);
        if (error) {
            m_valueError = error;
            return JsonValue();
        }
        return d;
    }

    bool matches(qsizetype p, QLatin1String word) const
    {
        if (m_n - p < word.size())
            return false;
        for (qsizetype k = 0; k < word.size(); ++k)
            if (m_s[p + k] != QLatin1Char(word[k]))
                return false;
        return true;
    }

    JsonValue ParseBoolean()
    {
        SkipSpace();
        if (matches(m_pos, QLatin1String("true"))) {
            m_pos += 4;
            return true;
        }
        if (matches(m_pos, QLatin1String("false"))) {
            m_pos += 5;
            return false;
        }
        record(QLatin1String("Invalid Boolean at position ") + position(m_pos)
               + QLatin1String(" : ") + rest(m_pos));
        return false;
    }

    JsonValue ParseNull()
    {
        SkipSpace();
        if (matches(m_pos, QLatin1String("null"))) {
            m_pos += 4;
            return JsonValue::null();
        }
        record(QLatin1String("Invalid null value at position ") + position(m_pos)
               + QLatin1String(" : ") + rest(m_pos));
        return JsonValue();
    }

    QString ParseKey()
    {
        SkipSpace();
        // Most names are plain double-quoted words followed by ":"; take them
        // in one piece. Anything else goes the character-by-character way.
        if (is(m_pos, u'"')) {
            qsizetype end = m_pos + 1;
            while (end < m_n) {
                const char16_t c = m_s[end].unicode();
                if (c == u'"' || c == u'\'' || c == u'\r' || c == u'\n' || c == u'\t' || c == u' ')
                    break;
                ++end;
            }
            if (is(end, u'"')) {
                const qsizetype start = m_pos;
                m_pos = end + 1;
                SkipSpace();
                if (is(m_pos, u':')) {
                    ++m_pos;
                    return internKey(QStringView(m_s + start + 1, end - start - 1));
                }
                m_pos = start;
            }
        }
        QString key;
        bool inDouble = false, inSingle = false;
        while (m_pos < m_n) {
            const char16_t c = m_s[m_pos].unicode();
            if (c == u'"' || c == u'\'') {
                bool& flag = c == u'"' ? inDouble : inSingle;
                flag = !flag;
                ++m_pos;
                if (!flag) {
                    SkipSpace();
                    if (!is(m_pos, u':')) {
                        record(QLatin1String("Invalid Key at position ") + position(m_pos)
                               + QLatin1String(" : ") + key);
                        break;
                    }
                }
            } else if (c == u':') {
                ++m_pos;
                if (!inDouble && !inSingle)
                    break;
                key += QChar(c);
            } else {
                if (c != u'\r' && c != u'\n' && c != u'\t' && c != u' ')
                    key += QChar(c);
                ++m_pos;
            }
        }
        return key;
    }

    // Documents repeat the same few names in every object; sharing one QString
    // per name saves an allocation per member and the memory of the copies.
    QString internKey(QStringView name)
    {
        if (name.size() > 32)
            return name.toString();
        QString& slot = m_keyCache[qHash(name) % kKeyCacheSize];
        if (slot != name)
            slot = name.toString();
        return slot;
    }

    static constexpr size_t kKeyCacheSize = 256;
    QString m_keyCache[kKeyCacheSize];

    const QChar* m_s;
    qsizetype m_n;
    qsizetype m_pos = 0;
    QString m_errors;
    int m_entries = 0;
    int m_depth = 0;
    bool m_aborted = false;
    int m_valueError = 0; // error number raised inside the value being read
    cStringBuilder m_builder;
};

void writeText(QString& out, const QString& text)
{
    out += QLatin1Char('"');
    const QChar* s = text.constData();
    const qsizetype n = text.size();
    qsizetype run = 0;
    for (qsizetype k = 0; k < n; ++k) {
        if (s[k] == u'"' || s[k] == u'\\') {
            out.append(s + run, k - run);
            out += QLatin1Char('\\');
            run = k; // the character itself goes out with the next run
        }
    }
    out.append(s + run, n - run);
    out += QLatin1Char('"');
}

void write(QString& out, const JsonValue& value)
{
    switch (value.kind()) {
    case JsonValue::Kind::Map: {
        out += QLatin1Char('{');
        const JsonMap& map = value.toMap();
        for (const JsonMap::Member& m : map) {
            out += QLatin1Char('"');
            out += m.key;
            out += QLatin1String("\": ");
            write(out, m.value);
            out += QLatin1Char(',');
        }
        if (!map.isEmpty())
            out.chop(1);
        out += QLatin1Char('}');
        break;
    }
    case JsonValue::Kind::List: {
        out += QLatin1Char('[');
        const JsonList& list = value.toList();
        for (const JsonValue& item : list) {
            write(out, item);
            out += QLatin1Char(',');
        }
        if (!list.isEmpty())
            out.chop(1);
        out += QLatin1Char(']');
        break;
    }
    case JsonValue::Kind::Text:
        writeText(out, value.toText());
        break;
    case JsonValue::Kind::Boolean:
        out += value.toBool() ? QLatin1String("true") : QLatin1String("false");
        break;
    case JsonValue::Kind::Null:
        out += QLatin1String("null");
        break;
    case JsonValue::Kind::Number:
        out += value.toNumber().toString();
        break;
    case JsonValue::Kind::Empty:
        break;
    }
}

} // namespace

JsonValue JsonParse(const QString& text, QString* parseErrors)
{
    JsonValue result;
    try {
        Parser parser(text);
        result = parser.parseTop();
        t_parseErrors = parser.takeErrors();
    } catch (const std::exception& e) {
        // Out of memory on a huge document: nothing to hand back but the fact.
        result = JsonValue();
        t_parseErrors = QString::fromLocal8Bit(e.what()) + QLatin1String("\r\n");
    }
    if (parseErrors)
        *parseErrors = t_parseErrors;
    return result;
}

JsonValue JsonParse(const QString& text)
{
    return JsonParse(text, nullptr);
}

const QString& ParseErrors()
{
    return t_parseErrors;
}

QString JsonToString(const JsonValue& value)
{
    QString out;
    write(out, value);
    return out;
}

} // namespace rh
