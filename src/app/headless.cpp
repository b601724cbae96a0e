#include "app/headless.h"

#include "app/junitreport.h"
#include "app/login.h"
#include "app/resumeflag.h"
#include "app/startup.h"

#include "config/projectrow.h"
#include "db/cmysql.h"
#include "pipeline/desk.h"
#include "pipeline/pendingrecords.h"
#include "pipeline/resume.h"
#include "pipeline/steps.h"
#include "platform/apphome.h"
#include "platform/interaction.h"
#include "platform/journal.h"
#include "platform/profile.h"
#include "platform/sitecfg.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTextStream>

#include <cstdio>
#include <algorithm>
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

struct Options {
    QString ini;
    QString rows;  // "1,3,5" or "all"
    QString group; // 1..8 or a caption
    QString mode;  // friday, tuesday, now
    QString today; // yyyy-MM-dd
    QString steps; // comma list, replaces the step boxes
    QString junit; // JUnit XML of the run goes here
    QString home;  // --home, the last one given
    std::optional<QString> dest; // destination numbers, replaces the selection ("" = none)
    qint64 signingTimeoutMs = 0;
    QString passwordFile;
    bool list = false;
    bool sendPending = false;
    bool yes = false;
    int retries = 0;
    bool dryRun = false;
    QList<QPair<QString, bool>> boxes; // option boxes set explicitly
};

const char* const kStepNames[6] = {"compile", "setup", "distribute", "run", "buildsign", "setupsign"};
const char* const kBoxNames[6] = {"test-version", "patch-only", "write-ver", "ver-update", "close-after",
                                  "ftp-auto-remove"};

const char* const kValueFlags[][2] = {
    {"home", "DIR"},        {"ini", "NAME"},       {"rows", "LIST"},           {"group", "N"},
    {"mode", "MODE"},       {"today", "DATE"},     {"steps", "LIST"},          {"dest", "LIST"},
    {"retries", "N"},       {"junit", "FILE"},     {"signing-timeout", "S"},   {"password-file", "FILE"},
};
const char* const kSwitches[] = {"headless", "list", "send-pending", "all", "yes", "dry-run"};

QList<QCommandLineOption> headlessOptions()
{
    // The usage text describes them; the parser only needs names and whether a value follows.
    QList<QCommandLineOption> options;
    options.append(QCommandLineOption(QStringList{QStringLiteral("h"), QStringLiteral("help")}));
    for (const char* name : kSwitches)
        options.append(QCommandLineOption(QLatin1String(name)));
    for (const auto& [name, value] : kValueFlags)
        options.append(QCommandLineOption(QLatin1String(name), QString(), QLatin1String(value)));
    for (const char* b : kBoxNames) {
        options.append(QCommandLineOption(QLatin1String(b)));
        options.append(QCommandLineOption(QStringLiteral("no-") + QLatin1String(b)));
    }
    return options;
}

// The parser's own error texts are English: name the argument in the program's words.
QString usageError(const QCommandLineParser& parser, const QList<QCommandLineOption>& options,
                   const QStringList& args)
{
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == QLatin1String("--"))
            break;
        if (!a.startsWith(QLatin1String("--"))) {
            // Named whole: "-platform" is one word to its writer, not eight letters.
            if (a.size() > 1 && a.startsWith(QLatin1Char('-')) && !parser.unknownOptionNames().isEmpty())
                return QStringLiteral("알 수 없는 옵션: ") + a;
            continue;
        }
        const QString name = a.mid(2).section(QLatin1Char('='), 0, 0);
        const auto known = std::find_if(options.begin(), options.end(),
                                        [&](const QCommandLineOption& o) { return o.names().contains(name); });
        if (known == options.end())
            return QStringLiteral("알 수 없는 옵션: ") + a;
        const bool hasValue = a.contains(QLatin1Char('='));
        if (known->valueName().isEmpty()) {
            if (hasValue)
                return QStringLiteral("값을 받지 않는 옵션입니다: ") + a;
        } else if (!hasValue && ++i == args.size()) {
            return QStringLiteral("옵션 값이 없습니다: ") + a;
        }
    }
    if (!parser.unknownOptionNames().isEmpty())
        return QStringLiteral("알 수 없는 옵션: -") + parser.unknownOptionNames().first();
    return parser.errorText();
}

