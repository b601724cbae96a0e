#include "platform/peversion.h"

#include <QFile>
#include <QFileInfo>

#include <cstring>
#include <optional>
#include <set>

namespace rh {

namespace {

constexpr quint32 kRtVersion = 16;
constexpr quint32 kVsVersionInfoId = 1;
constexpr quint32 kMaxBlockBytes = 0x10000;
constexpr quint32 kSubdirFlag = 0x80000000u;

using Status = PeVersionBlock::Status;

quint16 u16(const char* p)
{
    return quint16(quint8(p[0]) | quint8(p[1]) << 8);
}

quint32 u32(const char* p)
{
    return quint32(quint8(p[0])) | quint32(quint8(p[1])) << 8 | quint32(quint8(p[2])) << 16
        | quint32(quint8(p[3])) << 24;
}

// Random access to the image: a file (seek + read) or a buffer.
class Source {
public:
    virtual ~Source() = default;
    virtual quint64 size() const = 0;
    // Exactly len bytes at offset, or false.
    virtual bool read(quint64 offset, quint32 len, char* out) = 0;
};

class MemorySource final : public Source {
public:
    explicit MemorySource(QByteArrayView data) : m_data(data) {}
    quint64 size() const override { return quint64(m_data.size()); }
    bool read(quint64 offset, quint32 len, char* out) override
    {
        if (offset > size() || len > size() - offset)
            return false;
        if (len)
            std::memcpy(out, m_data.data() + offset, len);
        return true;
    }

private:
    QByteArrayView m_data;
};

class FileSource final : public Source {
public:
    explicit FileSource(QFile& file) : m_file(file), m_size(quint64(file.size())) {}
    quint64 size() const override { return m_size; }
    bool read(quint64 offset, quint32 len, char* out) override
    {
        if (offset > m_size || len > m_size - offset)
            return false;
        if (!m_file.seek(qint64(offset)))
            return false;
        return m_file.read(out, len) == qint64(len);
    }

private:
    QFile& m_file;
    quint64 m_size;
};

struct Section {
    quint32 virtualAddress;
    quint32 virtualSize;
    quint32 rawSize;
    quint32 rawOffset;
};

class Walker {
public:
    explicit Walker(Source& src) : m_src(src) {}

    PeVersionBlock run()
    {
        PeVersionBlock r = walk();
        if (!r.ok())
            r.units.clear();
        return r;
    }

private:
    static PeVersionBlock fail(Status status, const QString& why)
    {
        PeVersionBlock r;
        r.status = status;
        r.error = why;
        return r;
    }

    bool readAt(quint64 offset, quint32 len, QByteArray& out)
    {
        out.resize(len);
        return m_src.read(offset, len, out.data());
    }

    // File range of [rva, rva + len): inside one section's data in the file.
    bool mapRva(quint32 rva, quint32 len, quint64* offset, QString* why) const
    {
        for (const Section& s : m_sections) {
            const quint64 span = qMax(s.virtualSize, s.rawSize);
            if (rva < s.virtualAddress || rva - s.virtualAddress >= span)
                continue;
            const quint64 within = rva - s.virtualAddress;
            if (within + len > s.rawSize) {
                *why = QStringLiteral("RVA 0x%1 runs past its section's data in the file")
                           .arg(rva, 0, 16);
                return false;
            }
            const quint64 off = quint64(s.rawOffset) + within;
            if (off + len > m_src.size()) {
                *why = QStringLiteral("RVA 0x%1 points outside the file").arg(rva, 0, 16);
                return false;
            }
            *offset = off;
            return true;
        }
        *why = QStringLiteral("RVA 0x%1 lies in no section").arg(rva, 0, 16);
        return false;
    }

    struct Entry {
        quint32 name;
        quint32 target;
    };

