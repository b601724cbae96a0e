// libFuzzer target for the profile (INI) reader and writer: parse arbitrary
// bytes, look up sections and keys found in them with several buffer sizes,
// write one value and parse the result again. A written value must read back
// and every other value read before must stay as it was.
#include "platform/profile.h"

#include <QByteArrayList>

#include <cstdint>
#include <cstdlib>
#include <optional>

namespace {

QString folded(const QString& s)
{
    return s.trimmed().toCaseFolded();
}

// Printable ASCII that survives the code page both ways and cannot end a
// line, open a section or split a key.
bool plainName(const QByteArray& s)
{
    if (s.isEmpty() || s.front() == ' ' || s.back() == ' ' || s.front() == '[' || s.front() == ';')
        return false;
    for (char c : s)
        if (c < 0x21 || c > 0x7e || c == '=')
            return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    rh::ProfileFile profile(bytes);

    QStringList sections = profile.sectionNames().mid(0, 6);
    sections << QStringLiteral("NoSuchSection");
    QStringList keys;
    for (const QByteArray& line : bytes.split('\n')) {
        const qsizetype eq = line.indexOf('=');
        if (eq > 0) {
            const QByteArray k = line.left(eq).trimmed();
            if (plainName(k))
                keys << QString::fromLatin1(k);
        }
        if (keys.size() >= 6)
            break;
    }
    keys << QStringLiteral("missing");

    struct Seen {
        QString section, key;
        std::optional<QByteArray> value;
    };
    QList<Seen> seen;
    for (const QString& s : sections) {
        for (const QString& k : keys) {
            const std::optional<QByteArray> v = profile.value(s, k);
            for (int buffer : {0, 1, 2, 3, 256})
                (void)profile.getString(s, k, QByteArrayLiteral("default"), buffer);
            (void)profile.getText(s, k, QStringLiteral("기본"), 5);
            seen.append({s, k, v});
        }
    }

    const quint32 pick = size ? data[size - 1] : 0;
    const QString section = sections.at(pick % sections.size());
    const QString key = keys.at((pick / 8) % keys.size());
    const QByteArray value = "v" + QByteArray::number(qulonglong(size));
    profile.setString(section, key, value);

    const rh::ProfileFile again(profile.bytes());
    if (again.value(section, key) != std::optional<QByteArray>(value))
        std::abort();
    for (const Seen& s : seen) {
        if (folded(s.section) == folded(section) && folded(s.key) == folded(key))
            continue;
        if (again.value(s.section, s.key) != s.value)
            std::abort();
    }
    return 0;
}
