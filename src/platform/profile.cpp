#include "platform/profile.h"

#include "platform/journal.h"

#include "platform/codepage.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <sys/stat.h>
#include <unistd.h>

namespace rh {
namespace {

inline bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\v' || c == '\f';
}

inline bool isLeadByte(unsigned char c)
{
    return c >= 0x81 && c != 0xFF;
}

// Case-insensitive form of a name in the ANSI code page: ASCII letters are
// lowered, double-byte characters kept whole. Trail bytes of CP949 fall in the
// ASCII letter range, so folding byte by byte would merge different syllables.
QByteArray foldName(const char* d, qsizetype n)
{
    QByteArray out(d, n);
    char* p = out.data();
    for (qsizetype i = 0; i < n; ++i) {
        const unsigned char c = static_cast<unsigned char>(p[i]);
        if (isLeadByte(c) && i + 1 < n) {
            ++i;
            continue;
        }
        if (c >= 'A' && c <= 'Z')
            p[i] = char(c + 32);
    }
    return out;
}

QByteArray foldName(const QString& name)
{
    const QByteArray b = profileNameBytes(name);
    return foldName(b.constData(), b.size());
}

// A name the file can hold so that reading it back finds the same section or
// key: no line break, no "]" in a section name (the header ends at the first
// one), no "=" in a key and no key that would read as a comment or a header.
bool writableName(const QByteArray& b, bool isSection)
{
    if (b.contains('\r') || b.contains('\n'))
        return false;
    if (isSection)
        return !b.contains(']');
    return !b.isEmpty() && !b.contains('=') && b.front() != ';' && b.front() != '[';
}

// Compares a folded name with raw bytes of the file.
bool equalsFolded(const QByteArray& folded, const char* d, qsizetype n)
{
    if (folded.size() != n)
        return false;
    for (qsizetype i = 0; i < n; ++i) {
        const unsigned char c = static_cast<unsigned char>(d[i]);
        if (isLeadByte(c) && i + 1 < n) {
            if (folded[i] != d[i] || folded[i + 1] != d[i + 1])
                return false;
            ++i;
            continue;
        }
        const char lc = (c >= 'A' && c <= 'Z') ? char(c + 32) : char(c);
        if (folded[i] != lc)
            return false;
    }
    return true;
}

// FNV-1a over the folded form of a name, without building it.
quint32 foldedHash(const char* d, qsizetype n)
{
    quint32 h = 2166136261u;
    for (qsizetype i = 0; i < n; ++i) {
        unsigned char c = static_cast<unsigned char>(d[i]);
        if (isLeadByte(c) && i + 1 < n) {
            h = (h ^ c) * 16777619u;
            c = static_cast<unsigned char>(d[++i]);
        } else if (c >= 'A' && c <= 'Z') {
            c = static_cast<unsigned char>(c + 32);
        }
        h = (h ^ c) * 16777619u;
    }
    return h;
}

inline quint64 entryKey(int section, quint32 hash)
{
    return (quint64(quint32(section)) << 32) | hash;
}

} // namespace

QByteArray profileNameBytes(const QString& name)
{
    QByteArray out;
    qsizetype run = 0;
    const qsizetype n = name.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = name.at(i).unicode();
        if (c < 0xDC80 || c > 0xDCFF || (i > 0 && name.at(i - 1).isHighSurrogate()))
            continue;
        out += toAnsi(name.mid(run, i - run));
        out += char(c - 0xDC00);
        run = i + 1;
    }
    out += toAnsi(name.mid(run));
    const char* d = out.constData();
    qsizetype b = 0, e = out.size();
    while (b < e && isBlank(d[b]))
        ++b;
    while (e > b && isBlank(d[e - 1]))
        --e;
    return out.mid(b, e - b);
}

