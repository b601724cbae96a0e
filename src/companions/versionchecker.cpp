// The version checker companion. Given "revision;file name" it asks the update
// folder for the program's latest revision ("<name without extension>_lastver.txt")
// and, when that is newer, downloads the new build into the program's folder
// (ROLLHAVEN2_EXE_FOLDER, else its own) as "New_" + file name (through a temporary file and a rename, checked against a
// published "<file>.sha256"). "--revision" prints its own revision.
//
// The update folder comes from ROLLHAVEN2_UPDATE_URL, set by the program that
// runs it; ROLLHAVEN2_UPDATE_DIGEST=required refuses downloads without a digest.
#include "app/autoupdate.h"
#include "config/vbtext.h"
#include "net/download.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QTextStream>
#include <QUrl>

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

    const QString lastver = base + QFileInfo(file).completeBaseName() + QStringLiteral("_lastver.txt");
    const QString text = rh::OpenUrlText(lastver);
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
    const bool require = qEnvironmentVariable(rh::kEnvUpdateDigest) == QLatin1String("required");
    const rh::DownloadResult r = rh::downloadVerified(
        base + QString::fromLatin1(QUrl::toPercentEncoding(file)), target, require, true);
    if (!r.ok) {
        out() << name << ": " << r.error << Qt::endl;
        return Failed;
    }
    out() << name << ": " << file << " revision " << revision << " -> " << latest << ", downloaded "
          << QFileInfo(target).fileName() << " (SHA-256 " << r.digest << ")" << Qt::endl;
    return Downloaded;
}
