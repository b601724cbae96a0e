#include "pipeline/verification.h"

#include "config/projectrow.h"
#include "db/cmysql.h"
#include "net/download.h"
#include "net/ftpsession.h"
#include "pipeline/catalogue.h"
#include "pipeline/codesigning.h"
#include "pipeline/databases.h"
#include "pipeline/desk.h"
#include "pipeline/distribution.h"
#include "pipeline/ftptransfer.h"
#include "pipeline/runrecord.h"
#include "platform/codepage.h"
#include "platform/drivemap.h"
#include "platform/journal.h"
#include "site/serveraddresses.h"
#include "site/sitecfg.h"
#include "util/fileutil.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonObject>
#include <QVersionNumber>

#include <memory>

namespace rh {
namespace {

const QString kSuffix = QStringLiteral("_2");

QString withoutSuffix(QString name)
{
    name.remove(kSuffix, Qt::CaseSensitive);
    return name;
}

// Builders write four-part versions: 1.612.31.0 is the program's 1.612.31.
bool sameVersion(const QString& a, const QString& b)
{
    qsizetype endA = 0, endB = 0;
    const QVersionNumber va = QVersionNumber::fromString(a, &endA);
    const QVersionNumber vb = QVersionNumber::fromString(b, &endB);
    if (va.isNull() || vb.isNull() || endA != a.size() || endB != b.size())
        return a == b;
    return va.normalized() == vb.normalized();
}

// The version the project file sets for its build (MajorVer, MinorVer,
// RevisionVer: what the version-up wrote and the compiler reads), as
// "major.minor.revision"; empty without a project file or its versions.
QString projectFileVersion(const QString& vbpWindowsPath)
{
    const QString native = nativePath(vbpWindowsPath);
    QFile f(native);
    if (vbpWindowsPath.isEmpty() || native.isEmpty() || !f.open(QIODevice::ReadOnly))
        return QString();
    QHash<QByteArray, QByteArray> fields;
    for (QByteArray line : f.readAll().split('\n')) {
        line = line.trimmed();
        const qsizetype eq = line.indexOf('=');
        if (eq > 0 && !fields.contains(line.left(eq).trimmed()))
            fields.insert(line.left(eq).trimmed(), line.mid(eq + 1).trimmed());
    }
    bool okMajor = false, okMinor = false, okRevision = true;
    const int major = fields.value("MajorVer").toInt(&okMajor);
    const int minor = fields.value("MinorVer").toInt(&okMinor);
    const int revision = fields.contains("RevisionVer") ? fields.value("RevisionVer").toInt(&okRevision) : 0;
    if (!okMajor || !okMinor || !okRevision)
        return QString();
    return QStringLiteral("%1.%2.%3").arg(major).arg(minor).arg(revision);
}

// The development environment writes major.minor.revision as "1.05.0031" in
// the version text and 1.5.0.31 as the four-part number: both are a build of
// project version 1.5.31.
bool builtFrom(const QString& projectVersion, const QString& exeVersion)
{
    auto numbers = [](const QString& text) {
        QList<int> out;
        for (const QString& part : text.split(QLatin1Char('.'))) {
            bool ok = false;
            out.append(part.toInt(&ok));
            if (!ok || part.isEmpty())
                return QList<int>();
        }
        return out;
    };
    const QList<int> want = numbers(projectVersion), got = numbers(exeVersion);
    if (want.size() != 3 || got.isEmpty())
        return false;
    return got == want || got == QList<int>{want[0], want[1], 0, want[2]};
}

class Verifier {
public:
    explicit Verifier(Desk& desk) : m_desk(desk), m_certificates(signingCertificatesFromSite()) {}

    VerificationResult run()
    {
        m_desk.AddLog(QString());
        m_desk.AddLog(QStringLiteral("검증 결과: 프로젝트 | 항목 | 기대값 | 실제값"));
        for (int row = 1; row <= m_desk.grid.maxRows(); ++row) {
            if (!m_desk.isTicked(row) || cell(ColFileVersion, row).isEmpty())
                continue; // not released: nothing to agree with
            if (m_desk.failedUploads.contains(row))
                verifyWithheld(row, QStringLiteral("FTP 전송 실패"));
            else
                verifyRow(row);
        }
        verifyUploads();
        return std::move(m_result);
    }

private:
    QString cell(int col, int row) const { return m_desk.grid.text(col, row); }

