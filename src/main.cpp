#include "app/commandline.h"
#include "app/headless.h"
#include "site/apphome.h"

#include <QCoreApplication>

#include <cstdio>

#ifdef RH_WITH_GUI
#include "ui/guimain.h"
#endif

int main(int argc, char** argv)
{
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    // The window's arguments may hold Qt's own (-platform ...): a bad argument
    // is the headless runner's to report, not a reason to choose a front end.
    const rh::CommandLine commandLine = rh::parseCommandLine(args);
    // Answered before any application object: no window, no program folder.
    switch (commandLine.query) {
    case rh::CommandLine::Query::Version:
        std::printf("rollhaven2 %s\n", qPrintable(rh::versionText()));
        return 0;
    case rh::CommandLine::Query::Revision:
        std::printf("%d\n", rh::versionRevision());
        return 0;
    case rh::CommandLine::Query::None:
        break;
    }
#ifdef RH_WITH_GUI
    if (!commandLine.headless && !commandLine.help)
        return rh::runGui(argc, argv);
#endif
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("rollhaven2"));
    return rh::runHeadless(app.arguments().mid(1));
}
