#include "app/headless.h"

#include "app/commandline.h"
#include "app/junitreport.h"
#include "app/login.h"
#include "app/startup.h"

#include "config/projectrow.h"
#include "db/cmysql.h"
#include "pipeline/desk.h"
#include "pipeline/pendingrecords.h"
#include "pipeline/resume.h"
#include "pipeline/steps.h"
#include "site/apphome.h"
#include "platform/interaction.h"
#include "platform/journal.h"
#include "platform/profile.h"
#include "site/sitecfg.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTextStream>

#include <cstdio>
#include <csignal>
#include <cstdlib>
#include <optional>

#include <unistd.h>

namespace rh {
namespace {

enum Exit {
    ExitOk = 0,
    ExitRefused = 1,
    ExitStopped = 2,
    ExitUsage = 3,
    ExitLoad = 4,
    ExitErrors = 5,
    ExitVerify = 6,
    ExitCancelled = 7,
    ExitAlreadyRunning = 10,
    ExitNotAllowed = 11,
    ExitNoLogin = 12,
    ExitUpdating = 13,
    ExitDatabaseUnreachable = 14,
};

const char kPasswordVariable[] = "ROLLHAVEN2_PASSWORD";

// SIGINT and SIGTERM (a CI engine aborting the job) cancel the run at its
// next yield; a second one ends the program at once. The journal's lines
// are already in its file, so what was done stays recorded.
volatile std::sig_atomic_t g_signals = 0;

extern "C" void onCancelSignal(int)
{
    if (g_signals > 0)
        ::_exit(7); // ExitCancelled
    g_signals = 1;
}

void installCancelSignals()
{
    struct sigaction sa {};
    sa.sa_handler = onCancelSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}

class HeadlessInteraction final : public Interaction {
public:
    bool yesToAll = false;
    int retriesLeft = 0; // --retries: further tries a retry question may grant
    QString lastMessage;

    // A file of its own for every run: stem + ".log", or stem + "_2.log" and
    // so on when a run that started in the same second has the name.
    bool openLog(const QString& stem)
    {
        for (int n = 1; n < 1000; ++n) {
            m_log.setFileName(stem + (n == 1 ? QString() : QStringLiteral("_%1").arg(n))
                              + QStringLiteral(".log"));
            if (m_log.open(QIODevice::WriteOnly | QIODevice::NewOnly))
                return true;
            if (!m_log.exists())
                return false;
        }
        return false;
    }
    QString logPath() const { return m_log.fileName(); }

    void logLine(const QString& line) override
    {
        m_out << line << Qt::endl;
        if (m_log.isOpen()) {
            m_log.write(line.toUtf8() + '\n');
            m_log.flush();
        }
        pumpEvents();
    }
    Desk* desk = nullptr; // the run a signal cancels
    bool cancelledBySignal() const { return m_signalSeen; }

