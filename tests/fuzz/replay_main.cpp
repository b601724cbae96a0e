// Runs a fuzz target's entry point over files without a fuzzing engine, so
// every committed corpus input is an ordinary test: each argument is a file
// or a folder of files. A finding aborts, as it does under libFuzzer.
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdint>
#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace {

bool runFile(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot read %s\n", qPrintable(path));
        return false;
    }
    const QByteArray bytes = f.readAll();
    // A copy of its own, so a read past the end is past the input's end.
    QByteArray copy(bytes.constData(), bytes.size());
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(copy.constData()), size_t(copy.size()));
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (LLVMFuzzerInitialize)
        LLVMFuzzerInitialize(&argc, &argv);
    int inputs = 0;
    bool ok = true;
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        QFileInfo info(arg);
        if (info.isDir()) {
            const QStringList names = QDir(arg).entryList(QDir::Files, QDir::Name);
            for (const QString& n : names) {
                ok = runFile(arg + QLatin1Char('/') + n) && ok;
                ++inputs;
            }
        } else {
            ok = runFile(arg) && ok;
            ++inputs;
        }
    }
    std::printf("%d inputs replayed\n", inputs);
    return ok && inputs > 0 ? 0 : 1;
}
