// The download catalogue update in the web-host database.
#include "pipeline/catalogue.h"

#include "config/projectrow.h"
#include "db/cmysql.h"
#include "pipeline/desk.h"
#include "pipeline/workdiary.h"
#include "platform/serveraddresses.h"
#include "platform/sitecfg.h"

#include <array>

namespace rh {
namespace {

const QString kProc = QStringLiteral("Step5");

// Counting the rows a statement matched rather than changed: a release that is
// run again with the same copy leaves the row as it is and is still a success.
constexpr qint32 kClientFoundRows = 2; // CLIENT_FOUND_ROWS

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

bool Step5(Desk& desk)
{
    const SiteConfig& cfg = site();
    if (!OpenDatabase(desk, kProc, WebServerAddress(), cfg.webDbUser, cfg.webDbPassword,
                      cfg.webDbName, cfg.webDbPort, cfg.webDbSocket, kClientFoundRows)) {
        CloseDatabase(desk);
        return false;
    }

    const ProjectGrid& grid = desk.grid;
    for (int row = 1; row <= grid.maxRows(); ++row) {
        const QString localCopy = grid.text(ColLocalCopyPath, row);
        if (!desk.isTicked(row) || grid.text(ColProjectType, row) == QLatin1String("1")
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
            if (ExecuteSql(desk, sql) > 0)
                desk.AddLog(QStringLiteral("[성공] ") + name
                            + QStringLiteral(" 복사파일명 업데이트 성공 ") + finalName);
            else
                desk.AddLog(QStringLiteral("[오류] ") + name + QStringLiteral(" 복사파일명 업데이트 실패"));

            if (desk.chkFTPAutoRemove.checked && product.number >= 1 && product.number <= 4) {
                ExecuteSql(desk, QStringLiteral("update cate3 as a set a.DemoDownFile  = '") + value
                                     + QStringLiteral("' where a.idx=")
                                     + QString::number(product.cate3Idx));
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
