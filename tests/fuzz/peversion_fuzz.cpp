// Arbitrary bytes as an executable image: the version reader must give a
// result (never crash, hang or read outside the input), and whatever block
// it finds must survive the version-field search.
//
//   fuzz_peversion_fuzz -max_len=65536 corpus/   (seed the corpus with
//   tests/support/tools/mkpe.py images and MinGW-built programs)
#include "platform/peversion.h"
#include "util/fileutil.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArrayView image(reinterpret_cast<const char*>(data), qsizetype(size));
    const rh::PeVersionBlock r = rh::readPeVersionBlock(image);
    if (r.ok()) {
        if (quint64(r.fileOffset) + quint64(r.units.size()) * 2 > size)
            std::abort();
        if (rh::versionEntriesFromBlock(r.units).size() != 13)
            std::abort();
    } else if (r.error.isEmpty() || !r.units.isEmpty()) {
        std::abort();
    }
    // The field search on the raw bytes too, whatever they are.
    QList<char16_t> units(qsizetype(size / 2));
    for (qsizetype i = 0; i < units.size(); ++i)
        units[i] = char16_t(data[2 * i] | data[2 * i + 1] << 8);
    if (rh::versionEntriesFromBlock(units).size() != 13)
        std::abort();
    return 0;
}
