#include "pipeline/pendingrecords.h"

#include "db/cmysql.h"
#include "pipeline/databases.h"
#include "pipeline/desk.h"
#include "site/apphome.h"
#include "platform/profile.h"
#include "site/sitecfg.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <memory>
#include <span>

namespace rh {
namespace {

const QString kFormat = QStringLiteral("rollhaven2-pending-records");

// The file's fields of each kind: one table for writing and reading.
struct Field {
    const char* key;
    QString PendingRecord::*text = nullptr;
    int PendingRecord::*number = nullptr;
    bool PendingRecord::*flag = nullptr;
};
const Field kDiaryFields[] = {{"date", &PendingRecord::date},
                              {"writer", &PendingRecord::writer},
                              {"name", &PendingRecord::name},
                              {"version", &PendingRecord::version},
                              {"partcode", &PendingRecord::partCode}};
const Field kCatalogueFields[] = {{"name", &PendingRecord::name},
                                  {"file", &PendingRecord::fileName},
                                  {"product", nullptr, &PendingRecord::product},
                                  {"cate3", nullptr, &PendingRecord::cate3Idx},
                                  {"cate3_info", nullptr, &PendingRecord::cate3InfoIdx},
                                  {"demo", nullptr, nullptr, &PendingRecord::demoDownload}};

std::span<const Field> fieldsOf(PendingRecord::Kind kind)
{
    if (kind == PendingRecord::Diary)
        return kDiaryFields;
    return kCatalogueFields;
}

QJsonObject toJson(const PendingRecord& r)
{
    QJsonObject o;
    o[QStringLiteral("run")] = r.run;
    o[QStringLiteral("kind")] = r.kind == PendingRecord::Diary ? QStringLiteral("diary") : QStringLiteral("catalogue");
    for (const Field& f : fieldsOf(r.kind)) {
        const QString key = QLatin1String(f.key);
        if (f.text)
            o[key] = r.*f.text;
        else if (f.number)
            o[key] = r.*f.number;
        else
            o[key] = r.*f.flag;
    }
    return o;
}

bool fromJson(const QJsonObject& o, PendingRecord* r)
{
    const QString kind = o.value(QStringLiteral("kind")).toString();
    if (kind == QLatin1String("diary"))
        r->kind = PendingRecord::Diary;
    else if (kind == QLatin1String("catalogue"))
        r->kind = PendingRecord::Catalogue;
    else
        return false;
    r->run = o.value(QStringLiteral("run")).toString();
    for (const Field& f : fieldsOf(r->kind)) {
        const QJsonValue v = o.value(QLatin1String(f.key));
        if (f.text)
            r->*f.text = v.toString();
        else if (f.number)
            r->*f.number = v.toInt();
        else
            r->*f.flag = v.toBool();
    }
    if (r->kind == PendingRecord::Diary)
        return !r->date.isEmpty() && !r->writer.isEmpty() && !r->partCode.isEmpty();
    return !r->fileName.isEmpty();
}

QString connectFailure(cMySQL& db)
{
    return QStringLiteral("Error ") + QString::number(db.err_no()) + QLatin1Char(' ') + db.err_description();
}

// One record on an open session. Statements run silently: the log line that
// follows says what happened. Returns the library error number, 0 on success.
int sendOne(cMySQL& db, const PendingRecord& r)
{
    auto run = [&db](const QString& sql) -> int {
        db.query(sql, true);
        return db.err_no();
    };
    if (r.kind == PendingRecord::Catalogue) {
        const QString value = db.escape_string(r.fileName);
        if (int e = run(QStringLiteral("UPDATE file_rname AS a SET a.rname = '") + value
                        + QStringLiteral("' WHERE a.code = ") + QString::number(r.product)))
            return e;
        if (r.demoDownload && r.product >= 1 && r.product <= 4) {
            if (int e = run(QStringLiteral("update cate3 as a set a.DemoDownFile  = '") + value
                            + QStringLiteral("' where a.idx=") + QString::number(r.cate3Idx)))
                return e;
            if (int e = run(QStringLiteral("update cate3_info as a  set a.DemoDownFile  = '") + value
                            + QStringLiteral("'where a.idx = ") + QString::number(r.cate3InfoIdx)))
                return e;
        }
        return 0;
    }
    // The entry may already be there (the server took it but its answer was
    // lost): find it before writing, so a record is never written twice.
    const QString where = QStringLiteral(" WHERE writedate = '") + db.escape_string(r.date)
        + QStringLiteral("' AND writer = '") + db.escape_string(r.writer) + QStringLiteral("' AND note = '")
        + db.escape_string(r.note()) + QLatin1Char('\'');
    RecordsetPtr found = db.query(QStringLiteral("SELECT seq FROM diary") + where
                                      + QStringLiteral(" ORDER BY seq LIMIT 1"),
                                  true);
    if (db.err_no() != 0)
        return db.err_no();
    qint64 seq = found && !found->isEOF() ? found->value(0).toLongLong() : 0;
    if (seq <= 0) {
        if (int e = run(QStringLiteral("INSERT INTO diary (writedate, writer, note, secret) VALUES ('")
                        + db.escape_string(r.date) + QStringLiteral("','") + db.escape_string(r.writer)
                        + QStringLiteral("','") + db.escape_string(r.note()) + QStringLiteral("', 1)")))
            return e;
        seq = db.insert_id();
    }
    const QString code = QString::number(r.partCode.toLongLong());
    RecordsetPtr part = db.query(QStringLiteral("SELECT COUNT(*) FROM diary_part WHERE diaryseq = ")
                                     + QString::number(seq) + QStringLiteral(" AND partcode = ") + code,
                                 true);
    if (db.err_no() != 0)
        return db.err_no();
    if (part && !part->isEOF() && part->value(0).toLongLong() > 0)
        return 0;
    return run(QStringLiteral("INSERT INTO diary_part (diaryseq, partcode) VALUES (") + QString::number(seq)
               + QStringLiteral(", ") + code + QLatin1Char(')'));
}

} // namespace

QString PendingRecord::note() const
{
    return QStringLiteral("* [현재버전] ") + name + QStringLiteral(" → ") + version;
}

QString PendingRecord::describe() const
{
    if (kind == Diary)
        return name + QStringLiteral(" 업무일지 버전기록:") + version;
    return name + QStringLiteral(" 복사파일명 ") + fileName;
}

QString pendingRecordsPath()
{
    return programFolder() + QStringLiteral("/pending_records.json");
}

bool loadPendingRecords(QList<PendingRecord>* records, QString* error)
{
    records->clear();
    QFile f(pendingRecordsPath());
    if (!f.exists())
        return true;
    if (!f.open(QIODevice::ReadOnly)) {
        if (error)
            *error = f.errorString();
        return false;
    }
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(f.readAll(), &parseError);
    const QJsonObject top = doc.object();
    if (parseError.error != QJsonParseError::NoError
        || top.value(QStringLiteral("format")).toString() != kFormat) {
        if (error)
            *error = QStringLiteral("보류 기록 파일의 형식이 잘못되었습니다: ") + pendingRecordsPath();
        return false;
    }
    for (const QJsonValue& v : top.value(QStringLiteral("records")).toArray()) {
        PendingRecord r;
        if (fromJson(v.toObject(), &r))
            records->append(r);
    }
    return true;
}

bool savePendingRecords(const QList<PendingRecord>& records, QString* error)
{
    if (records.isEmpty()) {
        QFile f(pendingRecordsPath());
        if (!f.exists() || f.remove())
            return true;
        if (error)
            *error = f.errorString();
        return false;
    }
    QJsonArray list;
    for (const PendingRecord& r : records)
        list.append(toJson(r));
    QJsonObject top;
    top[QStringLiteral("format")] = kFormat;
    top[QStringLiteral("records")] = list;
    return writeFileAtomically(pendingRecordsPath(), QJsonDocument(top).toJson(QJsonDocument::Indented),
                               error);
}

void keepPendingRecords(Desk& desk, const QList<PendingRecord>& records)
{
    if (records.isEmpty())
        return;
    QList<PendingRecord> all;
    QString error;
    bool ok = loadPendingRecords(&all, &error);
    if (ok) {
        all.append(records);
        ok = savePendingRecords(all, &error);
    }
    for (const PendingRecord& r : records) {
        if (ok)
            desk.AddLog(QStringLiteral("[경고] ") + r.describe()
                        + QStringLiteral(" - 데이터베이스에 보내지 못해 보류합니다. 다음 실행 때 보냅니다."));
        else
            desk.AddLog(QStringLiteral("[오류] ") + r.describe()
                        + QStringLiteral(" - 보내지 못했고 보류 기록 파일에도 남기지 못했습니다: ") + error);
    }
}

bool isDatabaseUnreachable(int errorNumber)
{
    // CR_* client errors: 2002 cannot connect, 2003 host unreachable, 2006
    // gone away, 2013 lost (also a read or write timeout), ...
    return errorNumber >= 2000 && errorNumber < 3000;
}

int SendPendingRecords(Desk& desk)
{
    QList<PendingRecord> records;
    QString error;
    if (!loadPendingRecords(&records, &error)) {
        desk.AddLog(QStringLiteral("[오류] 보류된 기록을 읽을 수 없습니다: ") + error);
        return 1;
    }
    if (records.isEmpty())
        return 0;
    desk.AddLog(QStringLiteral("[정상] 보류된 기록 %1건을 보냅니다.").arg(records.size()));

    std::unique_ptr<cMySQL> sessions[2];
    QString unreachable[2]; // why a database cannot be reached in this pass
    QList<PendingRecord> left;
    for (qsizetype i = 0; i < records.size(); ++i) {
        const PendingRecord& r = records[i];
        const int k = r.kind == PendingRecord::Diary ? 0 : 1;
        const QString prefix = QStringLiteral("(실행 ") + r.run + QStringLiteral("): ") + r.describe();
        if (!unreachable[k].isEmpty()) {
            left.append(r);
            continue;
        }
        if (!sessions[k]) {
            auto db = std::make_unique<cMySQL>();
            // The hosts start-up resolved, as the run that kept the record would have used.
            const bool connected
                = DatabaseDoor::connect(*db, k == 0 ? DatabaseKind::InHouse : DatabaseKind::WebHost, true);
            if (!connected) {
                unreachable[k] = connectFailure(*db);
                desk.AddLog(QStringLiteral("[오류] 보류된 기록을 보내지 못했습니다") + prefix
                            + QStringLiteral(" - ") + unreachable[k]);
                left.append(r);
                continue;
            }
            sessions[k] = std::move(db);
        }
        cMySQL& db = *sessions[k];
        const int e = sendOne(db, r);
        if (e != 0) {
            const QString why = QStringLiteral("Error ") + QString::number(e) + QLatin1Char(' ')
                + db.err_description();
            if (isDatabaseUnreachable(e))
                unreachable[k] = why;
            desk.AddLog(QStringLiteral("[오류] 보류된 기록을 보내지 못했습니다") + prefix + QStringLiteral(" - ")
                        + why);
            left.append(r);
            continue;
        }
        desk.AddLog(QStringLiteral("[정상] 보류된 기록을 보냈습니다") + prefix);
        // Each record leaves the file as soon as it is on the server.
        QList<PendingRecord> rest = left;
        rest.append(records.mid(i + 1));
        if (!savePendingRecords(rest, &error))
            desk.AddLog(QStringLiteral("[오류] 보류 기록 파일을 고칠 수 없습니다: ") + error);
    }
    if (!savePendingRecords(left, &error))
        desk.AddLog(QStringLiteral("[오류] 보류 기록 파일을 고칠 수 없습니다: ") + error);
    return int(left.size());
}

} // namespace rh
