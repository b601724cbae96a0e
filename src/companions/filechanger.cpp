// The file changer companion. Given "old;new" (file names in the program's
// folder: ROLLHAVEN2_EXE_FOLDER, else its own)
// it waits until the program has ended (its instance lock is free), keeps the
// old build as "<old>.bak", puts the new file in place of the old one by a
// rename (with the old file's mode, so it stays executable) and starts the
// program again with the arguments it had. The new file must carry a good
// minisign signature ("<new>.minisig", over the file as published under the
// old name) of a release key that the program folder's site.ini names, checked
// before the file is run for anything: a "New_" file that someone else dropped
// beside the program is never installed. A new build that is not newer than
// the old one is refused, and a "<old>.bak" newer than the old build is never
// overwritten. Whatever fails, the old program stays in place and runnable.
// The restarted program gets ROLLHAVEN2_UPDATE_REPLACED (or, after a failure,
// ROLLHAVEN2_UPDATE_FAILED) so that it never hands over twice in a row, and
// none of the updater's other variables.
//
// ROLLHAVEN2_HOME names the program folder whose lock is awaited (default: this
// folder); ROLLHAVEN2_RESTART_ARGS holds the arguments as a JSON array.
// Every step is logged to standard output and to filechanger.log in that folder.
#include "app/autoupdate.h"
#include "config/vbtext.h"
#include "net/minisign.h"
#include "site/instancelock.h"
#include "site/sitecfg.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QTextStream>
#include <QThread>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

enum Exit { Replaced = 0, Failed = 1, Usage = 2, StillRunning = 3 };

QString g_folder;

void log(const QString& line)
{
    QTextStream(stdout) << "filechanger: " << line << Qt::endl;
    QFile f(g_folder + QStringLiteral("/filechanger.log"));
    if (f.open(QIODevice::WriteOnly | QIODevice::Append))
        f.write((QDateTime::currentDateTime().toString(Qt::ISODate) + QLatin1Char(' ') + line + QLatin1Char('\n'))
                    .toUtf8());
}

bool plainName(const QString& n)
{
    return !n.isEmpty() && !n.contains(QLatin1Char('/')) && n != QLatin1String(".") && n != QLatin1String("..");
}

QString osError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

bool renameFile(const QString& from, const QString& to, QString* error)
{
    if (std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0)
        return true;
    *error = QStringLiteral("%1 -> %2: %3").arg(from, to, osError());
    return false;
}

double revisionOf(const QString& path)
{
    return rh::vbVal(rh::companionRevision(path));
}

// The old build stays beside the new one: copied first, then renamed into
// place, so a half-made backup never replaces an earlier good one. A backup
// newer than the old build (what an earlier update replaced) is kept.
bool keepBackup(const QString& old, QString* error)
{
    const QString backup = old + QStringLiteral(".bak");
    if (QFileInfo(backup).isFile() && revisionOf(backup) > revisionOf(old)) {
        log(QStringLiteral("%1 is newer than %2 and is kept").arg(backup, old));
        return true;
    }
    const QString temp = old + QStringLiteral(".bak.tmp");
    QFile::remove(temp);
    if (!QFile::copy(old, temp)) {
        *error = QStringLiteral("backup of %1 failed").arg(old);
        QFile::remove(temp);
        return false;
    }
    if (!renameFile(temp, backup, error)) {
        QFile::remove(temp);
        return false;
    }
    return true;
}

// The launcher checked the file before handing over; this is checked again
// here, against site.ini itself, whoever started the file changer.
bool signedByTheSite(const QString& home, const QString& fresh, const QString& publishedName, QString* error)
{
    const rh::SiteConfig cfg = rh::SiteConfig::load(home + QStringLiteral("/site.ini"));
    const QList<rh::MinisignKey> keys = rh::parseMinisignKeys(cfg.updatePublicKeys.join(QLatin1Char(' ')));
    if (keys.isEmpty()) {
        *error = QStringLiteral("%1/site.ini names no release key ([Update] PublicKey)").arg(home);
        return false;
    }
    QFile sig(fresh + QStringLiteral(".minisig"));
    const QByteArray signature = sig.open(QIODevice::ReadOnly) ? sig.read(4096) : QByteArray();
    const rh::MinisignCheck check = rh::verifyMinisign(fresh, signature, keys, publishedName);
    if (!check.ok)
        *error = QStringLiteral("%1 has a bad or missing signature: %2").arg(fresh, check.error);
    return check.ok;
}

