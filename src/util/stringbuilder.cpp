#include "util/stringbuilder.h"

#include "platform/errors.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace rh {
namespace {

constexpr std::int64_t kMaxBytes = std::numeric_limits<std::int32_t>::max();

[[noreturn]] void raise(int number, const char* source)
{
    throw RhError(number, standardErrorDescription(number), QString::fromLatin1(source));
}

} // namespace

void cStringBuilder::setChunkSize(int iChunkSize)
{
    const std::int64_t bytes = std::int64_t(iChunkSize) * 2;
    if (bytes > kMaxBytes || bytes < std::numeric_limits<std::int32_t>::min())
        raise(err::Overflow, "cStringBuilder.ChunkSize");
    // A step of zero or less would make growing loop for ever.
    if (bytes < 2)
        raise(err::InvalidProcedureCall, "cStringBuilder.ChunkSize");
    m_chunkSize = std::int32_t(bytes);
}

QString cStringBuilder::toString() const
{
    if (m_position == 0)
        return QString();
    return m_buffer.left(Length());
}

void cStringBuilder::growTo(std::int64_t bytes)
{
    if (bytes <= m_capacity)
        return;
    if (bytes > kMaxBytes)
        raise(err::Overflow, "cStringBuilder.Append");
    std::int64_t capacity = m_capacity;
    // Whole steps, computed at once rather than one loop turn per chunk.
    const std::int64_t steps = (bytes - capacity + m_chunkSize - 1) / m_chunkSize;
    capacity += steps * m_chunkSize;
    if (capacity > kMaxBytes)
        raise(err::Overflow, "cStringBuilder.Append");
    m_buffer.resize(qsizetype(capacity / 2), QLatin1Char(' '));
    m_capacity = std::int32_t(capacity);
}

void cStringBuilder::setTheString(const QString& sThis)
{
    if (sThis.isEmpty()) {
        m_buffer = QString();
        m_position = 0;
        m_capacity = 0;
        return;
    }
    const std::int64_t bytes = std::int64_t(sThis.size()) * 2;
    growTo(bytes);
    std::memcpy(m_buffer.data(), sThis.constData(), size_t(bytes));
    m_position = std::int32_t(bytes);
}

void cStringBuilder::Clear()
{
    m_buffer = QString();
    m_position = 0;
    m_capacity = 0;
}

void cStringBuilder::Append(QStringView sThis)
{
    if (sThis.isEmpty())
        return;
    const std::int64_t bytes = std::int64_t(sThis.size()) * 2;
    growTo(m_position + bytes);
    std::memcpy(reinterpret_cast<char*>(m_buffer.data()) + m_position, sThis.data(), size_t(bytes));
    m_position += std::int32_t(bytes);
}

void cStringBuilder::AppendNL(const QString& sThis)
{
    Append(sThis);
    Append(QStringView(u"\r\n"));
}

void cStringBuilder::Insert(int iIndex, const QString& sThis)
{
    // Negative positions are out of range too: the original copied memory
    // in front of its buffer for them.
    if (iIndex < 0 || std::int64_t(iIndex) * 2 > m_position)
        raise(err::SubscriptOutOfRange, "cStringBuilder.Insert");
    if (sThis.isEmpty())
        return;
    const std::int64_t bytes = std::int64_t(sThis.size()) * 2;
    growTo(m_position + bytes);
    char* base = reinterpret_cast<char*>(m_buffer.data());
    const std::int64_t at = std::int64_t(iIndex) * 2;
    std::memmove(base + at + bytes, base + at, size_t(m_position - at));
    std::memcpy(base + at, sThis.constData(), size_t(bytes));
    m_position += std::int32_t(bytes);
}

void cStringBuilder::Remove(int iIndex, int lLen)
{
    const std::int64_t at = std::int64_t(iIndex) * 2;
    const std::int64_t len = std::int64_t(lLen) * 2;
    if (iIndex < 0 || lLen < 0 || at > m_position || at + len > m_position)
        raise(err::SubscriptOutOfRange, "cStringBuilder.Remove");
    if (len == 0)
        return;
    char* base = reinterpret_cast<char*>(m_buffer.data());
    std::memmove(base + at, base + at + len, size_t(m_position - at - len));
    // The freed tail becomes spare room again.
    QChar* tail = m_buffer.data() + (m_position - len) / 2;
    std::fill(tail, tail + len / 2, QLatin1Char(' '));
    m_position -= std::int32_t(len);
}

int cStringBuilder::Find(const QString& sToFind, int lStartIndex, CompareMode compare) const
{
    // Only the content is searched: a match running into the spare room is no
    // match, and one that starts at the last character counts.
    const QStringView content = QStringView(m_buffer).left(Length());
    const qsizetype from = lStartIndex < 1 ? 0 : qsizetype(lStartIndex) - 1;
    if (from > content.size())
        return 0;
    const qsizetype found = content.indexOf(
        sToFind, from, compare == CompareMode::Text ? Qt::CaseInsensitive : Qt::CaseSensitive);
    return found >= 0 && found < content.size() ? int(found) + 1 : 0;
}

void cStringBuilder::HeapMinimize()
{
    std::int32_t capacity = m_capacity;
    while (capacity - m_position > m_chunkSize)
        capacity -= m_chunkSize;
    if (capacity == m_capacity)
        return;
    m_buffer.truncate(capacity / 2);
    m_buffer.squeeze();
    m_capacity = capacity;
}

} // namespace rh
