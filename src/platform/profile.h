#pragma once
// Profile (INI) files with the observable behaviour of the Windows profile API
// (GetPrivateProfileStringA / WritePrivateProfileStringA) over bytes of the ANSI
// code page. A ProfileFile parses once and answers many look-ups; the free
// functions load the file on every call, as the API does.
#include <QByteArray>
#include <QHash>
#include <QString>
#include <QVector>

#include <optional>

namespace rh {

// How lines read, as the Windows profile API reads them:
// - A line whose first non-blank byte is "[" is a section header. The name
//   runs to the first "]" or, when there is none, to the end of the line;
//   blanks around it are dropped and anything after the "]" is ignored, so a
//   key written on a header line belongs to no section. A name can hold "["
//   but never "]".
// - A line whose first non-blank byte is ";" is a comment; a line with "=" in
//   the current section is a key (the key up to the first "="); anything else,
//   and every line before the first header, is ignored.
// Blanks are space, tab, vertical tab and form feed.
//
// Names are bytes of the ANSI code page, and one rule decides, for the reader
// and the writer alike, which section or key a name denotes: the caller's
// name is encoded with profileNameBytes() and blanks around it dropped; two
// names match when their bytes are equal with ASCII letters folded, a byte of
// 0x81 or above taking the next byte with it unfolded (a CP949 trail byte can
// be an ASCII letter). Bytes the code page cannot decode, a lone lead byte
// and NUL are bytes like any other.
//
// The bytes a name denotes: encoded with the ANSI code page, except that
// U+DC80..U+DCFF stand for the raw bytes 0x80..0xFF (how profileNameText()
// spells bytes the code page cannot decode), blanks around them dropped.
QByteArray profileNameBytes(const QString& name);
// A section or key name of the file as text: decoded with the ANSI code page,
// undecodable bytes as U+DC80..U+DCFF, so profileNameBytes() gives back the
// same bytes and the name denotes the same section or key again.
QString profileNameText(const char* data, qsizetype size);
// True when the two names denote the same section or key.
bool sameProfileName(const QString& a, const QString& b);

class ProfileFile {
public:
    ProfileFile() = default;
    explicit ProfileFile(QByteArray bytes);

    // Reads the file; a missing or unreadable file gives an empty profile with
    // exists() false.
    static ProfileFile load(const QString& path);

    bool exists() const { return m_exists; }
    const QByteArray& bytes() const { return m_bytes; }

    // The value as the API returns it before the buffer cut: blanks around it
    // removed and one pair of matching surrounding quotes stripped. Sections and
    // keys match case-insensitively; the first duplicate key wins and only the
    // first of duplicate sections is searched. nullopt when the key is missing.
    std::optional<QByteArray> value(const QString& section, const QString& key) const;

    // GetPrivateProfileStringA: at most bufferSize - 1 bytes of the value, or
    // the default when the key is missing, its trailing spaces removed (only
    // spaces, and only trailing ones) and cut the same way.
    QByteArray getString(const QString& section, const QString& key,
                         const QByteArray& defaultValue, int bufferSize) const;
    // Decoded with the ANSI code page.
    QString getText(const QString& section, const QString& key, const QString& defaultValue,
                    int bufferSize) const;

    // WritePrivateProfileStringA on the bytes in memory: replaces an existing
    // key's value in place (keeping the key's spelling), adds a missing key after
    // the last key line of its section, adds a missing section at the end.
    // Every other byte stays as it was; new lines end with CR LF. Refuses,
    // returning false and changing nothing, what would not read back: a line
    // break in a name or the value, "]" in a section name, an empty key, "="
    // in a key or a key starting with ";" or "[".
    bool setString(const QString& section, const QString& key, const QByteArray& value);

    // Every section header in file order, duplicates included (profileNameText).
    QStringList sectionNames() const;

private:
    // Byte ranges into m_bytes; nothing is decoded while parsing.
    struct Entry {
        qsizetype lineStart; // first byte of the line
        qsizetype lineEnd;   // one past the last byte before the line break
        qsizetype keyBegin, keyEnd;
        qsizetype valueBegin, valueEnd; // trimmed value
    };
    struct Section {
        qsizetype nameBegin, nameEnd;
        qsizetype headerLineEnd;  // end of the header line before its break
        int firstEntry = 0;       // entries [firstEntry, endEntry) in m_entries
        int endEntry = 0;
    };

    void parse();
    int findSection(const QByteArray& folded) const;
    const Entry* findEntry(int sectionIndex, const QByteArray& key) const;
    // Start of the line after the one that ends at `lineEnd`.
    qsizetype nextLineStart(qsizetype lineEnd) const;

    QByteArray m_bytes;
    bool m_exists = false;
    QVector<Section> m_sections;
    QVector<Entry> m_entries;
    QHash<QByteArray, int> m_firstSection; // folded name -> first section
    // (section, hash of the folded key) -> entries; a section such as
    // [Project] can hold thousands of keys.
    QMultiHash<quint64, int> m_entryIndex;
};

// GetPrivateProfileStringA on the file at `path`.
QString GetPrivateProfileText(const QString& section, const QString& key,
                              const QString& defaultValue, const QString& path,
                              int bufferSize = 256);

// WritePrivateProfileStringA on the file at `path` (created when missing). The
// file is replaced through a temporary file and a rename. Returns false on
// failure; callers that follow the original ignore it.
bool WritePrivateProfileText(const QString& section, const QString& key, const QString& value,
                             const QString& path);
bool WritePrivateProfileBytes(const QString& section, const QString& key, const QByteArray& value,
                              const QString& path);

// Replaces the whole file through a temporary file in the same folder and a
// rename, so no reader ever sees a half-written file.
bool writeFileAtomically(const QString& path, const QByteArray& bytes, QString* error = nullptr);
// The same for a file the program makes for its user (report, JUnit): refused
// when `path` is a symbolic link or a file owned by another user, so nobody
// can point the write at a file of the user's or make the user fill theirs.
bool writeOwnFileAtomically(const QString& path, const QByteArray& bytes, QString* error = nullptr);
// Why `path` may not be written as the user's own file, or "" when it may.
QString ownFileRefusal(const QString& path);

} // namespace rh
