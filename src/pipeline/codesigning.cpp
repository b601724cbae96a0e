#include "pipeline/codesigning.h"

#include "config/projectrow.h"
#include "pipeline/desk.h"
#include "pipeline/stepfiles.h"
#include "platform/apphome.h"
#include "platform/drivemap.h"
#include "platform/interaction.h"
#include "platform/journal.h"
#include "platform/profile.h"
#include "platform/shellcopy.h"
#include "util/fileutil.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryFile>
#include <QStringList>
#include <QTimer>

#include <algorithm>
#include <vector>

namespace rh {
namespace {

void setStatus(Desk& desk, int row, const QString& text)
{
    desk.grid.setActiveCell(ColStatus, row);
    desk.grid.setText(ColStatus, row, text);
}

// The row's files to sign: the cells that name an existing file, first
// column first.
QStringList filesOf(const Desk& desk, int row, int firstCol, int secondCol)
{
    QStringList files;
    for (int col : {firstCol, secondCol}) {
        if (col == 0)
            continue;
        const QString path = desk.grid.text(col, row);
        if (stepFileExists(path))
            files << path;
    }
    return files;
}

QString inFolder(const QString& folder, const QString& file)
{
    return folder + QLatin1Char('\\') + fileNameOfPath(file);
}

QString hms(qint64 ms)
{
    const qint64 s = ms / 1000;
    return QStringLiteral("%1:%2:%3")
        .arg(s / 3600, 2, 10, QLatin1Char('0'))
        .arg((s / 60) % 60, 2, 10, QLatin1Char('0'))
        .arg(s % 60, 2, 10, QLatin1Char('0'));
}

// One file handed to the station and awaited in the signed folder.
struct Awaited {
    int row = 0;
    QString file;       // the project's file (Windows path as written)
    QString signedPath; // its namesake in the signed folder, as written
    QString native;     // the same, native
    qint64 size = -1;   // last state seen, for the stability rule
    QDateTime modified;
    qint64 seenAtMs = -1; // when that state was first seen; -1: not there
    bool ready = false;
};

// A signed file counts once its size and time have held this long: the
// station may write in place rather than rename a finished file into the
// folder.
constexpr qint64 kSettleMs = 50;
// File times of network shares and FAT are coarse: a fresh file may carry a
// time up to this much before the hand-over.
constexpr qint64 kTimeSlackMs = 2000;

class SigningWait {
public:
    SigningWait(Desk& desk, std::vector<Awaited>& files, const QDateTime& handedOver)
        : m_desk(desk), m_files(files), m_handedOver(handedOver.addMSecs(-kTimeSlackMs))
    {
    }

