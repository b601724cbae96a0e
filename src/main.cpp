#include "platform/apphome.h"
#include "platform/sitecfg.h"

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    rh::resolveProgramFolder(app.arguments());
    rh::loadSiteConfig();
    QTextStream(stdout) << "rollhaven2 " << rh::programFolder() << Qt::endl;
    return 0;
}