QString profileNameText(const char* d, qsizetype n)
{
    QString out;
    out.reserve(n);
    qsizetype i = 0;
    while (i < n) {
        const unsigned char c = static_cast<unsigned char>(d[i]);
        if (c < 0x80) {
            out += QChar(c);
            ++i;
            continue;
        }
        if (isLeadByte(c) && i + 1 < n) {
            // Only a pair that decodes to one character and encodes back to
            // the same two bytes is taken as a character.
            const QString ch = fromAnsi(d + i, 2);
            if (!ch.isEmpty() && ch.size() <= 2 && !ch.contains(QChar(0xFFFD))
                && toAnsi(ch) == QByteArray(d + i, 2)) {
                out += ch;
                i += 2;
                continue;
            }
        }
        out += QChar(char16_t(0xDC00 + c));
        ++i;
    }
    return out;
}

bool sameProfileName(const QString& a, const QString& b)
{
    return foldName(a) == foldName(b);
}

ProfileFile::ProfileFile(QByteArray bytes) : m_bytes(std::move(bytes)), m_exists(true)
{
    parse();
}

ProfileFile ProfileFile::load(const QString& path)
{
    // A dry run reads back what it planned to write.
    if (const std::optional<QByteArray> planned = journal().plannedBytes(path)) {
        if (!journal().isFile(path))
            return ProfileFile();
        return ProfileFile(*planned);
    }
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return ProfileFile();
    return ProfileFile(f.readAll());
}

void ProfileFile::parse()
{
    m_sections.clear();
    m_entries.clear();
    m_firstSection.clear();
    m_entryIndex.clear();
    const char* d = m_bytes.constData();
    const qsizetype n = m_bytes.size();
    int current = -1;
    qsizetype pos = 0;
    while (pos < n) {
        const qsizetype lineStart = pos;
        qsizetype end = pos;
        while (end < n && d[end] != '\r' && d[end] != '\n')
            ++end;
        qsizetype next = end;
        if (next < n) {
            if (d[next] == '\r' && next + 1 < n && d[next + 1] == '\n')
                next += 2;
            else
                next += 1;
        }
        pos = next;

        qsizetype b = lineStart;
        while (b < end && isBlank(d[b]))
            ++b;
        qsizetype e = end;
        while (e > b && isBlank(d[e - 1]))
            --e;
        if (b == e || d[b] == ';')
            continue;
        if (d[b] == '[') {
            // The name ends at the first "]" or, without one, at the line's
            // end; whatever follows the "]" is ignored.
            const char* close = static_cast<const char*>(memchr(d + b + 1, ']', size_t(e - b - 1)));
            qsizetype nb = b + 1, ne = close ? close - d : e;
            while (nb < ne && isBlank(d[nb]))
                ++nb;
            while (ne > nb && isBlank(d[ne - 1]))
                --ne;
            Section s;
            s.nameBegin = nb;
            s.nameEnd = ne;
            s.headerLineEnd = end;
            s.firstEntry = s.endEntry = int(m_entries.size());
            m_sections.push_back(s);
            current = int(m_sections.size() - 1);
            const QByteArray folded = foldName(d + nb, ne - nb);
            if (!m_firstSection.contains(folded))
                m_firstSection.insert(folded, current);
            continue;
        }
        if (current < 0)
            continue; // keys before the first section belong to no section
        const char* eq = static_cast<const char*>(memchr(d + b, '=', size_t(e - b)));
        if (!eq)
            continue;
        const qsizetype eqPos = eq - d;
        qsizetype ke = eqPos;
        while (ke > b && isBlank(d[ke - 1]))
            --ke;
        qsizetype vb = eqPos + 1;
        while (vb < e && isBlank(d[vb]))
            ++vb;
        m_entryIndex.insert(entryKey(current, foldedHash(d + b, ke - b)), int(m_entries.size()));
        m_entries.push_back(Entry{lineStart, end, b, ke, vb, e});
        m_sections[current].endEntry = int(m_entries.size());
    }
}

int ProfileFile::findSection(const QByteArray& folded) const
{
    return m_firstSection.value(folded, -1);
}