    // True when every file is back; false when the wait was cancelled or
    // timed out (both logged).
    bool run()
    {
        m_desk.signingWaiting = true;
        // A 중지 pressed before the wait still asks.
        m_desk.cancelRequested = m_desk.stopRequested;
        struct Reset {
            Desk& d;
            ~Reset() { d.signingWaiting = false; }
        } reset{m_desk};

        QFileSystemWatcher watcher;
        QEventLoop loop;
        QTimer timer;
        timer.setSingleShot(true);
        timer.setTimerType(Qt::PreciseTimer);
        bool changed = true; // the first pass looks
        QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
        auto onChange = [&] {
            changed = true;
            loop.quit();
        };
        QObject::connect(&watcher, &QFileSystemWatcher::directoryChanged, &loop, onChange);
        QObject::connect(&watcher, &QFileSystemWatcher::fileChanged, &loop, onChange);
        if (m_desk.signingWatch) {
            const QString folder = nativePath(signingSignedFolder());
            if (!folder.isEmpty())
                watcher.addPath(folder);
        }

        const qint64 pollMs = std::max(1, m_desk.signingPollMs);
        QElapsedTimer clock;
        clock.start();
        qint64 nextPoll = 0, settleDue = -1, shownSecond = -1;
        for (;;) {
            const qint64 now = clock.elapsed();
            if (changed || now >= nextPoll || (settleDue >= 0 && now >= settleDue)) {
                if (now >= nextPoll)
                    nextPoll = now + pollMs;
                changed = false;
                settleDue = look(now, watcher);
            }
            if (now / 1000 != shownSecond) {
                shownSecond = now / 1000;
                showStatus(now);
            }
            if (std::all_of(m_files.begin(), m_files.end(), [](const Awaited& a) { return a.ready; }))
                return true;
            if (m_desk.cancelRequested) {
                m_desk.cancelRequested = false;
                if (interaction().askYesNo(QStringLiteral("서명 대기를 중단할까요?"), appTitle(), MsgIcon::Question,
                                           false)) {
                    m_desk.runCancelled = true;
                    return stop(QStringLiteral("[오류] 서명 대기를 중단했습니다."));
                }
                m_desk.stopRequested = false; // the user chose to go on waiting
            }
            if (m_desk.signingTimeoutMs > 0 && now >= m_desk.signingTimeoutMs)
                return stop(QStringLiteral("[오류] 서명 대기 제한시간(")
                            + QString::number(double(m_desk.signingTimeoutMs) / 1000.0) + QStringLiteral("초)이 지났습니다."));

            qint64 wake = std::min(nextPoll, (shownSecond + 1) * 1000);
            if (settleDue >= 0)
                wake = std::min(wake, settleDue);
            if (m_desk.signingTimeoutMs > 0)
                wake = std::min(wake, m_desk.signingTimeoutMs);
            timer.start(int(std::clamp<qint64>(wake - clock.elapsed(), 0, 1000)));
            loop.exec();
            interaction().pumpEvents();
        }
    }

private:
    // Looks at every file not yet ready; returns when the next look is due
    // for a file that is settling (-1: none).
    qint64 look(qint64 now, QFileSystemWatcher& watcher)
    {
        qint64 due = -1;
        for (Awaited& a : m_files) {
            if (a.ready)
                continue;
            const QFileInfo info(a.native);
            // Only what the station delivered after this hand-over counts.
            if (!info.isFile() || info.lastModified() < m_handedOver) {
                // A dry run handed nothing over: the journal takes it as signed.
                if (journal().plannedOutput(a.native, QStringLiteral("서명 스테이션"))) {
                    a.ready = true;
                    continue;
                }
                a.seenAtMs = -1;
                continue;
            }
            if (a.seenAtMs < 0 || info.size() != a.size || info.lastModified() != a.modified) {
                if (a.seenAtMs < 0)
                    watcher.addPath(a.native); // writes into it wake the wait
                a.size = info.size();
                a.modified = info.lastModified();
                a.seenAtMs = now;
            } else if (now - a.seenAtMs >= kSettleMs) {
                a.ready = true;
                continue;
            }
            const qint64 at = a.seenAtMs + kSettleMs;
            due = due < 0 ? at : std::min(due, at);
        }
        return due;
    }

    // Rows whose files are all back wait for the take-back; the others show
    // how long the wait has lasted.
    void showStatus(qint64 now)
    {
        for (int row = 1; row <= m_desk.grid.maxRows(); ++row) {
            bool any = false, back = true;
            for (const Awaited& a : m_files) {
                if (a.row == row) {
                    any = true;
                    back = back && a.ready;
                }
            }
            if (!any)
                continue;
            const QString text = back ? QStringLiteral("서명파일 복사 대기중...")
                                      : QStringLiteral("서명 대기중... (") + hms(now) + QLatin1Char(')');
            if (m_desk.grid.text(ColStatus, row) != text)
                m_desk.grid.setText(ColStatus, row, text);
        }
    }

    bool stop(const QString& why)
    {
        // The rows say the wait is over, not still waiting.
        for (const Awaited& a : m_files)
            m_desk.grid.setText(ColStatus, a.row, QStringLiteral("서명 중단"));
        m_desk.AddLog(why);
        for (const Awaited& a : m_files)
            if (!a.ready)
                m_desk.AddLog(QStringLiteral("[오류] ") + m_desk.grid.text(ColProjectName, a.row)
                              + QStringLiteral(" 서명파일이 돌아오지 않았습니다.(") + a.signedPath + QLatin1Char(')'));
        return false;
    }

