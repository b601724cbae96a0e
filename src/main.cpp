#include "app/headless.h"
#include "site/apphome.h"

#include <QCoreApplication>

#include <cstdio>

#ifdef RH_WITH_GUI
#include "ui/guimain.h"
#endif

int main(int argc, char** argv)
{
    bool headless = false;
    for (int i = 1; i < argc; ++i) {
        // Answered before any application object: no window, no program folder.
        if (qstrcmp(argv[i], "--version") == 0) {
            std::printf("rollhaven2 %s\n", qPrintable(rh::versionText()));
            return 0;
        }
        // What the update launcher and the file changer ask a build for.
        if (qstrcmp(argv[i], "--revision") == 0) {
            std::printf("%d\n", rh::versionRevision());
            return 0;
        }
        if (qstrcmp(argv[i], "--headless") == 0 || qstrcmp(argv[i], "--help") == 0 || qstrcmp(argv[i], "-h") == 0)
            headless = true;
    }
#ifdef RH_WITH_GUI
    if (!headless)
        return rh::runGui(argc, argv);
#else
    (void)headless;
#endif
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("rollhaven2"));
    return rh::runHeadless(app.arguments().mid(1));
}
