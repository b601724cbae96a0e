// libFuzzer target for the profile (INI) reader and writer: parse arbitrary
// bytes, look up sections and keys found in them with several buffer sizes,
// write one value and parse the result again. A written value must read back,
// every other value read before must stay as it was (names compared by the
// profile's own matching rule), and a refused write changes nothing.
#include "platform/profile.h"

#include <QByteArrayList>

#include <cstdint>
#include <cstdlib>
#include <optional>

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
            const QByteArray k = line.left(eq);
            keys << rh::profileNameText(k.constData(), k.size());
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
            for (int buffer : {0, 1, 2, 3, 256}) {
                const QByteArray got = profile.getString(s, k, QByteArrayLiteral("default  "), buffer);
                if (!v && got != QByteArrayLiteral("default").left(qMax(0, buffer - 1)))
                    std::abort();
            }
            (void)profile.getText(s, k, QStringLiteral("기본"), 5);
            seen.append({s, k, v});
        }
    }

    const quint32 pick = size ? data[size - 1] : 0;
    const QString section = sections.at(pick % sections.size());
    const QString key = keys.at((pick / 8) % keys.size());
    const QByteArray value = "v" + QByteArray::number(qulonglong(size));
    if (!profile.setString(section, key, value)) {
        if (profile.bytes() != bytes)
            std::abort();
        return 0;
    }

    const rh::ProfileFile again(profile.bytes());
    if (again.value(section, key) != std::optional<QByteArray>(value))
        std::abort();
    for (const Seen& s : seen) {
        if (rh::sameProfileName(s.section, section) && rh::sameProfileName(s.key, key))
            continue;
        if (again.value(s.section, s.key) != s.value)
            std::abort();
    }
    return 0;
}