    Desk& m_desk;
    std::vector<Awaited>& m_files;
    QDateTime m_handedOver;
};

// Moves a signed file left from an earlier hand-over into `folder` (made on
// demand) under a free name; the native path it went to, or empty.
QString moveAside(const QString& native, const QString& folder)
{
    if (!QFileInfo(folder).isDir() && journal().folderMake(folder) && !QDir().mkpath(folder))
        return QString();
    const QString name = QFileInfo(native).fileName();
    QString target = folder + QLatin1Char('/') + name;
    for (int n = 2; QFileInfo::exists(target); ++n)
        target = folder + QLatin1Char('/') + name + QLatin1Char('.') + QString::number(n);
    return journaledRename(native, target) == 0 ? target : QString();
}

} // namespace

QString signingUnsignedFolder()
{
    return QStringLiteral("S:\\Codesigning\\unsigned");
}

QString signingSignedFolder()
{
    return QStringLiteral("S:\\Codesigning\\signed");
}

int signingPollMsFromSite()
{
    const ProfileFile site = ProfileFile::load(programFolder() + QStringLiteral("/site.ini"));
    bool ok = false;
    const int ms = site.getText(QStringLiteral("Signing"), QStringLiteral("PollMs"), QString(), 32)
                       .trimmed()
                       .toInt(&ok);
    return ok && ms > 0 ? ms : kSigningPollMs;
}

QStringList signingCertificatesFromSite()
{
    const ProfileFile site = ProfileFile::load(programFolder() + QStringLiteral("/site.ini"));
    // site.ini is UTF-8, unlike the setup INIs.
    const QString value = QString::fromUtf8(site.value(QStringLiteral("Signing"), QStringLiteral("Certificate"))
                                                .value_or(QByteArray()));
    QStringList out;
    for (QString part : value.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        part = part.trimmed();
        if (part.isEmpty())
            continue;
        out << (isNativeAbsolutePath(part) ? part : QDir::cleanPath(programFolder() + QLatin1Char('/') + part));
    }
    return out;
}

SignatureCheck checkAuthenticode(const QString& nativeFile, const QStringList& certificates)
{
    SignatureCheck r;
    // One trust file for osslsigncode: the certificates one after another.
    QTemporaryFile bundle;
    if (!bundle.open()) {
        r.found = QStringLiteral("인증서 묶음을 만들 수 없습니다");
        return r;
    }
    for (const QString& c : certificates) {
        QFile f(c);
        if (!f.open(QIODevice::ReadOnly)) {
            r.found = QStringLiteral("인증서를 읽을 수 없습니다: ") + c;
            return r;
        }
        bundle.write(f.readAll() + '\n');
    }
    bundle.flush();
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral("osslsigncode"),
            {QStringLiteral("verify"), QStringLiteral("-in"), nativeFile, QStringLiteral("-CAfile"), bundle.fileName()});
    if (!p.waitForStarted(10000)) {
        r.found = QStringLiteral("osslsigncode를 실행할 수 없습니다");
        return r;
    }
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished(5000);
        r.found = QStringLiteral("osslsigncode가 끝나지 않습니다");
        return r;
    }
    const QString out = QString::fromUtf8(p.readAll());
    static const QRegularExpression subject(QStringLiteral("Signer's certificate:[\\s\\S]*?Subject: ([^\\n]*)"));
    r.signer = subject.match(out).captured(1).trimmed();
    r.ok = p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0
        && out.contains(QLatin1String("Signature verification: ok"));
    if (r.ok) {
        r.found = QStringLiteral("서명 확인됨");
    } else if (out.contains(QLatin1String("No signature found"))) {
        r.found = QStringLiteral("서명 없음");
    } else if (out.contains(QLatin1String("unsupported input file type"))) {
        r.found = QStringLiteral("서명 없음 (서명할 수 있는 형식의 파일이 아닙니다)");
    } else {
        static const QRegularExpression error(QStringLiteral("Error: ([^\\n]*)"));
        const QString why = error.match(out).captured(1).trimmed();
        r.found = QStringLiteral("설정된 인증서로 확인되지 않는 서명")
            + (why.isEmpty() ? QString() : QStringLiteral(" (") + why + QLatin1Char(')'));
    }
    return r;
}

