#include "app/autoupdate.h"
#include "platform/journal.h"

#include "config/vbtext.h"
#include "net/download.h"
#include "net/http.h"
#include "site/apphome.h"
#include "platform/codepage.h"
#include "platform/errors.h"
#include "platform/interaction.h"
#include "platform/launcher.h"
#include "site/serveraddresses.h"
#include "site/sitecfg.h"
#include "util/fileutil.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QUrl>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>

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

// The companions' environment. The launcher sets it only around their start;
// the tools of a run must inherit none of it.

// The program file's folder, for both companions; on leaving, everything the
// companions were given goes. ROLLHAVEN2_HOME stays: it may be the user's
// own, and names this program folder.
struct CompanionEnvironment {
    explicit CompanionEnvironment(const QString& exeFolder) { qputenv(kEnvExeFolder, QFile::encodeName(exeFolder)); }
    ~CompanionEnvironment()
    {
        for (const char* name :
             {kEnvExeFolder, kEnvUpdateUrl, kEnvUpdateKeys, kEnvUpdateLimits, kEnvUpdateCaFile, kEnvRestartArgs})
            qunsetenv(name);
    }
    CompanionEnvironment(const CompanionEnvironment&) = delete;
    CompanionEnvironment& operator=(const CompanionEnvironment&) = delete;
};

// The update folder, the release keys and the limits, while the checker runs.
struct CheckerEnvironment {
    CheckerEnvironment(const QString& url, const UpdateRules& rules)
    {
        qputenv(kEnvUpdateUrl, url.toUtf8());
        qputenv(kEnvUpdateKeys, site().updatePublicKeys.join(QLatin1Char(' ')).toLatin1());
        qputenv(kEnvUpdateLimits, QByteArray::number(rules.maxBytes) + ';' + QByteArray::number(rules.secondsLeft()));
        qputenv(kEnvUpdateCaFile, QFile::encodeName(site().httpCaFile));
    }
    ~CheckerEnvironment()
    {
        for (const char* name : {kEnvUpdateUrl, kEnvUpdateKeys, kEnvUpdateLimits, kEnvUpdateCaFile})
            qunsetenv(name);
    }
    CheckerEnvironment(const CheckerEnvironment&) = delete;
    CheckerEnvironment& operator=(const CheckerEnvironment&) = delete;
};

// The program folder whose lock the file changer waits for, and the
// arguments it restarts the program with.
void setChangerEnvironment(const QString& homeFolder, const QStringList& restartArguments)
{
    qputenv(kEnvHome, QFile::encodeName(homeFolder));
    QJsonArray args;
    for (const QString& a : restartArguments)
        args.append(a);
    qputenv(kEnvRestartArgs, QJsonDocument(args).toJson(QJsonDocument::Compact));
}

} // namespace

QString OpenUrlText(const QString& url, int timeoutSec)
{
    HttpOptions o;
    o.connectTimeoutSec = std::min(3, timeoutSec);
    o.timeoutSec = timeoutSec;
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
    return httpBaseUrl(WebServerAddress(), site().webHttpPort, site().https) + QStringLiteral("/download/")
        + QString::fromLatin1(QUrl::toPercentEncoding(QStringLiteral("자동업데이트_v1")))
        + QLatin1Char('/');
}

QString companionRevision(const QString& path, int timeoutMs)
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
    if (!p.waitForFinished(std::max(timeoutMs, 100))) {
        p.kill();
        p.waitForFinished(1000);
        return QStringLiteral("0");
    }
    const QString out = QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0 && !out.isEmpty() ? out
                                                                                       : QStringLiteral("0");
}

UpdateRules UpdateRules::fromSite()
{
    UpdateRules r;
    r.keys = parseMinisignKeys(site().updatePublicKeys.join(QLatin1Char(' ')));
    r.maxBytes = site().updateMaxBytes;
    r.deadline.setRemainingTime(qint64(site().updateDeadlineSec) * 1000);
    return r;
}

