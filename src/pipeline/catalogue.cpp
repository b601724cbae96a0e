// The download catalogue update in the web-host database.
#include "pipeline/catalogue.h"

#include "config/projectrow.h"
#include "db/cmysql.h"
#include "pipeline/desk.h"
#include "pipeline/pendingrecords.h"
#include "pipeline/workdiary.h"
#include "platform/serveraddresses.h"
#include "platform/sitecfg.h"

#include <array>

namespace rh {
namespace {

const QString kProc = QStringLiteral("Step5");

// Counting the rows a statement matched rather than changed: a release that is
// run again with the same copy leaves the row as it is and is still a success.

struct ProductEntry {
    const char* setupFile;
    CatalogueProduct product;
};

const std::array<ProductEntry, 4> kProducts{{
    {"TVledger2_setup_2.exe", {1, 48, 62}},
    {"TVledgerCS_setup_2.exe", {2, 49, 63}},
    {"TVplantCS_setup_2.exe", {3, 52, 65}},
    {"TVplantProCS_setup_2.exe", {4, 86, 88}},
}};

} // namespace

CatalogueProduct catalogueProduct(const QString& setupPath)
{
    QString file = setupPath;
    file.remove(QStringLiteral("C:\\2TarvelInstalls\\"), Qt::CaseSensitive);
    for (const ProductEntry& e : kProducts)
        if (file == QLatin1String(e.setupFile))
            return e.product;
    return CatalogueProduct();
}

// The catalogue updates of the qualifying rows from `fromRow` on, for the
// pending file: the database could not take them now.
static QList<PendingRecord> pendingCatalogue(const Desk& desk, int fromRow)
{
    QList<PendingRecord> out;
    const ProjectGrid& grid = desk.grid;
    for (int row = fromRow; row <= grid.maxRows(); ++row) {
        const QString localCopy = grid.text(ColLocalCopyPath, row);
        if (!desk.releasesRow(row) || grid.text(ColProjectType, row) == QLatin1String("1")
            || localCopy.isEmpty())
            continue;
        const CatalogueProduct product = catalogueProduct(grid.text(ColISResult1, row));
        PendingRecord r;
        r.kind = PendingRecord::Catalogue;
        r.run = runIdOf(desk);
        r.name = grid.text(ColProjectName, row);
        r.fileName = localCopy;
        r.fileName.remove(QStringLiteral("_2"), Qt::CaseSensitive);
        r.product = product.number;
        r.cate3Idx = product.cate3Idx;
        r.cate3InfoIdx = product.cate3InfoIdx;
        r.demoDownload = desk.chkFTPAutoRemove.checked;
        out.append(r);
    }
    return out;
}

bool Step5(Desk& desk)
{
    if (!OpenDatabase(desk, kProc, DatabaseKind::WebHost)) {
        const bool unreachable = lostDatabase(desk);
        CloseDatabase(desk);
        if (unreachable)
            keepPendingRecords(desk, pendingCatalogue(desk, 1));
        return false;
    }

    const ProjectGrid& grid = desk.grid;
    for (int row = 1; row <= grid.maxRows(); ++row) {
        const QString localCopy = grid.text(ColLocalCopyPath, row);
        if (!desk.releasesRow(row) || grid.text(ColProjectType, row) == QLatin1String("1")
            || localCopy.isEmpty())
            continue;
        // An unexpected error costs this row only; the step goes on.
        try {
            if (!desk.database)
                return true; // dropped by a close while the log yielded
            const QString name = grid.text(ColProjectName, row);
            const CatalogueProduct product = catalogueProduct(grid.text(ColISResult1, row));
            QString finalName = localCopy;
            finalName.remove(QStringLiteral("_2"), Qt::CaseSensitive);
            // The name is escaped with the connection's rules: a quote in it
            // must neither break nor rewrite the statement.
            const QString value = desk.database->escape_string(finalName);
            const QString sql = QStringLiteral("UPDATE file_rname AS a SET")
                + QStringLiteral(" a.rname = '") + value + QLatin1Char('\'') + QStringLiteral(" WHERE")
                + QStringLiteral(" a.code = ") + QString::number(product.number);
            desk.database->setRowCheck(QStringLiteral("SELECT COUNT(*) FROM file_rname WHERE code = ")
                                       + QString::number(product.number) + QStringLiteral(" AND rname = '") + value
                                       + QLatin1Char('\''));
            if (ExecuteSql(desk, sql) > 0)
                desk.AddLog(QStringLiteral("[성공] ") + name
                            + QStringLiteral(" 복사파일명 업데이트 성공 ") + finalName);
            else {
                desk.AddLog(QStringLiteral("[오류] ") + name + QStringLiteral(" 복사파일명 업데이트 실패"));
                if (lostDatabase(desk)) {
                    // The server went away: this and the remaining updates wait for later.
                    CloseDatabase(desk);
                    keepPendingRecords(desk, pendingCatalogue(desk, row));
                    return false;
                }
            }

            if (desk.chkFTPAutoRemove.checked && product.number >= 1 && product.number <= 4 && desk.database) {
                desk.database->setRowCheck(QStringLiteral("SELECT COUNT(*) FROM cate3 WHERE idx = ")
                                           + QString::number(product.cate3Idx)
                                           + QStringLiteral(" AND DemoDownFile = '") + value + QLatin1Char('\''));
                ExecuteSql(desk, QStringLiteral("update cate3 as a set a.DemoDownFile  = '") + value
                                     + QStringLiteral("' where a.idx=")
                                     + QString::number(product.cate3Idx));
                if (desk.database)
                    desk.database->setRowCheck(QStringLiteral("SELECT COUNT(*) FROM cate3_info WHERE idx = ")
                                               + QString::number(product.cate3InfoIdx)
                                               + QStringLiteral(" AND DemoDownFile = '") + value + QLatin1Char('\''));
                ExecuteSql(desk, QStringLiteral("update cate3_info as a  set a.DemoDownFile  = '")
                                     + value + QStringLiteral("'where a.idx = ")
                                     + QString::number(product.cate3InfoIdx));
            }
        } catch (const std::exception& e) {
            showStepError(kProc, e);
        }
    }
    CloseDatabase(desk);
    return true;
}

} // namespace rh
