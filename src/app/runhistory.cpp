#include "app/runhistory.h"

#include "pipeline/runprogress.h"
#include "pipeline/runrecord.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

namespace rh {

QList<RunHistoryEntry> loadRunHistory(const QString& logsFolder)
{
    QList<RunHistoryEntry> out;
    for (const RunReportFile& file : readRunReports(logsFolder)) {
        const QJsonObject& r = file.report;
        RunHistoryEntry e;
        e.reportPath = file.path;
        e.start = QDateTime::fromString(r.value(QStringLiteral("start")).toString(), Qt::ISODate)
                      .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        for (const QJsonValue& s : r.value(QStringLiteral("selection")).toArray())
            e.projects << s.toObject().value(QStringLiteral("project")).toString();
        static const QHash<QString, QString> kResults{{QStringLiteral("finished"), QStringLiteral("완료")},
                                                      {QStringLiteral("stopped"), QStringLiteral("중단")},
                                                      {QStringLiteral("refused"), QStringLiteral("거부")},
                                                      {QStringLiteral("closed"), QStringLiteral("닫음")},
                                                      {QStringLiteral("cancelled"), QStringLiteral("취소됨")},
                                                      {QStringLiteral("ftp-connection-failure"),
                                                       QStringLiteral("서버 접속 실패")},
                                                      {QStringLiteral("abnormal"), QStringLiteral("비정상 종료")}};
        const QString result = r.value(QStringLiteral("result")).toString();
        e.result = kResults.value(result, QStringLiteral("?"));
        const int errors = r.value(QStringLiteral("errors")).toInt();
        if ((result == QLatin1String("finished") || result == QLatin1String("closed")) && errors > 0)
            e.result += QStringLiteral(" (오류 %1건)").arg(errors);
        if (r.value(QStringLiteral("options")).toObject().value(QStringLiteral("dryRun")).toBool())
            e.result += QStringLiteral(" (모의실행)");
        e.duration = secondsText(qint64(r.value(QStringLiteral("durationMs")).toDouble()));
        e.checks = r.value(QStringLiteral("verification")).toArray();
        int failed = 0;
        for (const QJsonValue& c : e.checks)
            failed += c.toObject().value(QStringLiteral("ok")).toBool() ? 0 : 1;
        e.verification = e.checks.isEmpty() ? QStringLiteral("-")
            : failed == 0                    ? QStringLiteral("일치")
                                             : QStringLiteral("불일치 %1건").arg(failed);
        e.log = r.value(QStringLiteral("log")).toString().replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        e.resultKey = r.value(QStringLiteral("result")).toString();
        e.dryRun = r.value(QStringLiteral("options")).toObject().value(QStringLiteral("dryRun")).toBool();
        e.durationMs = qint64(r.value(QStringLiteral("durationMs")).toDouble());
        e.failed = e.resultKey != QLatin1String("finished") && e.resultKey != QLatin1String("closed");
        for (const QJsonValue& sv : r.value(QStringLiteral("steps")).toArray()) {
            const QJsonObject st = sv.toObject();
            e.stepMs.append({st.value(QStringLiteral("step")).toString(), qint64(st.value(QStringLiteral("ms")).toDouble())});
            if (!st.value(QStringLiteral("ok")).toBool(true))
                e.failed = true;
        }
        const QString base = e.reportPath.left(e.reportPath.size() - 5); // without ".json"
        for (const QString& ext : {QStringLiteral(".journal.txt"), QStringLiteral(".plan.txt")})
            if (QFileInfo::exists(base + ext)) {
                e.journalPath = base + ext;
                break;
            }
        out.append(e);
    }
    return out;
}

} // namespace rh