std::optional<Options> parse(const QStringList& args, QString* error)
{
    QCommandLineParser parser;
    const QList<QCommandLineOption> options = headlessOptions();
    parser.addOptions(options);
    if (!parser.parse(QStringList{QStringLiteral("rollhaven2")} + args)) {
        *error = usageError(parser, options, args);
        return std::nullopt;
    }
    if (!parser.positionalArguments().isEmpty()) {
        *error = QStringLiteral("알 수 없는 옵션: ") + parser.positionalArguments().first();
        return std::nullopt;
    }
    Options o;
    // Flags take effect in the order given, so a later one overrides an earlier
    // one (--all after --rows,
    // --no-patch-only after --patch-only); k-th mention, k-th value.
    QHash<QString, qsizetype> mention;
    for (const QString& name : parser.optionNames()) {
        const QString v = parser.values(name).value(mention[name]++);
        if (name == QLatin1String("h") || name == QLatin1String("help")) {
            continue; // answered before the parse
        } else if (name == QLatin1String("home")) {
            o.home = v;
        } else if (name == QLatin1String("ini")) {
            o.ini = v;
        } else if (name == QLatin1String("rows")) {
            o.rows = v;
        } else if (name == QLatin1String("group")) {
            o.group = v;
        } else if (name == QLatin1String("mode")) {
            o.mode = v;
        } else if (name == QLatin1String("today")) {
            o.today = v;
        } else if (name == QLatin1String("steps")) {
            o.steps = v;
        } else if (name == QLatin1String("dest")) {
            o.dest = v;
        } else if (name == QLatin1String("signing-timeout")) {
            bool ok = false;
            const double seconds = v.toDouble(&ok);
            if (!ok || seconds <= 0 || seconds > 1e7) {
                *error = QStringLiteral("서명 대기시간이 잘못되었습니다(초): ") + v;
                return std::nullopt;
            }
            o.signingTimeoutMs = std::max<qint64>(1, qint64(seconds * 1000));
        } else if (name == QLatin1String("retries")) {
            bool ok = false;
            o.retries = v.toInt(&ok);
            if (!ok || o.retries < 0) {
                *error = QStringLiteral("--retries 값이 잘못되었습니다: ") + v;
                return std::nullopt;
            }
        } else if (name == QLatin1String("password-file")) {
            o.passwordFile = v;
        } else if (name == QLatin1String("junit")) {
            o.junit = v;
        } else if (name == QLatin1String("all")) {
            o.rows = QStringLiteral("all");
        } else if (name == QLatin1String("list")) {
            o.list = true;
        } else if (name == QLatin1String("send-pending")) {
            o.sendPending = true;
        } else if (name == QLatin1String("yes")) {
            o.yes = true;
        } else if (name == QLatin1String("dry-run")) {
            o.dryRun = true;
        } else {
            const bool off = name.startsWith(QLatin1String("no-"));
            const QString box = off ? name.mid(3) : name;
            for (const char* b : kBoxNames)
                if (box == QLatin1String(b))
                    o.boxes.append({box, !off});
        }
    }
    return o;
}

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

bool applyRows(Desk& desk, const Options& o, QString* error)
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

} // namespace

