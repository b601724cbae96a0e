// The option table against what users are offered beside --help (the shell
// completion and the manual page), and the parser's answers where an
// argument could be read two ways.
#include "app/commandline.h"

#include <QFile>
#include <QRegularExpression>
#include <QSet>

#include <gtest/gtest.h>

#include <algorithm>

using namespace rh;

namespace {

QString sourceText(const char* path)
{
    QFile f(QStringLiteral(RH_SOURCE_DIR "/") + QLatin1String(path));
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

std::string sorted(QStringList words)
{
    words.removeDuplicates();
    std::sort(words.begin(), words.end());
    return words.join(QLatin1Char(' ')).toStdString();
}

QStringList longFlags(bool withInternal, bool valuesOnly)
{
    QStringList flags;
    for (const OptionSpec& o : commandLineOptions()) {
        if ((o.internal && !withInternal) || (valuesOnly && !o.valueName))
            continue;
        flags << QStringLiteral("--") + QLatin1String(o.name);
        if (o.negatable)
            flags << QStringLiteral("--no-") + QLatin1String(o.name);
    }
    return flags;
}

CommandLine parse(std::initializer_list<const char*> args)
{
    QStringList list;
    for (const char* a : args)
        list << QString::fromUtf8(a);
    return parseCommandLine(list);
}

} // namespace

TEST(CommandLine, HelpCompletionAndManualPageNameExactlyTheFlagsOfTheTable)
{
    // --help describes every flag the parser takes ("--[no-]patch-only" covers both).
    const QString help = headlessUsage();
    for (const QString& flag : headlessFlags()) {
        const QString box = QStringLiteral("--[no-]") + flag.mid(flag.startsWith(QLatin1String("--no-")) ? 5 : 2);
        EXPECT_TRUE(help.contains(flag + QLatin1Char(' ')) || help.contains(flag + QLatin1Char(',')) || help.contains(box))
            << flag.toStdString();
    }

    const QString completion = sourceText("packaging/rollhaven2.bash-completion");
    ASSERT_FALSE(completion.isEmpty());
    // The words offered where a flag may go.
    const qsizetype flagsAt = completion.indexOf(QStringLiteral("if [[ $cur == -* ]]"));
    ASSERT_GE(flagsAt, 0);
    const QRegularExpressionMatch offered =
        QRegularExpression(QStringLiteral("compgen -W '([^']*)'")).match(completion, flagsAt);
    ASSERT_TRUE(offered.hasMatch());
    EXPECT_EQ(sorted(offered.captured(1).split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts)),
              sorted(longFlags(false, false)));
    // Every flag that takes a value has an arm for it, so no flag is offered as its value.
    QStringList arms;
    const qsizetype caseAt = completion.indexOf(QStringLiteral("case $prev in"));
    const qsizetype esacAt = completion.indexOf(QStringLiteral("esac"), caseAt);
    ASSERT_TRUE(caseAt >= 0 && esacAt > caseAt);
    const QRegularExpression arm(QStringLiteral("^\\s*(--[a-z-]+(?:\\s*\\|\\s*--[a-z-]+)*)\\)\\s*$"),
                                 QRegularExpression::MultilineOption);
    for (auto m = arm.globalMatch(completion.mid(caseAt, esacAt - caseAt)); m.hasNext();)
        arms << m.next().captured(1).split(QLatin1Char('|'), Qt::SkipEmptyParts).replaceInStrings(
            QRegularExpression(QStringLiteral("\\s")), QString());
    EXPECT_EQ(sorted(arms), sorted(longFlags(false, true)));

    // The manual page describes every flag, the update programs' one too.
    const QString manual = sourceText("packaging/rollhaven2.1").replace(QStringLiteral("\\-"), QStringLiteral("-"));
    ASSERT_FALSE(manual.isEmpty());
    QStringList described;
    const QRegularExpression entry(QStringLiteral("^\\.TP\\n\\.B[IR]? ([^\\n]*)"), QRegularExpression::MultilineOption);
    for (auto m = entry.globalMatch(manual); m.hasNext();) {
        const QString heading = m.next().captured(1);
        for (auto f = QRegularExpression(QStringLiteral("--[a-z][a-z-]*")).globalMatch(heading); f.hasNext();)
            described << f.next().captured(0);
    }
    EXPECT_EQ(sorted(described), sorted(longFlags(true, false)));
}

TEST(CommandLine, HelpAndQueriesAreAnsweredBesideABadFlagAndAValueIsNeverAFlag)
{
    const CommandLine bad = parse({"--bogus", "--help"});
    EXPECT_TRUE(bad.help);
    EXPECT_EQ(bad.error, QStringLiteral("알 수 없는 옵션: --bogus"));
    EXPECT_EQ(parse({"--list=yes", "--revision", "--version"}).query, CommandLine::Query::Revision);

    // What follows a flag that takes a value is that value, whatever it looks like.
    const CommandLine valued = parse({"--ini", "--version", "--password-file", "-h"});
    EXPECT_EQ(valued.query, CommandLine::Query::None);
    EXPECT_FALSE(valued.help);
    EXPECT_EQ(valued.ini, QStringLiteral("--version"));
    EXPECT_TRUE(valued.error.isEmpty()) << valued.error.toStdString();

    // A word after one dash is one option (Qt's own, for the window), not a row of letters with "h" among them.
    const CommandLine qt = parse({"-stylesheet", "x.qss"});
    EXPECT_FALSE(qt.help || qt.headless);
    EXPECT_EQ(qt.error, QStringLiteral("알 수 없는 옵션: -stylesheet"));
}
