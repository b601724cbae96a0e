#include "pipeline/desk.h"

#include "config/projectrow.h"
#include "config/vbtext.h"
#include "pipeline/ftptransfer.h"
#include "site/apphome.h"
#include "platform/codepage.h"
#include "platform/drivemap.h"
#include "platform/errors.h"
#include "platform/interaction.h"
#include "site/sitecfg.h"
#include "platform/usersettings.h"

#include <QDir>
#include <QFileInfo>
#include <QFileSystemWatcher>

#include <algorithm>
#include <cmath>

namespace rh {
namespace {

// The setting keys of the per-user store, under the application's title.
QString settingsSection() { return QStringLiteral("Config"); }
QString keyCloseAfterTransfer() { return QStringLiteral("전송완료후닫기"); }
QString keyLastSetup() { return QStringLiteral("최근설정파일"); }

// GetIni reads at most 199 bytes of a value (a 200-byte buffer) and trims it.
constexpr int kIniBuffer = 200;

QString iniValue(const ProfileFile& file, const QString& section, const QString& key,
                 const QString& defaultValue)
{
    return vbTrim(file.getText(section, key, defaultValue, kIniBuffer));
}

} // namespace

Desk::Desk(QObject* parent) : QObject(parent), grid(ProjectColCount)
{
    for (int k = 0; k < 8; ++k)
        groups[size_t(k)].caption = QStringLiteral("그룹선택") + QString::number(k + 1);
    cmdOpenINI.caption = QStringLiteral("INI 열기");
    cmdVerUp.caption = QStringLiteral("버전업(매월 마지막 금)");
    cmdAllStep.caption = QStringLiteral("All");
    btnTrans.caption = QStringLiteral("시작");
    btnClose.caption = QStringLiteral("닫기");
    btnSourceMerge.caption = QStringLiteral("소스통합");
    btnImdAutoRemove.caption = QStringLiteral("지금 _2제거");
    // Ticked at design time: compile, setup, distribute, build signing, setup signing.
    for (int i : {0, 1, 2, 4, 5})
        chkStep[size_t(i)].checked = true;
    chkVerUpdate.checked = true;
    updateAllStepButton();
    connect(&grid, &ProjectGrid::cellChanged, this, &Desk::onCellChanged);
    connect(&grid, &ProjectGrid::activeCellChanged, this, &Desk::onActiveCellChanged);
}

Desk::~Desk() = default;

QString Desk::fallbackTestDestination()
{
    return QStringLiteral("\\\\") + site().fileServerHost
        + QStringLiteral("\\프로그램셋업-전체\\(금요일버전)");
}

bool Desk::isVersionUpDay(const QDate& today)
{
    return today.dayOfWeek() == Qt::Tuesday && today.addDays(8).month() != today.month()
        && today.addDays(1).month() == today.month();
}

QString Desk::setupChooserText() const
{
    return setupIndex >= 0 && setupIndex < setupNames.size() ? setupNames[setupIndex] : QString();
}

QString Desk::GetIni(const QString& section, const QString& key, const QString& defaultValue) const
{
    if (IniPath.isEmpty())
        return defaultValue;
    return iniValue(ProfileFile::load(IniPath), section, key, defaultValue);
}

// ---------------------------------------------------------------------------
// Form_Load

void Desk::Form_Load()
{
    caption = QStringLiteral("Rollhaven2 v") + QString::number(versionMajor()) + QLatin1Char('.')
        + QString::number(versionMinor()) + QLatin1Char('.') + QString::number(versionRevision())
        + QStringLiteral(" ♣TarvelSoft 개발부 전용♣");

    if (isVersionUpDay(now().date())) {
        versionUpDay = true;
        cmdVerUp.defaultColor = false;
        cmdVerUp.back = colors::VersionUpDay;
        cmdVerUp.tag = QStringLiteral("Y");
        tell(QStringLiteral("오늘은 [버전업] 하는날 입니다."));
    }

    SetupBuilderExe[0] = QStringLiteral("C:\\Program Files\\Macrovision\\IS12\\System\\IsCmdBld.exe");
    SetupBuilderArgs[0] = QStringLiteral("-x -p ");
    SetupBuilderExe[1] = QStringLiteral("C:\\Program Files\\Inno Setup 5\\compil32.exe");
    SetupBuilderArgs[1] = QStringLiteral("/cc ");

    chkEndUnload.checked =
        vbVal(GetSetting(appTitle(), settingsSection(), keyCloseAfterTransfer(), QStringLiteral("0")))
        != 0;

    // InitSpread: zero rows, only the tick column editable (the view's concern).
    grid.clear();

    txtLog = QStringLiteral("[Setup.ini에서 ProjectType=1로 설정시]\r\n"
                            "\r\n"
                            "  1) FTP에만 파일배포(파일서버에는 복사하지 않음)\r\n"
                            "  2) FTP에 전송후 체크설정과 무관하게 바로 이름변경\r\n"
                            "  3) 파일서버 버전관리파일에 기록하지 않음\r\n"
                            "  4) 업무일지에 버전기록 안함");
    // A run that was killed or crashed is told now, with what it had done.
    reportAbandonedRuns();

    const QString inis = programFolder() + QStringLiteral("/inis");
    setupNames = listSetupNames();
    setupIndex = setupNames.isEmpty() ? -1 : 0;
    // The file last chosen, while it is still there.
    const int last = int(setupNames.indexOf(GetSetting(appTitle(), settingsSection(), keyLastSetup())));
    if (last >= 0)
        setupIndex = last;
    // Files added or removed while the program runs show up in the chooser.
    if (!m_iniWatcher) {
        m_iniWatcher = new QFileSystemWatcher(this);
        connect(m_iniWatcher, &QFileSystemWatcher::directoryChanged, this, [this] { refreshSetupList(); });
    }
    if (QFileInfo(inis).isDir() && !m_iniWatcher->directories().contains(inis))
        m_iniWatcher->addPath(inis);

    if (!commandLine.isEmpty() && !commandLine.first().isEmpty()) {
        // Windows spelled the folder with "\"; on this platform the separator is "/",
        // and either one ends the folder part.
        const QString arg = commandLine.first();
        const qsizetype cut = std::max(arg.lastIndexOf(QLatin1Char('\\')), arg.lastIndexOf(QLatin1Char('/')));
        QString folderPart = arg.left(cut + 1).toLower();
        folderPart.replace(QLatin1Char('\\'), QLatin1Char('/'));
        const QString expected = (programFolder() + QStringLiteral("/inis/")).toLower();
        if (cut >= 0 && folderPart == expected) {
            const int idx = int(setupNames.indexOf(arg.mid(cut + 1)));
            if (idx >= 0)
                setupIndex = idx;
        } else {
            tell(programFolder() + QStringLiteral("/inis폴더안의 ini파일만 인식이 가능합니다."));
        }
    }

    LoadConfig();
    groupAdd = false;

    const int dow = now().date().dayOfWeek();
    if (dow == Qt::Tuesday)
        optWeekClick(1);
    else if (dow == Qt::Monday || dow == Qt::Friday)
        optWeekClick(0);
    else
        optWeekClick(2);
    Q_EMIT changed();
}

// ---------------------------------------------------------------------------
// LoadConfig

// The destinations of the release the test-version box asks for, so that no
// reload can put production destinations under a test build.
// The message for the first path key of a setup INI that holds a native
// ("/...") path, or "" when every path is a Windows one.
QString Desk::nativeIniPath(const ProfileFile& file) const
{
    QList<QPair<QString, QString>> keys = {{QStringLiteral("General"), QStringLiteral("UpxExePath")},
                                           {QStringLiteral("General"), QStringLiteral("ISResultFolder")}};
    for (const char* section : {"Distribute", "Distribute_Beta"})
        for (int n = 1; !iniValue(file, QLatin1String(section), QStringLiteral("Path%1").arg(n), QString()).isEmpty(); ++n)
            keys.append({QLatin1String(section), QStringLiteral("Path%1").arg(n)});
    const long long count = std::clamp<long long>(
        vbRound(vbVal(iniValue(file, QStringLiteral("Project"), QStringLiteral("ProjectCount"), QStringLiteral("1")))), 0, 32767);
    for (long long i = 1; i <= count; ++i)
        for (const QString& key : {QStringLiteral("VbpPath"), QStringLiteral("ExePath"), inikey::officialPath(),
                                   QStringLiteral("ISProject1"), QStringLiteral("ISProject2"),
                                   QStringLiteral("ISResult1"), QStringLiteral("ISResult2")})
            keys.append({QStringLiteral("Project%1").arg(i), key});
    for (const auto& [section, key] : keys) {
        const QString v = iniValue(file, section, key, QString());
        if (isNativeAbsolutePath(v) && !v.startsWith(QLatin1String("//")))
            return QStringLiteral("설정파일 내용중 [%1] - %2의 값이 잘못되었습니다: \"%3\" "
                                  "(드라이브(X:\\) 또는 \\\\서버\\공유 경로여야 합니다)")
                .arg(section, key, v);
    }
    return QString();
}

void Desk::loadDestinations(const ProfileFile& file)
{
    lstDest.clear();
    const QString section = chkTestVer.checked ? QStringLiteral("Distribute_Beta") : QStringLiteral("Distribute");
    for (int n = 1;; ++n) {
        const QString v = iniValue(file, section, QStringLiteral("Path") + QString::number(n), QString());
        if (v.isEmpty())
            break;
        lstDest.addSelected(v);
    }
    if (chkTestVer.checked && lstDest.items.isEmpty())
        lstDest.addSelected(fallbackTestDestination());
}

void Desk::resetGroupButtons()
{
    for (int k = 0; k < 8; ++k) {
        groups[size_t(k)].caption = QStringLiteral("그룹선택") + QString::number(k + 1);
        groups[size_t(k)].list.clear();
        groups[size_t(k)].enabled = true;
    }
}

// A setup INI that loads no project says so now, rather than only when a run
// finds nothing ticked.
void Desk::reportMissingProjects(const ProfileFile& file)
{
    if (grid.maxRows() > 0)
        return;
    QString why;
    QStringList named;
    for (int n = 1; n <= 8; ++n) {
        const QStringList parts = iniValue(file, QStringLiteral("General"), QStringLiteral("ProjGrop") + QString::number(n),
                                           QString())
                                      .split(QLatin1Char(';'));
        if (parts.size() == 2 && !parts[1].isEmpty())
            named << parts[1];
    }
    if (file.bytes().trimmed().isEmpty())
        why = QStringLiteral("파일이 비어 있습니다.");
    else if (file.bytes().contains('\0') || !isValidAnsi(file.bytes()))
        why = QStringLiteral("INI 텍스트 파일이 아닙니다.");
    else if (!named.isEmpty())
        why = QStringLiteral("그룹이 가리키는 프로젝트 구역이 없습니다: ") + named.join(QLatin1Char(','));
    else
        why = QStringLiteral("[Project] 구역의 ProjectCount와 Project1, Project2, ... 값을 확인하세요.");
    tell(QStringLiteral("설정파일에 프로젝트가 없습니다.\r\n\r\n") + IniPath + QStringLiteral("\r\n") + why);
}

void Desk::LoadConfig()
{
    // Errors past the file check end the loading where they happen; what was
    // loaded so far stays, as the original's trap did.
    std::array<QString, 4> errorAt; // section, key, value, why of a thrown error
    try {
        cmdOpenINI.enabled = false;
        IniPath = setupIndex >= 0 ? programFolder() + QStringLiteral("/inis/") + setupChooserText()
                                  : programFolder() + QStringLiteral("/inis/");
        if (setupIndex < 0 || !QFileInfo(IniPath).isFile()) {
            tell(QStringLiteral("설정파일(setup.ini)을 찾을수 없습니다.\r\n\r\n") + IniPath);
            IniPath.clear();
            Q_EMIT changed();
            return;
        }
        cmdOpenINI.enabled = true;

        // One parse for the whole load.
        const ProfileFile file = ProfileFile::load(IniPath);
        auto ini = [&](const QString& section, const QString& key, const QString& def = QString()) {
            return iniValue(file, section, key, def);
        };
        // A setup INI names Windows paths, which reach the disk only through
        // the site's drive map. A native path would bypass it.
        if (const QString refused = nativeIniPath(file); !refused.isEmpty()) {
            tell(refused);
            grid.clear();
            selCount = 0;
            lstDest.clear();
            IniPath.clear();
            cmdOpenINI.enabled = false;
            Q_EMIT changed();
            return;
        }
        const QString general = QStringLiteral("General");

        // Groups.
        if (visible)
            resetGroupButtons();
        int stoppedAt = 9; // 1-based group that ended the loop; 9 = all read
        for (int n = 1; n <= 8; ++n) {
            const QString v = ini(general, QStringLiteral("ProjGrop") + QString::number(n));
            if (v.isEmpty()) {
                stoppedAt = n;
                break;
            }
            const QStringList parts = v.split(QLatin1Char(';'));
            if (parts.size() != 2) {
                tell(QStringLiteral("설정파일 내용중 [General] - ProjGrop") + QString::number(n)
                     + QStringLiteral("의 값이 잘못되었습니다."));
                logIniError(general, QStringLiteral("ProjGrop") + QString::number(n), v,
                            QStringLiteral("\"그룹이름;Project1,Project2\" 모양이어야 합니다"));
                stoppedAt = n;
                break;
            }
            groups[size_t(n - 1)].caption = parts[0];
            groups[size_t(n - 1)].list = parts[1];
        }
        for (int k = stoppedAt - 1; k < 8; ++k)
            groups[size_t(k)].enabled = false;

        UpxExePath = ini(general, QStringLiteral("UpxExePath"));
        if (UpxExePath.isEmpty())
            UpxExePath = QStringLiteral("D:\\upx.exe");
        WorkDiaryId = ini(general, inikey::workDiaryId());
        ISResultFolder = ini(general, QStringLiteral("ISResultFolder"));

        loadDestinations(file);

        grid.clear();
        selCount = 0;
        Q_EMIT changed();

        const double countValue = vbVal(ini(QStringLiteral("Project"), QStringLiteral("ProjectCount"),
                                            QStringLiteral("1")));
        // The count was a 16-bit integer.
        if (std::abs(countValue) > 32767.49) {
            errorAt = {QStringLiteral("Project"), QStringLiteral("ProjectCount"),
                       ini(QStringLiteral("Project"), QStringLiteral("ProjectCount")),
                       QStringLiteral("32767보다 클 수 없습니다")};
            throw RhError(err::Overflow, standardErrorDescription(err::Overflow));
        }
        const long long count = vbRound(countValue);
        for (long long i = 1; i <= count; ++i) {
            const QString name = ini(QStringLiteral("Project"), QStringLiteral("Project") + QString::number(i));
            if (name.isEmpty())
                continue;
            const QString section = QStringLiteral("Project") + QString::number(i);
            const int row = grid.appendRow();
            auto set = [&](int col, const QString& v) { grid.setText(col, row, v); };
            set(ColProjectName, name);
            set(ColSectionKey, section.toLower());
            set(ColProjectType, ini(section, QStringLiteral("ProjectType")));
            set(ColVbpPath, ini(section, QStringLiteral("VbpPath")));
            set(ColExePath, ini(section, QStringLiteral("ExePath")));
            set(ColWorkDiaryCode, ini(section, inikey::workDiaryCode()));
            set(ColWebCode, ini(section, inikey::webCode()));
            set(ColOfficialPath, ini(section, inikey::officialPath()));
            const QString isProject1 = ini(section, QStringLiteral("ISProject1"));
            set(ColISProject1, isProject1);
            if (isProject1.right(3).toLower() == QLatin1String("ism")) {
                set(ColSetupBuilderKind, QStringLiteral("0"));
                grid.setBlockForeColor(1, row, ProjectColCount, row, colors::InstallShieldText);
            } else {
                set(ColSetupBuilderKind, QStringLiteral("1"));
            }
            set(ColISProject2, ini(section, QStringLiteral("ISProject2")));
            const QString result1 = ini(section, QStringLiteral("ISResult1"));
            set(ColISResult1, result1);
            auto fileOf = [](const QString& path) {
                return path.mid(path.lastIndexOf(QLatin1Char('\\')) + 1);
            };
            const QString result1File = fileOf(result1);
            set(ColISResult1File, result1File);
            const QString result2 = ini(section, QStringLiteral("ISResult2"));
            set(ColISResult2, result2);
            set(ColISResult2File, fileOf(result2));
            // The patch name drops the last 6 characters ("_2.exe"); a shorter
            // name was an invalid argument to the original's Mid.
            if (result1File.size() < 6) {
                errorAt = {section, QStringLiteral("ISResult1"), result1,
                           QStringLiteral("파일 이름이 6자(\"_2.exe\")보다 짧습니다")};
                throw RhError(err::InvalidProcedureCall,
                              standardErrorDescription(err::InvalidProcedureCall));
            }
            const QString patchPath = result1.left(result1.lastIndexOf(QLatin1Char('\\')) + 1)
                + result1File.left(result1File.size() - 6) + QStringLiteral("_patch_2.exe");
            set(ColPatchResultPath, patchPath);
            set(ColPatchResultFile, fileOf(patchPath));
        }

        reportMissingProjects(file);

        const QStringList recent = ini(general, QStringLiteral("RecentProjects")).split(QLatin1Char(';'));
        for (const QString& part : recent) {
            if (part.isEmpty())
                continue;
            const long long r = vbRound(vbVal(part));
            if (r >= 1 && r <= grid.maxRows())
                setTicked(int(r), true);
        }
    } catch (const RhError& e) {
        tell(formErrorText(e.number(), e.description(), QStringLiteral("LoadConfig")));
        if (!errorAt[1].isEmpty())
            logIniError(errorAt[0], errorAt[1], errorAt[2], errorAt[3]);
    }
    Q_EMIT changed();
}

// The run-log line beside a setup INI message: which file, section, key and
// value, so the user knows what to fix.
void Desk::logIniError(const QString& section, const QString& key, const QString& value, const QString& why)
{
    AddLog(QStringLiteral("[오류] 설정파일 ") + IniPath + QStringLiteral(": [") + section + QStringLiteral("] ")
           + key + QStringLiteral("=") + value + QStringLiteral(" (") + why + QLatin1Char(')'));
}

void Desk::SaveRecentProjects()
{
    if (IniPath.isEmpty())
        return;
    QString list;
    for (int r = 1; r <= grid.maxRows(); ++r)
        if (isTicked(r))
            list += QLatin1Char(';') + QString::number(r);
    WritePrivateProfileText(QStringLiteral("General"), QStringLiteral("RecentProjects"), list, IniPath);
}

// ---------------------------------------------------------------------------
// Options

void Desk::optWeekClick(int index)
{
    if (index < 0 || index > 2)
        return;
    optWeek = index;
    if (index == 0)
        tell(QStringLiteral("금요버전(테스트버전)이 선택되었습니다."));
    const bool test = index == 0;
    if (chkTestVer.checked != test)
        setTestVersion(test);
    for (int i : {StepCompile, StepSetup, StepDistribute})
        if (!chkStep[size_t(i)].checked)
            setStep(i, true);
    chkWriteVer.checked = index != 0;
    chkVerUpdate.checked = index != 0;
    chkFTPAutoRemove.checked = index == 2;
    chkPatchOnly.checked = false;
    Q_EMIT changed();
    if (visible)
        btnTrans_Click();
}

void Desk::setTestVersion(bool ticked)
{
    chkTestVer.checked = ticked;
    loadDestinations(IniPath.isEmpty() ? ProfileFile() : ProfileFile::load(IniPath));
    Q_EMIT changed();
}

void Desk::updateAllStepButton()
{
    bool all = true;
    for (const CheckBox& c : chkStep)
        all = all && c.checked;
    cmdAllStep.enabled = !all;
    cmdAllStep.defaultColor = all;
    cmdAllStep.back = all ? colors::White : colors::AllStepAvailable;
}

void Desk::setStep(int index, bool ticked)
{
    if (index < 0 || index > 5)
        return;
    chkStep[size_t(index)].checked = ticked;
    updateAllStepButton();
    Q_EMIT changed();
}

void Desk::setEndUnload(bool ticked)
{
    chkEndUnload.checked = ticked;
    if (visible)
        SaveSetting(appTitle(), settingsSection(), keyCloseAfterTransfer(),
                    ticked ? QStringLiteral("1") : QStringLiteral("0"));
    Q_EMIT changed();
}

// ---------------------------------------------------------------------------
// Selection

void Desk::onCellChanged(int col, int row, const QString& oldText)
{
    // The status bar names the unit of work by the status the step writes.
    if (col == ColStatus && progress.active()) {
        progress.setUnitText(grid.text(col, row));
        Q_EMIT progressChanged();
    }
    if (col != ColSelected)
        return;
    const bool was = oldText == QLatin1String("1");
    const bool is = grid.text(col, row) == QLatin1String("1");
    if (was == is)
        return;
    selCount += is ? 1 : -1;
    grid.setBlockBackColor(1, row, grid.maxCols(), row, is ? colors::TickedRow : colors::White);
    Q_EMIT changed();
}

void Desk::setTicked(int row, bool ticked)
{
    if (isTicked(row) == ticked)
        return;
    grid.setText(ColSelected, row, ticked ? QStringLiteral("1") : QStringLiteral("0"));
}

void Desk::toggleRow(int row)
{
    if (row < 1 || row > grid.maxRows())
        return;
    setTicked(row, !isTicked(row));
}

void Desk::chkAllClick(bool ticked)
{
    chkAll.checked = ticked;
    for (int r = 1; r <= grid.maxRows(); ++r)
        setTicked(r, ticked);
    Q_EMIT changed();
}

void Desk::blockSelected(int row1, int row2)
{
    if (row1 > row2)
        std::swap(row1, row2);
    for (int r = row1; r <= row2; ++r)
        toggleRow(r);
}

void Desk::gridDoubleClick(int col, int row)
{
    grid.setActiveCell(col, row);
    if (row >= 1 && grid.activeCol() != ColSelected)
        toggleRow(row);
}

void Desk::gridKeyPress(int key)
{
    if ((key == 32 || key == 13) && grid.activeCol() != ColSelected && grid.activeRow() >= 1)
        toggleRow(grid.activeRow());
}

void Desk::groupMouseDown(int, bool ctrl, bool shift, bool alt)
{
    if (ctrl && !shift && !alt)
        groupAdd = true;
}

void Desk::groupMouseUp(int)
{
    groupAdd = false;
}

void Desk::groupClick(int index)
{
    if (index < 0 || index > 7)
        return;
    const GroupButton& g = groups[size_t(index)];
    if (g.list.isEmpty()) {
        tell(QStringLiteral("그룹선택 설정값이 비어있습니다."));
        return;
    }
    const QStringList items = g.list.split(QLatin1Char(','));
    if (!groupAdd)
        for (int r = 1; r <= grid.maxRows(); ++r)
            setTicked(r, false);
    for (int r = 1; r <= grid.maxRows(); ++r) {
        const QString key = grid.text(ColSectionKey, r);
        for (const QString& item : items) {
            if (key == item.toLower()) {
                setTicked(r, true);
                break;
            }
        }
    }
    Q_EMIT changed();
}

void Desk::chooseSetup(int index)
{
    if (index < 0 || index >= setupNames.size())
        return;
    if (visible) {
        SaveRecentProjects();
        SaveSetting(appTitle(), settingsSection(), keyLastSetup(), setupNames[index]);
    }
    setupIndex = index;
    LoadConfig();
}

QStringList Desk::listSetupNames() const
{
    QStringList names = QDir(programFolder() + QStringLiteral("/inis"))
                            .entryList({QStringLiteral("*.ini")}, QDir::Files, QDir::Unsorted);
    // The order of a Windows listing: names compared by their upper-case forms.
    std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
        const QString ua = a.toUpper(), ub = b.toUpper();
        return ua != ub ? ua < ub : a < b;
    });
    return names;
}