    void pumpEvents() override
    {
        QCoreApplication::processEvents();
        if (g_signals > 0 && !m_signalSeen && desk && desk->running()) {
            m_signalSeen = true;
            desk->AddLog(QStringLiteral("[오류] 취소 신호를 받았습니다: 지금 하던 일을 마치고 끝냅니다."));
            desk->runCancelled = true;
            desk->cancelRequested = true; // an upload or the signing wait asks, and is answered Yes
        }
    }
    bool askYesNo(const QString& text, const QString& title, MsgIcon, bool defaultNo) override
    {
        const bool yes = yesToAll || !defaultNo || (m_signalSeen && isCancelQuestion(text));
        m_err << "[" << title << "] " << oneLine(text) << " -> " << (yes ? "예(Yes)" : "아니오(No)")
              << Qt::endl;
        if (!yes)
            lastMessage = text;
        return yes;
    }
    // Nobody is there to fix what failed: a retry is granted only as often as
    // --retries allows, whatever the question's default.
    bool askRetry(const QString& text, const QString& title, bool = true) override
    {
        const bool yes = retriesLeft > 0;
        if (yes)
            --retriesLeft;
        m_err << "[" << title << "] " << oneLine(text) << " -> " << (yes ? "예(Yes)" : "아니오(No)")
              << Qt::endl;
        if (!yes)
            lastMessage = text;
        return yes;
    }
    void tell(const QString& text, const QString& title, MsgIcon) override
    {
        m_err << "[" << title << "] " << oneLine(text) << Qt::endl;
        lastMessage = text;
    }
    void setBusy(bool) override {}
    bool showProgress(const QString&, const QString&, qint64, qint64) override { return true; }

private:
    static bool isCancelQuestion(const QString& text)
    {
        return text == QStringLiteral("다운로드를 중단할까요?") || text == QStringLiteral("서명 대기를 중단할까요?");
    }
    bool m_signalSeen = false;
    static QString oneLine(QString s)
    {
        s.replace(QStringLiteral("\r\n"), QStringLiteral(" / "));
        s.replace(QLatin1Char('\n'), QStringLiteral(" / "));
        return s;
    }
    QTextStream m_out{stdout};
    QTextStream m_err{stderr};
    QFile m_log;
};

const char* const kStepNames[6] = {"compile", "setup", "distribute", "run", "buildsign", "setupsign"};

bool applySteps(Desk& desk, const QString& list, QString* error)
{
    std::array<bool, 6> want{};
    for (const QString& raw : list.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QString s = raw.trimmed().toLower();
        int idx = -1;
        for (int k = 0; k < 6; ++k)
            if (s == QLatin1String(kStepNames[k]))
                idx = k;
        if (s == QLatin1String("all")) {
            want.fill(true);
            continue;
        }
        if (s == QLatin1String("none"))
            continue;
        if (idx < 0) {
            *error = QStringLiteral("알 수 없는 단계: ") + raw;
            return false;
        }
        want[size_t(idx)] = true;
    }
    for (int k = 0; k < 6; ++k)
        if (desk.chkStep[size_t(k)].checked != want[size_t(k)])
            desk.setStep(k, want[size_t(k)]);
    return true;
}

bool applyRows(Desk& desk, const CommandLine& o, QString* error)
{
    if (!o.group.isEmpty()) {
        bool ok = false;
        int idx = o.group.toInt(&ok) - 1;
        if (!ok) {
            idx = -1;
            for (int k = 0; k < 8; ++k)
                if (desk.groups[size_t(k)].caption == o.group)
                    idx = k;
        }
        if (idx < 0 || idx > 7 || !desk.groups[size_t(idx)].enabled) {
            *error = QStringLiteral("그룹을 찾을 수 없습니다: ") + o.group;
            return false;
        }
        desk.groupClick(idx);
    }
    if (o.rows.isEmpty())
        return true;
    if (o.rows == QLatin1String("all")) {
        desk.chkAllClick(true);
        return true;
    }
    if (o.group.isEmpty())
        desk.chkAllClick(false);
    for (const QString& part : o.rows.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        bool ok = false;
        const int r = part.trimmed().toInt(&ok);
        if (!ok || r < 1 || r > desk.grid.maxRows()) {
            *error = QStringLiteral("행 번호가 잘못되었습니다: ") + part;
            return false;
        }
        desk.setTicked(r, true);
    }
    return true;
}

bool applyDestinations(Desk& desk, const QString& list, QString* error)
{
    for (int i = 0; i < desk.lstDest.selected.size(); ++i)
        desk.lstDest.selected[i] = false;
    for (const QString& part : list.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        bool ok = false;
        const int n = part.trimmed().toInt(&ok);
        if (!ok || n < 1 || n > desk.lstDest.items.size()) {
            *error = QStringLiteral("전송목적지 번호가 잘못되었습니다: ") + part;
            return false;
        }
        desk.lstDest.selected[n - 1] = true;
    }
    return true;
}

void printGrid(const Desk& desk)
{
    QTextStream out(stdout);
    out << "setup: " << desk.IniPath << Qt::endl;
    for (int k = 0; k < 8; ++k)
        if (desk.groups[size_t(k)].enabled)
            out << "group " << (k + 1) << ": " << desk.groups[size_t(k)].caption << " = "
                << desk.groups[size_t(k)].list << Qt::endl;
    for (int i = 0; i < desk.lstDest.items.size(); ++i)
        out << "dest " << (i + 1) << (desk.lstDest.selected[i] ? " [x] " : " [ ] ")
            << desk.lstDest.items[i] << Qt::endl;
    out << "rows: " << desk.grid.maxRows() << ", selected: " << desk.selCount << Qt::endl;
    for (int r = 1; r <= desk.grid.maxRows(); ++r) {
        out << QString::number(r).rightJustified(4) << (desk.isTicked(r) ? " [x] " : " [ ] ");
        QStringList cells;
        for (int c : {ColProjectName, ColSectionKey, ColProjectType, ColSetupBuilderKind, ColExePath,
                      ColISResult1File, ColPatchResultFile})
            cells << desk.grid.text(c, r);
        out << cells.join(QStringLiteral(" | ")) << Qt::endl;
    }
}

// The program folder, site.ini, the password, then the shared start-up
// (instance lock, server addresses, self-update, login) answered through
// `ui`. Empty: go on. `session` holds the instance lock, so it outlives the
// run; it is made once the program folder is known (the update launcher
// names that folder to the file changer).
std::optional<int> startUp(const CommandLine& o, std::optional<StartUp>& session, HeadlessInteraction& ui,
                           QTextStream& err)
{
    resolveProgramFolder(o.home.isEmpty() ? QStringList() : QStringList{QStringLiteral("--home"), o.home});
    if (!firstStartMessage().isEmpty())
        err << firstStartMessage() << Qt::endl;
    loadSiteConfig();
    if (!siteConfigErrors().isEmpty()) {
        for (const QString& e : siteConfigErrors())
            err << e << Qt::endl;
        return ExitLoad;
    }
    cMySQL::setConnectionSecurity(cMySQL::securityOf(site()));

    // The password is read before anything else and never passed on: the
    // tools a release starts do not inherit it.
    QString password;
    if (!o.passwordFile.isEmpty()) {
        QFile f(o.passwordFile);
        if (!f.open(QIODevice::ReadOnly)) {
            err << "암호 파일을 읽을 수 없습니다: " << o.passwordFile << " (" << f.errorString() << ")" << Qt::endl;
            return ExitUsage;
        }
        password = QString::fromUtf8(f.readLine(4096));
        while (password.endsWith(QLatin1Char('\n')) || password.endsWith(QLatin1Char('\r')))
            password.chop(1);
    } else {
        password = qEnvironmentVariable(kPasswordVariable);
    }
    qunsetenv(kPasswordVariable);

    ui.yesToAll = o.yes;
    ui.retriesLeft = o.retries;
    setInteraction(&ui);

    // A dry run changes nothing from its first step: what start-up and the
    // desk would write is planned too.
    if (o.dryRun)
        journal().begin(Journal::Mode::Plan);

    StartUp& startUp = session.emplace();
    startUp.log = [&err](const QString& line) { err << "start-up: " << line << Qt::endl; };
    startUp.updater().openFolder = nullptr; // no file manager without a desktop
    bool noPassword = false;
    startUp.showLogin = [&](Login& login) {
        login.Form_Load();
        if (!password.isEmpty())
            login.txtPassword = password;
        noPassword = login.txtPassword.isEmpty();
        login.visible = true;
        login.Form_Activate(); // logs in at once when it has a password
        if (login.visible)
            login.cmdCancel_Click(); // nobody to type another one
    };
    const StartUp::Outcome outcome = startUp.Main();
    startUp.showLogin = nullptr; // it refers to this function's password
    switch (outcome) {
    case StartUp::Outcome::Proceed:
        return std::nullopt;
    case StartUp::Outcome::AlreadyRunning:
        return ExitAlreadyRunning;
    case StartUp::Outcome::HandedOver:
    case StartUp::Outcome::UpdateEnded:
        return ExitUpdating;
    case StartUp::Outcome::NotAllowed:
        err << "로그인하지 못했습니다: 허용되지 않은 컴퓨터입니다." << Qt::endl;
        return ExitNotAllowed;
    case StartUp::Outcome::DatabaseUnreachable:
        err << "로그인하지 못했습니다: 데이터베이스에 접속할 수 없습니다." << Qt::endl;
        return ExitDatabaseUnreachable;
    case StartUp::Outcome::NoLogin:
        if (noPassword)
            err << "로그인하지 못했습니다: 암호가 없습니다 (--password-file, ROLLHAVEN2_PASSWORD 또는 저장된 암호)."
                << Qt::endl;
        else
            err << "로그인하지 못했습니다." << Qt::endl;
        return ExitNoLogin;
    }
    return ExitNoLogin;
}

QString logsFolder()
{
    return outputFolder() + QStringLiteral("/logs");
}

int sendPending(Desk& desk, HeadlessInteraction& ui, QTextStream& err)
{
    const QString logs = logsFolder();
    QDir().mkpath(logs);
    const QString stem = logs + QStringLiteral("/pending_") + desk.now().toString(QStringLiteral("yyyyMMdd_HHmmss"));
    if (!ui.openLog(stem))
        err << "로그 파일을 만들 수 없습니다: " << stem << ".log" << Qt::endl;
    return SendPendingRecords(desk) == 0 ? ExitOk : ExitErrors;
}

void applyBoxes(Desk& desk, const QList<QPair<QString, bool>>& boxes)
{
    for (const auto& [name, on] : boxes) {
        if (name == QLatin1String("test-version")) {
            if (desk.chkTestVer.checked != on)
                desk.setTestVersion(on);
        } else if (name == QLatin1String("patch-only")) {
            desk.chkPatchOnly.checked = on;
        } else if (name == QLatin1String("write-ver")) {
            desk.chkWriteVer.checked = on;
        } else if (name == QLatin1String("ver-update")) {
            desk.chkVerUpdate.checked = on;
        } else if (name == QLatin1String("close-after")) {
            desk.chkEndUnload.checked = on; // not stored: a scripted run leaves the user's setting alone
        } else if (name == QLatin1String("ftp-auto-remove")) {
            desk.chkFTPAutoRemove.checked = on;
        }
    }
}

// The desk as the flags want it: date, setup INI, mode, boxes, steps, rows
// and destinations. Empty: ready.
std::optional<int> loadDesk(Desk& desk, const CommandLine& o, const std::optional<ResumeSource>& resumed,
                            QTextStream& err)
{
    if (resumed)
        setResumeClock(desk, *resumed);
    if (!o.today.isEmpty()) {
        const QDate d = QDate::fromString(o.today, QStringLiteral("yyyy-MM-dd"));
        if (!d.isValid()) {
            err << "날짜 형식이 잘못되었습니다: " << o.today << Qt::endl;
            return ExitUsage;
        }
        const qint64 offset = QDate::currentDate().daysTo(d);
        desk.now = [offset] { return QDateTime::currentDateTime().addDays(offset); };
    }
    desk.Form_Load();
    if (!o.ini.isEmpty()) {
        const int idx = int(desk.setupNames.indexOf(o.ini));
        if (idx < 0) {
            err << "설정파일(setup.ini)을 찾을수 없습니다." << " " << programFolder() << "/inis/" << o.ini
                << Qt::endl;
            return ExitLoad;
        }
        if (idx != desk.setupIndex)
            desk.chooseSetup(idx);
    }
    if (desk.IniPath.isEmpty() || desk.grid.maxRows() == 0)
        return ExitLoad;

    if (!o.mode.isEmpty()) {
        const QStringList modes{QStringLiteral("friday"), QStringLiteral("tuesday"), QStringLiteral("now")};
        const int m = int(modes.indexOf(o.mode.toLower()));
        if (m < 0) {
            err << "알 수 없는 배포 방식: " << o.mode << Qt::endl;
            return ExitUsage;
        }
        desk.optWeekClick(m);
    }
    applyBoxes(desk, o.boxes);
    QString error;
    if ((!o.steps.isEmpty() && !applySteps(desk, o.steps, &error)) || !applyRows(desk, o, &error)
        || (o.dest && !applyDestinations(desk, *o.dest, &error))) {
        err << error << Qt::endl;
        return ExitUsage;
    }
    if (resumed && !applyResume(desk, *resumed, &error)) {
        err << error << Qt::endl;
        return ExitLoad;
    }
    return std::nullopt;
}

int release(Desk& desk, const CommandLine& o, const std::optional<ResumeSource>& resumed, HeadlessInteraction& ui,
            QTextStream& err)
{
    const QString logs = logsFolder();
    QDir().mkpath(logs);
    const QString stem = logs + QStringLiteral("/run_") + desk.now().toString(QStringLiteral("yyyyMMdd_HHmmss"));
    if (!ui.openLog(stem))
        err << "로그 파일을 만들 수 없습니다: " << stem << ".log" << Qt::endl;
    // The journal and the report go beside the log, under the log's own name.
    const QString logPath = ui.logPath();
    desk.runFileBase = logPath.endsWith(QLatin1String(".log")) ? logPath.chopped(4) : stem;
    desk.chkDryRun.checked = o.dryRun;

    // Nobody is there to cancel a wait: it always has a limit.
    desk.signingTimeoutMs = o.signingTimeoutMs > 0 ? o.signingTimeoutMs
                                                   : qint64(site().signingWaitTimeoutMin) * 60 * 1000;
    desk.visible = true;
    installCancelSignals();
    if (resumed)
        armResume(desk, *resumed);
    const Desk::RunResult result = desk.btnTrans_Click();
    QString junitError;
    if (!o.junit.isEmpty() && !writeOwnFileAtomically(o.junit, junitReport(desk), &junitError))
        err << "JUnit 파일을 만들 수 없습니다: " << o.junit << " (" << junitError << ")" << Qt::endl;
    // A failed verification outranks the other errors of a finished run.
    const int finished = desk.verificationFailed() ? ExitVerify : desk.runErrorCount() > 0 ? ExitErrors : ExitOk;
    if (finished != ExitOk && result != Desk::RunResult::Stopped)
        err << "실행이 오류와 함께 끝났습니다: " << desk.runErrorSummary() << Qt::endl;
    switch (result) {
    case Desk::RunResult::Finished:
        if (!o.dryRun) // a dry run leaves the setup INI's selection as it was
            desk.requestClose();
        return finished;
    case Desk::RunResult::Closed:
        return finished;
    case Desk::RunResult::Cancelled:
        err << "실행이 취소되었습니다." << Qt::endl;
        return ExitCancelled;
    case Desk::RunResult::FtpFailed:
        return ExitStopped;
    case Desk::RunResult::Refused:
        err << "실행이 거부되었습니다: " << ui.lastMessage << Qt::endl;
        return ExitRefused;
    case Desk::RunResult::Stopped:
        err << "실행이 중단되었습니다." << (ui.lastMessage.isEmpty() ? QString() : QStringLiteral(" ") + ui.lastMessage)
            << Qt::endl;
        if (!o.dryRun)
            desk.requestClose();
        return ExitStopped;
    }
    return ExitStopped;
}

} // namespace

int runHeadless(const QStringList& args)
{
    QTextStream err(stderr);
    const CommandLine o = parseCommandLine(args);
    // Help wins over a bad flag beside it; neither needs a program folder (nor lays out a new one).
    if (o.help) {
        QTextStream(stdout) << headlessUsage();
        return ExitOk;
    }
    if (!o.error.isEmpty()) {
        err << o.error << Qt::endl << headlessUsage();
        return ExitUsage;
    }
    if (o.resume && (!o.ini.isEmpty() || !o.rows.isEmpty() || !o.group.isEmpty() || !o.mode.isEmpty()
                     || !o.today.isEmpty() || !o.steps.isEmpty() || o.dest || !o.boxes.isEmpty() || o.list
                     || o.sendPending)) {
        err << "--resume는 그 실행의 설정파일, 선택, 단계, 옵션, 목적지와 날짜를 그대로 씁니다: "
               "--ini, --rows, --all, --group, --mode, --today, --steps, --dest, 옵션 상자, --list, "
               "--send-pending과 함께 쓸 수 없습니다."
            << Qt::endl;
        return ExitUsage;
    }

    HeadlessInteraction ui;
    struct Reset {
        ~Reset() { setInteraction(nullptr); }
    } reset;
    std::optional<StartUp> session;
    if (const std::optional<int> ended = startUp(o, session, ui, err))
        return *ended;

    Desk desk;
    attachSteps(desk);
    desk.writeRunLog = false; // the interaction keeps this run's log, start-up included
    ui.desk = &desk;
    struct Detach {
        HeadlessInteraction& ui;
        ~Detach() { ui.desk = nullptr; }
    } detach{ui};
    if (o.sendPending)
        return sendPending(desk, ui, err);
    // A download server that cannot be reached ends the program at once.
    desk.endProgram = [] {
        std::fflush(nullptr);
        std::exit(ExitStopped);
    };
    std::optional<ResumeSource> resumed;
    if (o.resume) {
        QString error;
        resumed = findResumeSource(logsFolder(), *o.resume, &error);
        if (!resumed) {
            err << error << Qt::endl;
            return o.resume->isEmpty() ? ExitRefused : ExitUsage;
        }
    }
    if (const std::optional<int> refused = loadDesk(desk, o, resumed, err))
        return *refused;
    if (o.list) {
        printGrid(desk);
        return ExitOk;
    }
    return release(desk, o, resumed, ui, err);
}

} // namespace rh
