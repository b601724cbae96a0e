// btnSourceMerge_Click: start the source-merge tool kept beside the program.
#include "pipeline/desk.h"
#include "site/apphome.h"
#include "platform/drivemap.h"
#include "platform/errors.h"
#include "platform/interaction.h"
#include "platform/usersettings.h"

#include <QFileInfo>
#include "platform/launcher.h"

namespace rh {

void Desk::btnSourceMerge_Click()
{
    const QString path = GetSetting(appTitle(), QStringLiteral("Config"), QStringLiteral("소스통합도구경로"),
                                    programFolder() + QStringLiteral("/멀티Exe런처.exe"));
    QString err;
    const QString native = nativePath(path, &err);
    if (native.isEmpty() || !QFileInfo(native).isFile()) {
        tell(QStringLiteral("소스통합도구를 찾을 수 없습니다. \r\n아래 경로로 관련파일을 복사하세요.\r\n\r\n") + path);
        return;
    }
    // The path alone is the command line, unquoted; the launcher finds a
    // program whose folders hold blanks by the rule for unquoted paths.
    QString startError;
    if (startWithoutWaiting(path, WindowMode::Normal, &startError) == 0)
        tell(formErrorText(err::FileNotFound, startError, QStringLiteral("btnSourceMerge_Click")));
}

} // namespace rh
