#include "app/commandline.h"

#include <QCommandLineParser>
#include <QHash>

#include <algorithm>

namespace rh {
namespace {

using C = CommandLine;
using M = FlagMention;

// The first refusal stands: it is the one the user reads.
void refuse(C& c, const QString& why)
{
    if (c.error.isEmpty())
        c.error = why;
}

void setBox(C& c, const M& m)
{
    c.boxes.append({m.name, m.on});
}

// In the order --help lists them.
const OptionSpec kOptions[] = {
    {.name = "headless", .set = [](C& c, const M&) { c.headless = true; }},
    {.name = "home",
     .valueName = "DIR",
     .help = "program folder (inis/, site.ini, logs/); default: ROLLHAVEN2_HOME,\n"
             "the executable's folder when it holds a site.ini, else\n"
             "$XDG_CONFIG_HOME/rollhaven2 (made on the first start)",
     .set = [](C& c, const M& m) { c.home = m.value; }},
    {.name = "ini",
     .valueName = "NAME",
     .help = "setup INI in inis/ (default: the first one)",
     .set = [](C& c, const M& m) { c.ini = m.value; }},
    {.name = "list", .help = "print the loaded project grid and exit", .set = [](C& c, const M&) { c.list = true; }},
    {.name = "send-pending",
     .help = "only send the work-diary and catalogue records that\n"
             "earlier runs kept in pending_records.json (a run\n"
             "sends them first by itself)",
     .set = [](C& c, const M&) { c.sendPending = true; }},
    {.name = "rows",
     .valueName = "LIST",
     .help = "rows to tick (default: the selection saved in the INI)",
     .synopsis = "--rows 1,3,5 | --all",
     .set = [](C& c, const M& m) { c.rows = m.value; }},
    {.name = "all", .set = [](C& c, const M&) { c.rows = QStringLiteral("all"); }},
    {.name = "group",
     .valueName = "N|CAPTION",
     .help = "tick the rows of a project group",
     .set = [](C& c, const M& m) { c.group = m.value; }},
    {.name = "mode",
     .valueName = "friday|tuesday|now",
     .help = "distribution mode preset (default: by weekday)",
     .set = [](C& c, const M& m) { c.mode = m.value; }},
    {.name = "steps",
     .valueName = "LIST",
     .help = "step boxes to tick: run,compile,buildsign,setup,setupsign,\n"
             "distribute, all or none (default: the mode's preset)",
     .set = [](C& c, const M& m) { c.steps = m.value; }},
    {.name = "dest",
     .valueName = "1,2",
     .help = "destinations to use, by number (default: all loaded)",
     .set = [](C& c, const M& m) { c.dest = m.value; }},
    {.name = "test-version", .help = "option boxes", .negatable = true, .set = setBox},
    {.name = "patch-only", .help = "option boxes", .negatable = true, .set = setBox},
    {.name = "write-ver", .help = "option boxes", .negatable = true, .set = setBox},
    {.name = "ver-update", .help = "option boxes", .negatable = true, .set = setBox},
    {.name = "close-after", .help = "option boxes", .negatable = true, .set = setBox},
    {.name = "ftp-auto-remove", .help = "option boxes", .negatable = true, .set = setBox},
    {.name = "yes",
     .help = "answer Yes to every question (default: each question's\n"
             "default button); retry questions excepted",
     .set = [](C& c, const M&) { c.yes = true; }},
    {.name = "retries",
     .valueName = "N",
     .help = "answer Yes to N retry questions (compile, setup build)\n"
             "in all, No after that (default: 0, never retry)",
     .set =
         [](C& c, const M& m) {
             bool ok = false;
             c.retries = m.value.toInt(&ok);
             if (!ok || c.retries < 0)
                 refuse(c, QStringLiteral("--retries 값이 잘못되었습니다: ") + m.value);
         }},
    {.name = "today",
     .valueName = "YYYY-MM-DD",
     .help = "run as if today were this date (weekday and version-up rules)",
     .set = [](C& c, const M& m) { c.today = m.value; }},
    {.name = "signing-timeout",
     .valueName = "S",
     .help = "stop the run when the signed files are not back after S\n"
             "seconds (default: site.ini [Signing] WaitTimeout, 30 minutes)",
     .set =
         [](C& c, const M& m) {
             bool ok = false;
             const double seconds = m.value.toDouble(&ok);
             if (!ok || seconds <= 0 || seconds > 1e7)
                 refuse(c, QStringLiteral("서명 대기시간이 잘못되었습니다(초): ") + m.value);
             else
                 c.signingTimeoutMs = std::max<qint64>(1, qint64(seconds * 1000));
         }},
    {.name = "version",
     .help = "print the program's version and exit",
     .set =
         [](C& c, const M&) {
             if (c.query == C::Query::None)
                 c.query = C::Query::Version;
         }},
    // What the update launcher and the file changer ask a build for.
    {.name = "revision",
     .internal = true,
     .set =
         [](C& c, const M&) {
             if (c.query == C::Query::None)
                 c.query = C::Query::Revision;
         }},
    {.name = "help", .shortName = 'h', .help = "print this help and exit", .set = [](C& c, const M&) { c.help = true; }},
    {.name = "password-file",
     .valueName = "FILE",
     .help = "the login password (first line of FILE); else the variable\n"
             "ROLLHAVEN2_PASSWORD, else the password saved by the window",
     .set = [](C& c, const M& m) { c.passwordFile = m.value; }},
    {.name = "dry-run",
     .help = "record what the run would do without doing it; the plan is\n"
             "printed and saved as logs/run_<start time>.plan.txt",
     .set = [](C& c, const M&) { c.dryRun = true; }},
    {.name = "resume",
     .valueName = "RUN",
     .help = "finish a run that did not finish (errors, stopped, cancelled,\n"
             "FTP failure, killed): the same setup INI, rows, steps, options,\n"
             "destinations and date; work still in place is not done again\n"
             "(\"이미 완료\" in the log). RUN: run_<start>, the start stamp\n"
             "or a .journal.jsonl path (default: the last such run); with\n"
             "--dry-run only the work left is planned",
     .synopsis = "--resume [RUN]",
     .optionalValue = true,
     .set = [](C& c, const M& m) { c.resume = m.value; }},
    {.name = "junit",
     .valueName = "FILE",
     .help = "write the run's result as JUnit XML (a test case per step\n"
             "and project) for CI engines",
     .set = [](C& c, const M& m) { c.junit = m.value; }},
};

const QLatin1StringView kNo("no-");

QList<QCommandLineOption> parserOptions()
{
    QList<QCommandLineOption> options;
    for (const OptionSpec& o : kOptions) {
        QStringList names;
        if (o.shortName)
            names << QString(QLatin1Char(o.shortName));
        names << QLatin1String(o.name);
        options.append(QCommandLineOption(names, QString(), o.valueName ? QLatin1String(o.valueName) : QString()));
        if (o.negatable)
            options.append(QCommandLineOption(kNo + QLatin1String(o.name)));
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

// The table row a name the parser reports belongs to; `on` false for "--no-NAME".
const OptionSpec* specOf(const QString& name, bool* on)
{
    for (const OptionSpec& o : kOptions) {
        *on = true;
        if (name == QLatin1String(o.name) || (o.shortName && name == QLatin1Char(o.shortName)))
            return &o;
        *on = false;
        if (o.negatable && name.startsWith(kNo) && QStringView(name).mid(kNo.size()) == QLatin1String(o.name))
            return &o;
    }
    return nullptr;
}

// "--name VALUE", or the row's own spelling; "-h, --help" with a short name.
QString synopsisOf(const OptionSpec& o)
{
    if (o.synopsis)
        return QLatin1String(o.synopsis);
    QString s = o.shortName ? QStringLiteral("-%1, --").arg(QLatin1Char(o.shortName)) : QStringLiteral("--");
    s += QLatin1String(o.name);
    if (o.valueName)
        s += QLatin1Char(' ') + QLatin1String(o.valueName);
    return s;
}

// The options part of --help: the synopsis in the first 22 columns and the
// text beside it, or on the lines below when the synopsis is wider.
QString optionsHelp()
{
    constexpr int kColumn = 24, kWidth = 78;
    const QString indent(kColumn, QLatin1Char(' '));
    QString out;
    const std::span<const OptionSpec> all(kOptions);
    for (size_t i = 0; i < all.size(); ++i) {
        const OptionSpec& o = all[i];
        if (!o.help || o.internal)
            continue;
        QStringList synopsis{QString()};
        if (o.negatable) {
            // Neighbouring option boxes with one text share one entry.
            for (; i < all.size() && all[i].negatable && qstrcmp(all[i].help, o.help) == 0; ++i) {
                const QString word = QStringLiteral("--[no-]") + QLatin1String(all[i].name);
                if (!synopsis.last().isEmpty() && 2 + synopsis.last().size() + 1 + word.size() > kWidth)
                    synopsis << QString();
                synopsis.last() += (synopsis.last().isEmpty() ? QString() : QStringLiteral(" ")) + word;
            }
            --i;
        } else {
            synopsis.last() = synopsisOf(o);
        }
        const QStringList text = QString::fromUtf8(o.help).split(QLatin1Char('\n'));
        qsizetype first = 0;
        if (synopsis.size() == 1 && synopsis.first().size() <= kColumn - 4) {
            out += QStringLiteral("  ") + synopsis.first().leftJustified(kColumn - 2) + text.first() + QLatin1Char('\n');
            first = 1;
        } else {
            for (const QString& line : synopsis)
                out += QStringLiteral("  ") + line + QLatin1Char('\n');
        }
        for (qsizetype k = first; k < text.size(); ++k)
            out += indent + text[k] + QLatin1Char('\n');
    }
    return out;
}

// A flag whose value may be left out gets it spelled "--name=VALUE" (empty
// when left out), so the parser sees a value either way; a following word
// is its value unless it is a flag.
QStringList withOptionalValues(const QStringList& args)
{
    QStringList out;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == QLatin1String("--")) {
            out << args.mid(i);
            break;
        }
        const auto spec = std::find_if(std::begin(kOptions), std::end(kOptions), [&](const OptionSpec& o) {
            return o.optionalValue && a == QLatin1String("--") + QLatin1String(o.name);
        });
        if (spec == std::end(kOptions)) {
            out << a;
            continue;
        }
        QString value;
        if (i + 1 < args.size() && !args[i + 1].startsWith(QLatin1Char('-')))
            value = args[++i];
        out << a + QLatin1Char('=') + value;
    }
    return out;
}

} // namespace

std::span<const OptionSpec> commandLineOptions()
{
    return kOptions;
}

CommandLine parseCommandLine(const QStringList& args)
{
    QCommandLineParser parser;
    // "-h" is help; "-platform" is one word to its writer, not eight letters.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QList<QCommandLineOption> options = parserOptions();
    parser.addOptions(options);
    CommandLine c;
    const QStringList given = withOptionalValues(args);
    if (!parser.parse(QStringList{QStringLiteral("rollhaven2")} + given))
        c.error = usageError(parser, options, given);
    else if (!parser.positionalArguments().isEmpty())
        c.error = QStringLiteral("알 수 없는 옵션: ") + parser.positionalArguments().first();
    // Flags take effect in the order given, so a later one overrides an earlier
    // one (--all after --rows, --no-patch-only after --patch-only); k-th
    // mention, k-th value. A bad argument beside them still leaves --help and
    // the queries answered.
    QHash<QString, qsizetype> mention;
    for (const QString& name : parser.optionNames()) {
        const QString value = parser.values(name).value(mention[name]++);
        bool on = true;
        if (const OptionSpec* o = specOf(name, &on))
            o->set(c, {QLatin1String(o->name), value, on});
    }
    return c;
}

QStringList headlessFlags()
{
    QStringList flags;
    for (const OptionSpec& o : kOptions) {
        if (o.internal)
            continue;
        if (o.shortName)
            flags << QStringLiteral("-") + QLatin1Char(o.shortName);
        flags << QStringLiteral("--") + QLatin1String(o.name);
        if (o.negatable)
            flags << QStringLiteral("--no-") + QLatin1String(o.name);
    }
    return flags;
}

QString headlessUsage()
{
    return QStringLiteral("usage: rollhaven2 --headless [options]\n"
                          "\n"
                          "Runs a release without a window, on the same desk the window uses.\n"
                          "\n")
        + optionsHelp()
        + QStringLiteral(
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

} // namespace rh