    void check(const QString& project, const QString& what, const QString& expected, const QString& found)
    {
        check(project, what, expected, found, expected == found);
    }

    // A row of a product this run did not release: shown, never a disagreement.
    void excluded(const QString& project, const QString& what, const QString& reason)
    {
        m_result.checks.append(QJsonObject{{QStringLiteral("project"), project},
                                           {QStringLiteral("check"), what},
                                           {QStringLiteral("expected"), QStringLiteral("제외")},
                                           {QStringLiteral("found"), reason},
                                           {QStringLiteral("ok"), true},
                                           {QStringLiteral("excluded"), true}});
        m_desk.AddLog(QStringLiteral("  ") + project + QStringLiteral(" | ") + what + QStringLiteral(" | 제외 | ")
                      + reason);
    }

    void check(const QString& project, const QString& what, const QString& expected, const QString& found,
               bool ok)
    {
        m_result.checks.append(QJsonObject{{QStringLiteral("project"), project},
                                           {QStringLiteral("check"), what},
                                           {QStringLiteral("expected"), expected},
                                           {QStringLiteral("found"), found},
                                           {QStringLiteral("ok"), ok}});
        m_desk.AddLog(QStringLiteral("  ") + project + QStringLiteral(" | ") + what + QStringLiteral(" | ") + expected
                      + QStringLiteral(" | ") + found + (ok ? QStringLiteral(" | 일치") : QStringLiteral(" | 불일치")));
        if (!ok) {
            m_result.ok = false;
            m_desk.AddLog(QStringLiteral("[오류] ") + project + QLatin1Char(' ') + what + QStringLiteral(" 불일치: 기대값 ")
                          + expected + QStringLiteral(", 실제값 ") + found);
        }
    }

    // SHA-256 once per file.
    QString digest(const QString& native)
    {
        auto it = m_digests.constFind(native);
        if (it != m_digests.cend())
            return it.value();
        const QString d = fileSha256(native);
        m_digests.insert(native, d);
        return d;
    }

    // Where the journal says a local file went: copies and uploads of it,
    // followed through later renames.
    QStringList landed(const QString& native) const
    {
        QStringList out;
        const QList<JournalEntry>& entries = journal().entries();
        for (qsizetype i = 0; i < entries.size(); ++i) {
            const JournalEntry& e = entries[i];
            if ((e.kind != EffectKind::FileCopy && e.kind != EffectKind::FtpUpload) || e.detail != native)
                continue;
            QString where = e.target;
            const EffectKind rename = e.kind == EffectKind::FileCopy ? EffectKind::FileRename : EffectKind::FtpRename;
            for (qsizetype k = i + 1; k < entries.size(); ++k)
                if (entries[k].kind == rename && entries[k].target == where)
                    where = entries[k].detail;
            out << (e.kind == EffectKind::FtpUpload ? QStringLiteral("ftp:") + where : where);
        }
        return out;
    }

    // A file this run had signed: who signed what is published, and whether
    // that chains to the site's certificates.
    void signature(const QString& project, const QString& windowsPath, int step)
    {
        if (!m_desk.chkStep[size_t(step)].checked || m_certificates.isEmpty() || windowsPath.isEmpty()
            || journal().planning())
            return;
        const QString native = nativePath(windowsPath);
        if (native.isEmpty() || !QFileInfo(native).isFile())
            return;
        const SignatureCheck s = checkAuthenticode(native, m_certificates);
        check(project, QStringLiteral("서명 ") + fileNameOf(windowsPath), QStringLiteral("[Signing] Certificate"),
              (s.signer.isEmpty() ? QString() : s.signer + QStringLiteral(": ")) + s.found, s.ok);
    }

