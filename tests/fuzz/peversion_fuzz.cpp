// Two readings of every input:
// - the bytes as an executable image: the reader gives a result (never a
//   crash, hang or read outside the input), and a block it finds is the
//   input's own bytes at the offset it names;
// - the bytes as field values: an image written here, with those values
//   planted in its version block the way resource compilers lay it out, reads
//   back as exactly the planted fields.
//
//   fuzz_peversion_fuzz -max_len=65536 corpus/   (seed the corpus with
//   tests/support/tools/mkpe.py images and MinGW-built programs)
#include "platform/peversion.h"
#include "util/fileutil.h"

#include <cstddef>
#include <cstdio>
#include <cstdint>
#include <cstdlib>

namespace {

[[noreturn]] void finding(const char* what)
{
    std::fprintf(stderr, "peversion_fuzz: %s\n", what);
    std::abort();
}

void put16(QByteArray& b, qsizetype at, quint32 v)
{
    b[at] = char(v & 0xFF);
    b[at + 1] = char(v >> 8 & 0xFF);
}

void put32(QByteArray& b, qsizetype at, quint32 v)
{
    put16(b, at, v & 0xFFFF);
    put16(b, at + 2, v >> 16);
}

void pad4(QByteArray& b)
{
    while (b.size() % 4)
        b.append('\0');
}

// wLength, wValueLength, wType, the key with its NUL, the value, the children.
QByteArray node(const QString& key, const QByteArray& value, quint16 type, quint16 valueLength,
                const QList<QByteArray>& children = {})
{
    QByteArray b(6, '\0');
    put16(b, 2, valueLength);
    put16(b, 4, type);
    for (QChar c : key + QChar(0))
        b.append(char(c.unicode() & 0xFF)).append(char(c.unicode() >> 8));
    if (!value.isEmpty()) {
        pad4(b);
        b += value;
    }
    for (const QByteArray& c : children) {
        pad4(b);
        b += c;
    }
    put16(b, 0, quint32(b.size()));
    return b;
}

// PE32 with one section holding the resource tree 16 -> 1 -> 0x412 -> block.
QByteArray image(const QByteArray& block)
{
    constexpr quint32 peAt = 0x40, optSize = 0xE0, sectionRva = 0x1000, rawAt = 0x200;
    QByteArray rsrc(0x48 + 16, '\0');
    const auto dir = [&](quint32 at, quint32 id, quint32 target) {
        put16(rsrc, at + 14, 1);
        put32(rsrc, at + 16, id);
        put32(rsrc, at + 20, target);
    };
    dir(0, 16, 0x80000000u | 0x18);
    dir(0x18, 1, 0x80000000u | 0x30);
    dir(0x30, 0x412, 0x48);
    put32(rsrc, 0x48, sectionRva + 0x58);
    put32(rsrc, 0x4C, quint32(block.size()));
    rsrc += block;

    QByteArray b(rawAt, '\0');
    b[0] = 'M';
    b[1] = 'Z';
    put32(b, 0x3C, peAt);
    b.replace(peAt, 4, QByteArray("PE\0\0", 4));
    put16(b, peAt + 4, 0x14C);
    put16(b, peAt + 6, 1);
    put16(b, peAt + 20, optSize);
    const quint32 opt = peAt + 24;
    put16(b, opt, 0x10B);
    put32(b, opt + 92, 16);
    put32(b, opt + 96 + 16, sectionRva);
    put32(b, opt + 96 + 20, quint32(rsrc.size()));
    const quint32 sec = opt + optSize;
    b.replace(sec, 5, QByteArray(".rsrc"));
    put32(b, sec + 8, quint32(rsrc.size()));
    put32(b, sec + 12, sectionRva);
    put32(b, sec + 16, quint32(rsrc.size()));
    put32(b, sec + 20, rawAt);
    return b + rsrc;
}

void asImage(const uint8_t* data, size_t size)
{
    const QByteArrayView input(reinterpret_cast<const char*>(data), qsizetype(size));
    const rh::PeVersionBlock r = rh::readPeVersionBlock(input);
    if (r.ok()) {
        if (quint64(r.fileOffset) + quint64(r.units.size()) * 2 > size)
            finding("the block runs past the input");
        for (qsizetype i = 0; i < r.units.size(); ++i)
            if (r.units[i] != char16_t(data[r.fileOffset + 2 * i] | data[r.fileOffset + 2 * i + 1] << 8))
                finding("the block is not the input's bytes at its offset");
        (void)rh::versionEntriesFromBlock(r.units);
    } else if (r.error.isEmpty() || !r.units.isEmpty()) {
        finding("a failure without a reason, or with a block");
    }
}

// Input bytes as field values: the first two bytes say which of the twelve
// string fields are present, the rest is cut into values at 0xFF bytes; a
// value's units are printable ASCII and Hangul syllables, never NUL.
void asPlantedFields(const uint8_t* data, size_t size)
{
    if (size < 2)
        return;
    const quint32 present = quint32(data[0] | data[1] << 8);
    const QStringList names = rh::versionFieldNames();
    QStringList values(names.size() - 1);
    qsizetype field = 0;
    for (size_t i = 2; i < size && field < values.size(); ++i) {
        if (data[i] == 0xFF)
            ++field;
        else if (values[field].size() < 256) // the block's length is 16 bits
            values[field] += data[i] < 0x80 ? QChar(0x20 + data[i] % 0x5F) : QChar(0xAC00 + data[i] * 37);
    }
    QList<QByteArray> strings;
    for (qsizetype f = 0; f < values.size(); ++f) {
        if (!(present & (1u << f)))
            continue;
        QByteArray value;
        for (QChar c : values[f] + QChar(0))
            value.append(char(c.unicode() & 0xFF)).append(char(c.unicode() >> 8));
        strings << node(names[f], value, 1, quint16(values[f].size() + 1));
    }
    QByteArray fixed(52, '\0');
    put32(fixed, 0, 0xFEEF04BDu);
    const QByteArray block = node(QStringLiteral("VS_VERSION_INFO"), fixed, 0, 52,
                                  {node(QStringLiteral("StringFileInfo"), {}, 1, 0,
                                        {node(QStringLiteral("041204B0"), {}, 1, 0, strings)})});
    const QByteArray file = image(block);
    const rh::PeVersionBlock r = rh::readPeVersionBlock(QByteArrayView(file));
    if (!r.ok())
        finding("the written image is not read");
    const QStringList got = rh::versionEntriesFromBlock(r.units);
    if (got.size() != names.size() || got.last() != QStringLiteral("Language: Korean"))
        finding("the language of the written block is not Korean");
    for (qsizetype f = 0; f < values.size(); ++f) {
        const QString want = names[f] + QStringLiteral(": ")
            + (present & (1u << f) ? values[f] : QStringLiteral("Not specified"));
        if (got[f] != want) {
            std::fprintf(stderr, "planted \"%s\", read \"%s\"\n", qPrintable(want), qPrintable(got[f]));
            finding("a planted field does not read back");
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    asImage(data, size);
    asPlantedFields(data, size);
    return 0;
}