bool UpdateRules::fromEnvironment(UpdateRules* rules, QString* error)
{
    rules->keys = parseMinisignKeys(qEnvironmentVariable(kEnvUpdateKeys));
    const QStringList limits = qEnvironmentVariable(kEnvUpdateLimits).split(QLatin1Char(';'));
    bool bytesOk = false, secondsOk = false;
    rules->maxBytes = limits.value(0).toLongLong(&bytesOk);
    const int seconds = limits.value(1).toInt(&secondsOk);
    if (rules->keys.isEmpty()) {
        *error = QStringLiteral("%1 names no release key; nothing is downloaded").arg(QLatin1String(kEnvUpdateKeys));
        return false;
    }
    if (!bytesOk || !secondsOk || rules->maxBytes <= 0 || seconds <= 0) {
        *error = QStringLiteral("%1 is not \"max bytes;seconds\"").arg(QLatin1String(kEnvUpdateLimits));
        return false;
    }
    rules->deadline.setRemainingTime(qint64(seconds) * 1000);
    return true;
}

int UpdateRules::millisecondsLeft(int atMost) const
{
    return int(std::clamp<qint64>(deadline.remainingTime(), 0, atMost));
}

int UpdateRules::secondsLeft() const
{
    return int(std::max<qint64>(1, (deadline.remainingTime() + 999) / 1000));
}

void StagedUpdate::discard()
{
    if (!temp.isEmpty())
        QFile::remove(temp);
    temp.clear();
}

StagedUpdate stageUpdate(const UpdateRules& rules, const QString& url, const QString& name, const QString& target,
                         double announced, double installed, bool mayEqual)
{
    StagedUpdate s;
    const QFileInfo t(target);
    const QString temp = t.absolutePath() + QStringLiteral("/.") + t.fileName() + QStringLiteral(".download");
    QFile::remove(temp);
    const auto fail = [&](const QString& why) {
        QFile::remove(temp);
        s.temp.clear();
        s.error = name + QStringLiteral(": ") + why;
        return s;
    };
    if (rules.deadline.hasExpired())
        return fail(QStringLiteral("the update step's deadline has passed"));
    const DownloadResult got = downloadBounded(url, temp, rules.maxBytes, rules.secondsLeft());
    if (!got.ok)
        return fail(got.error);
    s.temp = temp;

    HttpOptions small = HttpOptions::fromSite();
    small.timeoutSec = rules.secondsLeft();
    small.maxBodyBytes = 4096;
    small.noCache = true;
    const HttpResult sig = httpGet(url + QStringLiteral(".minisig"), small);
    if (!sig.ok())
        return fail(QStringLiteral("no signature (%1.minisig: %2)").arg(url, sig.describe()));
    const MinisignCheck check = verifyMinisign(temp, sig.body, rules.keys, name);
    if (!check.ok)
        return fail(QStringLiteral("bad signature: ") + check.error);
    s.signature = sig.body;

    // Signed by the release key: only now may it say its revision.
    QFile::setPermissions(temp, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                                    | QFileDevice::ReadGroup | QFileDevice::ExeGroup | QFileDevice::ReadOther
                                    | QFileDevice::ExeOther);
    s.revision = companionRevision(temp, rules.millisecondsLeft(5000));
    const double own = vbVal(s.revision);
    if (announced >= 0 && own != announced)
        return fail(QStringLiteral("its own revision %1 is not the announced %2")
                        .arg(s.revision, QString::number(announced, 'f', 0)));
    if (own < installed || (own == installed && !mayEqual))
        return fail(QStringLiteral("its own revision %1 is not above the installed %2")
                        .arg(s.revision, QString::number(installed, 'f', 0)));
    return s;
}