    void artefact(const QString& project, const QString& windowsPath, bool versioned)
    {
        const QString native = nativePath(windowsPath);
        if (native.isEmpty() || !QFileInfo(native).isFile())
            return;
        QJsonObject a{{QStringLiteral("project"), project},
                      {QStringLiteral("path"), windowsPath},
                      {QStringLiteral("size"), double(QFileInfo(native).size())},
                      {QStringLiteral("sha256"), digest(native)},
                      {QStringLiteral("landed"), QJsonArray::fromStringList(landed(native))}};
        if (versioned)
            a.insert(QStringLiteral("version"), GetFileVerText(windowsPath, true, true));
        m_result.artefacts.append(a);
    }

    FtpSession* ftp()
    {
        if (!m_ftp) {
            m_ftp = std::make_unique<FtpSession>();
            if (!m_ftp->connect(FtpLogin::fromSite()).ok())
                m_ftpDown = true;
        }
        return m_ftpDown ? nullptr : m_ftp.get();
    }

    // The work diary's (web false) or the catalogue's database; null when it
    // cannot be reached.
    cMySQL* database(bool web)
    {
        std::unique_ptr<cMySQL>& db = web ? m_web : m_diary;
        bool& down = web ? m_webDown : m_diaryDown;
        if (!db && !down) {
            db = DatabaseDoor::open(web ? DatabaseKind::WebHost : DatabaseKind::InHouse, true);
            down = !db;
        }
        return down ? nullptr : db.get();
    }

    QString firstValue(cMySQL* db, const QString& sql)
    {
        if (!db)
            return QStringLiteral("(데이터베이스 접속 실패)");
        RecordsetPtr rs = db->query(sql, true);
        if (!rs || rs->isEOF())
            return QStringLiteral("(없음)");
        return rs->value(0);
    }

    // How many of this run's journal entries of a kind name `text` (SQL
    // texts, remote paths); steps that go through rows without a cursor
    // leave the project empty, so the text decides.
    static int journaled(EffectKind kind, const QString& start, const QString& text)
    {
        int n = 0;
        for (const JournalEntry& e : journal().entries())
            if (e.kind == kind && e.target.startsWith(start, Qt::CaseInsensitive) && e.target.contains(text))
                ++n;
        return n;
    }
    static QString diaryNote(const QString& name) { return QStringLiteral("* [현재버전] ") + name + QStringLiteral(" → "); }

    // A product held back: its rows say so, and what is checked instead is
    // that nothing of it went public in this run.
    void verifyWithheld(int row, const QString& reason)
    {
        const QString name = cell(ColProjectName, row);
        excluded(name, QStringLiteral("배포"), reason);
        int renamed = 0;
        for (const QString& file : {cell(ColISResult1File, row), cell(ColISResult2File, row), cell(ColLocalCopyPath, row)})
            if (!file.isEmpty()) {
                renamed += journaled(EffectKind::FtpRename, QString(), QLatin1Char('/') + file);
                m_withheld.insert(file, name + QLatin1Char('\n') + reason);
            }
        check(name, QStringLiteral("공개 이름 변경 없음"), QStringLiteral("0건"), QString::number(renamed) + QStringLiteral("건"));
        const QString copy = withoutSuffix(cell(ColLocalCopyPath, row));
        const int recorded = journaled(EffectKind::Sql, QStringLiteral("INSERT INTO diary"), diaryNote(name))
            + (copy.isEmpty() ? 0 : journaled(EffectKind::Sql, QStringLiteral("UPDATE file_rname"), copy));
        check(name, QStringLiteral("업무일지·카탈로그 기록 없음"), QStringLiteral("0건"),
              QString::number(recorded) + QStringLiteral("건"));
    }

    // The name a local file ended with on the FTP server, by this run's journal.
    QString publicFtpName(const QString& native) const
    {
        for (const QString& where : landed(native))
            if (where.startsWith(QStringLiteral("ftp:")))
                return where.mid(where.lastIndexOf(QLatin1Char('/')) + 1);
        return QString();
    }

