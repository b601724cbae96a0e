// The version checker companion. Given "revision;file name" it asks the update
// folder for the program's latest revision ("<name without extension>_lastver.txt")
// and, when that is newer, downloads the new build into the program's folder
// (ROLLHAVEN2_EXE_FOLDER, else its own) as "New_" + file name, with its
// signature beside it ("New_<file>.minisig"), through a temporary file and a
// rename. The build is kept only with a good signature of a release key and
// when its own revision is the announced one and above the running one.
// "--revision" prints its own revision.
//
// The update folder, the keys and the limits come from the environment
// (ROLLHAVEN2_UPDATE_URL, _KEYS, _LIMITS, _CAFILE), set by the program that
// runs it.
#include "app/autoupdate.h"
#include "config/vbtext.h"
#include "net/download.h"
#include "platform/profile.h"
#include "site/sitecfg.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>
#include <QUrl>

#include <algorithm>
#include <cmath>

namespace {

enum Exit { Current = 0, Downloaded = 0, Failed = 1, Usage = 2 };

QTextStream& out()
{
    static QTextStream s(stdout);
    return s;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    const QString name = QFileInfo(app.applicationFilePath()).fileName();
    if (args.size() == 1 && args[0] == QLatin1String("--revision")) {
        out() << RH_COMPANION_REVISION << Qt::endl;
        return 0;
    }
    // "123;rollhaven2": revision and program file, one parameter text.
    const QString parameter = args.join(QLatin1Char(' '));
    const qsizetype semi = parameter.indexOf(QLatin1Char(';'));
    const QString file = semi < 0 ? QString() : parameter.mid(semi + 1).trimmed();
    if (semi < 0 || file.isEmpty() || file.contains(QLatin1Char('/')) || file == QLatin1String("..")) {
        QTextStream(stderr) << "usage: " << name << " REVISION;FILE | --revision" << Qt::endl;
        return Usage;
    }
    const double revision = rh::vbVal(parameter.left(semi));
    const QString base = qEnvironmentVariable(rh::kEnvUpdateUrl);
    if (base.isEmpty()) {
        QTextStream(stderr) << name << ": " << rh::kEnvUpdateUrl << " is not set" << Qt::endl;
        return Usage;
    }

    rh::UpdateRules rules;
    QString why;
    if (!rh::UpdateRules::fromEnvironment(&rules, &why)) {
        QTextStream(stderr) << name << ": " << why << Qt::endl;
        return Usage;
    }
    rh::SiteConfig cfg;
    cfg.httpCaFile = qEnvironmentVariable(rh::kEnvUpdateCaFile);
    rh::setSite(cfg);

    const QString lastver = base + QFileInfo(file).completeBaseName() + QStringLiteral("_lastver.txt");
    const QString text = rh::OpenUrlText(lastver, std::min(10, rules.secondsLeft()));
    if (text.trimmed().isEmpty()) {
        out() << name << ": the latest revision of " << file << " cannot be read (" << lastver << ")"
              << Qt::endl;
        return Failed;
    }
    const long long latest = rh::vbRound(rh::vbVal(text));
    if (revision >= double(latest)) {
        out() << name << ": " << file << " revision " << revision << " is current" << Qt::endl;
        return Current;
    }

    QString folder = qEnvironmentVariable(rh::kEnvExeFolder);
    if (folder.isEmpty())
        folder = QCoreApplication::applicationDirPath();
    const QString target = folder + QStringLiteral("/New_") + file;
    const QString signature = target + QStringLiteral(".minisig");
    rh::StagedUpdate staged = rh::stageUpdate(rules, base + QString::fromLatin1(QUrl::toPercentEncoding(file)), file,
                                              target, latest, revision);
    QString error = staged.error;
    // The signature first: a "New_" file never waits without one.
    if (staged.ok() && !rh::writeFileAtomically(signature, staged.signature, &error))
        staged.discard();
    if (error.isEmpty() && !rh::commitUpdate(staged, target, &error))
        QFile::remove(signature);
    if (!error.isEmpty()) {
        out() << name << ": " << error << "; nothing downloaded" << Qt::endl;
        return Failed;
    }
    out() << name << ": " << file << " revision " << revision << " -> " << staged.revision << ", downloaded "
          << QFileInfo(target).fileName() << " (signature good)" << Qt::endl;
    return Downloaded;
}
