#pragma once
// JSON text to values and back, with the reader's own leniencies:
//   - blanks are TAB, space, CR, LF and also "(" and ")"; "//" line comments and
//     "/*" block comments are skipped wherever blanks are;
//   - strings may be single-quoted; member names may be unquoted, and blanks
//     inside names are dropped (also inside quotes), escapes in names are kept;
//   - a repeated member name keeps the first value and ends the object;
//   - the top level must be an object or an array; text after it is ignored.
// The reader never throws: bad input gives a partial or empty result and lines
// in ParseErrors(). Positions in those lines are 1-based UTF-16 indexes.
//
// The writer does no pretty-printing: a space after each member colon, nothing
// else between tokens.
#include "util/jsonvalue.h"

#include <QString>

namespace rh {

// The map (text starting with "{") or list (starting with "["); otherwise the
// empty value and ParseErrors() == "Invalid JSON". Leading blanks and comments
// are skipped first.
JsonValue JsonParse(const QString& text);
// As above, also handing the diagnostic text to *parseErrors.
JsonValue JsonParse(const QString& text, QString* parseErrors);

// The diagnostics of the most recent JsonParse on this thread; every entry but
// "Invalid JSON" ends with CR LF.
const QString& ParseErrors();

// Texts are written between double quotes with '"' and '\' escaped by a
// backslash and nothing else changed (line breaks stay as they are); keys are
// written unchanged. Numbers in plain decimal form, the empty value as nothing.
QString JsonToString(const JsonValue& value);

} // namespace rh
