// The distribution step.
#include "pipeline/distribution.h"

#include "config/projectrow.h"
#include "pipeline/catalogue.h"
#include "pipeline/desk.h"
#include "pipeline/ftptransfer.h"
#include "pipeline/stepfiles.h"
#include "pipeline/workdiary.h"
#include "platform/errors.h"
#include "platform/drivemap.h"
#include "platform/interaction.h"
#include "platform/journal.h"
#include "platform/profile.h"
#include "platform/shellcopy.h"
#include "platform/sitecfg.h"
#include "util/fileutil.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <array>
#include <cerrno>
#include <cstdio>

namespace rh {
namespace {

const QString kProc = QStringLiteral("Step3");
const QString kSuffix = QStringLiteral("_2");

struct ProductSetup {
    const char* file;
    const char* prefix;
};

const std::array<ProductSetup, 4> kProductSetups{{
    {"TVledger2_setup_2.exe", "tvledger2_setup_ver"},
    {"TVledgerCS_setup_2.exe", "tvledgercs_setup_ver"},
    {"TVplantCS_setup_2.exe", "tvplantcs_setup_ver"},
    {"TVplantProCS_setup_2.exe", "tvplantprocs_setup_ver"},
}};

QString cell(const Desk& desk, int col, int row)
{
    return desk.grid.text(col, row);
}

bool isFtpOnly(const Desk& desk, int row)
{
    return cell(desk, ColProjectType, row) == QLatin1String("1");
}

void setStatus(Desk& desk, int row, const QString& text)
{
    desk.grid.setActiveCell(ColStatus, row);
    desk.grid.setText(ColStatus, row, text);
}

// folder + "\" + name, without doubling a separator the folder already ends with.
QString inFolder(const QString& folder, const QString& name)
{
    if (folder.endsWith(QLatin1Char('\\')) || folder.endsWith(QLatin1Char('/')))
        return folder + name;
    return folder + QLatin1Char('\\') + name;
}

QString withoutSuffix(QString name)
{
    name.remove(kSuffix, Qt::CaseSensitive);
    return name;
}

QString native(const QString& path)
{
    QString error;
    const QString p = nativePath(path, &error);
    if (p.isEmpty())
        throw RhError(err::PathNotFound, standardErrorDescription(err::PathNotFound));
    return p;
}

// Gives a file its new name, replacing a file of that name in one step: the
// old final file stays in place until the new one takes its name.
void renameReplacing(const QString& from, const QString& to)
{
    const int e = journaledRename(native(from), native(to));
    if (e == 0)
        return;
    int number = err::PathFileAccessError;
    switch (e) {
    case ENOENT: number = err::FileNotFound; break;
    case EACCES:
    case EPERM:
    case EROFS: number = err::PermissionDenied; break;
    default: break;
    }
    throw RhError(number, standardErrorDescription(number));
}

void showCopyCancelled()
{
    tell(QStringLiteral("복사가 취소 되었습니다."));
}

// A copy for the step: a failure (permission, disk full, a path the drive
// map cannot place) is told with its reason; only a copy the user cancelled
// is told as cancelled. False either way, and the run stops.
bool copyForStep(const QString& source, const QString& destination)
{
    const ShellCopyResult r = shellCopy(source, destination, true);
    if (r.ok())
        return true;
    if (!r.message.isEmpty()) {
        tell(r.message);
    } else if (r.error != 0) {
        tell(QStringLiteral("파일을 복사할 수 없습니다: ") + fileErrorText(r.error) + QStringLiteral("\r\n")
             + r.path);
    } else {
        tell(QStringLiteral("Operation Failed"));
        showCopyCancelled();
    }
    return false;
}

void logMissingSetup(Desk& desk, const QString& name, const QString& path)
{
    desk.AddLog(QStringLiteral("[오류] ") + name + QStringLiteral(" 셋업파일이 존재하지 않습니다.(") + path
                + QLatin1Char(')'));
}

void logMissingPatch(Desk& desk, const QString& name, const QString& path)
{
    desk.AddLog(QStringLiteral("[경고] ") + name + QStringLiteral(" 패치파일이 존재하지 않습니다.(") + path
                + QLatin1Char(')'));
}

// Stage 1: version, time stamp and the versioned local copy of each row.
void prepareRows(Desk& desk)
{
    for (int row = 1; row <= desk.grid.maxRows(); ++row) {
        if (!desk.isTicked(row))
            continue;
        // A copy name left from an earlier run must not pass for this run's copy.
        desk.grid.setText(ColLocalCopyPath, row, QString());
        const QString name = cell(desk, ColProjectName, row);
        const QString exe = cell(desk, ColExePath, row);
        const QString setup = cell(desk, ColISResult1, row);
        if (!stepFileExists(exe)) {
            desk.AddLog(QStringLiteral("[오류] ") + name + QStringLiteral(" 실행파일이 존재하지 않습니다.(")
                        + exe + QLatin1Char(')'));
            continue;
        }
        QString version;
        trapped(kProc, [&] { version = GetFileVerText(exe, true, false); });
        desk.grid.setText(ColFileVersion, row, version);
        desk.grid.setText(ColSetupFileTime, row, setupTimeText(exe));

        const QString prefix = productCopyPrefix(setup);
        if (prefix.isEmpty())
            continue;
        // A copy without a version would be published as the current release.
        if (version.isEmpty()) {
            desk.AddLog(QStringLiteral("[오류] ") + name
                        + QStringLiteral(" 실행파일의 버전을 읽을 수 없어 버전별 복사본을 만들지 않습니다.(")
                        + exe + QLatin1Char(')'));
            continue;
        }
        const QString copyName =
            versionedCopyName(prefix, version, cell(desk, ColSetupFileTime, row));
        if (ShellCopyFiles(setup, localSetupFolder() + copyName, 0, true))
            desk.grid.setText(ColLocalCopyPath, row, copyName);
    }
}

// A product whose setup did not reach the server is not released: its row is
// marked and nothing after the upload is published for it.
void markUploadFailed(Desk& desk, int row, const QString& name, const QString& remoteName)
{
    desk.failedUploads.insert(row);
    setStatus(desk, row, QStringLiteral("배포 실패"));
    desk.AddLog(QStringLiteral("[오류] ") + name + QStringLiteral(" FTP 전송이 끝나지 않았습니다: ")
                + remoteName);
}

// Stage 2, an FTP destination. False when the program was ended by a failed
// connection; *connected tells whether the destination was served. A failed
// upload ends that product's uploads; the remaining products go on.
bool sendToFtp(Desk& desk, const QString& dest, bool* connected)
{
    *connected = FtpConnect(desk);
    if (!*connected)
        return !desk.ended;
    const bool patchOnly = desk.chkPatchOnly.checked;
    for (int row = 1; row <= desk.grid.maxRows() && !desk.runCancelled; ++row) {
        if (!desk.isTicked(row) || desk.failedUploads.contains(row))
            continue;
        if (desk.stopBetweenUnits())
            break;
        const QString name = cell(desk, ColProjectName, row);
        const QString type = cell(desk, ColProjectType, row);
        auto upload = [&](const QString& local, const QString& remoteName) {
            if (FtpUploadFile(desk, local, remoteName, type))
                return true;
            markUploadFailed(desk, row, name, remoteName);
            return false;
        };
        bool failed = false;
        if (!patchOnly) {
            for (int k = 1; k <= 2 && !failed; ++k) {
                const QString setup = cell(desk, ColISResult1 + k - 1, row);
                if (setup.isEmpty())
                    continue;
                setStatus(desk, row, QStringLiteral("배포%1...").arg(k));
                if (!stepFileExists(setup)) {
                    logMissingSetup(desk, name, setup);
                } else {
                    desk.AddLog(QStringLiteral("[정상] ") + name + QStringLiteral(" 배포파일 전송중...") + dest);
                    if (!upload(setup, cell(desk, ColISResult1File + k - 1, row)))
                        failed = true;
                }
                if (!failed)
                    setStatus(desk, row, QStringLiteral("배포%1 끝").arg(k));
            }
            const QString copyName = cell(desk, ColLocalCopyPath, row);
            if (!failed && !copyName.isEmpty()) {
                desk.AddLog(QStringLiteral("[정상] ") + name + QStringLiteral(" 배포파일[복사] 전송중...")
                            + dest);
                failed = !upload(localSetupFolder() + copyName, copyName);
            }
        }
        const QString patch = cell(desk, ColPatchResultPath, row);
        if (!failed && !patch.isEmpty()) {
            setStatus(desk, row, QStringLiteral("패치배포..."));
            if (!stepFileExists(patch)) {
                logMissingPatch(desk, name, patch);
            } else {
                desk.AddLog(QStringLiteral("[정상] ") + name + QStringLiteral(" 패치파일 전송중...") + dest);
                failed = !upload(patch, cell(desk, ColPatchResultFile, row));
            }
            if (!failed)
                setStatus(desk, row, QStringLiteral("패치배포 끝"));
        }
    }
    FtpDisconnect(desk);
    return true;
}

// Stage 2, a folder destination: one copy of every file, then the final
// names. False when the copy failed or was cancelled.
bool sendToFolder(Desk& desk, const QString& dest)
{
    const bool patchOnly = desk.chkPatchOnly.checked;
    QStringList sources;
    for (int row = 1; row <= desk.grid.maxRows(); ++row) {
        if (!desk.isTicked(row) || isFtpOnly(desk, row))
            continue;
        const QString name = cell(desk, ColProjectName, row);
        if (!patchOnly) {
            for (int col : {ColISResult1, ColISResult2}) {
                const QString setup = cell(desk, col, row);
                if (setup.isEmpty())
                    continue;
                if (stepFileExists(setup))
                    sources << setup;
                else
                    logMissingSetup(desk, name, setup);
            }
        }
        const QString patch = cell(desk, ColPatchResultPath, row);
        if (!patch.isEmpty()) {
            if (stepFileExists(patch))
                sources << patch;
            else
                logMissingPatch(desk, name, patch);
        }
    }
    if (sources.isEmpty())
        return true;

    desk.AddLog(QStringLiteral("[정상] 배포파일 전송중...") + dest);
    // Into the folder even when it is a share that does not exist yet: a
    // single file must not be written under the folder's name.
    if (!copyForStep(sources.join(QChar(0)), inFolder(dest, QString())))
        return false;

    // Only what this copy brought gets its final name: an older "_2" file
    // that is still lying there must not replace the final file.
    for (const QString& source : sources) {
        const QString copied = fileNameOfPath(source);
        const QString finalName = withoutSuffix(copied);
        if (finalName == copied || !stepFileExists(inFolder(dest, copied)))
            continue;
        trapped(kProc, [&] { renameReplacing(inFolder(dest, copied), inFolder(dest, finalName)); });
    }
    return true;
}

// The version marker of an FTP-only project: the first "*_ver*.txt" of its
// folder takes the new name, or an empty one is made.
void placeVersionMarker(const QString& folder, const QString& markerName)
{
    const QDir dir(native(folder));
    const QStringList markers = dir.entryList({QStringLiteral("*_ver*.txt")},
                                              QDir::Files | QDir::Hidden | QDir::CaseSensitive,
                                              QDir::Name);
    if (!markers.isEmpty()) {
        if (markers.first() != markerName)
            renameReplacing(inFolder(folder, markers.first()), inFolder(folder, markerName));
        return;
    }
    QString error;
    if (!writeFileAtomically(dir.filePath(markerName), QByteArray(), &error))
        throw RhError(err::PathFileAccessError, standardErrorDescription(err::PathFileAccessError));
}

// Stage 3. False when a copy failed or was cancelled.
bool fileOfficialVersions(Desk& desk, const QString& stoppedAt)
{
    for (int row = 1; row <= desk.grid.maxRows(); ++row) {
        if (!desk.isTicked(row))
            continue;
        desk.workOnRow(row); // the official copy is this product's work
        const QString name = cell(desk, ColProjectName, row);
        const QString setup = cell(desk, ColISResult1, row);
        if (desk.failedUploads.contains(row)) {
            desk.AddLog(QStringLiteral("[경고] ") + name
                        + QStringLiteral(" FTP 전송이 끝나지 않아 정식버전, 버전파일, 업무일지, "
                                         "다운로드 목록에 올리지 않습니다."));
            continue;
        }
        if (!stepFileExists(setup)) {
            logMissingSetup(desk, name, setup);
            continue;
        }
        const QString projectPath = cell(desk, ColOfficialPath, row);
        const bool ftpOnly = isFtpOnly(desk, row);
        if (ftpOnly && projectPath.isEmpty())
            continue;
        const QString version = cell(desk, ColFileVersion, row);
        // Filed without a version, the setup would overwrite the version record.
        if (version.isEmpty()) {
            desk.AddLog(QStringLiteral("[오류] ") + name
                        + QStringLiteral(" 버전을 알 수 없어 정식버전을 등록하지 않습니다.(")
                        + cell(desk, ColExePath, row) + QLatin1Char(')'));
            continue;
        }
        const QString officialName = officialSetupName(cell(desk, ColISResult1File, row), version,
                                                       cell(desk, ColSetupFileTime, row));
        desk.AddLog(QStringLiteral("[정상] ") + name + QStringLiteral("정식버전 전송중...") + stoppedAt);
        if (!ftpOnly) {
            if (!copyForStep(setup, inFolder(officialVersionFolder(), officialName)))
                return false;
            continue;
        }
        const QString projectFolder = wholeSetFolder() + projectPath;
        if (!copyForStep(setup, inFolder(projectFolder, cell(desk, ColISResult1File, row))))
            return false;
        QString marker = officialName;
        marker.replace(marker.size() - 4, 4, QStringLiteral(".txt"));
        trapped(kProc, [&] { placeVersionMarker(projectFolder, marker); });
    }
    return true;
}

} // namespace

QString localSetupFolder()
{
    return QStringLiteral("C:\\2TarvelInstalls\\");
}

QString officialVersionFolder()
{
    return QStringLiteral("\\\\") + site().fileServerHost + QStringLiteral("\\프로그램셋업\\1_정식버전");
}

QString wholeSetFolder()
{
    return QStringLiteral("\\\\") + site().fileServerHost + QStringLiteral("\\프로그램셋업-전체");
}

QString productCopyPrefix(const QString& isResult1)
{
    QString file = isResult1;
    file.remove(localSetupFolder(), Qt::CaseSensitive);
    for (const ProductSetup& p : kProductSetups)
        if (file == QLatin1String(p.file))
            return QLatin1String(p.prefix);
    return QString();
}

QString versionedCopyName(const QString& prefix, const QString& fileVersion,
                          const QString& setupFileTime)
{
    QString date6 = setupFileTime.left(10).right(8);
    date6.remove(QLatin1Char('-'));
    return prefix + fileVersion + QLatin1Char('(') + date6 + QStringLiteral(")_2.exe");
}

QString officialSetupName(const QString& isResult1File, const QString& fileVersion,
                          const QString& setupFileTime)
{
    const qsizetype cut = isResult1File.lastIndexOf(kSuffix);
    QString base;
    if (cut >= 0) {
        base = isResult1File.left(cut);
    } else {
        const qsizetype dot = isResult1File.lastIndexOf(QLatin1Char('.'));
        base = dot > 0 ? isResult1File.left(dot) : isResult1File;
    }
    QString version = fileVersion;
    version.replace(QLatin1Char('.'), QLatin1Char('_'));
    // The same reading of the time stamp as the version files: a date gives
    // "yyMMdd_HHmm", anything else comes back unchanged.
    const QString stamp = versionTimeStamp(setupFileTime);
    const QString yymmdd = stamp != setupFileTime ? stamp.left(6) : QStringLiteral("xxxxxx");
    return base + QStringLiteral("_ver") + version + QLatin1Char('(') + yymmdd + QStringLiteral(").exe");
}

QString setupTimeText(const QString& exePath)
{
    const QString path = nativePath(exePath);
    if (path.isEmpty())
        return QString();
    // A build a dry run skipped would be written about now.
    if (journal().pendingContent(path))
        return QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    return QFileInfo(path).lastModified().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

bool Step3(Desk& desk)
{
    try {
        prepareRows(desk);

        // Stage 2: every selected destination in list order.
        DestinationList& list = desk.lstDest;
        int i = 0;
        for (; i < list.items.size(); ++i) {
            list.current = i;
            Q_EMIT desk.changed();
            if (!list.selected.value(i))
                continue;
            if (desk.stopBetweenUnits())
                return false;
            const QString dest = list.items[i];
            if (dest.left(3) == QLatin1String("FTP")) {
                bool connected = false;
                if (!sendToFtp(desk, dest, &connected))
                    return false; // the program has been ended
                if (desk.runCancelled)
                    return false;
                if (!connected)
                    break;
            } else if (!sendToFolder(desk, dest)) {
                return false;
            }
        }
        const QString stoppedAt = i < list.items.size() ? list.items[i] : QString();
        if (desk.stopBetweenUnits())
            return false;

        if (!desk.chkTestVer.checked && !fileOfficialVersions(desk, stoppedAt))
            return false;

        // Stage 4: the follow-ups; their results do not change the step's.
        if (desk.chkVerUpdate.checked && !desk.chkTestVer.checked) {
            trapped(kProc, [&] { UpLoadVersions(desk); });
            if (desk.chkWriteVer.checked)
                trapped(kProc, [&] { Step4(desk); });
            if (!desk.chkTestVer.checked)
                trapped(kProc, [&] { Step5(desk); });
        }
        return true;
    } catch (const std::exception& e) {
        showTrappedError(kProc, e);
    }
    return false;
}

} // namespace rh