bool commitUpdate(StagedUpdate& staged, const QString& target, QString* error)
{
    if (std::rename(QFile::encodeName(staged.temp).constData(), QFile::encodeName(target).constData()) != 0) {
        *error = QStringLiteral("cannot replace %1: %2").arg(target, QString::fromLocal8Bit(std::strerror(errno)));
        staged.discard();
        return false;
    }
    staged.temp.clear();
    return true;
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

bool AutoUpdater::waitingBuildIsGood(const QString& waiting)
{
    QFile sig(waiting + QStringLiteral(".minisig"));
    const QByteArray signature = sig.open(QIODevice::ReadOnly) ? sig.read(4096) : QByteArray();
    const MinisignCheck check = verifyMinisign(waiting, signature, m_rules.keys, programFile);
    QString why;
    if (!check.ok) {
        why = QStringLiteral("bad or missing signature: ") + check.error;
    } else {
        const QString revision = companionRevision(waiting, std::max(1000, m_rules.millisecondsLeft(5000)));
        if (vbVal(revision) <= programRevision)
            why = QStringLiteral("its revision %1 is not above this build's %2").arg(revision).arg(programRevision);
    }
    if (why.isEmpty())
        return true;
    QFile::remove(waiting);
    QFile::remove(waiting + QStringLiteral(".minisig"));
    note(QStringLiteral("update: %1 discarded, %2").arg(waiting, why));
    return false;
}

QString AutoUpdater::skipReason(const UpdateRules& rules) const
{
    // A packaged install is updated by its package manager. Root may write
    // under /usr, so the place counts as well as the permission. An installed
    // layout elsewhere (a prefix of the user's) updates itself like a build folder.
    for (const QString& folder : {exeFolder, companionFolder(exeFolder)}) {
        if (!QFileInfo(folder).isWritable() || folder == QLatin1String("/usr") || folder.startsWith(QLatin1String("/usr/")))
            return QStringLiteral("%1 belongs to an installed package or is not writable").arg(folder);
    }
    if (rules.keys.isEmpty())
        return QStringLiteral("site.ini names no release key ([Update] PublicKey)");
    return QString();
}

void AutoUpdater::runChecker()
{
    const CheckerEnvironment environment(UpdateBaseUrl.isEmpty() ? GetUpdateBaseUrl() : UpdateBaseUrl, m_rules);
    QString error;
    // The checker keeps to the deadline itself; past it, it is stopped.
    ShellExecuteAndWait(checkerPath(), 0, QString::number(programRevision) + QLatin1Char(';') + programFile, exeFolder,
                        false, false, &error, std::max(1000, m_rules.millisecondsLeft(INT_MAX)));
    if (!error.isEmpty())
        note(QStringLiteral("update: ") + error);
}

AutoUpdater::Result AutoUpdater::handOver(const QString& waiting)
{
    const QString changer = changerPath();
    if (!QFileInfo(changer).isFile()) {
        tell(QStringLiteral("파일교체 프로그램을 찾을 수 없습니다.") + kCrLf + kCrLf + changer);
        if (openFolder)
            openFolder(exeFolder);
        return Result::End;
    }

    setChangerEnvironment(homeFolder, restartArguments);
    LaunchOptions o;
    o.mode = WindowMode::ShowMinimized;
    o.workingFolder = exeFolder;
    o.detached = true;
    QString error;
    const qint64 pid = startCommandLine(QLatin1Char('"') + changer + QStringLiteral("\" ") + programFile
                                            + QStringLiteral(";New_") + programFile,
                                        o, &error);
    if (pid <= 0) {
        // Ending now would leave nobody to replace the file or start the program.
        note(QStringLiteral("update: the file changer could not be started: ") + error);
        return Result::Continue;
    }
    note(QStringLiteral("update: %1 hands over to %2 (pid %3)").arg(waiting, changer).arg(pid));
    return Result::HandedOver;
}

AutoUpdater::Result AutoUpdater::RunAutoUpdate(bool skip)
{
    const QString proc = QStringLiteral("RunAutoUpdate");
    // The file changer restarted this program: no second hand-over in a row.
    // Read and removed at once, so that no tool of a run inherits them.
    const bool restarted = qEnvironmentVariableIsSet(kEnvUpdateFailed) || qEnvironmentVariableIsSet(kEnvUpdateReplaced);
    qunsetenv(kEnvUpdateFailed);
    qunsetenv(kEnvUpdateReplaced);

    const UpdateRules rules = UpdateRules::fromSite();
    if (const QString why = skipReason(rules); !why.isEmpty()) {
        note(QStringLiteral("update: skipped, ") + why);
        return Result::Continue;
    }
    m_rules = rules;
    const CompanionEnvironment environment(exeFolder);
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
    try {
        runChecker();
    } catch (const RhError& e) {
        reportError(e, proc);
    }

    const QString waiting = exeFolder + QStringLiteral("/New_") + programFile;
    if (!QFileInfo(waiting).isFile())
        return Result::Continue;
    if (restarted) {
        note(QStringLiteral("update: the file changer has just restarted this program; %1 waits for the next start").arg(waiting));
        return Result::Continue;
    }
    if (!waitingBuildIsGood(waiting))
        return Result::Continue;

    // A plan changes nothing, so it does not hand over either: it says so
    // and goes on to plan the release with the program that runs.
    if (journal().planning()) {
        note(QStringLiteral("update: 새 버전이 기다리고 있습니다: %1 (모의실행이므로 교체하지 않습니다)").arg(waiting));
        return Result::Continue;
    }
    return handOver(waiting);
}

bool AutoUpdater::AutoUpdaterSelfUpdate()
{
    if (m_rules.keys.isEmpty())
        m_rules = UpdateRules::fromSite();
    const QString checkerName = site().updateCheckerName;
    const QString changerName = site().updateChangerName;
    const QString localPath = checkerPath();
    const QString localRevision = companionRevision(localPath, m_rules.millisecondsLeft(5000));
    const QString versionFile = QFileInfo(checkerName).completeBaseName() + QStringLiteral("_lastver.txt");

    UpdateBaseUrl = GetUpdateBaseUrl();
    const QString text = OpenUrlText(UpdateBaseUrl + versionFile, std::min(10, m_rules.secondsLeft()));
    if (text.trimmed().isEmpty()) {
        tell(checkerName + QStringLiteral("의 최신버전 정보를 읽어올 수 없습니다!"), MsgIcon::Critical);
        return false;
    }
    const long long latest = vbRound(vbVal(text));
    const double local = vbVal(localRevision);
    if (local >= double(latest))
        return true;

    note(QStringLiteral("update: %1 revision %2 is older than the published %3")
             .arg(checkerName, localRevision, QString::number(latest)));
    const auto fileUrl = [this](const QString& name) {
        return UpdateBaseUrl + QString::fromLatin1(QUrl::toPercentEncoding(name));
    };
    // Both are checked before either is kept: a pair from one release, or
    // neither. The file changer comes with the checker and must not be older
    // than the installed one.
    StagedUpdate checker = stageUpdate(m_rules, fileUrl(checkerName), checkerName, localPath, latest, local);
    if (!checker.ok()) {
        note(QStringLiteral("update: %1; discarded, the installed one kept").arg(checker.error));
        return false;
    }
    StagedUpdate changer = stageUpdate(m_rules, fileUrl(changerName), changerName, changerPath(), -1,
                                       vbVal(companionRevision(changerPath(), m_rules.millisecondsLeft(5000))),
                                       true);
    if (!changer.ok()) {
        checker.discard();
        note(QStringLiteral("update: %1; discarded, the installed companions kept").arg(changer.error));
        return false;
    }
    QString error;
    if (!commitUpdate(checker, localPath, &error) || !commitUpdate(changer, changerPath(), &error)) {
        changer.discard();
        note(QStringLiteral("update: ") + error);
        return false;
    }
    note(QStringLiteral("update: downloaded %1 revision %2 and %3 revision %4, signatures good")
             .arg(checkerName, checker.revision, changerName, changer.revision));
    return true;
}

} // namespace rh