void Desk::refreshSetupList()
{
    const QString current = setupChooserText();
    const QStringList names = listSetupNames();
    if (names == setupNames)
        return;
    setupNames = names;
    // The loaded file keeps its entry; one that was removed leaves none chosen.
    setupIndex = current.isEmpty() ? -1 : int(names.indexOf(current));
    if (setupIndex < 0 && IniPath.isEmpty() && !names.isEmpty() && !m_running) {
        setupIndex = 0;
        LoadConfig();
    }
    Q_EMIT changed();
}

void Desk::setDestinationSelection(const QList<bool>& selected, int current)
{
    for (int i = 0; i < lstDest.selected.size() && i < selected.size(); ++i)
        lstDest.selected[i] = selected[i];
    if (current >= -1 && current < lstDest.items.size())
        lstDest.current = current;
    Q_EMIT changed();
}

void Desk::setOptionBox(CheckBox& box, bool ticked)
{
    box.checked = ticked;
    Q_EMIT changed();
}

bool Desk::requestClose()
{
    if (ftpBusy || signingWaiting) {
        cancelRequested = true;
        return false;
    }
    SaveRecentProjects();
    if (closeDatabase)
        closeDatabase();
    closed = true;
    Q_EMIT closeRequested();
    return true;
}

void Desk::EndProgram()
{
    // The run's record and the selection are kept before the program goes.
    if (m_running && !m_recordEnded) {
        m_lastResult = RunResult::FtpFailed;
        endRecord(runStarted);
        SaveRecentProjects();
    }
    ended = true;
    closed = true;
    Q_EMIT closeRequested();
    if (endProgram)
        endProgram();
}

} // namespace rh