bool CodeSigning(Desk& desk, int firstCol, int secondCol)
{
    const QString procedure = QStringLiteral("CodeSigning");
    const QString unsignedFolder = signingUnsignedFolder();
    const QString signedFolder = signingSignedFolder();
    try {
        // Hand-over. A namesake already in the signed folder is an earlier
        // run's result: it goes into a dated folder beside it before the new
        // file is handed over, so only what the station signs now comes back.
        const QDateTime handedOver = QDateTime::currentDateTime();
        const QString asideFolder = signedFolder + QLatin1Char('_') + desk.now().toString(QStringLiteral("yyyyMMdd_HHmmss"));
        std::vector<Awaited> awaited;
        desk.AddLog(QStringLiteral("서명 작업폴더로 복사중..."));
        for (int row = 1; row <= desk.grid.maxRows(); ++row) {
            if (!desk.isTicked(row))
                continue;
            if (desk.stopBetweenUnits())
                return false;
            setStatus(desk, row, QStringLiteral("서명 작업폴더로 복사..."));
            const QString name = desk.grid.text(ColProjectName, row);
            for (const QString& file : filesOf(desk, row, firstCol, secondCol)) {
                Awaited a;
                a.row = row;
                a.file = file;
                a.signedPath = inFolder(signedFolder, file);
                a.native = nativePath(a.signedPath);
                if (journal().isFile(a.native)) {
                    const QString aside = moveAside(a.native, nativePath(asideFolder));
                    if (aside.isEmpty()) {
                        desk.AddLog(QStringLiteral("[오류] ") + name
                                    + QStringLiteral(" 서명폴더의 이전 파일을 옮기지 못했습니다.(") + a.signedPath
                                    + QLatin1Char(')'));
                        return false;
                    }
                    desk.AddLog(QStringLiteral("[경고] ") + name + QStringLiteral(" 서명폴더의 이전 파일을 옮겼습니다.(")
                                + inFolder(asideFolder, QFileInfo(aside).fileName()) + QLatin1Char(')'));
                }
                const QString target = inFolder(unsignedFolder, file);
                if (stepFileExists(target))
                    trapped(procedure, [&] { stepDeleteFile(target); });
                if (!CopyFileWithMessage(file, target)) {
                    desk.AddLog(QStringLiteral("[오류] ") + name
                                + QStringLiteral(" 서명 작업폴더로 복사하지 못했습니다.(") + target + QLatin1Char(')'));
                    return false;
                }
                awaited.push_back(a);
            }
            desk.grid.setText(ColStatus, row, QStringLiteral("서명 대기중..."));
        }

        // Wait, yielding to the event loop: the folder is watched, the poll
        // is the fallback, and the wait can be cancelled or time out.
        desk.AddLog(QStringLiteral("서명 대기중..."));
        if (!SigningWait(desk, awaited, handedOver).run())
            return false;

        // Take-back. The signed file replaces the project's file through a
        // temporary file and a rename, and leaves the signed folder only once
        // it is in place: a failed copy keeps both the project's file and the
        // signed one.
        desk.AddLog(QStringLiteral("서명완료 파일 복사중..."));
        const QStringList certificates = signingCertificatesFromSite();
        bool allPlaced = true;
        for (int row = 1; row <= desk.grid.maxRows(); ++row) {
            if (!desk.isTicked(row))
                continue;
            setStatus(desk, row, QStringLiteral("서명파일 복사중..."));
            bool rowPlaced = true;
            bool rowRefused = false;
            for (const Awaited& a : awaited) {
                if (a.row != row)
                    continue;
                // What the station handed back must carry the site's
                // signature before it may replace anything.
                if (!certificates.isEmpty() && !journal().planning() && !journal().pendingContent(a.native)) {
                    const SignatureCheck sig = checkAuthenticode(a.native, certificates);
                    if (!sig.ok) {
                        desk.AddLog(QStringLiteral("[오류] ") + desk.grid.text(ColProjectName, row)
                                    + QStringLiteral(" 서명이 올바르지 않아 배포하지 않습니다.(") + a.signedPath
                                    + QStringLiteral(": ") + sig.found
                                    + (sig.signer.isEmpty() ? QString() : QStringLiteral(", 서명자 ") + sig.signer)
                                    + QLatin1Char(')'));
                        rowRefused = true;
                        continue;
                    }
                }
                if (!shellCopy(a.signedPath, a.file, true).ok()) {
                    tell(QStringLiteral("Error copying File"));
                    desk.AddLog(QStringLiteral("[오류] ") + desk.grid.text(ColProjectName, row)
                                + QStringLiteral(" 서명파일을 복사하지 못했습니다.(") + a.signedPath
                                + QLatin1Char(')'));
                    rowPlaced = false;
                    continue;
                }
                trapped(procedure, [&] { stepDeleteFile(a.signedPath); });
            }
            if (rowRefused) {
                // This product stops here; the others go on.
                desk.grid.setText(ColStatus, row, QStringLiteral("서명 오류"));
                desk.setTicked(row, false);
                continue;
            }
            desk.grid.setText(ColStatus, row,
                              rowPlaced ? QStringLiteral("서명완료") : QStringLiteral("서명파일 복사 실패"));
            allPlaced = allPlaced && rowPlaced;
        }
        return allPlaced;
    } catch (const std::exception& e) {
        showTrappedError(procedure, e);
    }
    return false;
}

} // namespace rh
