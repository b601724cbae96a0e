#pragma once
// A text collector that keeps a buffer larger than its content and grows it in
// whole chunks, so appending is amortised constant time per character.
//
// The fields count bytes (two per UTF-16 character) as the original did; every
// member takes and returns characters. Out-of-range edits raise RhError 9 and
// change nothing.
#include <QString>
#include <QStringView>

#include <cstdint>

namespace rh {

enum class CompareMode {
    Binary, // exact code units
    Text,   // letter case ignored
};

class cStringBuilder {
public:
    cStringBuilder() = default;

    // Characters of content.
    int Length() const { return m_position / 2; }
    // Characters the buffer holds, content and spare room together.
    int Capacity() const { return m_capacity / 2; }
    // Growth step in characters (8192 after construction).
    int ChunkSize() const { return m_chunkSize / 2; }
    // Raises Overflow (6) when the step in bytes does not fit 32 bits and
    // InvalidProcedureCall (5) for a step below one character, which could
    // never make room.
    void setChunkSize(int iChunkSize);

    QString toString() const;
    // Replaces the content; the empty text also gives the buffer back.
    void setTheString(const QString& sThis);

    // Empties content and buffer; the chunk size stays.
    void Clear();

    void Append(QStringView sThis);
    void Append(const QString& sThis) { Append(QStringView(sThis)); }
    void AppendByVal(QString sThis) { Append(QStringView(sThis)); }
    // sThis, then CR LF.
    void AppendNL(const QString& sThis);

    // iIndex: characters before the insertion point (0 = in front, Length() =
    // at the end). Raises 9 outside that range.
    void Insert(int iIndex, const QString& sThis);
    void InsertByVal(int iIndex, QString sThis) { Insert(iIndex, sThis); }

    // Removes lLen characters after the first iIndex; the capacity stays.
    // Raises 9 when any part of the range lies outside the content.
    void Remove(int iIndex, int lLen);

    // 1-based position of the first match that lies within the content, or 0.
    // A start below 1 searches from the first character.
    int Find(const QString& sToFind, int lStartIndex = 1,
             CompareMode compare = CompareMode::Binary) const;

    // Gives spare room back, leaving at most one chunk of it.
    void HeapMinimize();

private:
    // Makes the capacity at least `bytes`, in whole chunk steps.
    void growTo(std::int64_t bytes);

    QString m_buffer; // m_capacity / 2 characters; spare room is spaces
    std::int32_t m_chunkSize = 16384;
    std::int32_t m_position = 0;
    std::int32_t m_capacity = 0;
};

} // namespace rh
