#include "config/vbtext.h"

#include <cmath>
#include <limits>

namespace rh {

double vbVal(const QString& text)
{
    qsizetype i = 0;
    const qsizetype n = text.size();
    auto skipBlanks = [&] {
        while (i < n && (text[i] == QLatin1Char(' ') || text[i] == QLatin1Char('\t')))
            ++i;
    };
    skipBlanks();
    QString num;
    if (i < n && (text[i] == QLatin1Char('-') || text[i] == QLatin1Char('+')))
        num += text[i++];
    bool digits = false;
    while (i < n && text[i].isDigit() && text[i].unicode() < 128) {
        num += text[i++];
        digits = true;
    }
    if (i < n && text[i] == QLatin1Char('.')) {
        num += text[i++];
        while (i < n && text[i].isDigit() && text[i].unicode() < 128) {
            num += text[i++];
            digits = true;
        }
    }
    if (!digits)
        return 0;
    bool ok = false;
    double v = num.toDouble(&ok);
    return ok ? v : 0;
}

QString vbTrim(const QString& text)
{
    qsizetype b = 0, e = text.size();
    while (b < e && text[b] == QLatin1Char(' '))
        ++b;
    while (e > b && text[e - 1] == QLatin1Char(' '))
        --e;
    return text.mid(b, e - b);
}

long long vbRound(double v)
{
    // Half to even whatever rounding mode the thread has set: floor and the
    // difference are exact, so no mode-dependent operation is left.
    double r = std::floor(v);
    const double rest = v - r;
    if (rest > 0.5 || (rest == 0.5 && std::fmod(r, 2.0) != 0))
        r += 1;
    // Beyond the integer's range: its nearest end, so a huge number stays out
    // of any range of rows or kinds (the cast alone would be undefined).
    if (!(r > -9223372036854775808.0))
        return std::numeric_limits<long long>::min();
    if (r >= 9223372036854775808.0)
        return std::numeric_limits<long long>::max();
    return static_cast<long long>(r);
}

} // namespace rh