const ProfileFile::Entry* ProfileFile::findEntry(int sectionIndex, const QByteArray& key) const
{
    if (sectionIndex < 0)
        return nullptr;
    const char* d = m_bytes.constData();
    // The first of duplicate keys wins: the lowest matching entry.
    int best = -1;
    auto range = m_entryIndex.equal_range(entryKey(sectionIndex, foldedHash(key.constData(), key.size())));
    for (auto it = range.first; it != range.second; ++it) {
        const Entry& e = m_entries[*it];
        if ((best < 0 || *it < best) && equalsFolded(key, d + e.keyBegin, e.keyEnd - e.keyBegin))
            best = *it;
    }
    return best < 0 ? nullptr : &m_entries[best];
}

std::optional<QByteArray> ProfileFile::value(const QString& section, const QString& key) const
{
    const Entry* e = findEntry(findSection(foldName(section)), foldName(key));
    if (!e)
        return std::nullopt;
    qsizetype b = e->valueBegin, en = e->valueEnd;
    const char* d = m_bytes.constData();
    if (en - b >= 2 && (d[b] == '"' || d[b] == '\'') && d[en - 1] == d[b]) {
        ++b;
        --en;
    }
    return m_bytes.mid(b, en - b);
}

namespace {

// The API copies at most bufferSize - 1 bytes. When the cut falls between the
// lead and trail byte of a double-byte character, the lone lead byte is dropped
// too, so the value never ends in half a character (which would decode as a
// replacement character); such a value comes back one byte shorter.
QByteArray cutToBuffer(const QByteArray& v, int bufferSize)
{
    if (bufferSize <= 0)
        return QByteArray("");
    const qsizetype limit = bufferSize - 1;
    if (v.size() <= limit)
        return v;
    // Walk characters from the start: a byte >= 0x81 opens a two-byte pair.
    qsizetype i = 0;
    while (i < limit) {
        unsigned char c = static_cast<unsigned char>(v[i]);
        qsizetype len = (c >= 0x81 && c != 0xFF && i + 1 < v.size()) ? 2 : 1;
        if (i + len > limit)
            break;
        i += len;
    }
    return v.left(i);
}

} // namespace

QByteArray ProfileFile::getString(const QString& section, const QString& key,
                                  const QByteArray& defaultValue, int bufferSize) const
{
    std::optional<QByteArray> v = value(section, key);
    if (v)
        return cutToBuffer(*v, bufferSize);
    // The default loses its trailing spaces (only 0x20: tabs and line breaks
    // stay, and so do leading spaces).
    qsizetype end = defaultValue.size();
    while (end > 0 && defaultValue[end - 1] == ' ')
        --end;
    return cutToBuffer(defaultValue.left(end), bufferSize);
}

QString ProfileFile::getText(const QString& section, const QString& key, const QString& defaultValue,
                             int bufferSize) const
{
    return fromAnsi(getString(section, key, toAnsi(defaultValue), bufferSize));
}

qsizetype ProfileFile::nextLineStart(qsizetype lineEnd) const
{
    const qsizetype n = m_bytes.size();
    if (lineEnd >= n)
        return n;
    if (m_bytes[lineEnd] == '\r' && lineEnd + 1 < n && m_bytes[lineEnd + 1] == '\n')
        return lineEnd + 2;
    return lineEnd + 1;
}

