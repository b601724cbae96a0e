#include "app/autoupdate.h"
#include "platform/journal.h"

#include "config/vbtext.h"
#include "net/download.h"
#include "net/http.h"
#include "platform/apphome.h"
#include "platform/codepage.h"
#include "platform/errors.h"
#include "platform/interaction.h"
#include "platform/launcher.h"
#include "platform/serveraddresses.h"
#include "platform/sitecfg.h"
#include "util/fileutil.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QUrl>

namespace rh {
namespace {

const QString kModule = QStringLiteral("modAutoUpdateV1_Launcher");
const QString kCrLf = QStringLiteral("\r\n");

void reportError(const RhError& e, const QString& procedure)
{
    tell(moduleErrorText(e.number(), e.description(), procedure, kModule));
}

bool isPeImage(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) && f.read(2) == "MZ";
}

} // namespace

QString OpenUrlText(const QString& url)
{
    HttpOptions o;
    o.connectTimeoutSec = 3;
    o.timeoutSec = 10;
    o.firstBytes = kOpenUrlTextBytes;
    o.noCache = true;
    o.userAgent = "VB OpenUrl";
    const HttpResult r = httpGet(url, o);
    if (!r.ok())
        return QString();
    return urlTextOfBody(r.body);
}

QString urlTextOfBody(const QByteArray& body)
{
    return fromAnsi(body.left(kOpenUrlTextBytes));
}

QString GetUpdateBaseUrl()
{
    return httpBaseUrl(WebServerAddress(), site().webHttpPort) + QStringLiteral("/download/")
        + QString::fromLatin1(QUrl::toPercentEncoding(QStringLiteral("자동업데이트_v1")))
        + QLatin1Char('/');
}

QString companionRevision(const QString& path)
{
    if (!QFileInfo(path).isFile())
        return QStringLiteral("0");
    if (isPeImage(path)) {
        const QString version = GetFileVerText(path, true, true);
        return version.mid(version.lastIndexOf(QLatin1Char('.')) + 1);
    }
    // A native companion has no version block: it says its revision itself.
    QProcess p;
    p.setProcessChannelMode(QProcess::SeparateChannels);
    p.start(path, {QStringLiteral("--revision")});
    if (!p.waitForFinished(5000)) {
        p.kill();
        p.waitForFinished(1000);
        return QStringLiteral("0");
    }
    const QString out = QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0 && !out.isEmpty() ? out
                                                                                       : QStringLiteral("0");
}

AutoUpdater::AutoUpdater()
{
    const QFileInfo exe(QFileInfo(QCoreApplication::applicationFilePath()).canonicalFilePath());
    exeFolder = exe.absolutePath();
    programFile = exe.fileName();
    programRevision = versionRevision();
    homeFolder = programFolder();
    restartArguments = QCoreApplication::arguments().mid(1);
    openFolder = [](const QString& folder) {
        startWithoutWaiting(QStringLiteral("explorer.exe ") + folder, WindowMode::Normal);
    };
}

QString AutoUpdater::checkerPath() const
{
    return companionFolder(exeFolder) + QLatin1Char('/') + site().updateCheckerName;
}

QString AutoUpdater::changerPath() const
{
    return companionFolder(exeFolder) + QLatin1Char('/') + site().updateChangerName;
}

void AutoUpdater::note(const QString& line) const
{
    if (log)
        log(line);
}

bool AutoUpdater::download(const QString& url, const QString& path)
{
    const DownloadResult r = downloadVerified(url, path, site().updateRequireDigest, true);
    if (!r.ok) {
        note(QStringLiteral("update: download failed, %1 kept: %2").arg(QFileInfo(path).fileName(), r.error));
        return false;
    }
    note(QStringLiteral("update: downloaded %1 (SHA-256 %2%3)")
             .arg(QFileInfo(path).fileName(), r.digest,
                  r.digestChecked ? QStringLiteral(", matches the published digest") : QString()));
    return true;
}