QStringList headlessFlags()
{
    QStringList flags;
    for (const QCommandLineOption& o : headlessOptions())
        for (const QString& name : o.names())
            flags << (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
    flags << QStringLiteral("--resume"); // taken out before the parse: its value is optional
    return flags;
}

QString headlessUsage()
{
    return QStringLiteral(
        "usage: rollhaven2 --headless [options]\n"
        "\n"
        "Runs a release without a window, on the same desk the window uses.\n"
        "\n"
        "  --home DIR            program folder (inis/, site.ini, logs/); default: ROLLHAVEN2_HOME,\n"
        "                        the executable's folder when it holds a site.ini, else\n"
        "                        $XDG_CONFIG_HOME/rollhaven2 (made on the first start)\n"
        "  --ini NAME            setup INI in inis/ (default: the first one)\n"
        "  --list                print the loaded project grid and exit\n"
        "  --send-pending        only send the work-diary and catalogue records that\n"
        "                        earlier runs kept in pending_records.json (a run\n"
        "                        sends them first by itself)\n"
        "  --rows 1,3,5 | --all  rows to tick (default: the selection saved in the INI)\n"
        "  --group N|CAPTION     tick the rows of a project group\n"
        "  --mode friday|tuesday|now\n"
        "                        distribution mode preset (default: by weekday)\n"
        "  --steps LIST          step boxes to tick: run,compile,buildsign,setup,setupsign,\n"
        "                        distribute, all or none (default: the mode's preset)\n"
        "  --dest 1,2            destinations to use, by number (default: all loaded)\n"
        "  --[no-]test-version --[no-]patch-only --[no-]write-ver --[no-]ver-update\n"
        "  --[no-]close-after --[no-]ftp-auto-remove\n"
        "                        option boxes\n"
        "  --yes                 answer Yes to every question (default: each question's\n"
        "                        default button); retry questions excepted\n"
        "  --retries N           answer Yes to N retry questions (compile, setup build)\n"
        "                        in all, No after that (default: 0, never retry)\n"
        "  --today YYYY-MM-DD    run as if today were this date (weekday and version-up rules)\n"
        "  --signing-timeout S   stop the run when the signed files are not back after S\n"
        "                        seconds (default: site.ini [Signing] WaitTimeout, 30 minutes)\n"
        "  --version             print the program's version and exit\n"
        "  -h, --help            print this help and exit\n"
        "  --password-file FILE  the login password (first line of FILE); else the variable\n"
        "                        ROLLHAVEN2_PASSWORD, else the password saved by the window\n"
        "  --dry-run             record what the run would do without doing it; the plan is\n"
        "                        printed and saved as logs/run_<start time>.plan.txt\n"
        "  --resume [RUN]        finish a run that did not finish (errors, stopped, cancelled,\n"
        "                        FTP failure, killed): the same setup INI, rows, steps, options,\n"
        "                        destinations and date; work still in place is not done again\n"
        "                        (\"이미 완료\" in the log). RUN: run_<start>, the start stamp\n"
        "                        or a .journal.jsonl path (default: the last such run); with\n"
        "                        --dry-run only the work left is planned\n"
        "  --junit FILE          write the run's result as JUnit XML (a test case per step\n"
        "                        and project) for CI engines\n"
        "\n"
        "Start-up comes first, as in the window: one instance per program folder, the\n"
        "server addresses, the self-update and the login of the account that the\n"
        "machine allow-list names for this machine.\n"
        "\n"
        "The run log goes to standard output and to logs/run_<start time>.log (under the\n"
        "program folder, or $XDG_STATE_HOME/rollhaven2 when that is not writable);\n"
        "messages and questions go to standard error, and every message is also an\n"
        "\"[오류] \" line of the run log. Beside the log: the journal of what the run did\n"
        "(.journal.txt, or .plan.txt for a dry run) and the run report (.json).\n"
        "Exit codes: 0 finished, 1 a check refused the run, 2 a step stopped it,\n"
        "3 bad usage, 4 the setup INI or site.ini could not be loaded,\n"
        "5 finished with errors (the log has \"[오류] \" lines), 6 finished but the\n"
        "end-of-run verification found a disagreement, 7 cancelled (SIGINT or SIGTERM:\n"
        "the current unit of work ends, the journal and report say cancelled; a second\n"
        "signal ends the program at once), 10 already running,\n"
        "11 machine not allowed, 12 login failed, 13 the program is being updated\n"
        "(the file changer restarts it with the same arguments), 14 the login could\n"
        "not reach the in-house database.\n");
}

int runHeadless(const QStringList& args)
{
    QTextStream err(stderr);
    // Help wins over a bad flag beside it; neither needs a program folder (nor lays out a new one).
    if (args.contains(QStringLiteral("--help")) || args.contains(QStringLiteral("-h"))) {
        QTextStream(stdout) << headlessUsage();
        return ExitOk;
    }
    QString error;
    std::optional<QString> resume;
    const std::optional<Options> parsed = parse(takeResumeFlag(args, &resume), &error);
    if (!parsed) {
        err << error << Qt::endl << headlessUsage();
        return ExitUsage;
    }
    const Options& o = *parsed;
    if (resume && (!o.ini.isEmpty() || !o.rows.isEmpty() || !o.group.isEmpty() || !o.mode.isEmpty()
                   || !o.today.isEmpty() || !o.steps.isEmpty() || o.dest || !o.boxes.isEmpty() || o.list
                   || o.sendPending)) {
        err << "--resume는 그 실행의 설정파일, 선택, 단계, 옵션, 목적지와 날짜를 그대로 씁니다: "
               "--ini, --rows, --all, --group, --mode, --today, --steps, --dest, 옵션 상자, --list, "
               "--send-pending과 함께 쓸 수 없습니다."
            << Qt::endl;
        return ExitUsage;
    }
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

    HeadlessInteraction ui;
    ui.yesToAll = o.yes;
    ui.retriesLeft = o.retries;
    setInteraction(&ui);
    struct Reset {
        ~Reset() { setInteraction(nullptr); }
    } reset;

    // A dry run changes nothing from its first step: what start-up and the
    // desk would write is planned too.
    if (o.dryRun)
        journal().begin(Journal::Mode::Plan);

    StartUp startUp;
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
    switch (startUp.Main()) {
    case StartUp::Outcome::Proceed:
        break;
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

    Desk desk;
    attachSteps(desk);
    desk.writeRunLog = false; // the interaction keeps this run's log, start-up included
    ui.desk = &desk;
    struct Detach {
        HeadlessInteraction& ui;
        ~Detach() { ui.desk = nullptr; }
    } detach{ui};
    const QString logs = outputFolder() + QStringLiteral("/logs");
    if (o.sendPending) {
        QDir().mkpath(logs);
        const QString stem = logs + QStringLiteral("/pending_") + desk.now().toString(QStringLiteral("yyyyMMdd_HHmmss"));
        if (!ui.openLog(stem))
            err << "로그 파일을 만들 수 없습니다: " << stem << ".log" << Qt::endl;
        return SendPendingRecords(desk) == 0 ? ExitOk : ExitErrors;
    }
    // A download server that cannot be reached ends the program at once.
    desk.endProgram = [] {
        std::fflush(nullptr);
        std::exit(ExitStopped);
    };
    std::optional<ResumeSource> resumed;
    if (resume) {
        resumed = findResumeSource(logs, *resume, &error);
        if (!resumed) {
            err << error << Qt::endl;
            return resume->isEmpty() ? ExitRefused : ExitUsage;
        }
        setResumeClock(desk, *resumed);
    }
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
    for (const auto& [name, on] : o.boxes) {
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
    if ((!o.steps.isEmpty() && !applySteps(desk, o.steps, &error)) || !applyRows(desk, o, &error)
        || (o.dest && !applyDestinations(desk, *o.dest, &error))) {
        err << error << Qt::endl;
        return ExitUsage;
    }

    if (resumed && !applyResume(desk, *resumed, &error)) {
        err << error << Qt::endl;
        return ExitLoad;
    }
    if (o.list) {
        printGrid(desk);
        return ExitOk;
    }

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

} // namespace rh
