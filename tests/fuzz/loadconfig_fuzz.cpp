// LoadConfig over arbitrary bytes as the setup INI. It must load, or end with
// one of its own messages, never crash; loading never changes the file; and a
// selection saved back into the file (SaveRecentProjects) loads again as the
// same rows with the same ticks.
#include "config/projectrow.h"
#include "pipeline/desk.h"
#include "site/apphome.h"
#include "platform/interaction.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdint>
#include <cstdlib>

namespace {

class Recorder : public rh::Interaction {
public:
    QStringList told;
    void logLine(const QString&) override {}
    void pumpEvents() override {}
    bool askYesNo(const QString&, const QString&, rh::MsgIcon, bool defaultNo) override { return !defaultNo; }
    void tell(const QString& text, const QString&, rh::MsgIcon) override { told << text; }
    void setBusy(bool) override {}
};

Recorder g_recorder;
QString g_ini;

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool ownMessage(const QString& m)
{
    return (m.startsWith(QLatin1String("Error ")) && m.endsWith(QLatin1String(" in procedure LoadConfig of Form FrmMain")))
        || (m.startsWith(QStringLiteral("설정파일 내용중 [General] - ProjGrop"))
            && m.endsWith(QStringLiteral("의 값이 잘못되었습니다.")))
        || m.startsWith(QStringLiteral("설정파일에 프로젝트가 없습니다.\r\n"));
}

// Loads g_ini into the desk; false when the load ended with an error.
bool load(rh::Desk& desk)
{
    g_recorder.told.clear();
    desk.setupNames = {QStringLiteral("setup.ini")};
    desk.setupIndex = 0;
    desk.LoadConfig();
    bool failed = false;
    for (const QString& m : g_recorder.told) {
        if (!ownMessage(m))
            std::abort();
        failed = failed || m.startsWith(QLatin1String("Error "));
    }
    return !failed && desk.IniPath == g_ini;
}

QStringList rowTexts(const rh::Desk& desk, int row)
{
    QStringList out;
    for (int col = 2; col <= rh::ProjectColCount; ++col)
        out << desk.grid.text(col, row);
    return out;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    static QTemporaryDir dir; // removed when the process ends
    const QString home = dir.path();
    QDir().mkpath(home + QStringLiteral("/inis"));
    rh::setProgramFolder(home);
    rh::setInteraction(&g_recorder);
    g_ini = home + QStringLiteral("/inis/setup.ini");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    {
        QFile f(g_ini);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
            std::abort();
    }
    rh::Desk desk;
    const bool loaded = load(desk);
    if (readAll(g_ini) != bytes)
        std::abort();
    const int rows = desk.grid.maxRows();
    if (!loaded || rows == 0)
        return 0;

    // Tick up to eight rows picked by the input's last bytes, save, load again.
    QList<int> ticks;
    for (size_t i = 0; i < 8 && i < size; ++i) {
        const int r = 1 + int(data[size - 1 - i]) * 131 % rows;
        if (!ticks.contains(r))
            ticks << r;
    }
    std::sort(ticks.begin(), ticks.end());
    QList<QStringList> texts;
    for (int r = 1; r <= rows; ++r) {
        desk.setTicked(r, ticks.contains(r));
        texts << rowTexts(desk, r);
    }
    desk.SaveRecentProjects();

    rh::Desk again;
    if (!load(again) || again.grid.maxRows() != rows)
        std::abort();
    for (int r = 1; r <= rows; ++r) {
        if (rowTexts(again, r) != texts[r - 1] || again.isTicked(r) != ticks.contains(r))
            std::abort();
    }
    return 0;
}