AutoUpdater::Result AutoUpdater::RunAutoUpdate(bool skip)
{
    const QString proc = QStringLiteral("RunAutoUpdate");
    // A packaged install is updated by its package manager. Root may write
    // under /usr, so the place counts as well as the permission. An installed
    // layout elsewhere (a prefix of the user's) updates itself like a build folder.
    const QString companions = companionFolder(exeFolder);
    for (const QString& folder : {exeFolder, companions}) {
        if (!QFileInfo(folder).isWritable() || folder == QLatin1String("/usr") || folder.startsWith(QLatin1String("/usr/"))) {
            note(QStringLiteral("update: skipped, %1 belongs to an installed package or is not writable").arg(folder));
            return Result::Continue;
        }
    }
    // For the companions only: the tools a release starts do not inherit it.
    qputenv(kEnvExeFolder, QFile::encodeName(exeFolder));
    struct Unset {
        ~Unset() { qunsetenv(kEnvExeFolder); }
    } unset;
    try {
        if (!skip && !AutoUpdaterSelfUpdate())
            return Result::Continue;
    } catch (const RhError& e) {
        reportError(e, proc);
    }

    const QString program = exeFolder + QLatin1Char('/') + programFile;
    if (!QFileInfo(program).isFile()) {
        note(QStringLiteral("update: %1 not found, the version check is skipped").arg(program));
        return Result::Continue;
    }

    // The file changer restarted the old build after a failed replacement:
    // no second hand-over in a row.
    const bool failedBefore = qEnvironmentVariableIsSet(kEnvUpdateFailed);
    qunsetenv(kEnvUpdateFailed);

    try {
        // The checker's only: the tools of a run must not inherit them.
        struct UnsetUpdate {
            ~UnsetUpdate()
            {
                qunsetenv(kEnvUpdateUrl);
                qunsetenv(kEnvUpdateDigest);
            }
        } unsetUpdate;
        qputenv(kEnvUpdateUrl, (UpdateBaseUrl.isEmpty() ? GetUpdateBaseUrl() : UpdateBaseUrl).toUtf8());
        qputenv(kEnvUpdateDigest, site().updateRequireDigest ? QByteArray("required") : QByteArray());
        QString error;
        ShellExecuteAndWait(checkerPath(), 0,
                            QString::number(programRevision) + QLatin1Char(';') + programFile, exeFolder,
                            false, false, &error);
        if (!error.isEmpty())
            note(QStringLiteral("update: ") + error);
    } catch (const RhError& e) {
        reportError(e, proc);
    }

    const QString waiting = exeFolder + QStringLiteral("/New_") + programFile;
    if (!QFileInfo(waiting).isFile())
        return Result::Continue;
    if (failedBefore) {
        note(QStringLiteral("update: the last replacement failed; %1 waits for the next start").arg(waiting));
        return Result::Continue;
    }

    // A plan changes nothing, so it does not hand over either: it says so
    // and goes on to plan the release with the program that runs.
    if (journal().planning()) {
        note(QStringLiteral("update: 새 버전이 기다리고 있습니다: %1 (모의실행이므로 교체하지 않습니다)").arg(waiting));
        return Result::Continue;
    }

    const QString changer = changerPath();
    if (!QFileInfo(changer).isFile()) {
        tell(QStringLiteral("파일교체 프로그램을 찾을 수 없습니다.") + kCrLf + kCrLf + changer);
        if (openFolder)
            openFolder(exeFolder);
        return Result::End;
    }

    qputenv(kEnvHome, QFile::encodeName(homeFolder));
    QJsonArray args;
    for (const QString& a : restartArguments)
        args.append(a);
    qputenv(kEnvRestartArgs, QJsonDocument(args).toJson(QJsonDocument::Compact));
    LaunchOptions o;
    o.mode = WindowMode::ShowMinimized;
    o.workingFolder = exeFolder;
    o.detached = true;
    QString error;
    const qint64 pid = startCommandLine(QLatin1Char('"') + changer + QStringLiteral("\" ") + programFile
                                            + QStringLiteral(";New_") + programFile,
                                        o, &error);
    qunsetenv(kEnvRestartArgs);
    if (pid <= 0) {
        // Ending now would leave nobody to replace the file or start the program.
        note(QStringLiteral("update: the file changer could not be started: ") + error);
        return Result::Continue;
    }
    note(QStringLiteral("update: %1 hands over to %2 (pid %3)").arg(waiting, changer).arg(pid));
    return Result::HandedOver;
}

bool AutoUpdater::AutoUpdaterSelfUpdate()
{
    const QString checkerName = site().updateCheckerName;
    const QString localPath = checkerPath();
    const QString localRevision = companionRevision(localPath);
    const QString versionFile = QFileInfo(checkerName).completeBaseName() + QStringLiteral("_lastver.txt");

    UpdateBaseUrl = GetUpdateBaseUrl();
    const QString text = OpenUrlText(UpdateBaseUrl + versionFile);
    if (text.trimmed().isEmpty()) {
        tell(checkerName + QStringLiteral("의 최신버전 정보를 읽어올 수 없습니다!"), MsgIcon::Critical);
        return false;
    }
    const long long latest = vbRound(vbVal(text));
    if (vbVal(localRevision) >= double(latest))
        return true;

    note(QStringLiteral("update: %1 revision %2 is older than the published %3")
             .arg(checkerName, localRevision, QString::number(latest)));
    const auto fileUrl = [this](const QString& name) {
        return UpdateBaseUrl + QString::fromLatin1(QUrl::toPercentEncoding(name));
    };
    if (!download(fileUrl(checkerName), localPath))
        return false;
    return download(fileUrl(site().updateChangerName), changerPath());
}

} // namespace rh