    // One resource directory: its entries, or an error. Offsets are relative
    // to the start of the resource data and must stay inside it.
    bool readDirectory(quint32 dirOffset, QList<Entry>& entries, QString* why)
    {
        if (!m_visited.insert(dirOffset).second) {
            *why = QStringLiteral("resource directory at 0x%1 loops back").arg(dirOffset, 0, 16);
            return false;
        }
        if (quint64(dirOffset) + 16 > m_rsrcLimit) {
            *why = QStringLiteral("resource directory at 0x%1 lies outside the resource data")
                       .arg(dirOffset, 0, 16);
            return false;
        }
        QByteArray head;
        if (!readAt(m_rsrcBase + dirOffset, 16, head)) {
            *why = QStringLiteral("cannot read the resource directory");
            return false;
        }
        const quint32 count = quint32(u16(head.constData() + 12)) + u16(head.constData() + 14);
        if (quint64(dirOffset) + 16 + quint64(count) * 8 > m_rsrcLimit) {
            *why = QStringLiteral("resource directory at 0x%1 claims %2 entries beyond the data")
                       .arg(dirOffset, 0, 16)
                       .arg(count);
            return false;
        }
        QByteArray raw;
        if (!readAt(m_rsrcBase + dirOffset + 16, count * 8, raw)) {
            *why = QStringLiteral("cannot read the resource directory entries");
            return false;
        }
        entries.clear();
        entries.reserve(count);
        for (quint32 i = 0; i < count; ++i)
            entries.append({u32(raw.constData() + i * 8), u32(raw.constData() + i * 8 + 4)});
        return true;
    }

