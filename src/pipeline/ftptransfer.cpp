#include "pipeline/ftptransfer.h"

#include "config/projectrow.h"
#include "pipeline/desk.h"
#include "site/apphome.h"
#include "platform/codepage.h"
#include "platform/drivemap.h"
#include "platform/interaction.h"
#include "platform/journal.h"
#include "platform/launcher.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLocale>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>
#include <limits>

namespace rh {
namespace {

const QString kDownload = QString::fromLatin1(kFtpDownloadFolder);
const QString kVersions = QString::fromLatin1(kFtpVersionsFolder);
const QString kSuffix = QStringLiteral("_2");

qint64 monotonicMs()
{
    static QElapsedTimer clock = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return clock.elapsed();
}

qint64 tick(FtpConnection& c)
{
    return c.tickMs ? c.tickMs() : monotonicMs();
}

// "#,##0" and "#,##0.00" with the separators of the department's systems.
const QLocale& numberLocale()
{
    static const QLocale loc(QLocale::English, QLocale::UnitedStates);
    return loc;
}

QString formatBytes(qint64 n)
{
    return numberLocale().toString(n);
}

// Whole seconds, halves to the even neighbour; values no clock can reach are
// clamped instead of overflowing.
qint64 roundSeconds(double v)
{
    if (!std::isfinite(v) || v <= 0)
        return 0;
    if (v > 1e15)
        return qint64(1e15);
    return qint64(std::nearbyint(v));
}

// The progress bar holds an int: large files are shown in coarser steps.
int progressShift(qint64 total)
{
    int shift = 0;
    while ((total >> shift) > std::numeric_limits<int>::max())
        ++shift;
    return shift;
}

void tellExclamation(const QString& text)
{
    interaction().tell(text, appTitle(), MsgIcon::Exclamation);
}

// The rename shared by the window's connection and the version files' own:
// RNFR/RNTO to the name without "_2", one log line either way.
bool renameWithoutSuffix(Desk& desk, FtpSession& session, const QString& folder,
                         const QString& fileName)
{
    QString finalName = fileName;
    finalName.remove(kSuffix, Qt::CaseSensitive);
    const FtpResult r = session.rename(folder + fileName, folder + finalName);
    if (r.ok()) {
        desk.AddLog(QStringLiteral("[정상] FTP파일명 _2제거성공: ") + fileName);
        return true;
    }
    desk.AddLog(QStringLiteral("[오류] FTP파일명 _2제거실패: ") + fileName);
    return false;
}

// A file only gets its public name once the server holds all of it: a broken
// or cancelled upload must never replace the good public file with a stub.
bool completeOnServer(Desk& desk, FtpSession& session, const QString& folder,
                      const QString& fileName, qint64 expectedSize)
{
    FtpFileInfo info;
    const FtpResult look = session.lookup(folder + fileName, &info);
    if (!look.ok()) {
        desk.AddLog(QStringLiteral("[오류] FTP파일명 _2제거취소: ") + fileName
                    + QStringLiteral(" (서버의 파일 크기를 확인할 수 없습니다.)"));
        return false;
    }
    if (!info.exists || info.size != expectedSize) {
        desk.AddLog(QStringLiteral("[오류] FTP파일명 _2제거취소: ") + fileName
                    + QStringLiteral(" (서버의 파일 크기 %1 bytes, 보낸 파일 %2 bytes)")
                          .arg(formatBytes(info.exists ? info.size : 0), formatBytes(expectedSize)));
        return false;
    }
    return true;
}

// One of the regular shapes a time stamp cell takes: 2024-03-05 14:07:00,
// 2024/03/05 14:07, 2024-03-05 오후 2:07:00, or a date alone.
QDateTime parseCellDateTime(const QString& text)
{
    static const QRegularExpression re(QStringLiteral(
        R"(^\s*(\d{4})[-/.](\d{1,2})[-/.](\d{1,2})\.?)"
        R"((?:\s+(오전|오후|AM|PM)?\s*(\d{1,2}):(\d{1,2})(?::(\d{1,2}))?\s*(오전|오후|AM|PM)?)?\s*$)"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = re.match(text);
    if (!m.hasMatch())
        return {};
    const QDate date(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
    if (!date.isValid())
        return {};
    if (m.captured(5).isEmpty())
        return QDateTime(date, QTime(0, 0));
    int hour = m.captured(5).toInt();
    const QString marker = (m.captured(4) + m.captured(8)).toUpper();
    if (m.captured(4).size() && m.captured(8).size())
        return {}; // two day-half markers
    if (!marker.isEmpty()) {
        if (hour < 1 || hour > 12)
            return {};
        const bool pm = marker == QLatin1String("PM") || marker == QStringLiteral("오후");
        hour = hour % 12 + (pm ? 12 : 0);
    }
    const QTime time(hour, m.captured(6).toInt(), m.captured(7).isEmpty() ? 0 : m.captured(7).toInt());
    if (!time.isValid())
        return {};
    return QDateTime(date, time);
}

// What went wrong with an upload, in the words of the part that failed: the
// local file, the server's refusal of the remote file, the remote write, or
// the connection to the server.
QString uploadFailureText(const FtpResult& r, const QString& localPath, const QString& remotePath)
{
    QString why;
    switch (r.curlCode) {
    case 28: // CURLE_OPERATION_TIMEDOUT: the stall limit or a reply that never came
        why = QStringLiteral("서버가 %1초 동안 응답하지 않았습니다").arg(FtpLogin::fromSite().stallTimeoutSec);
        break;
    case 7: // CURLE_COULDNT_CONNECT
        why = QStringLiteral("서버에 연결할 수 없습니다");
        break;
    case 52: // CURLE_GOT_NOTHING
    case 55: // CURLE_SEND_ERROR
    case 56: // CURLE_RECV_ERROR
        why = QStringLiteral("서버와의 연결이 끊어졌습니다");
        break;
    default:
        break;
    }
    const QString detail = why.isEmpty() ? r.describe() : why + QStringLiteral(" - ") + r.describe();
    if (r.curlCode == 26) // CURLE_READ_ERROR: reading the local file
        return QStringLiteral("파일 읽기에 실패했습니다.\r\n") + localPath + QStringLiteral("\r\n(")
            + detail + QLatin1Char(')');
    if (r.remoteOpened)
        return QStringLiteral("서버에 파일을 쓰지 못했습니다.\r\n") + remotePath + QStringLiteral("\r\n(")
            + detail + QLatin1Char(')');
    if (why.isEmpty() && !r.serverReply.isEmpty())
        return QStringLiteral("서버에 저장된 파일을 찾을 수 없습니다.\r\n") + remotePath;
    return QStringLiteral("FTP 서버 연결에 실패했습니다.\r\n") + remotePath + QStringLiteral("\r\n(")
        + detail + QLatin1Char(')');
}

void publishVersionFile(Desk& desk, FtpSession& session, const QString& name,
                        const QByteArray& content, bool autoRename, bool* renamed)
{
    *renamed = false;
    const QString remote = kVersions + name;
    const FtpResult r = session.uploadData(content, remote);
    if (!r.ok()) {
        if (!r.remoteOpened)
            tellExclamation(QStringLiteral("FTP파일 열기 실패!\r\n") + remote);
        else if (r.bytesSent >= content.size())
            // Every byte went out but the server did not confirm the stored file.
            interaction().tell(QStringLiteral("FTP파일닫기 실패"), appTitle(), MsgIcon::None);
        else
            tellExclamation(QStringLiteral("FTP파일 쓰기에 실패했습니다."));
        return;
    }
    if (!autoRename)
        return;
    if (!completeOnServer(desk, session, kVersions, name, content.size()))
        return;
    *renamed = renameWithoutSuffix(desk, session, kVersions, name);
}

} // namespace

FtpConnection& ftpConnection(Desk& desk)
{
    if (!desk.ftp)
        desk.ftp = std::make_unique<FtpConnection>();
    return *desk.ftp;
}

QString FormatElapsed(qint64 seconds)
{
    seconds = std::max<qint64>(0, seconds);
    const qint64 hours = seconds / 3600;
    const qint64 minutes = (seconds % 3600) / 60;
    const qint64 secs = (seconds % 3600) % 60;
    const QChar zero = QLatin1Char('0');
    return QStringLiteral("%1:%2:%3").arg(hours, 2, 10, zero).arg(minutes, 2, 10, zero).arg(secs, 2, 10, zero);
}

bool FtpConnect(Desk& desk)
{
    FtpConnection& c = ftpConnection(desk);
    if (desk.ftpBusy)
        return false;
    // A 중지 pressed before the connection still asks at the first chunk.
    desk.cancelRequested = desk.stopRequested;
    desk.ftpBusy = true;
    const FtpResult r = c.session.connect(FtpLogin::fromSite());
    if (r.ok())
        return true;
    tellExclamation(QStringLiteral("서버 접속 실패!"));
    c.session.disconnect();
    desk.ftpBusy = false;
    desk.EndProgram();
    return false;
}

void FtpDisconnect(Desk& desk)
{
    ftpConnection(desk).session.disconnect();
    desk.ftpBusy = false;
    // A close the window refused now happens; a 중지 keeps the window.
    if (desk.cancelRequested && !desk.stopRequested)
        desk.requestClose();
}

namespace {

// The labels from the bytes the server has acknowledged and the real time
// since the upload began.
void drawTransfer(Desk& desk, FtpConnection& c)
{
    c.lastDrawTick = tick(c);
    FtpStatusFrame& f = desk.ftpStatus;
    f.far = formatBytes(c.bytesSent);
    f.left = formatBytes(c.totalBytes - c.bytesSent);
    const qint64 elapsedMs = tick(c) - c.startTick;
    if (c.bytesSent > 0 && elapsedMs != 0) {
        c.speed = float((double(c.bytesSent) / 1024.0) / (double(elapsedMs) / 1000.0));
        f.time = FormatElapsed(roundSeconds(double(elapsedMs) / 1000.0));
        f.speed = numberLocale().toString(double(c.speed), 'f', 2);
        f.timeLeft = FormatElapsed(
            roundSeconds((double(c.totalBytes - c.bytesSent) / 1024.0) / double(c.speed)));
    } else {
        f.time = FormatElapsed(roundSeconds(double(elapsedMs) / 1000.0));
    }
    f.progressValue = int(c.bytesSent >> progressShift(c.totalBytes));
    Q_EMIT desk.changed();
}

// On a slow link the 257-call rule would leave the labels still for
// seconds: they are also redrawn when half a second has passed.
constexpr qint64 kRedrawMs = 500;

} // namespace

void ShowTransferProgress(Desk& desk, qint64 bytes, bool force)
{
    FtpConnection& c = ftpConnection(desk);
    c.bytesSent += bytes;
    const bool due = tick(c) - c.lastDrawTick >= kRedrawMs;
    if (!force && c.throttle < 256) {
        ++c.throttle;
        if (due)
            drawTransfer(desk, c);
        return;
    }
    c.throttle = 0;
    ++c.lastUpload.refreshes;
    if (force)
        ++c.lastUpload.forcedRefreshes;
    drawTransfer(desk, c);
    interaction().pumpEvents();
}

bool FtpUploadFile(Desk& desk, const QString& localPath, const QString& remoteName,
                   const QString& removeSuffix)
{
    FtpConnection& c = ftpConnection(desk);
    c.lastUpload = {};
    const QString remotePath = kDownload + remoteName;

    QString mapError;
    const QString native = nativePath(localPath, &mapError);
    // Through the journal: a dry run's planned files have sizes too.
    const bool isFile = !native.isEmpty() && journal().isFile(native);
    c.totalBytes = isFile ? std::max<qint64>(0, journal().fileSize(native)) : 0;
    c.bytesSent = 0;
    c.speed = 0;
    FtpStatusFrame& f = desk.ftpStatus;
    // Every file starts from a clean panel: nothing of the previous one stays.
    f.fileName = localPath;
    f.celkem = formatBytes(c.totalBytes);
    f.far = formatBytes(0);
    f.left = formatBytes(c.totalBytes);
    f.time = FormatElapsed(0);
    f.timeLeft.clear();
    f.speed.clear();
    f.failed = false;
    f.failure.clear();
    f.progressValue = 0;
    f.progressMax = std::max(1, int(c.totalBytes >> progressShift(c.totalBytes)));
    c.startTick = tick(c);
    c.lastDrawTick = c.startTick;
    Q_EMIT desk.changed();

    // Asked before a chunk goes out while the window wants to close.
    bool stopAnswered = false;
    auto stopWanted = [&desk, &stopAnswered] {
        if (!desk.cancelRequested)
            return false;
        if (interaction().askYesNo(QStringLiteral("다운로드를 중단할까요?"), appTitle(), MsgIcon::None,
                                   true)) {
            stopAnswered = true;
            return true;
        }
        desk.cancelRequested = false;
        desk.stopRequested = false; // the user chose to go on
        return false;
    };

    // The clock is read every few chunks only: reading it costs more than
    // the rest of a chunk's bookkeeping.
    QElapsedTimer sinceYield;
    sinceYield.start();
    int chunksSinceLook = 0;
    auto yieldAfterChunk = [&] {
        if (c.yieldIntervalMs > 0) {
            if (++chunksSinceLook < 8)
                return;
            chunksSinceLook = 0;
            if (sinceYield.elapsed() < c.yieldIntervalMs)
                return;
            sinceYield.restart();
        }
        interaction().pumpEvents();
    };

    // The display counts what has gone out over the connection, not what
    // waits in curl's buffer: each 1024 bytes sent are one display call, and
    // the file's last piece counts only once the server confirmed the file,
    // so "0" bytes left means the upload is done.
    const qint64 wholeChunks = c.totalBytes / FtpChunk::kSize;
    const qint64 lastPiece = c.totalBytes % FtpChunk::kSize;
    qint64 shownChunks = 0;
    auto showSent = [&](qint64 sent, bool confirmed) {
        qint64 upTo = std::min(wholeChunks, sent / FtpChunk::kSize);
        if (!confirmed && lastPiece == 0 && upTo == wholeChunks)
            upTo = wholeChunks - 1;
        while (shownChunks < upTo) {
            ++shownChunks;
            ShowTransferProgress(desk, FtpChunk::kSize, false);
        }
        if (confirmed && lastPiece > 0)
            ShowTransferProgress(desk, lastPiece, true);
    };

    FtpUploadHooks hooks;
    hooks.chunk = [&](const FtpChunk& chunk) {
        if (chunk.remainder()) {
            c.lastUpload.remainderBytes = chunk.bytes;
            return true;
        }
        // The flag only changes inside a yield, so this is the first chunk
        // after the close request.
        if (stopWanted())
            return false;
        ++c.lastUpload.chunkWrites;
        yieldAfterChunk();
        return true;
    };
    hooks.sent = [&](qint64 sent) { showSent(sent, false); };
    // A server that stalls sends no chunk callbacks: the window must still
    // repaint and a close request still reach the question.
    hooks.idle = [&] {
        // The elapsed time goes on while the server takes its time.
        if (tick(c) - c.lastDrawTick >= kRedrawMs)
            drawTransfer(desk, c);
        interaction().pumpEvents();
        return !stopWanted();
    };

    bool ok = false;
    auto showFailure = [&](const QString& why) {
        f.failed = true;
        f.failure = RunLogMirror::oneLine(why);
        Q_EMIT desk.changed();
    };
    if (!isFile) {
        showFailure(QStringLiteral("파일 읽기에 실패했습니다."));
        tellExclamation(QStringLiteral("파일 읽기에 실패했습니다."));
    } else {
        const FtpResult r = c.session.uploadFile(native, remotePath, hooks);
        ok = r.ok();
        if (ok)
            showSent(c.totalBytes, true);
        else if (stopAnswered)
            showFailure(QStringLiteral("전송을 중단했습니다."));
        else {
            const QString why = uploadFailureText(r, localPath, remotePath);
            showFailure(why);
            tellExclamation(why);
        }
    }
    if (stopAnswered) {
        // A cancel ends the run; the window stays with its log. The upload
        // went to its own "_2" name, so the public file is as it was and the
        // cut-off copy goes; a name without "_2" is the public one: kept.
        desk.runCancelled = true;
        desk.cancelRequested = false;
        const bool ownName = remoteName.contains(QStringLiteral("_2"));
        const FtpResult removed = ownName ? c.session.remove(remotePath) : FtpResult{};
        if (removed.ok())
            desk.AddLog(QStringLiteral("[정상] FTP 전송 취소: 끝나지 않은 파일을 서버에서 지웠습니다: ") + remotePath);
        else
            desk.AddLog(QStringLiteral("[오류] FTP 전송 취소: 끝나지 않은 파일이 서버에 남았습니다: ") + remotePath
                        + (ownName ? QStringLiteral(" (") + removed.describe() + QLatin1Char(')') : QString()));
    }

    if (removeSuffix == QLatin1String("1") || desk.chkFTPAutoRemove.checked) {
        if (!ok)
            desk.AddLog(QStringLiteral("[오류] FTP파일명 _2제거취소: ") + remoteName
                        + QStringLiteral(" (전송이 끝나지 않았습니다.)"));
        else if (completeOnServer(desk, c.session, kDownload, remoteName, c.totalBytes))
            FtpRemoveSuffix(desk, kDownload, remoteName, false);
    }
    return ok;
}

void FtpRemoveSuffix(Desk& desk, const QString& folder, const QString& fileName, bool checkExists)
{
    FtpConnection& c = ftpConnection(desk);
    if (checkExists) {
        FtpFileInfo info;
        const FtpResult look = c.session.lookup(folder + fileName, &info);
        if (!look.ok() || !info.exists) {
            interaction().tell(folder + fileName + QStringLiteral(" 파일을 ftp에서 찾을 수 없습니다."),
                               appTitle(), MsgIcon::None);
            return;
        }
    }
    renameWithoutSuffix(desk, c.session, folder, fileName);
}

QString versionTimeStamp(const QString& setupFileTime)
{
    const QDateTime t = parseCellDateTime(setupFileTime);
    return t.isValid() ? t.toString(QStringLiteral("yyMMdd_HHmm")) : setupFileTime;
}

QByteArray versionFileContent(const QString& fileVersion, const QString& setupFileTime)
{
    return toAnsi(fileVersion + QLatin1Char(';') + versionTimeStamp(setupFileTime));
}

void UpLoadVersions(Desk& desk)
{
    const QString updaterFile = QStringLiteral("웹인증번호업데이터.exe");
    const QString updater = programFolder() + QLatin1Char('/') + updaterFile;
    const bool mayRunUpdater = QFileInfo(updater).isFile();
    if (!mayRunUpdater)
        tellExclamation(updaterFile + QStringLiteral(" 파일을 찾을수 없기 때문에\r\n"
                                                     "인증번호 업데이트는 시도되지 않습니다.)"));

    FtpSession session;
    if (!session.connect(FtpLogin::fromSite()).ok()) {
        tellExclamation(QStringLiteral("FTP서버 접속 실패! - UpLoadVersions()"));
        return;
    }

    const ProjectGrid& grid = desk.grid;
    for (int row = 1; row <= grid.maxRows(); ++row) {
        if (!desk.releasesRow(row) || grid.text(ColProjectType, row) == QLatin1String("1"))
            continue;
        desk.workOnRow(row);
        const QByteArray content =
            versionFileContent(grid.text(ColFileVersion, row), grid.text(ColSetupFileTime, row));
        const bool autoRename = desk.chkFTPAutoRemove.checked;

        QString name = grid.text(ColISResult1File, row);
        name.replace(QStringLiteral(".exe"), QStringLiteral(".ver"), Qt::CaseSensitive);
        bool renamed = false;
        publishVersionFile(desk, session, name, content, autoRename, &renamed);
        const QString webCode = grid.text(ColWebCode, row);
        if (renamed && mayRunUpdater && !webCode.isEmpty()) {
            QString error;
            const qint64 pid = startWithoutWaiting(updater + QLatin1Char(' ') + webCode + QLatin1Char(';')
                                                       + grid.text(ColProjectName, row),
                                                   WindowMode::ShowMinimized, &error);
            if (pid > 0)
                desk.AddLog(QStringLiteral("[정상] 웹인증번호업데이터: ") + webCode);
            else
                desk.AddLog(QStringLiteral("[오류] 웹인증번호업데이터: ") + webCode + QStringLiteral(" (")
                            + error + QLatin1Char(')'));
        }

        QString copyName = grid.text(ColLocalCopyPath, row);
        if (!copyName.isEmpty()) {
            copyName.replace(QStringLiteral(".exe"), QStringLiteral(".ver"), Qt::CaseSensitive);
            publishVersionFile(desk, session, copyName, content, autoRename, &renamed);
        }
    }
    session.disconnect();
}

void Desk::btnImdAutoRemove_Click()
{
    if (selCount == 0) {
        interaction().tell(QStringLiteral("선택된 프로젝트가 없습니다."), appTitle(), MsgIcon::None);
        return;
    }
    if (!askYesNo(QStringLiteral("정말 변경할까요?")))
        return;
    if (!FtpConnect(*this))
        return;
    for (int row = 1; row <= grid.maxRows(); ++row) {
        if (!isTicked(row))
            continue;
        const QString setupFile = grid.text(ColISResult1File, row);
        if (!chkPatchOnly.checked)
            FtpRemoveSuffix(*this, kDownload, setupFile, true);
        FtpRemoveSuffix(*this, kDownload, grid.text(ColPatchResultFile, row), true);
        QString versionFile = setupFile;
        versionFile.replace(QStringLiteral(".exe"), QStringLiteral(".ver"), Qt::CaseSensitive);
        FtpRemoveSuffix(*this, kVersions, versionFile, true);
    }
    FtpDisconnect(*this);
    interaction().tell(QStringLiteral("변경이 완료되었습니다."), appTitle(), MsgIcon::None);
}

} // namespace rh
