#include "pipeline/resume.h"

#include "config/projectrow.h"
#include "net/ftpsession.h"
#include "pipeline/codesigning.h"
#include "pipeline/desk.h"
#include "platform/drivemap.h"
#include "platform/interaction.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QSet>

#include <memory>

namespace rh {
namespace {

const char kJournalSuffix[] = ".journal.jsonl";

QString nameOf(const QString& journalPath)
{
    const QString file = QFileInfo(journalPath).fileName();
    return file.left(file.size() - int(qstrlen(kJournalSuffix)));
}

struct Known {
    QString path;
    JournalFile file;
};

// The folder's journals in start order.
QList<Known> journals(const QString& logsFolder)
{
    QList<Known> out;
    const QDir dir(logsFolder);
    for (const QString& name : dir.entryList({QStringLiteral("run_*") + QLatin1String(kJournalSuffix)}, QDir::Files,
                                             QDir::Name)) {
        Known k;
        k.path = dir.filePath(name);
        if (readJournalFile(k.path, &k.file))
            out.append(k);
    }
    return out;
}

// Runs whose later run says it resumes them.
QSet<QString> resumedNames(const QList<Known>& all)
{
    QSet<QString> out;
    for (const Known& k : all) {
        const QString r = k.file.run.value(QStringLiteral("resumes")).toString();
        if (!r.isEmpty())
            out.insert(r);
    }
    return out;
}

// The FTP server's word on remote sizes, on a session of its own: the run's
// session is busy with the transfer that asks.
class RemoteLook {
public:
    std::optional<qint64> size(const QString& remote)
    {
        if (!m_session) {
            m_session = std::make_unique<FtpSession>();
            m_down = !m_session->connect(FtpLogin::fromSite()).ok();
        }
        if (m_down)
            return std::nullopt;
        FtpFileInfo info;
        if (!m_session->lookup(remote, &info).ok())
            return std::nullopt;
        return info.exists ? info.size : -1;
    }
    ~RemoteLook()
    {
        if (m_session && !m_down)
            m_session->disconnect();
    }

private:
    std::unique_ptr<FtpSession> m_session;
    bool m_down = false;
};

} // namespace

bool isResumable(const JournalFile& f)
{
    if (f.run.isEmpty() || f.run.value(QStringLiteral("options")).toObject().value(QStringLiteral("dryRun")).toBool())
        return false;
    const QString result = f.end.value(QStringLiteral("result")).toString();
    return f.end.isEmpty() || (result != QLatin1String("finished") && result != QLatin1String("refused"));
}

QStringList resumableRuns(const QString& logsFolder)
{
    QStringList out;
    for (const Known& k : journals(logsFolder))
        if (isResumable(k.file))
            out << nameOf(k.path);
    return out;
}

std::optional<ResumeSource> findResumeSource(const QString& logsFolder, const QString& run, QString* error)
{
    ResumeSource src;
    if (!run.isEmpty()) {
        QStringList candidates{run, logsFolder + QLatin1Char('/') + run + QLatin1String(kJournalSuffix),
                               logsFolder + QStringLiteral("/run_") + run + QLatin1String(kJournalSuffix)};
        if (run.endsWith(QStringLiteral(".log")) || run.endsWith(QStringLiteral(".json")))
            candidates.prepend(run.left(run.lastIndexOf(QLatin1Char('.'))) + QLatin1String(kJournalSuffix));
        for (const QString& c : candidates) {
            if (c.endsWith(QLatin1String(kJournalSuffix)) && QFileInfo(c).isFile()) {
                src.journalPath = c;
                break;
            }
        }
        if (src.journalPath.isEmpty() || !readJournalFile(src.journalPath, &src.file)) {
            *error = QStringLiteral("이어할 실행을 찾을 수 없습니다: ") + run;
            return std::nullopt;
        }
        if (!isResumable(src.file)) {
            *error = QStringLiteral("이어할 일이 없는 실행입니다(끝났거나, 거부되었거나, 모의실행): ") + run;
            return std::nullopt;
        }
        src.name = nameOf(src.journalPath);
        return src;
    }
    const QList<Known> all = journals(logsFolder);
    const QSet<QString> resumed = resumedNames(all);
    for (qsizetype i = all.size() - 1; i >= 0; --i) {
        if (!isResumable(all[i].file) || resumed.contains(nameOf(all[i].path)))
            continue;
        src.journalPath = all[i].path;
        src.file = all[i].file;
        src.name = nameOf(src.journalPath);
        return src;
    }
    *error = QStringLiteral("이어할 실행이 없습니다: ") + logsFolder;
    return std::nullopt;
}

void setResumeClock(Desk& desk, const ResumeSource& src)
{
    const QDate day = QDateTime::fromString(src.file.run.value(QStringLiteral("start")).toString(), Qt::ISODate).date();
    if (!day.isValid())
        return;
    const qint64 offset = QDate::currentDate().daysTo(day);
    desk.now = [offset] { return QDateTime::currentDateTime().addDays(offset); };
}

bool applyResume(Desk& desk, const ResumeSource& src, QString* error)
{
    const QJsonObject& run = src.file.run;
    const QString setup = run.value(QStringLiteral("setup")).toString();
    const int idx = int(desk.setupNames.indexOf(QFileInfo(setup).fileName()));
    if (idx < 0) {
        *error = QStringLiteral("이어할 실행의 설정파일을 찾을 수 없습니다: ") + setup;
        return false;
    }
    if (idx != desk.setupIndex)
        desk.chooseSetup(idx);

    const QJsonObject options = run.value(QStringLiteral("options")).toObject();
    const QStringList modes{QStringLiteral("friday"), QStringLiteral("tuesday"), QStringLiteral("now")};
    const int mode = int(modes.indexOf(options.value(QStringLiteral("mode")).toString()));
    if (mode >= 0)
        desk.optWeekClick(mode);
    const bool test = options.value(QStringLiteral("testVersion")).toBool();
    if (desk.chkTestVer.checked != test)
        desk.setTestVersion(test);
    desk.chkPatchOnly.checked = options.value(QStringLiteral("patchOnly")).toBool();
    desk.chkWriteVer.checked = options.value(QStringLiteral("writeVer")).toBool();
    desk.chkVerUpdate.checked = options.value(QStringLiteral("verUpdate")).toBool();
    desk.chkEndUnload.checked = options.value(QStringLiteral("closeAfter")).toBool();
    desk.chkFTPAutoRemove.checked = options.value(QStringLiteral("ftpAutoRemove")).toBool();
    static const char* const kStepKeys[6] = {"compile", "setup", "distribute", "run", "buildsign", "setupsign"};
    const QJsonObject steps = options.value(QStringLiteral("steps")).toObject();
    for (int k = 0; k < 6; ++k) {
        const bool on = steps.value(QLatin1String(kStepKeys[k])).toBool();
        if (desk.chkStep[size_t(k)].checked != on)
            desk.setStep(k, on);
    }

    desk.chkAllClick(false);
    for (const QJsonValue& v : run.value(QStringLiteral("selection")).toArray()) {
        const QJsonObject s = v.toObject();
        const int row = s.value(QStringLiteral("row")).toInt();
        const QString project = s.value(QStringLiteral("project")).toString();
        if (row < 1 || row > desk.grid.maxRows()
            || desk.grid.text(ColSectionKey, row) != s.value(QStringLiteral("section")).toString()
            || desk.grid.text(ColProjectName, row) != project) {
            *error = QStringLiteral("이어할 실행의 프로젝트가 설정파일에서 바뀌었습니다: ") + project;
            return false;
        }
        desk.setTicked(row, true);
    }

    const QStringList wanted = options.value(QStringLiteral("destinations")).toVariant().toStringList();
    for (const QString& d : wanted) {
        if (!desk.lstDest.items.contains(d)) {
            *error = QStringLiteral("이어할 실행의 전송목적지가 설정파일에 없습니다: ") + d;
            return false;
        }
    }
    for (int i = 0; i < desk.lstDest.items.size(); ++i)
        desk.lstDest.selected[i] = wanted.contains(desk.lstDest.items[i]);
    return true;
}

QStringList foreignPublicFiles(const QList<JournalEntry>& earlier,
                               const std::function<std::optional<qint64>(const QString&)>& remoteSize)
{
    QStringList out;
    for (qsizetype i = 0; i < earlier.size(); ++i) {
        const JournalEntry& e = earlier[i];
        if (e.planned || (e.kind != EffectKind::FileRename && e.kind != EffectKind::FtpRename))
            continue;
        // The "_2" file this run put there, and the public name it became.
        const EffectKind made = e.kind == EffectKind::FileRename ? EffectKind::FileCopy : EffectKind::FtpUpload;
        const JournalEntry* source = nullptr;
        for (qsizetype j = i - 1; j >= 0 && !source; --j)
            if (earlier[j].kind == made && !earlier[j].planned && earlier[j].target == e.target)
                source = &earlier[j];
        if (!source)
            continue;
        if (e.kind == EffectKind::FileRename) {
            if (!QFileInfo(e.detail).isFile())
                continue;
            const QString there = fileDigest(e.detail);
            if (there != fileDigest(source->detail) && there != source->sha256 && there != e.beforeSha256)
                out << e.detail;
            continue;
        }
        const std::optional<qint64> size = remoteSize ? remoteSize(e.detail) : std::nullopt;
        if (!size || *size < 0)
            continue;
        const QFileInfo local(source->detail);
        const qint64 mine = source->detail.startsWith(QLatin1Char('/')) && local.isFile() ? local.size() : source->size;
        if (*size != mine && *size != source->size && *size != e.beforeSize)
            out << QStringLiteral("FTP ") + e.detail;
    }
    return out;
}

void armResume(Desk& desk, const ResumeSource& src)
{
    desk.resumes = src.name;
    auto remote = std::make_shared<RemoteLook>();
    journal().holdEarlier(src.file.entries, !src.file.end.isEmpty());
    // The signing station answers a file in its unsigned folder with its
    // namesake in the signed folder.
    journal().handedBackAs = [](const QString& path) {
        const QFileInfo given(path);
        if (QDir::cleanPath(given.absolutePath()) != QDir::cleanPath(nativePath(signingUnsignedFolder())))
            return QString();
        return QDir::cleanPath(nativePath(signingSignedFolder())) + QLatin1Char('/') + given.fileName();
    };
    journal().remoteSize = [remote](const QString& path) { return remote->size(path); };
    journal().onDone = [&desk](const JournalEntry& e) {
        desk.AddLog(QStringLiteral("이미 완료: ") + effectKindLabel(e.kind) + QLatin1Char(' ') + e.target);
    };
    const QString name = src.name;
    desk.steps.preflight = [&desk, name, remote] {
        desk.AddLog(QStringLiteral("이어하기: ") + name + QStringLiteral(" 실행을 이어서 합니다."));
        const QStringList foreign = foreignPublicFiles(journal().earlier(),
                                                       [remote](const QString& p) { return remote->size(p); });
        if (foreign.isEmpty())
            return true;
        // Someone else's file is on a public name: what to publish there is
        // not this program's call. Nothing has been changed.
        tell(QStringLiteral("이어하기를 멈춥니다: 공개된 파일이 이번 실행의 것도, 실행 전의 것도 아닙니다.\r\n")
                 + foreign.join(QStringLiteral("\r\n")),
             MsgIcon::Critical);
        return false;
    };
}

void disarmResume(Desk& desk)
{
    desk.resumes.clear();
    desk.steps.preflight = nullptr;
    if (!journal().active())
        journal().end();
}

} // namespace rh
