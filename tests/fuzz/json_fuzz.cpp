// libFuzzer target for the JSON reader and writer. Besides surviving any input
// (no crash, hang, leak or runaway stack), whatever the reader returns must
// write out and read back as the same value with no diagnostics, unless it
// holds an empty value (which the writer renders as nothing).
#include "util/json.h"

#include <cstdint>
#include <cstdlib>

namespace {

bool holdsEmpty(const rh::JsonValue& v)
{
    switch (v.kind()) {
    case rh::JsonValue::Kind::Empty:
        return true;
    case rh::JsonValue::Kind::Map:
        for (const rh::JsonMap::Member& m : v.toMap())
            if (holdsEmpty(m.value))
                return true;
        return false;
    case rh::JsonValue::Kind::List:
        for (const rh::JsonValue& item : v.toList())
            if (holdsEmpty(item))
                return true;
        return false;
    default:
        return false;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    // The first byte picks the decoding: UTF-8 as files and replies arrive,
    // or raw UTF-16 units so lone surrogates and odd code units get in too.
    const char* bytes = reinterpret_cast<const char*>(data + 1);
    const qsizetype n = qsizetype(size - 1);
    const QString text = (data[0] & 1)
        ? QString(reinterpret_cast<const QChar*>(bytes), n / 2)
        : QString::fromUtf8(bytes, n);

    const rh::JsonValue value = rh::JsonParse(text);
    const QString errors = rh::ParseErrors();
    if (!value.isEmpty() && !value.isMap() && !value.isList())
        std::abort();
    if (value.isEmpty() && errors != QLatin1String("Invalid JSON"))
        std::abort();

    const QString written = rh::JsonToString(value);
    if (value.isEmpty() || holdsEmpty(value))
        return 0;
    QString rereadErrors;
    const rh::JsonValue reread = rh::JsonParse(written, &rereadErrors);
    if (!rereadErrors.isEmpty() || !(reread == value))
        std::abort();
    if (rh::JsonToString(reread) != written)
        std::abort();
    return 0;
}