    void verifyRow(int row)
    {
        const QString name = cell(ColProjectName, row);
        const QString version = cell(ColFileVersion, row);
        const bool ftpOnly = cell(ColProjectType, row) == QLatin1String("1");
        const bool test = m_desk.chkTestVer.checked;
        const bool followUps = m_desk.chkVerUpdate.checked && !test;

        // The executable against the project file it is built from, not
        // against the grid cell the distribution read from the executable.
        const QString exe = cell(ColExePath, row);
        const QString projectVersion = projectFileVersion(cell(ColVbpPath, row));
        const QString exeVersion = GetFileVerText(exe, true, true);
        check(name, QStringLiteral("실행파일 버전"),
              projectVersion.isEmpty() ? QStringLiteral("(프로젝트 파일 버전 없음)") : projectVersion, exeVersion,
              builtFrom(projectVersion, exeVersion));
        artefact(name, exe, true);
        signature(name, exe, StepBuildSign);
        if (!m_desk.chkPatchOnly.checked)
            signature(name, cell(ColISResult1, row), StepSetupSign);
        signature(name, cell(ColPatchResultPath, row), StepSetupSign);

        if (!m_desk.chkPatchOnly.checked) {
            for (int col : {ColISResult1, ColISResult2}) {
                const QString setup = cell(col, row);
                if (setup.isEmpty())
                    continue;
                const QString setupVersion = GetFileVerText(setup, true, true);
                check(name, QStringLiteral("셋업 버전 ") + fileNameOf(setup), version, setupVersion,
                      sameVersion(version, setupVersion));
                artefact(name, setup, true);
            }
        }
        if (!cell(ColPatchResultPath, row).isEmpty())
            artefact(name, cell(ColPatchResultPath, row), false);
        const QString copyName = cell(ColLocalCopyPath, row);
        if (!copyName.isEmpty())
            artefact(name, localSetupFolder() + copyName, true);

        // The official copy on the file server is the setup, byte for byte.
        const QString setup = cell(ColISResult1, row);
        if (!test && !ftpOnly && !setup.isEmpty()) {
            const QString official = officialVersionFolder() + QLatin1Char('\\')
                + officialSetupName(cell(ColISResult1File, row), version, cell(ColSetupFileTime, row));
            const QString there = nativePath(official);
            check(name, QStringLiteral("정식버전 파일 ") + fileNameOf(official),
                  QStringLiteral("SHA-256 ") + digest(nativePath(setup)).left(16),
                  QFileInfo(there).isFile() ? QStringLiteral("SHA-256 ") + digest(there).left(16)
                                            : QStringLiteral("(없음)"));
        }

        if (followUps && !ftpOnly) {
            // The version file, under its public name once renamed.
            QString verName = cell(ColISResult1File, row);
            verName.replace(QStringLiteral(".exe"), QStringLiteral(".ver"), Qt::CaseSensitive);
            if (m_desk.chkFTPAutoRemove.checked)
                verName = withoutSuffix(verName);
            QString found = QStringLiteral("(FTP 접속 실패)");
            if (FtpSession* s = ftp()) {
                QByteArray bytes;
                found = s->download(QString::fromLatin1(kFtpVersionsFolder) + verName, &bytes).ok()
                    ? fromAnsi(bytes)
                    : QStringLiteral("(없음)");
            }
            // Formatted here from the cell the run wrote, not by the writer's own helper.
            const QString setupTime = cell(ColSetupFileTime, row);
            const QDateTime built = QDateTime::fromString(setupTime, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
            check(name, QStringLiteral(".ver 내용 ") + verName,
                  version + QLatin1Char(';')
                      + (built.isValid() ? built.toString(QStringLiteral("yyMMdd_HHmm")) : setupTime),
                  found);

            const QString code = cell(ColWorkDiaryCode, row);
            bool numeric = false;
            code.toLongLong(&numeric);
            // The entry carries the server's date of its writing; a resume
            // may have found the one its earlier run wrote on that run's day.
            const QString diaryDay = m_desk.resumes.isEmpty()
                ? QStringLiteral(" AND d.writedate = CURDATE()")
                : QStringLiteral(" AND d.writedate IN (CURDATE(), '")
                    + m_desk.now().date().toString(QStringLiteral("yyyy-MM-dd")) + QStringLiteral("')");
            // Today's row only, and only when this run wrote one: an earlier
            // run's row does not stand for this one.
            if (m_desk.chkWriteVer.checked && numeric)
                check(name, QStringLiteral("업무일지"),
                      QStringLiteral("* [현재버전] ") + name + QStringLiteral(" → ") + version,
                      journaled(EffectKind::Sql, QStringLiteral("INSERT INTO diary"), diaryNote(name)) == 0
                          ? QStringLiteral("(이번 실행의 기록 없음)")
                          : firstValue(database(false),
                                       QStringLiteral("SELECT d.note FROM diary d JOIN diary_part p ON p.diaryseq = d.seq"
                                                      " WHERE p.partcode = ")
                                           + code
                                           + diaryDay + QStringLiteral(" ORDER BY d.seq DESC LIMIT 1")));

            const CatalogueProduct product = catalogueProduct(setup);
            // The catalogue names the file the server lists, as the run's
            // uploads and renames left it.
            const QString copy = nativePath(localSetupFolder() + copyName);
            if (!copyName.isEmpty() && product.number > 0)
                check(name, QStringLiteral("카탈로그"), onServer(copy, publicFtpName(copy)),
                      firstValue(database(true),
                                 QStringLiteral("SELECT rname FROM file_rname WHERE code = ")
                                     + QString::number(product.number)));
        }
    }

    // The name when the server's listing shows the file under it with the
    // local copy's size.
    QString onServer(const QString& native, const QString& fileName)
    {
        if (fileName.isEmpty())
            return QStringLiteral("(이번 실행의 전송 없음)");
        FtpSession* s = ftp();
        FtpFileInfo info;
        if (!s || !s->listed(QString::fromLatin1(kFtpDownloadFolder) + fileName, &info).ok() || !info.exists)
            return QStringLiteral("(서버에 없음) ") + fileName;
        const qint64 size = QFileInfo(native).size();
        if (info.size >= 0 && info.size != size)
            return QStringLiteral("(서버 크기 %1, 파일 크기 %2) ").arg(info.size).arg(size) + fileName;
        // A name still carrying "_2" waits for the FTP clean-up; the
        // catalogue already names what it will be.
        return withoutSuffix(fileName);
    }

    // Every upload of the run has its local size on the server, under the
    // name it ended with.
    void verifyUploads()
    {
        const QList<JournalEntry>& entries = journal().entries();
        for (qsizetype i = 0; i < entries.size(); ++i) {
            const JournalEntry& e = entries[i];
            if (e.kind != EffectKind::FtpUpload || e.size < 0)
                continue;
            QString where = e.target;
            for (qsizetype k = i + 1; k < entries.size(); ++k)
                if (entries[k].kind == EffectKind::FtpRename && entries[k].target == where)
                    where = entries[k].detail;
            // The cut-off upload of a product held back is no disagreement.
            const QString withheld = m_withheld.value(where.mid(where.lastIndexOf(QLatin1Char('/')) + 1));
            if (!withheld.isEmpty()) {
                excluded(withheld.section(QLatin1Char('\n'), 0, 0), QStringLiteral("FTP 크기 ") + where,
                         withheld.section(QLatin1Char('\n'), 1));
                continue;
            }
            QString found = QStringLiteral("(FTP 접속 실패)");
            if (FtpSession* s = ftp()) {
                FtpFileInfo info;
                found = !s->lookup(where, &info).ok() ? QStringLiteral("(확인 실패)")
                    : info.exists                     ? QString::number(info.size) + QStringLiteral(" bytes")
                                                      : QStringLiteral("(없음)");
            }
            check(e.project.isEmpty() ? QStringLiteral("-") : e.project, QStringLiteral("FTP 크기 ") + where,
                  QString::number(e.size) + QStringLiteral(" bytes"), found);
        }
        if (m_ftp)
            m_ftp->disconnect();
    }

    static QString fileNameOf(const QString& windowsPath)
    {
        return windowsPath.mid(windowsPath.lastIndexOf(QLatin1Char('\\')) + 1);
    }

    Desk& m_desk;
    QStringList m_certificates;
    VerificationResult m_result;
    QHash<QString, QString> m_digests;
    QHash<QString, QString> m_withheld; // remote file name -> project + "\n" + reason
    std::unique_ptr<FtpSession> m_ftp;
    bool m_ftpDown = false;
    std::unique_ptr<cMySQL> m_diary, m_web;
    bool m_diaryDown = false, m_webDown = false;
};

} // namespace

VerificationResult VerifyRelease(Desk& desk)
{
    return Verifier(desk).run();
}

} // namespace rh
