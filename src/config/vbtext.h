#pragma once
// Text helpers with the original runtime's semantics where the INI values
// depend on them: Val's lenient number parse and Trim of spaces only.
#include <QString>

namespace rh {

// Leading blanks skipped, an optional sign, digits with an optional decimal
// part; anything else ends the number. "12abc" -> 12, "abc" -> 0.
double vbVal(const QString& text);
// Removes leading and trailing spaces (only U+0020).
QString vbTrim(const QString& text);
// Round half to even, as the runtime's integer conversion does; a number
// beyond the range gives the range's nearest end.
long long vbRound(double v);

} // namespace rh
