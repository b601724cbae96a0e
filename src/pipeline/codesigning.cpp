#include "pipeline/codesigning.h"

#include "config/projectrow.h"
#include "pipeline/desk.h"
#include "pipeline/stepfiles.h"
#include "platform/apphome.h"
#include "platform/interaction.h"
#include "platform/profile.h"
#include "platform/shellcopy.h"
#include "util/fileutil.h"

#include <QStringList>
#include <QThread>

namespace rh {
namespace {

void setStatus(Desk& desk, int row, const QString& text)
{
    desk.grid.setActiveCell(ColStatus, row);
    desk.grid.setText(ColStatus, row, text);
}

// The row's files to sign: the cells that name an existing file, first
// column first.
QStringList filesOf(const Desk& desk, int row, int firstCol, int secondCol)
{
    QStringList files;
    for (int col : {firstCol, secondCol}) {
        if (col == 0)
            continue;
        const QString path = desk.grid.text(col, row);
        if (stepFileExists(path))
            files << path;
    }
    return files;
}

QString inFolder(const QString& folder, const QString& file)
{
    return folder + QLatin1Char('\\') + fileNameOfPath(file);
}

} // namespace

QString signingUnsignedFolder()
{
    return QStringLiteral("S:\\Codesigning\\unsigned");
}

QString signingSignedFolder()
{
    return QStringLiteral("S:\\Codesigning\\signed");
}

int signingPollMsFromSite()
{
    const ProfileFile site = ProfileFile::load(programFolder() + QStringLiteral("/site.ini"));
    bool ok = false;
    const int ms = site.getText(QStringLiteral("Signing"), QStringLiteral("PollMs"), QString(), 32)
                       .trimmed()
                       .toInt(&ok);
    return ok && ms > 0 ? ms : kSigningPollMs;
}

bool CodeSigning(Desk& desk, int firstCol, int secondCol)
{
    const QString procedure = QStringLiteral("CodeSigning");
    const QString unsignedFolder = signingUnsignedFolder();
    const QString signedFolder = signingSignedFolder();
    try {
        // Hand-over.
        desk.AddLog(QStringLiteral("서명 작업폴더로 복사중..."));
        for (int row = 1; row <= desk.grid.maxRows(); ++row) {
            if (!desk.isTicked(row))
                continue;
            setStatus(desk, row, QStringLiteral("서명 작업폴더로 복사..."));
            for (const QString& file : filesOf(desk, row, firstCol, secondCol)) {
                const QString target = inFolder(unsignedFolder, file);
                if (stepFileExists(target))
                    trapped(procedure, [&] { stepDeleteFile(target); });
                CopyFileWithMessage(file, target);
            }
            desk.grid.setText(ColStatus, row, QStringLiteral("서명 대기중..."));
        }

        // Wait until every file has a signed namesake; rows are rescanned from
        // the first in every pass.
        desk.AddLog(QStringLiteral("서명 대기중..."));
        for (;;) {
            bool notReady = false;
            for (int row = 1; row <= desk.grid.maxRows() && !notReady; ++row) {
                if (!desk.isTicked(row))
                    continue;
                desk.grid.setActiveCell(ColStatus, row);
                for (const QString& file : filesOf(desk, row, firstCol, secondCol)) {
                    if (!stepFileExists(inFolder(signedFolder, file))) {
                        notReady = true;
                        break;
                    }
                    desk.grid.setText(ColStatus, row, QStringLiteral("서명파일 복사 대기중..."));
                }
            }
            if (!notReady)
                break;
            QThread::msleep(static_cast<unsigned long>(std::max(1, desk.signingPollMs)));
        }

        // Take-back. The signed file replaces the project's file through a
        // temporary file and a rename, and leaves the signed folder only once
        // it is in place: a failed copy keeps both the project's file and the
        // signed one.
        desk.AddLog(QStringLiteral("서명완료 파일 복사중..."));
        bool allPlaced = true;
        for (int row = 1; row <= desk.grid.maxRows(); ++row) {
            if (!desk.isTicked(row))
                continue;
            setStatus(desk, row, QStringLiteral("서명파일 복사중..."));
            bool rowPlaced = true;
            for (const QString& file : filesOf(desk, row, firstCol, secondCol)) {
                const QString signedFile = inFolder(signedFolder, file);
                if (!shellCopy(signedFile, file, true).ok()) {
                    tell(QStringLiteral("Error copying File"));
                    desk.AddLog(QStringLiteral("[오류] ") + desk.grid.text(ColProjectName, row)
                                + QStringLiteral(" 서명파일을 복사하지 못했습니다.(") + signedFile
                                + QLatin1Char(')'));
                    rowPlaced = false;
                    continue;
                }
                trapped(procedure, [&] { stepDeleteFile(signedFile); });
            }
            desk.grid.setText(ColStatus, row,
                              rowPlaced ? QStringLiteral("서명완료") : QStringLiteral("서명파일 복사 실패"));
            allPlaced = allPlaced && rowPlaced;
        }
        return allPlaced;
    } catch (const std::exception& e) {
        showTrappedError(procedure, e);
    }
    return false;
}

} // namespace rh
