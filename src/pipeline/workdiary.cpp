// The work-diary record: one diary entry per released product, linked to the
// product code, in the in-house database.
#include "pipeline/workdiary.h"

#include "config/projectrow.h"
#include "db/cmysql.h"
#include "pipeline/desk.h"
#include "pipeline/pendingrecords.h"
#include "platform/errors.h"
#include "platform/interaction.h"
#include "site/serveraddresses.h"
#include "site/sitecfg.h"

#include <QRegularExpression>

namespace rh {
namespace {

const QString kProc = QStringLiteral("Step4");

// The product code goes into the statement without quotes, so it must be a
// plain integer; anything else would be spliced into the SQL text.
bool isIntegerCode(const QString& code)
{
    static const QRegularExpression integer(QStringLiteral("^[+-]?[0-9]+$"));
    return integer.match(code).hasMatch();
}

// The diary entries of the qualifying rows from `fromRow` on, for the pending
// file: the database could not take them now.
QList<PendingRecord> pendingDiary(const Desk& desk, int fromRow, const QString& account, int toRow = -1)
{
    QList<PendingRecord> out;
    const ProjectGrid& grid = desk.grid;
    const QDateTime now = desk.now();
    const QString run = runIdOf(desk);
    for (int row = fromRow; row <= (toRow < 0 ? grid.maxRows() : toRow); ++row) {
        const QString code = grid.text(ColWorkDiaryCode, row);
        if (!desk.releasesRow(row) || grid.text(ColProjectType, row) == QLatin1String("1")
            || !isIntegerCode(code))
            continue;
        PendingRecord r;
        r.kind = PendingRecord::Diary;
        r.run = run;
        r.date = now.date().toString(QStringLiteral("yyyy-MM-dd"));
        r.writer = account;
        r.name = grid.text(ColProjectName, row);
        r.version = grid.text(ColFileVersion, row);
        r.partCode = code;
        out.append(r);
    }
    return out;
}

} // namespace

QString runIdOf(const Desk& desk)
{
    const QDateTime t = desk.runStarted.isValid() ? desk.runStarted : desk.now();
    return t.toString(QStringLiteral("yyyyMMdd_HHmmss"));
}

bool lostDatabase(const Desk& desk)
{
    return desk.database && isDatabaseUnreachable(desk.database->err_no());
}

void showStepError(const QString& procedure, const std::exception& e)
{
    if (const auto* rhe = dynamic_cast<const RhError*>(&e))
        tell(formErrorText(rhe->number(), rhe->description(), procedure));
    else
        tell(formErrorText(err::InvalidProcedureCall, QString::fromUtf8(e.what()), procedure));
}

void CloseRecordset(RecordsetPtr& rs)
{
    if (rs && rs->state() == Recordset::adStateOpen)
        rs->close();
    rs.reset();
}

void CloseDatabase(Desk& desk)
{
    if (!desk.database)
        return;
    desk.database->free_result();
    desk.database.reset();
}

qint32 ExecuteSql(Desk& desk, const QString& sql)
{
    if (!desk.database)
        return 0;
    RecordsetPtr rs = desk.database->query(sql, false);
    const qint32 count = desk.database->affected_rows();
    CloseRecordset(rs);
    return count < 0 ? 0 : count;
}

bool OpenDatabase(Desk& desk, const QString& procedure, DatabaseKind kind)
{
    try {
        // The new session replaces (and so closes) one a failed run left behind.
        desk.database.reset();
        desk.database = std::make_unique<cMySQL>();
        return DatabaseDoor::connect(*desk.database, kind, false);
    } catch (const std::exception& e) {
        showStepError(procedure, e);
        return false;
    }
}

void attachDatabaseSession(Desk& desk)
{
    desk.closeDatabase = [&desk] { CloseDatabase(desk); };
}

bool Step4(Desk& desk)
{
    const QString account = desk.WorkDiaryId;
    if (account.isEmpty()) {
        desk.AddLog(QStringLiteral(
            "[오류] 업무일지 로그인 ID를 알 수 없습니다.(Setup.ini / [General] / 업무일지ID=xxx"));
        return false;
    }

    if (!OpenDatabase(desk, kProc, DatabaseKind::InHouse)) {
        const bool unreachable = lostDatabase(desk);
        CloseDatabase(desk);
        if (unreachable)
            keepPendingRecords(desk, pendingDiary(desk, 1, account));
        return false;
    }

    const ProjectGrid& grid = desk.grid;
    for (int row = 1; row <= grid.maxRows(); ++row) {
        const QString code = grid.text(ColWorkDiaryCode, row);
        if (!desk.releasesRow(row) || grid.text(ColProjectType, row) == QLatin1String("1")
            || code.isEmpty())
            continue;
        const QString name = grid.text(ColProjectName, row);
        const QString version = grid.text(ColFileVersion, row);
        // An unexpected error costs this row only; the step goes on.
        try {
            if (!isIntegerCode(code)) {
                desk.AddLog(QStringLiteral("[오류] ") + name
                            + QStringLiteral(" 업무일지CODE가 숫자가 아닙니다.(") + code
                            + QLatin1Char(')'));
                continue;
            }
            if (!desk.database)
                return false; // dropped by a close while the log yielded
            cMySQL& db = *desk.database;
            // Texts are escaped with the connection's rules: a quote in a
            // project name must neither break nor rewrite the statement.
            const QString master = QStringLiteral("INSERT INTO diary (writedate, writer, note, secret)")
                + QStringLiteral(" VALUES (") + QStringLiteral(" CURDATE()") + QStringLiteral(",'")
                + db.escape_string(account) + QLatin1Char('\'')
                + QStringLiteral(",'* [현재버전] ") + db.escape_string(name)
                + QStringLiteral(" → ") + db.escape_string(version) + QLatin1Char('\'')
                + QStringLiteral(", 1") + QLatin1Char(')');
            // The entry of this account, day and text is the record: a resume
            // finds it instead of writing it twice. The day is the run's own,
            // which a resume on a later day keeps.
            db.setRowCheck(QStringLiteral("SELECT seq FROM diary WHERE writedate = '")
                           + desk.now().date().toString(QStringLiteral("yyyy-MM-dd"))
                           + QStringLiteral("' AND writer = '") + db.escape_string(account) + QStringLiteral("' AND note = '* [현재버전] ")
                           + db.escape_string(name) + QStringLiteral(" → ") + db.escape_string(version)
                           + QStringLiteral("' ORDER BY seq LIMIT 1"));
            if (ExecuteSql(desk, master) == 0) {
                desk.AddLog(QStringLiteral("[오류] ") + name + QStringLiteral(" 업무일지 마스트 저장오류"));
                // A database that went away keeps this and the remaining entries for later.
                if (lostDatabase(desk)) {
                    CloseDatabase(desk);
                    keepPendingRecords(desk, pendingDiary(desk, row, account));
                }
                return false;
            }
            const qint32 id = desk.database ? desk.database->insert_id() : 0;
            if (id <= 0) {
                desk.AddLog(QStringLiteral("[오류] ") + name + QStringLiteral(" 업무일지 insert_id 오류"));
                continue;
            }
            const QString detail = QStringLiteral("INSERT INTO diary_part (diaryseq, partcode)")
                + QStringLiteral(" VALUES (") + QString::number(id) + QStringLiteral(", ") + code
                + QLatin1Char(')');
            if (desk.database)
                desk.database->setRowCheck(QStringLiteral("SELECT COUNT(*) FROM diary_part WHERE diaryseq = ")
                                           + QString::number(id) + QStringLiteral(" AND partcode = ") + code);
            if (ExecuteSql(desk, detail) > 0)
                desk.AddLog(QStringLiteral("[정상] ") + name + QStringLiteral(" 업무일지 버전기록:")
                            + version);
            else {
                desk.AddLog(QStringLiteral("[오류] ") + name + QStringLiteral(" 업무일지 디테일 저장오류"));
                // The entry is in; the kept record adds only its product link.
                if (lostDatabase(desk))
                    keepPendingRecords(desk, pendingDiary(desk, row, account, row));
            }
        } catch (const std::exception& e) {
            showStepError(kProc, e);
        }
    }
    CloseDatabase(desk);
    return true;
}

} // namespace rh
