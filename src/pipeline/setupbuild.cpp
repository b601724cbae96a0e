// STEP2: the full setups and the patch setup of every ticked project. An
// outside builder is judged only by whether its output exists afterwards, so
// every output is deleted before the builder that makes it runs; an output
// that cannot be deleted ends the step rather than pass as a new build.
#include "pipeline/setupbuild.h"

#include "config/projectrow.h"
#include "config/vbtext.h"
#include "pipeline/desk.h"
#include "pipeline/stepfiles.h"
#include "site/apphome.h"
#include "platform/errors.h"
#include "platform/drivemap.h"
#include "platform/interaction.h"
#include "platform/journal.h"
#include "platform/launcher.h"
#include "util/fileutil.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <exception>
#include <unistd.h>

namespace rh {
namespace {

const QString kProcedure = QStringLiteral("STEP2");

qsizetype lastSeparator(const QString& path)
{
    return std::max(path.lastIndexOf(QLatin1Char('\\')), path.lastIndexOf(QLatin1Char('/')));
}

// A path the drive map cannot place is an error, not a missing file.
QString nativeOrThrow(const QString& path)
{
    QString error;
    const QString native = nativePath(path, &error);
    if (native.isEmpty())
        throw RhError(err::PathNotFound, error);
    return native;
}

// The file-exists test: a regular file at the path.
bool fileExists(const QString& path)
{
    return !path.isEmpty() && journal().isFile(nativeOrThrow(path));
}

bool outputExists(const QString& path)
{
    return !path.isEmpty() && journal().awaitFile(nativeOrThrow(path), QStringLiteral("셋업 빌더"));
}

void deleteFile(const QString& path)
{
    QString error;
    const QString native = nativePath(path, &error);
    if (native.isEmpty())
        throw RhError(err::PathNotFound, error);
    const int e = journaledUnlink(native);
    if (e == 0)
        return;
    const int number = e == ENOENT ? err::FileNotFound
        : (e == EACCES || e == EPERM) ? err::PermissionDenied
                                      : err::PathFileAccessError;
    throw RhError(number, standardErrorDescription(number));
}

class SetupBuild {
public:
    explicit SetupBuild(Desk& desk) : m_desk(desk) {}

    bool run()
    {
        for (int row = 1; row <= m_desk.grid.maxRows(); ++row) {
            if (!m_desk.isTicked(row))
                continue;
            if (m_desk.stopBetweenUnits())
                return false;
            const QString name = cell(ColProjectName, row);
            const long long kind = vbRound(vbVal(cell(ColSetupBuilderKind, row)));
            if (!m_desk.chkPatchOnly.checked) {
                for (int i = 1; i <= 2; ++i) {
                    if (!buildFull(row, name, kind, i))
                        return false;
                }
            }
            if (!buildPatch(row, name, kind))
                return false;
        }
        return true;
    }

private:
    // One statement that may fail: the failure is shown and the statement
    // has no effect; the caller goes on with the next one.
    template <class F>
    bool guard(F&& statement)
    {
        try {
            statement();
            return true;
        } catch (const RhError& e) {
            tell(formErrorText(e.number(), e.description(), kProcedure));
        } catch (const std::exception& e) {
            tell(formErrorText(err::InvalidProcedureCall, QString::fromUtf8(e.what()), kProcedure));
        }
        return false;
    }

    QString cell(int col, int row) const { return GetCellText(m_desk.grid, col, row); }

    void setStatus(int row, const QString& text, bool activate)
    {
        if (activate)
            m_desk.grid.setActiveCell(ColStatus, row);
        m_desk.grid.setText(ColStatus, row, text);
    }

    void log(const QString& text) { m_desk.AddLog(text); }

    bool exists(const QString& path)
    {
        bool found = false;
        guard([&] { found = fileExists(path); });
        return found;
    }

    // A builder's output after the builder ran.
    bool made(const QString& path)
    {
        bool found = false;
        guard([&] { found = outputExists(path); });
        return found;
    }

    bool remove(const QString& path)
    {
        return guard([&] { deleteFile(path); });
    }

    // The builder run; the window is not repainted until it ends.
    void runBuilder(const QString& name, long long kind, const QString& project)
    {
        m_builderStarted = false;
        guard([&] {
            if (kind < 0 || kind >= qsizetype(m_desk.SetupBuilderExe.size()))
                throw RhError(err::SubscriptOutOfRange,
                              standardErrorDescription(err::SubscriptOutOfRange));
            const size_t k = size_t(kind);
            QString error;
            if (!ShellExecuteAndWait(m_desk.SetupBuilderExe[k], 0, m_desk.SetupBuilderArgs[k] + quoteArgument(project),
                                     programFolder(), false, true, &error)) {
                if (m_desk.toolStopped(name, m_desk.SetupBuilderExe[k]))
                    return;
                log(toolStartFailedLine(name, m_desk.SetupBuilderExe[k], error));
                // What the shell's own error box said.
                interaction().tell(error, appTitle(), MsgIcon::Critical);
                return;
            }
            m_builderStarted = true;
        });
    }

