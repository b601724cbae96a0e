// The side-effect journal at the layers that report to it: a planning run
// leaves the file system as it was yet reads back what it planned; a
// recording run acts and keeps the same entries.
#include "platform/journal.h"
#include "platform/launcher.h"
#include "platform/profile.h"
#include "platform/shellcopy.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace rh;

namespace {

void write(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

QStringList everything(const QString& folder)
{
    QStringList out;
    for (const QFileInfo& fi : QDir(folder).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                                                         QDir::Name))
        out << fi.fileName() + QLatin1Char(' ') + QString::number(fi.size());
    return out;
}

struct JournalTest : ::testing::Test {
    QTemporaryDir dir;
    QString at(const QString& name) const { return dir.filePath(name); }
    void TearDown() override { journal().end(); }

    // One of each file effect: a copy into a new folder, a rename, a delete,
    // an INI write, a whole-file write, a program start and its wait.
    void effects()
    {
        EXPECT_TRUE(shellCopy(at(QStringLiteral("a.exe")), at(QStringLiteral("out/")), true).ok());
        EXPECT_EQ(journaledRename(at(QStringLiteral("out/a.exe")), at(QStringLiteral("out/b.exe"))), 0);
        EXPECT_EQ(journaledUnlink(at(QStringLiteral("old.txt"))), 0);
        EXPECT_TRUE(WritePrivateProfileText(QStringLiteral("Project1"), QStringLiteral("최종버전업"),
                                            QStringLiteral("2026-12-09"), at(QStringLiteral("setup.ini"))));
        EXPECT_TRUE(writeFileAtomically(at(QStringLiteral("marker.txt")), "v"));
        const qint64 pid = startCommandLine(QStringLiteral("/bin/true x"));
        EXPECT_GT(pid, 0);
        EXPECT_TRUE(WaitForProcessEnded(pid));
    }
};

} // namespace

TEST_F(JournalTest, PlanLeavesFilesAloneButReadsBackWhatItPlanned)
{
    write(at(QStringLiteral("a.exe")), "12345");
    write(at(QStringLiteral("old.txt")), "old");
    write(at(QStringLiteral("setup.ini")), "[Project1]\r\nVbpPath=x\r\n");
    const QStringList before = everything(dir.path());

    journal().begin(Journal::Mode::Plan);
    effects();
    EXPECT_EQ(everything(dir.path()), before);
    EXPECT_FALSE(QDir(at(QStringLiteral("out"))).exists());

    // Later reads of the same run see the planned state.
    EXPECT_TRUE(journal().isFile(at(QStringLiteral("out/b.exe"))));
    EXPECT_EQ(journal().fileSize(at(QStringLiteral("out/b.exe"))), 5);
    EXPECT_FALSE(journal().isFile(at(QStringLiteral("out/a.exe"))));
    EXPECT_FALSE(journal().isFile(at(QStringLiteral("old.txt"))));
    EXPECT_EQ(GetPrivateProfileText(QStringLiteral("Project1"), QStringLiteral("최종버전업"), QString(),
                                    at(QStringLiteral("setup.ini"))),
              QStringLiteral("2026-12-09"));
    // A tool's output is taken as made, and says so; its content is pending.
    EXPECT_TRUE(journal().awaitFile(at(QStringLiteral("tool.out")), QStringLiteral("컴파일러")));
    EXPECT_TRUE(journal().pendingContent(at(QStringLiteral("tool.out"))));
    EXPECT_EQ(journal().entries().last().kind, EffectKind::Wait);
    EXPECT_TRUE(journal().entries().first().planned);

    const QString plan = renderJournal(journal().entries());
    EXPECT_TRUE(plan.contains(QStringLiteral("폴더생성"))) << plan.toStdString();
    EXPECT_TRUE(plan.contains(QStringLiteral("INI쓰기 ") + at(QStringLiteral("setup.ini"))
                              + QStringLiteral(" ([Project1] 최종버전업=2026-12-09)")));
    EXPECT_TRUE(plan.contains(QStringLiteral("실행 /bin/true x")));
}

TEST_F(JournalTest, RecordActsAndKeepsTheSameEntries)
{
    write(at(QStringLiteral("a.exe")), "12345");
    write(at(QStringLiteral("old.txt")), "old");
    write(at(QStringLiteral("setup.ini")), "[Project1]\r\nVbpPath=x\r\n");
    journal().begin(Journal::Mode::Plan);
    effects();
    QList<JournalEntry> planned = journal().entries();

    journal().begin(Journal::Mode::Record);
    effects();
    const QList<JournalEntry> done = journal().entries();
    EXPECT_EQ(everything(at(QStringLiteral("out"))), QStringList{QStringLiteral("b.exe 5")});
    EXPECT_FALSE(QFile::exists(at(QStringLiteral("old.txt"))));
    EXPECT_TRUE(QFile::exists(at(QStringLiteral("marker.txt"))));
    ASSERT_EQ(done.size(), planned.size());
    for (qsizetype i = 0; i < done.size(); ++i) {
        EXPECT_EQ(done[i].kind, planned[i].kind) << i;
        EXPECT_EQ(done[i].target, planned[i].target) << i;
        EXPECT_EQ(done[i].detail, planned[i].detail) << i;
        EXPECT_FALSE(done[i].planned);
    }

    // Idle outside a run: nothing is kept.
    journal().end();
    journal().begin(Journal::Mode::Idle);
    EXPECT_EQ(journaledUnlink(at(QStringLiteral("marker.txt"))), 0);
    EXPECT_TRUE(journal().entries().isEmpty());
}

TEST_F(JournalTest, ResumeSkipsTheLeadingWorkInPlaceAndActsFromTheFirstThatIsNot)
{
    write(at(QStringLiteral("a.exe")), "12345");
    write(at(QStringLiteral("old.txt")), "old");
    write(at(QStringLiteral("setup.ini")), "[Project1]\r\nVbpPath=x\r\n");
    auto run = [&](Journal::Mode mode) {
        journal().begin(mode);
        journal().setStep(QStringLiteral("배포"));
        journal().setProject(QStringLiteral("원장관리"));
        effects();
    };
    run(Journal::Mode::Record);
    const QList<JournalEntry> earlier = journal().entries();
    journal().end();

    // Someone changed the marker; everything before it is as the run left it.
    write(at(QStringLiteral("marker.txt")), "changed");
    journal().holdEarlier(earlier, true);
    QStringList told;
    journal().onDone = [&](const JournalEntry& e) { told << effectKindName(e.kind); };
    run(Journal::Mode::Resume);
    QStringList done, acted;
    for (const JournalEntry& e : journal().entries())
        if (e.kind != EffectKind::Wait)
            (e.done ? done : acted) << effectKindName(e.kind);
    // The folder is there: it is not even asked for.
    EXPECT_EQ(done, (QStringList{QStringLiteral("file-copy"), QStringLiteral("file-rename"), QStringLiteral("file-delete"),
                                 QStringLiteral("ini-write")}));
    EXPECT_EQ(told, done);
    // From the marker on, the project's work is done again: the program too,
    // though it left nothing behind that could have changed.
    EXPECT_EQ(acted, (QStringList{QStringLiteral("file-write"), QStringLiteral("process-start")}));
    QFile marker(at(QStringLiteral("marker.txt")));
    ASSERT_TRUE(marker.open(QIODevice::ReadOnly));
    EXPECT_EQ(marker.readAll(), QByteArray("v"));
}