bool restart(const QString& program, bool afterFailure)
{
    QStringList args;
    const QJsonArray saved = QJsonDocument::fromJson(qgetenv(rh::kEnvRestartArgs)).array();
    for (const auto& v : saved)
        args << v.toString();
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {rh::kEnvRestartArgs, rh::kEnvUpdateUrl, rh::kEnvUpdateKeys, rh::kEnvUpdateLimits,
                             rh::kEnvUpdateCaFile, rh::kEnvExeFolder, rh::kEnvChangerWait})
        env.remove(QLatin1String(name));
    env.insert(QLatin1String(afterFailure ? rh::kEnvUpdateFailed : rh::kEnvUpdateReplaced), QStringLiteral("1"));
    p.setProcessEnvironment(env);
    p.setProgram(program);
    p.setArguments(args);
    p.setWorkingDirectory(g_folder);
    qint64 pid = 0;
    if (!p.startDetached(&pid)) {
        log(QStringLiteral("could not restart %1: %2").arg(program, p.errorString()));
        return false;
    }
    log(QStringLiteral("restarted %1 (pid %2)").arg(program).arg(pid));
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    g_folder = qEnvironmentVariable(rh::kEnvExeFolder);
    if (g_folder.isEmpty())
        g_folder = QCoreApplication::applicationDirPath();
    const QStringList args = app.arguments().mid(1);
    if (args.size() == 1 && args[0] == QLatin1String("--revision")) {
        QTextStream(stdout) << RH_COMPANION_REVISION << Qt::endl;
        return 0;
    }
    const QStringList pair = args.join(QLatin1Char(' ')).split(QLatin1Char(';'));
    if (pair.size() != 2 || !plainName(pair[0].trimmed()) || !plainName(pair[1].trimmed())) {
        QTextStream(stderr) << "usage: filechanger OLD;NEW (file names in " << g_folder << ")" << Qt::endl;
        return Usage;
    }
    const QString old = g_folder + QLatin1Char('/') + pair[0].trimmed();
    const QString fresh = g_folder + QLatin1Char('/') + pair[1].trimmed();
    QString home = qEnvironmentVariable(rh::kEnvHome);
    if (home.isEmpty())
        home = g_folder;

    // The program ends right after starting us; give it time to go, but never
    // replace the file under a program that keeps running.
    bool waitOk = false;
    const int waitSec = qEnvironmentVariableIntValue(rh::kEnvChangerWait, &waitOk);
    QDeadlineTimer deadline(qint64(waitOk && waitSec > 0 ? waitSec : 60) * 1000);
    while (!rh::InstanceLock::isFree(home)) {
        if (deadline.hasExpired()) {
            log(QStringLiteral("%1 is still running; nothing replaced").arg(old));
            return StillRunning;
        }
        QThread::msleep(50);
    }

    QString error;
    const QFileInfo freshInfo(fresh);
    bool ok = true;
    if (!freshInfo.isFile() || freshInfo.size() == 0) {
        error = QStringLiteral("%1 is missing or empty").arg(fresh);
        ok = false;
    }
    if (ok && !signedByTheSite(home, fresh, pair[0].trimmed(), &error)) {
        QFile::remove(fresh);
        QFile::remove(fresh + QStringLiteral(".minisig"));
        ok = false;
    }
    const bool hadOld = QFileInfo(old).isFile();
    if (ok && hadOld) {
        const QString freshRevision = rh::companionRevision(fresh);
        const QString oldRevision = rh::companionRevision(old);
        if (rh::vbVal(freshRevision) <= rh::vbVal(oldRevision)) {
            error = QStringLiteral("%1 (revision %2) is not newer than %3 (revision %4)")
                        .arg(fresh, freshRevision, old, oldRevision);
            QFile::remove(fresh);
            QFile::remove(fresh + QStringLiteral(".minisig"));
            ok = false;
        }
    }
    if (ok && hadOld)
        ok = keepBackup(old, &error);
    if (ok) {
        const QFileDevice::Permissions mode = hadOld ? QFile::permissions(old)
            : QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner | QFileDevice::ReadGroup
                | QFileDevice::ExeGroup | QFileDevice::ReadOther | QFileDevice::ExeOther;
        if (!QFile::setPermissions(fresh, mode)) {
            error = QStringLiteral("cannot set the mode of %1").arg(fresh);
            ok = false;
        }
    }
    if (ok)
        ok = renameFile(fresh, old, &error);

    if (!ok) {
        log(QStringLiteral("replacing %1 failed, the old program stays: %2").arg(old, error));
        if (hadOld)
            restart(old, true);
        return Failed;
    }
    QFile::remove(fresh + QStringLiteral(".minisig"));
    log(QStringLiteral("%1 replaced by %2, previous build kept as %3")
            .arg(old, QFileInfo(fresh).fileName(), QFileInfo(old).fileName() + QStringLiteral(".bak")));
    return restart(old, false) ? Replaced : Failed;
}
