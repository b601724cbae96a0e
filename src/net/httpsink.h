#pragma once
// Where a GET's body goes as curl hands it over in pieces: into memory, with
// a size limit or keeping only its first bytes, or into a file. How the
// server's pieces happen to be cut never changes what is kept.
#include <QByteArray>
#include <QString>

#include <cstddef>

class QSaveFile;

namespace rh {

struct HttpSink {
    QByteArray* memory = nullptr;
    QSaveFile* file = nullptr;
    qint64 limit = 0; // 0: none
    qint64 firstBytes = 0; // memory only: stop quietly once this many are kept
    bool cutShort = false; // stopped after firstBytes, not a failure
    qint64 received = 0;
    QString error;

    // curl's write callback: n when the piece is taken; anything else ends
    // the transfer (cutShort or error says why).
    size_t take(const char* data, size_t n);
};

} // namespace rh
