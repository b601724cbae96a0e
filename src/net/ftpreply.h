#pragma once
// What the FTP session reads from the server's bytes itself (curl parses the
// rest): reply lines, the facts of an MLST reply and a folder listing. Apart
// from the session so they can be tested and fuzzed without a server.
#include "net/ftpsession.h"

#include <QByteArray>
#include <QList>

namespace rh {

// A final reply line is "nnn text" or "nnn". "nnn-" opens a multi-line reply;
// its other lines are text, and one that starts with digits is padded with a
// blank by the server, so the line is judged as received, never trimmed.
bool isFinalReply(const QByteArray& line);

// A reply line as text for messages: a stray CR (a line ends at LF, as curl
// reads it) becomes a blank, blanks at either end go.
QByteArray replyText(QByteArray line);

// The final reply lines in a piece of server text, in order, as replyText.
QList<QByteArray> finalReplyLines(const QByteArray& text);

// The facts line of an MLST reply (" type=file;size=6;modify=...; /path"):
// whether it names a file, and its size when the server gave one (-1 when
// not, or when the number does not fit). False when the line holds no facts.
bool parseMlstFacts(const QByteArray& line, FtpFileInfo* info);

// Finds `name` in a LIST reply, in the Unix "ls -l" form most servers send or
// the DOS form of IIS; names are compared as the bytes on the wire. A folder
// or link is found but does not exist as a file; a size that does not fit is
// unknown (-1). False when no line names it.
bool findInListing(const QByteArray& listing, const QByteArray& name, FtpFileInfo* info);

} // namespace rh