// ---------------------------------------------------------------------------
// Commands that start outside programs

#include "platform/launcher.h"

namespace rh {

void Desk::OpenIni()
{
    if (IniPath.isEmpty())
        return;
    if (openDocument) {
        if (openDocument(IniPath))
            return;
        // No application for the file: an editor named by the user, or say
        // which file to open.
        if (qEnvironmentVariable("VISUAL").trimmed().isEmpty() && qEnvironmentVariable("EDITOR").trimmed().isEmpty()) {
            tell(QStringLiteral("설정파일을 열 프로그램이 없습니다. 편집기로 직접 여세요.\r\n") + IniPath
                     + QStringLiteral("\r\n(VISUAL이나 EDITOR 환경변수로 편집기를 정할 수 있습니다.)"),
                 MsgIcon::Exclamation);
            return;
        }
    }
    // Quoted, so that a program folder with blanks reaches the editor as one
    // argument; the launcher maps notepad.exe to the user's editor.
    QString error;
    if (startWithoutWaiting(QStringLiteral("notepad.exe ") + quoteArgument(IniPath), WindowMode::Normal, &error) == 0)
        tell(QStringLiteral("설정파일을 열 수 없습니다.(") + IniPath + QStringLiteral(")\r\n") + error,
             MsgIcon::Exclamation);
}

} // namespace rh
