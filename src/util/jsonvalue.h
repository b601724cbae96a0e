#pragma once
// In-memory JSON values: keyed maps in insertion order with unique keys,
// ordered lists counted from 1, decimal numbers, texts, Booleans, null and the
// empty value (nothing parsed), null and empty being different things.
//
// Reading is forgiving: asking a value for a member, an item or a kind it does
// not have gives the empty value (or an empty map/list), never an exception,
// so a lookup chain such as reply["data"]["servers"].item(1)["host"] is safe.
#include <QHash>
#include <QString>
#include <QStringList>

#include <cstddef>
#include <cstdint>
#include <variant>
#include <vector>

namespace rh {

// A decimal number as the original platform's Decimal: a 96-bit magnitude with
// 0 to 28 decimal places. Values are kept normalised (no trailing fractional
// zeros), so equal numbers compare equal and print alike.
class JsonDecimal {
public:
    JsonDecimal() = default;
    explicit JsonDecimal(std::int64_t value);

    // Text to decimal: optional sign, digits with at most one ".", at least one
    // digit, optional exponent (e or E, optional sign, digits). Digits beyond 28
    // places are rounded half to even. On failure returns 0 and sets
    // *errorNumber to 13 (type mismatch) or 6 (overflow); 0 on success.
    static JsonDecimal fromText(QStringView text, int* errorNumber = nullptr);

    // Plain form: "-12.5", "100", "0.001"; never an exponent.
    QString toString() const;
    double toDouble() const;
    // The value when it is a whole number within 64 bits.
    std::int64_t toLongLong(bool* ok = nullptr) const;

    friend bool operator==(const JsonDecimal&, const JsonDecimal&) = default;

private:
    std::uint64_t m_lo = 0; // low 64 bits of the magnitude
    std::uint32_t m_hi = 0; // high 32 bits of the magnitude
    std::uint8_t m_scale = 0;
    bool m_negative = false; // never set for zero
};

class JsonValue;

// Ordered list; positions count from 1 as the original's collections did.
class JsonList {
public:
    using const_iterator = std::vector<JsonValue>::const_iterator;

    // Defined where JsonValue is complete.
    JsonList();
    JsonList(const JsonList&);
    JsonList(JsonList&&) noexcept;
    JsonList& operator=(const JsonList&);
    JsonList& operator=(JsonList&&) noexcept;
    ~JsonList();

    qsizetype count() const;
    bool isEmpty() const;
    // Item at 1-based `position`; the empty value outside 1..count().
    const JsonValue& item(qsizetype position) const;
    void append(JsonValue value);

    const_iterator begin() const;
    const_iterator end() const;

    friend bool operator==(const JsonList&, const JsonList&);

private:
    std::vector<JsonValue> m_items;
};

// Keyed map with unique keys, kept in insertion order.
class JsonMap {
public:
    struct Member;
    using const_iterator = std::vector<Member>::const_iterator;

    // Defined where Member is complete.
    JsonMap();
    JsonMap(const JsonMap&);
    JsonMap(JsonMap&&) noexcept;
    JsonMap& operator=(const JsonMap&);
    JsonMap& operator=(JsonMap&&) noexcept;
    ~JsonMap();

    qsizetype size() const;
    bool isEmpty() const;
    bool contains(const QString& key) const { return indexOf(key) >= 0; }
    // The member's value; the empty value when there is no such key.
    const JsonValue& value(const QString& key) const;
    JsonValue* find(const QString& key);
    // Adds a member at the end. An existing key is not replaced: returns false
    // and leaves the map as it was.
    bool add(QString key, JsonValue value);
    // Replaces the value of an existing key in place, or adds the member.
    void set(QString key, JsonValue value);
    QStringList keys() const;

    const_iterator begin() const;
    const_iterator end() const;

    friend bool operator==(const JsonMap&, const JsonMap&);

private:
    qsizetype indexOf(const QString& key) const;

    std::vector<Member> m_members;
    // Built once a map grows past a few members; small maps search linearly.
    QHash<QString, qsizetype> m_index;
};

class JsonValue {
public:
    enum class Kind { Empty, Null, Boolean, Number, Text, Map, List };

    JsonValue() = default; // the empty value
    JsonValue(std::nullptr_t) : m_v(nullptr) {}
    JsonValue(bool b) : m_v(b) {}
    JsonValue(int n) : m_v(JsonDecimal(n)) {}
    JsonValue(std::int64_t n) : m_v(JsonDecimal(n)) {}
    JsonValue(const JsonDecimal& d) : m_v(d) {}
    JsonValue(const QString& s) : m_v(s) {}
    JsonValue(QString&& s) : m_v(std::move(s)) {}
    JsonValue(const char* utf8) : m_v(QString::fromUtf8(utf8)) {}
    JsonValue(JsonMap m);
    JsonValue(JsonList l);

    static JsonValue null() { return JsonValue(nullptr); }

    Kind kind() const { return Kind(m_v.index()); }
    bool isEmpty() const { return kind() == Kind::Empty; }
    bool isNull() const { return kind() == Kind::Null; }
    bool isBool() const { return kind() == Kind::Boolean; }
    bool isNumber() const { return kind() == Kind::Number; }
    bool isText() const { return kind() == Kind::Text; }
    bool isMap() const { return kind() == Kind::Map; }
    bool isList() const { return kind() == Kind::List; }

    // Exactly the Boolean true (a text "true" or the number 1 is not).
    bool isTrue() const { return isBool() && std::get<bool>(m_v); }
    bool toBool(bool defaultValue = false) const;
    JsonDecimal toNumber() const; // 0 unless a number
    // The value as text: a text as it is, a number in plain form, a Boolean as
    // "True"/"False"; the empty text for everything else.
    QString toText() const;

    const JsonMap& toMap() const;   // an empty map unless a map
    const JsonList& toList() const; // an empty list unless a list

    // Member of a map (the empty value when missing or not a map).
    const JsonValue& operator[](const QString& key) const;
    const JsonValue& operator[](const char* utf8Key) const;
    // Item of a list, 1-based (the empty value when missing or not a list).
    const JsonValue& item(qsizetype position) const;

    friend bool operator==(const JsonValue&, const JsonValue&);

private:
    // Alternative order follows Kind.
    std::variant<std::monostate, std::nullptr_t, bool, JsonDecimal, QString, JsonMap, JsonList> m_v;
};

struct JsonMap::Member {
    QString key;
    JsonValue value;
    friend bool operator==(const Member&, const Member&) = default;
};

inline qsizetype JsonList::count() const
{
    return qsizetype(m_items.size());
}
inline bool JsonList::isEmpty() const
{
    return m_items.empty();
}
inline qsizetype JsonMap::size() const
{
    return qsizetype(m_members.size());
}
inline bool JsonMap::isEmpty() const
{
    return m_members.empty();
}

} // namespace rh
