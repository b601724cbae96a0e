#include "util/jsonvalue.h"

#include "platform/errors.h"

#include <algorithm>
#include <limits>

namespace rh {
namespace {

using u128 = unsigned __int128;

// 2^96 - 1, the largest magnitude of the platform's Decimal.
constexpr u128 kMaxMagnitude = (u128(1) << 96) - 1;
constexpr int kMaxScale = 28;
constexpr int kMaxDigits = 29;
// Significant digits kept while reading; more can never be used, later ones
// only decide the rounding.
constexpr int kKeptDigits = 40;
constexpr std::int64_t kExponentLimit = 1'000'000'000;

const JsonValue& emptyValue()
{
    static const JsonValue v;
    return v;
}

const JsonMap& emptyMap()
{
    static const JsonMap m;
    return m;
}

const JsonList& emptyList()
{
    static const JsonList l;
    return l;
}

constexpr qsizetype kIndexThreshold = 8;

} // namespace

// ---------------------------------------------------------------- JsonDecimal

JsonDecimal::JsonDecimal(std::int64_t value)
{
    const std::uint64_t magnitude =
        value < 0 ? std::uint64_t(0) - std::uint64_t(value) : std::uint64_t(value);
    m_lo = magnitude;
    m_negative = value < 0;
}

JsonDecimal JsonDecimal::fromText(QStringView t, int* errorNumber)
{
    auto fail = [&](int number) {
        if (errorNumber)
            *errorNumber = number;
        return JsonDecimal();
    };
    if (errorNumber)
        *errorNumber = 0;

    const qsizetype n = t.size();
    qsizetype i = 0;
    bool negative = false;
    if (i < n && (t[i] == u'+' || t[i] == u'-')) {
        negative = t[i] == u'-';
        ++i;
    }

    char kept[kKeptDigits];
    int keptCount = 0;
    std::int64_t significant = 0; // digits after leading zeros
    bool sticky = false;          // a non-zero digit beyond the kept ones
    std::int64_t fractionDigits = 0;
    bool sawDigit = false, sawPoint = false;
    for (; i < n; ++i) {
        const char16_t c = t[i].unicode();
        if (c == u'.') {
            if (sawPoint)
                return fail(err::TypeMismatch);
            sawPoint = true;
            continue;
        }
        if (c < u'0' || c > u'9')
            break;
        sawDigit = true;
        if (sawPoint)
            ++fractionDigits;
        if (significant == 0 && c == u'0')
            continue;
        if (keptCount < kKeptDigits)
            kept[keptCount++] = char(c - u'0');
        else if (c != u'0')
            sticky = true;
        ++significant;
    }
    if (!sawDigit)
        return fail(err::TypeMismatch);

    std::int64_t exponent = 0;
    if (i < n && (t[i] == u'e' || t[i] == u'E')) {
        ++i;
        bool negativeExponent = false;
        if (i < n && (t[i] == u'+' || t[i] == u'-')) {
            negativeExponent = t[i] == u'-';
            ++i;
        }
        bool sawExponentDigit = false;
        for (; i < n && t[i] >= u'0' && t[i] <= u'9'; ++i) {
            sawExponentDigit = true;
            exponent = std::min(exponent * 10 + (t[i].unicode() - u'0'), kExponentLimit);
        }
        if (!sawExponentDigit)
            return fail(err::TypeMismatch);
        if (negativeExponent)
            exponent = -exponent;
    }
    if (i != n)
        return fail(err::TypeMismatch);

    JsonDecimal d;
    if (significant == 0)
        return d; // zero, whatever its sign and exponent

    // value = digits * 10^power
    const std::int64_t power = exponent - fractionDigits;
    const std::int64_t integerDigits = significant + power;
    if (integerDigits > kMaxDigits)
        return fail(err::Overflow);

    auto digitAt = [&](std::int64_t k) -> int { return k < keptCount ? kept[k] : 0; };
    auto stickyFrom = [&](std::int64_t k) {
        if (sticky)
            return true;
        for (std::int64_t j = std::max<std::int64_t>(k, 0); j < keptCount; ++j)
            if (kept[j] != 0)
                return true;
        return false;
    };

    u128 magnitude = 0;
    int scale = 0;
    if (power >= 0) {
        for (int k = 0; k < keptCount; ++k)
            magnitude = magnitude * 10 + u128(kept[k]);
        for (std::int64_t k = 0; k < power; ++k)
            magnitude *= 10;
        if (magnitude > kMaxMagnitude)
            return fail(err::Overflow);
    } else {
        std::int64_t wantScale = std::min<std::int64_t>(-power, kMaxScale);
        std::int64_t keep = integerDigits + wantScale;
        if (keep > kMaxDigits) {
            wantScale -= keep - kMaxDigits;
            keep = kMaxDigits;
        }
        for (;;) {
            magnitude = 0;
            for (std::int64_t k = 0; k < keep; ++k)
                magnitude = magnitude * 10 + u128(digitAt(k));
            if (keep >= 0 && keep < significant) {
                const int dropped = digitAt(keep);
                const bool rest = stickyFrom(keep + 1);
                if (dropped > 5 || (dropped == 5 && (rest || (magnitude & 1))))
                    ++magnitude;
            }
            if (magnitude <= kMaxMagnitude)
                break;
            if (wantScale == 0)
                return fail(err::Overflow);
            --wantScale;
            --keep;
        }
        scale = int(wantScale);
        while (scale > 0 && magnitude % 10 == 0) {
            magnitude /= 10;
            --scale;
        }
    }
    d.m_lo = std::uint64_t(magnitude);
    d.m_hi = std::uint32_t(magnitude >> 64);
    d.m_scale = std::uint8_t(scale);
    d.m_negative = negative && magnitude != 0;
    return d;
}

QString JsonDecimal::toString() const
{
    u128 magnitude = (u128(m_hi) << 64) | m_lo;
    char digits[48];
    int count = 0;
    do {
        digits[count++] = char('0' + int(magnitude % 10));
        magnitude /= 10;
    } while (magnitude != 0);
    while (count <= m_scale)
        digits[count++] = '0';

    QString out;
    out.reserve(count + 2);
    if (m_negative)
        out += QLatin1Char('-');
    for (int k = count - 1; k >= 0; --k) {
        out += QLatin1Char(digits[k]);
        if (k == m_scale && k != 0)
            out += QLatin1Char('.');
    }
    return out;
}

double JsonDecimal::toDouble() const
{
    return toString().toDouble();
}

std::int64_t JsonDecimal::toLongLong(bool* ok) const
{
    const u128 magnitude = (u128(m_hi) << 64) | m_lo;
    const u128 limit = u128(std::numeric_limits<std::int64_t>::max()) + (m_negative ? 1 : 0);
    const bool fits = m_scale == 0 && magnitude <= limit;
    if (ok)
        *ok = fits;
    if (!fits)
        return 0;
    return m_negative ? std::int64_t(0 - std::uint64_t(magnitude)) : std::int64_t(magnitude);
}

// ------------------------------------------------------------------- JsonList

JsonList::JsonList() = default;
JsonList::JsonList(const JsonList&) = default;
JsonList::JsonList(JsonList&&) noexcept = default;
JsonList& JsonList::operator=(const JsonList&) = default;
JsonList& JsonList::operator=(JsonList&&) noexcept = default;
JsonList::~JsonList() = default;

const JsonValue& JsonList::item(qsizetype position) const
{
    if (position < 1 || position > count())
        return emptyValue();
    return m_items[size_t(position - 1)];
}

void JsonList::append(JsonValue value)
{
    m_items.push_back(std::move(value));
}

JsonList::const_iterator JsonList::begin() const
{
    return m_items.begin();
}

JsonList::const_iterator JsonList::end() const
{
    return m_items.end();
}

bool operator==(const JsonList& a, const JsonList& b)
{
    return a.m_items == b.m_items;
}

// -------------------------------------------------------------------- JsonMap

JsonMap::JsonMap() = default;
JsonMap::JsonMap(const JsonMap&) = default;
JsonMap::JsonMap(JsonMap&&) noexcept = default;
JsonMap& JsonMap::operator=(const JsonMap&) = default;
JsonMap& JsonMap::operator=(JsonMap&&) noexcept = default;
JsonMap::~JsonMap() = default;

qsizetype JsonMap::indexOf(const QString& key) const
{
    if (!m_index.isEmpty())
        return m_index.value(key, -1);
    for (size_t k = 0; k < m_members.size(); ++k)
        if (m_members[k].key == key)
            return qsizetype(k);
    return -1;
}

const JsonValue& JsonMap::value(const QString& key) const
{
    const qsizetype k = indexOf(key);
    return k < 0 ? emptyValue() : m_members[size_t(k)].value;
}

JsonValue* JsonMap::find(const QString& key)
{
    const qsizetype k = indexOf(key);
    return k < 0 ? nullptr : &m_members[size_t(k)].value;
}

bool JsonMap::add(QString key, JsonValue value)
{
    if (indexOf(key) >= 0)
        return false;
    const qsizetype position = size();
    if (!m_index.isEmpty()) {
        m_index.insert(key, position);
    } else if (position + 1 > kIndexThreshold) {
        for (qsizetype k = 0; k < position; ++k)
            m_index.insert(m_members[size_t(k)].key, k);
        m_index.insert(key, position);
    }
    if (m_members.empty())
        m_members.reserve(8); // skips the first few regrowths of typical objects
    m_members.push_back(Member{std::move(key), std::move(value)});
    return true;
}

void JsonMap::set(QString key, JsonValue value)
{
    if (JsonValue* existing = find(key))
        *existing = std::move(value);
    else
        add(std::move(key), std::move(value));
}

QStringList JsonMap::keys() const
{
    QStringList out;
    out.reserve(size());
    for (const Member& m : m_members)
        out.append(m.key);
    return out;
}

JsonMap::const_iterator JsonMap::begin() const
{
    return m_members.begin();
}

JsonMap::const_iterator JsonMap::end() const
{
    return m_members.end();
}

bool operator==(const JsonMap& a, const JsonMap& b)
{
    return a.m_members == b.m_members;
}

// ------------------------------------------------------------------ JsonValue

JsonValue::JsonValue(JsonMap m) : m_v(std::move(m)) {}

JsonValue::JsonValue(JsonList l) : m_v(std::move(l)) {}

bool JsonValue::toBool(bool defaultValue) const
{
    if (const bool* b = std::get_if<bool>(&m_v))
        return *b;
    return defaultValue;
}

JsonDecimal JsonValue::toNumber() const
{
    if (const JsonDecimal* d = std::get_if<JsonDecimal>(&m_v))
        return *d;
    return JsonDecimal();
}

QString JsonValue::toText() const
{
    switch (kind()) {
    case Kind::Text: return std::get<QString>(m_v);
    case Kind::Number: return std::get<JsonDecimal>(m_v).toString();
    case Kind::Boolean:
        return std::get<bool>(m_v) ? QStringLiteral("True") : QStringLiteral("False");
    default: return QString();
    }
}

const JsonMap& JsonValue::toMap() const
{
    if (const JsonMap* m = std::get_if<JsonMap>(&m_v))
        return *m;
    return emptyMap();
}

const JsonList& JsonValue::toList() const
{
    if (const JsonList* l = std::get_if<JsonList>(&m_v))
        return *l;
    return emptyList();
}

const JsonValue& JsonValue::operator[](const QString& key) const
{
    if (const JsonMap* m = std::get_if<JsonMap>(&m_v))
        return m->value(key);
    return emptyValue();
}

const JsonValue& JsonValue::operator[](const char* utf8Key) const
{
    if (!utf8Key)
        return emptyValue();
    return (*this)[QString::fromUtf8(utf8Key)];
}

const JsonValue& JsonValue::item(qsizetype position) const
{
    if (const JsonList* l = std::get_if<JsonList>(&m_v))
        return l->item(position);
    return emptyValue();
}

bool operator==(const JsonValue& a, const JsonValue& b)
{
    return a.m_v == b.m_v;
}

} // namespace rh