bool ProfileFile::setString(const QString& section, const QString& key, const QByteArray& value)
{
    const QByteArray crlf("\r\n");
    const QByteArray sectionBytes = profileNameBytes(section);
    const QByteArray keyBytes = profileNameBytes(key);
    if (!writableName(sectionBytes, true) || !writableName(keyBytes, false) || value.contains('\r')
        || value.contains('\n'))
        return false;
    int si = findSection(foldName(sectionBytes.constData(), sectionBytes.size()));
    if (si < 0) {
        QByteArray add;
        if (!m_bytes.isEmpty() && !m_bytes.endsWith('\n') && !m_bytes.endsWith('\r'))
            add += crlf;
        add += '[' + sectionBytes + ']' + crlf + keyBytes + '=' + value + crlf;
        m_bytes += add;
    } else if (const Entry* e = findEntry(si, foldName(keyBytes.constData(), keyBytes.size()))) {
        // Keep the key's spelling and everything outside the line.
        QByteArray line = m_bytes.mid(e->keyBegin, e->keyEnd - e->keyBegin) + '=' + value;
        m_bytes.replace(e->lineStart, e->lineEnd - e->lineStart, line);
    } else {
        const Section& s = m_sections[si];
        qsizetype lineEnd = s.firstEntry == s.endEntry ? s.headerLineEnd : m_entries[s.endEntry - 1].lineEnd;
        qsizetype at = nextLineStart(lineEnd);
        QByteArray add;
        if (at == lineEnd) // the line had no break: the file ends there
            add += crlf;
        add += keyBytes + '=' + value + crlf;
        m_bytes.insert(at, add);
    }
    m_exists = true;
    parse();
    return true;
}

QStringList ProfileFile::sectionNames() const
{
    QStringList out;
    for (const Section& s : m_sections)
        out << profileNameText(m_bytes.constData() + s.nameBegin, s.nameEnd - s.nameBegin);
    return out;
}

QString GetPrivateProfileText(const QString& section, const QString& key,
                              const QString& defaultValue, const QString& path, int bufferSize)
{
    return ProfileFile::load(path).getText(section, key, defaultValue, bufferSize);
}

namespace {

bool replaceFile(const QString& path, const QByteArray& bytes, QString* error)
{
    QSaveFile f(path);
    // Keep the old file's permissions; QSaveFile writes a temporary beside it.
    if (!f.open(QIODevice::WriteOnly)) {
        if (error)
            *error = f.errorString();
        return false;
    }
    if (f.write(bytes) != bytes.size()) {
        if (error)
            *error = f.errorString();
        f.cancelWriting();
        return false;
    }
    if (!f.commit()) {
        if (error)
            *error = f.errorString();
        return false;
    }
    return true;
}

} // namespace

bool writeFileAtomically(const QString& path, const QByteArray& bytes, QString* error)
{
    if (!journal().fileWrite(path, bytes))
        return true;
    return replaceFile(path, bytes, error);
}

QString ownFileRefusal(const QString& path)
{
    struct stat st;
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return QString(); // not there yet: made new
    if (S_ISLNK(st.st_mode))
        return QStringLiteral("심볼릭 링크를 따라 쓰지 않습니다");
    if (st.st_uid != ::geteuid())
        return QStringLiteral("다른 사용자의 파일입니다");
    return QString();
}

bool writeOwnFileAtomically(const QString& path, const QByteArray& bytes, QString* error)
{
    const QString refusal = ownFileRefusal(path);
    if (!refusal.isEmpty()) {
        if (error)
            *error = refusal;
        return false;
    }
    return writeFileAtomically(path, bytes, error);
}

bool WritePrivateProfileBytes(const QString& section, const QString& key, const QByteArray& value,
                              const QString& path)
{
    if (section.trimmed().isEmpty() || key.trimmed().isEmpty() || path.isEmpty())
        return false;
    ProfileFile p = ProfileFile::load(path);
    if (!p.exists() && QFileInfo::exists(path))
        return false; // present but unreadable: never overwrite it
    if (!p.setString(section, key, value))
        return false;
    if (!journal().iniWrite(path, section, key, fromAnsi(value), p.bytes()))
        return true;
    return replaceFile(path, p.bytes(), nullptr);
}

bool WritePrivateProfileText(const QString& section, const QString& key, const QString& value,
                             const QString& path)
{
    return WritePrivateProfileBytes(section, key, toAnsi(value), path);
}

} // namespace rh