    PeVersionBlock walk()
    {
        const quint64 fileSize = m_src.size();
        QByteArray dos;
        if (fileSize < 64 || !readAt(0, 64, dos) || dos[0] != 'M' || dos[1] != 'Z')
            return fail(Status::NotPeImage, QStringLiteral("not a PE image (no MZ header)"));
        const quint32 peOffset = u32(dos.constData() + 0x3C);
        QByteArray coff;
        if (quint64(peOffset) + 24 > fileSize || !readAt(peOffset, 24, coff))
            return fail(Status::Malformed, QStringLiteral("PE header offset points outside the file"));
        if (std::memcmp(coff.constData(), "PE\0\0", 4) != 0)
            return fail(Status::NotPeImage, QStringLiteral("not a PE image (no PE signature)"));
        const quint32 sectionCount = u16(coff.constData() + 6);
        const quint32 optSize = u16(coff.constData() + 20);
        const quint64 optOffset = quint64(peOffset) + 24;

        QByteArray magicBytes;
        if (optSize < 2 || !readAt(optOffset, 2, magicBytes))
            return fail(Status::Malformed, QStringLiteral("optional header missing or cut off"));
        quint32 countField, dirsField;
        switch (u16(magicBytes.constData())) {
        case 0x10B: countField = 92; dirsField = 96; break;   // PE32
        case 0x20B: countField = 108; dirsField = 112; break; // PE32+
        default:
            return fail(Status::Malformed, QStringLiteral("unknown optional header kind"));
        }
        const quint32 resourceDirEnd = dirsField + 3 * 8;
        if (optSize < resourceDirEnd)
            return fail(Status::NoVersionResource, QStringLiteral("no resource directory"));
        QByteArray opt;
        if (!readAt(optOffset, resourceDirEnd, opt))
            return fail(Status::Malformed, QStringLiteral("optional header cut off"));
        if (u32(opt.constData() + countField) < 3)
            return fail(Status::NoVersionResource, QStringLiteral("no resource directory"));
        const quint32 rsrcRva = u32(opt.constData() + dirsField + 16);
        const quint32 rsrcSize = u32(opt.constData() + dirsField + 20);
        if (rsrcRva == 0 || rsrcSize == 0)
            return fail(Status::NoVersionResource, QStringLiteral("no resources"));

        QByteArray table;
        const quint64 tableOffset = optOffset + optSize;
        if (tableOffset + quint64(sectionCount) * 40 > fileSize
            || !readAt(tableOffset, sectionCount * 40, table))
            return fail(Status::Malformed, QStringLiteral("section table runs past the end of the file"));
        for (quint32 i = 0; i < sectionCount; ++i) {
            const char* p = table.constData() + i * 40;
            m_sections.append({u32(p + 12), u32(p + 8), u32(p + 16), u32(p + 20)});
        }

        // The resource tree: offsets inside it are relative to its start and
        // may reach to the end of its section's data in the file.
        QString why;
        if (!mapRva(rsrcRva, 16, &m_rsrcBase, &why))
            return fail(Status::Malformed, QStringLiteral("resource directory: ") + why);
        for (const Section& s : m_sections) {
            if (rsrcRva >= s.virtualAddress && rsrcRva - s.virtualAddress < qMax(s.virtualSize, s.rawSize)) {
                const quint64 sectionEnd = quint64(s.rawOffset) + s.rawSize;
                m_rsrcLimit = qMin(sectionEnd, fileSize) - m_rsrcBase;
                break;
            }
        }

        QList<Entry> entries;
        if (!readDirectory(0, entries, &why))
            return fail(Status::Malformed, why);
        std::optional<quint32> typeTarget;
        for (const Entry& e : entries) {
            if (e.name == kRtVersion) {
                typeTarget = e.target;
                break;
            }
        }
        if (!typeTarget)
            return fail(Status::NoVersionResource, QStringLiteral("no version resource"));
        if (!(*typeTarget & kSubdirFlag))
            return fail(Status::Malformed, QStringLiteral("version resource type is not a directory"));

        // The block is resource 1 (VS_VERSION_INFO); tools that number it
        // otherwise still get theirs read.
        if (!readDirectory(*typeTarget & ~kSubdirFlag, entries, &why))
            return fail(Status::Malformed, why);
        if (entries.isEmpty())
            return fail(Status::NoVersionResource, QStringLiteral("no version resource"));
        Entry name = entries.first();
        for (const Entry& e : entries) {
            if (e.name == kVsVersionInfoId) {
                name = e;
                break;
            }
        }
        if (!(name.target & kSubdirFlag))
            return fail(Status::Malformed, QStringLiteral("version resource name is not a directory"));

        // Languages are sorted; neutral (0) comes first when present.
        if (!readDirectory(name.target & ~kSubdirFlag, entries, &why))
            return fail(Status::Malformed, why);
        if (entries.isEmpty())
            return fail(Status::NoVersionResource, QStringLiteral("no version resource"));
        const quint32 dataEntry = entries.first().target;
        if (dataEntry & kSubdirFlag)
            return fail(Status::Malformed, QStringLiteral("version resource nests too deep"));
        if (quint64(dataEntry) + 16 > m_rsrcLimit)
            return fail(Status::Malformed, QStringLiteral("version data entry lies outside the resource data"));
        QByteArray data;
        if (!readAt(m_rsrcBase + dataEntry, 16, data))
            return fail(Status::Malformed, QStringLiteral("cannot read the version data entry"));
        const quint32 blockRva = u32(data.constData());
        const quint32 blockSize = u32(data.constData() + 4);
        if (blockSize == 0)
            return fail(Status::NoVersionResource, QStringLiteral("empty version resource"));
        const quint32 readSize = qMin(blockSize, kMaxBlockBytes);
        quint64 blockOffset = 0;
        if (!mapRva(blockRva, readSize, &blockOffset, &why))
            return fail(Status::Malformed, QStringLiteral("version block: ") + why);
        QByteArray block;
        if (!readAt(blockOffset, readSize, block))
            return fail(Status::ReadError, QStringLiteral("cannot read the version block"));

        PeVersionBlock r;
        r.status = Status::Ok;
        r.fileOffset = quint32(blockOffset);
        r.units.resize(readSize / 2);
        for (qsizetype i = 0; i < r.units.size(); ++i)
            r.units[i] = char16_t(u16(block.constData() + i * 2));
        return r;
    }

    Source& m_src;
    QList<Section> m_sections;
    quint64 m_rsrcBase = 0;
    quint64 m_rsrcLimit = 0;
    std::set<quint32> m_visited;
};

} // namespace

PeVersionBlock readPeVersionBlock(QByteArrayView image)
{
    MemorySource src(image);
    return Walker(src).run();
}

PeVersionBlock readPeVersionBlock(const QString& path)
{
    PeVersionBlock r;
    r.status = Status::ReadError;
    if (QFileInfo(path).isDir()) {
        r.error = QStringLiteral("%1 is a folder").arg(path);
        return r;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        r.error = file.errorString();
        return r;
    }
    FileSource src(file);
    return Walker(src).run();
}

} // namespace rh
