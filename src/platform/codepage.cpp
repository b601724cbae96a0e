#include "platform/codepage.h"

#include <iconv.h>

#include <cerrno>
#include <cstring>

// iconv rather than QStringConverter: Qt 6.4's converter only knows the UTF
// family without ICU, and glibc's iconv carries CP949 (UHC) everywhere.
namespace rh {
namespace {

struct CodePage {
    QByteArray name = "CP949";
};

CodePage& current()
{
    static CodePage cp;
    return cp;
}

// Opening a converter loads a gconv module: keep one per direction and thread,
// reset before each use.
iconv_t descriptor(const char* to, const char* from)
{
    struct Cached {
        QByteArray to, from;
        iconv_t cd = reinterpret_cast<iconv_t>(-1);
        ~Cached()
        {
            if (cd != reinterpret_cast<iconv_t>(-1))
                iconv_close(cd);
        }
    };
    thread_local Cached cache[2];
    for (Cached& c : cache) {
        if (c.cd != reinterpret_cast<iconv_t>(-1) && c.to == to && c.from == from) {
            iconv(c.cd, nullptr, nullptr, nullptr, nullptr);
            return c.cd;
        }
    }
    // Encoding and decoding each keep their slot.
    Cached& slot = cache[QByteArray(to) == "UTF-8" ? 0 : 1];
    if (slot.cd != reinterpret_cast<iconv_t>(-1))
        iconv_close(slot.cd);
    slot.to = to;
    slot.from = from;
    slot.cd = iconv_open(to, from);
    return slot.cd;
}

// Converts with iconv; on invalid input writes `replacement` and skips one byte
// (decoding) or one UTF-16 unit worth of UTF-8 (encoding).
QByteArray convert(const char* to, const char* from, const char* in, size_t inLen,
                   const QByteArray& replacement, bool* valid)
{
    if (valid)
        *valid = true;
    QByteArray out;
    iconv_t cd = descriptor(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        if (valid)
            *valid = false;
        return out;
    }
    out.resize(qsizetype(inLen * 2 + 16));
    char* inp = const_cast<char*>(in);
    size_t inLeft = inLen;
    size_t used = 0;
    while (true) {
        char* outp = out.data() + used;
        size_t outLeft = size_t(out.size()) - used;
        size_t r = iconv(cd, inLen ? &inp : nullptr, &inLeft, &outp, &outLeft);
        used = size_t(outp - out.data());
        if (r != size_t(-1)) {
            if (inLeft == 0)
                break;
            continue;
        }
        if (errno == E2BIG) {
            out.resize(out.size() * 2);
            continue;
        }
        // EILSEQ or EINVAL (truncated sequence at the end): replace and skip.
        if (valid)
            *valid = false;
        if (size_t(out.size()) - used < size_t(replacement.size()) + 8)
            out.resize(out.size() * 2 + replacement.size());
        memcpy(out.data() + used, replacement.constData(), size_t(replacement.size()));
        used += size_t(replacement.size());
        // glibc may refuse a sequence it has already consumed (CP949 "\xA2\xE8"
        // at the end): then there is nothing left to skip.
        if (inLeft == 0)
            break;
        // Skip one input unit: a byte of ANSI, or a whole UTF-8 sequence.
        size_t skip = 1;
        if (QByteArray(from) == "UTF-8") {
            unsigned char c = static_cast<unsigned char>(*inp);
            skip = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
            if (skip > inLeft)
                skip = inLeft;
        }
        inp += skip;
        inLeft -= skip;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        if (inLeft == 0)
            break;
    }
    out.resize(qsizetype(used));
    return out;
}

bool isKnown(const QByteArray& name)
{
    iconv_t cd = iconv_open("UTF-8", name.constData());
    if (cd == reinterpret_cast<iconv_t>(-1))
        return false;
    iconv_close(cd);
    return true;
}

} // namespace

bool setAnsiCodePage(const QString& name)
{
    QByteArray n = name.trimmed().toLatin1();
    if (n.isEmpty() || !isKnown(n))
        return false;
    current().name = n;
    return true;
}

bool isKnownCodePage(const QString& name)
{
    const QByteArray n = name.trimmed().toLatin1();
    return !n.isEmpty() && isKnown(n);
}

QString ansiCodePageName()
{
    return QString::fromLatin1(current().name);
}

QByteArray toAnsi(const QString& text)
{
    if (text.isEmpty())
        return QByteArray("");
    bool ascii = true;
    for (QChar c : text) {
        if (c.unicode() >= 0x80) {
            ascii = false;
            break;
        }
    }
    if (ascii)
        return text.toLatin1();
    QByteArray utf8 = text.toUtf8();
    return convert(current().name.constData(), "UTF-8", utf8.constData(), size_t(utf8.size()),
                   QByteArray("?"), nullptr);
}

QString fromAnsi(const char* data, qsizetype size)
{
    if (size <= 0)
        return QString();
    // Plain ASCII needs no conversion: the common case for keys and paths.
    bool ascii = true;
    for (qsizetype i = 0; i < size; ++i) {
        if (static_cast<unsigned char>(data[i]) >= 0x80) {
            ascii = false;
            break;
        }
    }
    if (ascii)
        return QString::fromLatin1(data, size);
    QByteArray utf8 = convert("UTF-8", current().name.constData(), data, size_t(size),
                              QByteArray("\xEF\xBF\xBD"), nullptr);
    return QString::fromUtf8(utf8);
}

QString fromAnsi(const QByteArray& bytes)
{
    return fromAnsi(bytes.constData(), bytes.size());
}

bool isValidAnsi(const QByteArray& bytes)
{
    bool valid = true;
    convert("UTF-8", current().name.constData(), bytes.constData(), size_t(bytes.size()),
            QByteArray("?"), &valid);
    return valid;
}

} // namespace rh
