#include "ui/guimain.h"

#include "app/login.h"
#include "app/startup.h"
#include "db/cmysql.h"
#include "pipeline/steps.h"
#include "ui/frmlogin.h"

#include "pipeline/desk.h"
#include "site/apphome.h"
#include "platform/interaction.h"
#include "site/sitecfg.h"
#include "ui/frmmain.h"
#include "ui/qtinteraction.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTextStream>
#include <QTranslator>
#include <QTimer>
#include <QStyleFactory>

#include <cstdio>
#include <cstdlib>

namespace rh {

void setupGuiApplication(QApplication& app)
{
    if (QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion")))
        app.setStyle(fusion);
    QFont f = app.font();
    f.setFamilies({QStringLiteral("NanumGothic"), QStringLiteral("NanumBarunGothic"),
                   QStringLiteral("Noto Sans CJK KR"), QStringLiteral("Malgun Gothic"),
                   QStringLiteral("UnDotum"), QStringLiteral("DejaVu Sans")});
    if (f.pointSizeF() < 9.5)
        f.setPointSizeF(9.5);
    app.setFont(f);
}

QStringList guiCommandLine(const QStringList& arguments)
{
    QStringList out;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& a = arguments[i];
        if (a == QLatin1String("--home")) {
            ++i; // its folder
            continue;
        }
        if (a.startsWith(QLatin1String("--home=")))
            continue;
        out << a;
    }
    return out;
}

int windowExitCode(StartUp::Outcome outcome)
{
    switch (outcome) {
    case StartUp::Outcome::Proceed:
        return 0;
    case StartUp::Outcome::AlreadyRunning:
        return 10;
    case StartUp::Outcome::NotAllowed:
        return 11;
    case StartUp::Outcome::NoLogin:
        return 12;
    case StartUp::Outcome::DatabaseUnreachable:
        return 14;
    case StartUp::Outcome::HandedOver:
    case StartUp::Outcome::UpdateEnded:
        return 13;
    }
    return 12;
}

bool koreanLocale()
{
    const QLocale system = QLocale::system();
    if (system.language() == QLocale::Korean)
        return true;
    // No language chosen (C, POSIX): the site's own, Korean by default.
    const QString lang = qEnvironmentVariable("LC_ALL", qEnvironmentVariable("LC_MESSAGES", qEnvironmentVariable("LANG")));
    const bool unset = lang.isEmpty() || lang == QLatin1String("C") || lang == QLatin1String("POSIX")
        || lang.startsWith(QLatin1String("C."));
    return unset && site().codePage.compare(QLatin1String("CP949"), Qt::CaseInsensitive) == 0;
}

bool installQtTranslation(QApplication& app)
{
    // Qt's own texts (Yes/No/OK/Cancel, file dialogs) in Korean.
    auto* translator = new QTranslator(&app);
    if (!translator->load(QLocale(QLocale::Korean, QLocale::SouthKorea), QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}

int runGui(int argc, char** argv)
{
    // Read by the headless runner only; no tool of a run may inherit it.
    qunsetenv("ROLLHAVEN2_PASSWORD");
    QApplication app(argc, argv);
    setupGuiApplication(app);
    return runWindowProgram(app);
}

int runWindowProgram(QApplication& app)
{
    qunsetenv("ROLLHAVEN2_PASSWORD");
    resolveProgramFolder(app.arguments());
    loadSiteConfig();
    if (koreanLocale())
        installQtTranslation(app);

    QtInteraction ui;
    if (!firstStartMessage().isEmpty()) {
        std::fprintf(stderr, "%s\n", qUtf8Printable(firstStartMessage()));
        tell(firstStartMessage(), MsgIcon::Information);
    }
    // Servers, accounts and drives the program cannot use: no run may start.
    if (!siteConfigErrors().isEmpty()) {
        tell(siteConfigErrors().join(QStringLiteral("\r\n")), MsgIcon::Critical);
        return 1;
    }
    cMySQL::setConnectionSecurity(cMySQL::securityOf(site()));
    StartUp startUp;
    startUp.log = [](const QString& line) { QTextStream(stderr) << "start-up: " << line << Qt::endl; };
    startUp.showLogin = [&startUp](Login& login) {
        frmLogin dlg(login);
        // Once the dialog is up and its loop runs (the start-up benchmark's mark).
        QTimer::singleShot(0, &dlg, [&startUp] { startUp.log(QStringLiteral("login dialog shown")); });
        dlg.exec();
    };
    const StartUp::Outcome outcome = startUp.Main();
    if (outcome != StartUp::Outcome::Proceed)
        return windowExitCode(outcome);
    Desk desk;
    attachSteps(desk);
    // A download server that cannot be reached ends the program at once: no
    // later part of the run may follow the failed connection.
    desk.endProgram = [] {
        std::fflush(nullptr);
        std::_Exit(0);
    };
    desk.commandLine = guiCommandLine(app.arguments());
    FrmMain window(desk);
    desk.Form_Load();
    window.show();
    desk.visible = true;
    return app.exec();
}

} // namespace rh
