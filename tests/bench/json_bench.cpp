// JsonParse throughput on generated documents of 1 MB and 10 MB, the time ratio
// between them (10 means linear), and Qt's QJsonDocument as the peer. Both
// start from the same UTF-8 bytes, as the checker's reply arrives: our time
// includes QString::fromUtf8, as the program pays it, and fromJson decodes
// inside its own. Sizes are UTF-8 bytes of the document; times are the best of
// a few runs and cover the parse, not the freeing of its result. Build with
// CMAKE_BUILD_TYPE=Release for meaningful figures. Exits 1 when the target
// is missed, 2 when a document is not read in full.
#include "util/json.h"

#include <QElapsedTimer>
#include <QJsonDocument>

#include <algorithm>
#include <cstdio>

using namespace rh;

namespace {

// A server list like the checker's reply, repeated until the document has
// `bytes` bytes: texts (some Korean, some with escapes), whole and decimal
// numbers, Booleans, nulls and nested lists.
QString makeDocument(qsizetype bytes, int* servers)
{
    QString doc = QStringLiteral("{\"success\":true,\"data\":{\"ver\":20240611,\"servers\":[");
    int k = 0;
    qsizetype size = doc.toUtf8().size();
    while (size < bytes) {
        QString block;
        for (int j = 0; j < 200; ++j, ++k) {
            if (k > 0)
                block += QLatin1Char(',');
            block += QStringLiteral(
                         "{\"name\":\"사내메신저DB서버-%1\",\"host\":\"10.%2.%3.%4\",\"port\":%5,"
                         "\"weight\":%6.25,\"active\":%7,\"note\":\"line\\none \\\"quoted\\\" "
                         "\\u00e9\",\"backup\":null,\"tags\":[\"a\",\"b\",%8]}")
                         .arg(k)
                         .arg(k % 256)
                         .arg((k / 7) % 256)
                         .arg((k / 13) % 256)
                         .arg(3306 + k % 100)
                         .arg(k % 1000)
                         .arg(k % 2 ? QStringLiteral("true") : QStringLiteral("false"))
                         .arg(-k);
        }
        doc += block;
        size += block.toUtf8().size();
    }
    doc += QStringLiteral("]}}");
    *servers = k;
    return doc;
}

// Best of `runs` timings of make(); the result is freed outside the timing.
template<typename Make>
double bestSeconds(int runs, Make make)
{
    double best = 1e9;
    for (int r = 0; r < runs; ++r) {
        QElapsedTimer t;
        t.start();
        auto result = make();
        best = std::min(best, double(t.nsecsElapsed()) / 1e9);
    }
    return best;
}

struct Figures {
    double mb;
    double ours; // decode and parse
    double peer;
    double decode; // the decode alone, for the share it has in ours
};

Figures measure(qsizetype bytes, int runs)
{
    int servers = 0;
    const QString doc = makeDocument(bytes, &servers);
    const QByteArray utf8 = doc.toUtf8();
    const double mb = double(utf8.size()) / 1e6;

    // Check once that the document really is read in full.
    const JsonValue v = JsonParse(doc);
    if (!ParseErrors().isEmpty() || v["data"]["servers"].toList().count() != servers) {
        std::fprintf(stderr, "document was not read in full: %s\n",
                     qPrintable(ParseErrors().left(200)));
        std::exit(2);
    }
    if (QJsonDocument::fromJson(utf8).isNull()) {
        std::fprintf(stderr, "QJsonDocument rejected the document\n");
        std::exit(2);
    }

    Figures f;
    f.mb = mb;
    f.ours = bestSeconds(runs, [&] { return JsonParse(QString::fromUtf8(utf8)); });
    f.peer = bestSeconds(runs, [&] { return QJsonDocument::fromJson(utf8); });
    f.decode = bestSeconds(runs, [&] { return QString::fromUtf8(utf8); });
    return f;
}

} // namespace

int main()
{
    const Figures small = measure(1'000'000, 7);
    const Figures large = measure(10'000'000, 3);

    for (const Figures* f : {&small, &large}) {
        std::printf("%6.2f MB  fromUtf8+JsonParse %7.1f ms  %7.1f MB/s (decode %5.1f ms)   "
                    "QJsonDocument::fromJson %7.1f ms  %7.1f MB/s   ours/peer time %.2f\n",
                    f->mb, f->ours * 1e3, f->mb / f->ours, f->decode * 1e3, f->peer * 1e3,
                    f->mb / f->peer, f->ours / f->peer);
    }
    const double sizeRatio = large.mb / small.mb;
    std::printf("size ratio %.2f, JsonParse time ratio 10MB/1MB %.2f (linear: about %.2f)\n",
                sizeRatio, large.ours / small.ours, sizeRatio);
    const double rate = large.mb / large.ours;
    std::printf("target 50 MB/s on 10 MB: %s (%.1f MB/s)\n", rate >= 50.0 ? "met" : "MISSED", rate);
    return rate >= 50.0 ? 0 : 1;
}
