#include "pipeline/verification.h"

#include "config/projectrow.h"
#include "db/cmysql.h"
#include "net/download.h"
#include "net/ftpsession.h"
#include "pipeline/catalogue.h"
#include "pipeline/codesigning.h"
#include "pipeline/desk.h"
#include "pipeline/distribution.h"
#include "pipeline/ftptransfer.h"
#include "pipeline/runrecord.h"
#include "platform/codepage.h"
#include "platform/drivemap.h"
#include "platform/journal.h"
#include "platform/serveraddresses.h"
#include "platform/sitecfg.h"
#include "util/fileutil.h"

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
            const SiteConfig& c = site();
            db = std::make_unique<cMySQL>();
            down = !(web ? db->real_connect(WebServerAddress(), c.webDbUser, c.webDbPassword, c.webDbName,
                                            c.webDbPort, c.webDbSocket, 0, true)
                         : db->real_connect(DBServerAddress(), c.dbUser, c.dbPassword, c.dbName, c.dbPort,
                                            c.dbSocket, 0, true));
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

    void verifyRow(int row)
    {
        const QString name = cell(ColProjectName, row);
        const QString version = cell(ColFileVersion, row);
        const bool ftpOnly = cell(ColProjectType, row) == QLatin1String("1");
        const bool test = m_desk.chkTestVer.checked;
        const bool followUps = m_desk.chkVerUpdate.checked && !test;

        const QString exe = cell(ColExePath, row);
        check(name, QStringLiteral("실행파일 버전"), version, GetFileVerText(exe, true, true));
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
            check(name, QStringLiteral(".ver 내용 ") + verName,
                  fromAnsi(versionFileContent(version, cell(ColSetupFileTime, row))), found);

            const QString code = cell(ColWorkDiaryCode, row);
            bool numeric = false;
            code.toLongLong(&numeric);
            if (m_desk.chkWriteVer.checked && numeric)
                check(name, QStringLiteral("업무일지"),
                      QStringLiteral("* [현재버전] ") + name + QStringLiteral(" → ") + version,
                      firstValue(database(false),
                                 QStringLiteral("SELECT d.note FROM diary d JOIN diary_part p ON p.diaryseq = d.seq"
                                                " WHERE p.partcode = ")
                                     + code + QStringLiteral(" ORDER BY d.seq DESC LIMIT 1")));

            const CatalogueProduct product = catalogueProduct(setup);
            if (!copyName.isEmpty() && product.number > 0)
                check(name, QStringLiteral("카탈로그"), withoutSuffix(copyName),
                      firstValue(database(true),
                                 QStringLiteral("SELECT rname FROM file_rname WHERE code = ")
                                     + QString::number(product.number)));
        }
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