    bool buildFull(int row, const QString& name, long long kind, int i)
    {
        const QString project = cell(ColISProject1 + i - 1, row);
        if (project.isEmpty())
            return true;
        const QString number = QString::number(i);
        setStatus(row, QStringLiteral("셋업") + number + QStringLiteral("..."), true);
        const QString failed = QStringLiteral("[오류] ") + name + QStringLiteral(" 셋업프로그램 [풀버전] 컴파일 실패");

        const QString output = cell(ColISResult1 + i - 1, row);
        if (exists(output)) {
            if (!remove(output)) {
                log(failed);
                return false;
            }
            log(QStringLiteral("[정상] ") + name + QStringLiteral(" 이전 셋업파일 삭제"));
        }
        if (!exists(project)) {
            log(QStringLiteral("[오류] ") + name
                + QStringLiteral(" 셋업프로그램 프로젝트 파일이 존재하지 않습니다.(") + project
                + QLatin1Char(')'));
            return false;
        }
        log(QStringLiteral("[정상] ") + name + QStringLiteral(" 셋업프로그램 [풀버전] 컴파일중..."));
        for (;;) {
            runBuilder(name, kind, project);
            if (m_desk.runCancelled)
                return false;
            if (made(output))
                break;
            if (!interaction().askRetry(
                    QStringLiteral("설치파일 만들기가 실패하였습니다. 다시 시도 하시겠습니까?"),
                    QStringLiteral("설치파일 재시도"), m_builderStarted)) {
                log(failed);
                return false;
            }
        }
        setStatus(row, QStringLiteral("셋업") + number + QStringLiteral(" 끝"), false);
        return true;
    }

    bool buildPatch(int row, const QString& name, long long kind)
    {
        const QString patchProject = patchProjectFile(cell(ColISProject1, row), kind == 0 ? 0 : 1);
        if (patchProject.isEmpty() || !exists(patchProject))
            return true;
        setStatus(row, QStringLiteral("패치생성..."), true);
        const QString failed = QStringLiteral("[오류] ") + name + QStringLiteral(" 셋업프로그램 [패치버전] 컴파일 실패");

        const QString patchResult = cell(ColPatchResultPath, row);
        if (exists(patchResult)) {
            if (!remove(patchResult)) {
                log(failed);
                return false;
            }
            log(QStringLiteral("[정상] ") + name + QStringLiteral(" 이전 패치파일 삭제"));
        }
        // InstallShield's own output is Update.exe; one left by an earlier
        // build must not be copied as this build's patch.
        QString update;
        if (kind == 0) {
            update = installShieldUpdateFile(patchProject, m_desk.ISResultFolder);
            if (exists(update) && !remove(update)) {
                log(failed);
                return false;
            }
        }
        log(QStringLiteral("[정상] ") + name + QStringLiteral(" 셋업프로그램 [패치버전] 컴파일중..."));
        runBuilder(name, kind, patchProject);
        if (m_desk.runCancelled)
            return false;
        if (kind == 0) {
            made(update); // the builder's output, also when a dry run skipped it
            guard([&] { CopyFileWithMessage(update, patchResult); });
        }
        if (!made(patchResult)) {
            log(failed);
            return false;
        }
        return true;
    }

    Desk& m_desk;
    // The last builder run started (a builder that cannot start will not on a retry).
    bool m_builderStarted = false;
};

} // namespace

QString patchProjectFile(const QString& project1, int kind)
{
    if (project1.size() < 4)
        return QString();
    return project1.left(project1.size() - 4) + QStringLiteral("_patch")
        + (kind == 0 ? QStringLiteral(".ism") : QStringLiteral(".iss"));
}

QString installShieldUpdateFile(const QString& patchProject, const QString& resultFolder)
{
    const qsizetype cut = lastSeparator(patchProject);
    QString base = patchProject.left(cut + 1);
    if (!resultFolder.isEmpty()) {
        base = resultFolder;
        if (!base.endsWith(QLatin1Char('\\')))
            base += QLatin1Char('\\');
    }
    const QString file = patchProject.mid(cut + 1);
    return base + file.left(std::max<qsizetype>(0, file.size() - 4)) + QStringLiteral("\\Patch\\Update.exe");
}

bool STEP2(Desk& desk)
{
    // Every fallible statement is guarded inside; anything else that escapes
    // ends the step rather than unwind into the driver.
    try {
        return SetupBuild(desk).run();
    } catch (const std::exception& e) {
        tell(formErrorText(err::InvalidProcedureCall, QString::fromUtf8(e.what()), kProcedure));
    } catch (...) {
        tell(formErrorText(err::InvalidProcedureCall,
                           standardErrorDescription(err::InvalidProcedureCall), kProcedure));
    }
    return false;
}

} // namespace rh
