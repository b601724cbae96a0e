#pragma once
// The version resource of a Windows executable (PE32 or PE32+), read the way
// GetFileVersionInfoA hands it over: the raw VS_VERSIONINFO block as 16-bit
// units. Only the headers, the resource directory entries on the way and the
// block itself are read, so the size of the image does not matter. Damaged
// images give a failure result, never a crash or an endless walk.
#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

namespace rh {

struct PeVersionBlock {
    enum class Status {
        Ok,
        NoVersionResource, // a sound image without RT_VERSION (or an empty one)
        NotPeImage,        // no MZ / PE signature: not an executable at all
        Malformed,         // headers or resource tree point outside or loop
        ReadError,         // the file could not be opened or read
    };
    Status status = Status::ReadError;
    QString error;          // why it failed, in English, for logs and messages
    QList<char16_t> units;  // the block, little-endian units; empty unless Ok
    quint32 fileOffset = 0; // where the block starts in the file

    bool ok() const { return status == Status::Ok; }
};

// path is a native path. The block is at most 64 KiB (its length field is
// 16 bits); a resource that claims more is cut there.
PeVersionBlock readPeVersionBlock(const QString& path);

// The same over an image in memory (tests, fuzzing).
PeVersionBlock readPeVersionBlock(QByteArrayView image);

} // namespace rh
