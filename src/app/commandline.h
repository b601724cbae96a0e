#pragma once
// The program's command line: one table of options from which the parser,
// the headless runner's --help and the front-end choice in main() come. The
// shell completion file and the manual page are checked against it by a test.
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <optional>
#include <span>

namespace rh {

// What the arguments ask for, set flag by flag in the order given.
struct CommandLine {
    // Answered before anything else by either front end; the first one given wins.
    enum class Query { None, Version, Revision };
    Query query = Query::None;
    bool headless = false;
    bool help = false;

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
    // --resume [RUN]: the run to finish; empty: the last one that did not finish.
    std::optional<QString> resume;
    QList<QPair<QString, bool>> boxes; // option boxes set explicitly, in the order given

    // Why the arguments cannot be run, in the program's words; empty when they
    // can. Help and the queries are answered even then.
    QString error;
};

// One mention of a flag: its table name, its value, and false for "--no-NAME".
struct FlagMention {
    QString name;
    QString value;
    bool on = true;
};

struct OptionSpec {
    const char* name = nullptr; // without dashes
    char shortName = 0;
    const char* valueName = nullptr; // null: a switch
    // The --help text, lines split by '\n'; null: not listed (named elsewhere).
    const char* help = nullptr;
    // How --help names it, when not "--name VALUE".
    const char* synopsis = nullptr;
    bool negatable = false; // also "--no-NAME"
    bool internal = false;  // asked by the update programs: not listed, not completed
    bool optionalValue = false; // "--name", "--name VALUE" or "--name=VALUE"
    void (*set)(CommandLine&, const FlagMention&) = nullptr;
};

std::span<const OptionSpec> commandLineOptions();

// Never fails outright: a bad argument leaves its message in `error`.
CommandLine parseCommandLine(const QStringList& args);

QString headlessUsage();
// Every flag the parser accepts, with its dashes.
QStringList headlessFlags();

} // namespace rh
