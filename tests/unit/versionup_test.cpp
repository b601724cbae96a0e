// Version-up of project files: month and counter schemes, the length rule,
// the recent-version question and the record in the setup INI.
#include "config/projectrow.h"
#include "pipeline/desk.h"
#include "pipeline/versionup.h"
#include "platform/profile.h"
#include "sandbox.h"
#include "testinteraction.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

using namespace rh;
using rh::test::Sandbox;
using rh::test::TestInteraction;

TEST(VersionUpScheme, MonthSchemeFollowsTheFifteenth)
{
    EXPECT_EQ(computeNewVersion("1", "404", QDate(2024, 5, 10)).text, QStringLiteral("1.405"));
    EXPECT_EQ(computeNewVersion("1", "404", QDate(2024, 5, 15)).text, QStringLiteral("1.406"));
    EXPECT_EQ(computeNewVersion("3", "412", QDate(2024, 12, 20)).text, QStringLiteral("3.501"));
    EXPECT_TRUE(computeNewVersion("1", "405", QDate(2024, 5, 10)).sameMonth);
}

TEST(VersionUpScheme, CounterSchemeSkipsRoundHundreds)
{
    EXPECT_EQ(computeNewVersion("1", "05", QDate(2024, 5, 10)).text, QStringLiteral("1.06"));
    EXPECT_EQ(computeNewVersion("1", "99", QDate(2024, 5, 10)).text, QStringLiteral("2.11"));
    EXPECT_EQ(computeNewVersion("1", "5", QDate(2024, 5, 10)).text, QStringLiteral("1.51"));
    EXPECT_EQ(computeNewVersion("1", "2405", QDate(2024, 5, 10)).text, QStringLiteral("1.25"));
    EXPECT_EQ(computeNewVersion("1", "10", QDate(2024, 5, 10)).text, QStringLiteral("1.11"));
    EXPECT_EQ(currentVersionText("1", "405"), QStringLiteral("1.405"));
    EXPECT_EQ(currentVersionText("1", "10"), QStringLiteral("1.1"));
}

TEST(VersionUpScheme, GetStringFromByteTakesAnInclusiveRange)
{
    const QByteArray b("MinorVer=405\r\n");
    EXPECT_EQ(GetStringFromByte(9, 11, b), QStringLiteral("405"));
    EXPECT_EQ(GetStringFromByte(9, 8, b), QString());
    EXPECT_EQ(GetStringFromByte(9, 99, b), QString());
}

namespace {

struct VerUpFixture : ::testing::Test {
    Sandbox box;
    TestInteraction ui;
    Desk desk;
    QDate today{2024, 5, 28};
    QString vbp;

    void load(const QByteArray& project, const QString& lastVersionUp = QString())
    {
        vbp = box.drive(QStringLiteral("D")) + QStringLiteral("/src/a.vbp");
        QDir().mkpath(box.drive(QStringLiteral("D")) + QStringLiteral("/src"));
        QFile f(vbp);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(project);
        f.close();
        QString ini = QStringLiteral("[Project]\r\nProject1=원장\r\n[Project1]\r\nVbpPath=D:\\src\\a.vbp\r\nISResult1=a_setup_2.exe\r\n");
        if (!lastVersionUp.isEmpty())
            ini += QStringLiteral("최종버전업=") + lastVersionUp + QStringLiteral("\r\n");
        box.writeIni(QStringLiteral("a.ini"), ini);
        desk.now = [this] { return QDateTime(today, QTime(14, 0)); };
        desk.Form_Load();
        desk.setTicked(1, true);
        ui.messages.clear();
        ui.log.clear();
    }
    QString record() const
    {
        return ProfileFile::load(desk.IniPath).getText(QStringLiteral("project1"), QStringLiteral("최종버전업"), {}, 200);
    }
};

const QByteArray kProject("Type=Exe\r\nName=\"a\"\r\nMajorVer=1\r\nMinorVer=404\r\nRevisionVer=7\r\nTitle=\"원장\"\r\n");

} // namespace

TEST_F(VerUpFixture, RewritesOnlyTheVersionBytesAndRecordsTheChange)
{
    load(kProject);
    ui.answer(true);
    desk.cmdVerUp_Click();
    EXPECT_EQ(Sandbox::readBytes(vbp), QByteArray(kProject).replace("MinorVer=404", "MinorVer=406"));
    EXPECT_EQ(ui.log, (QStringList{QStringLiteral("원장 : 버전업중..."), QStringLiteral("  현재버전: 1.404"),
                                   QStringLiteral("  신규버전: 1.406")}));
    EXPECT_EQ(record(), QStringLiteral("2024-05-28 : ver 1.404 -> 1.406"));
    EXPECT_TRUE(ui.messages[0].defaultNo);
    EXPECT_EQ(QDir(box.drive(QStringLiteral("D")) + QStringLiteral("/src")).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

TEST_F(VerUpFixture, CounterSchemeRewritesBothParts)
{
    load(QByteArray("MajorVer=1\r\nMinorVer=99\r\n"));
    ui.answer(true);
    desk.cmdVerUp_Click();
    EXPECT_EQ(Sandbox::readBytes(vbp), QByteArray("MajorVer=2\r\nMinorVer=11\r\n"));
}

TEST_F(VerUpFixture, FailuresLeaveTheFileAsItWas)
{
    struct Case {
        QByteArray project;
        QDate today;
        QString message;
    };
    const QList<Case> cases = {
        {"MajorVer=1\r\nMinorVer=405\r\n", QDate(2024, 5, 10), QStringLiteral("[원장]의 신/구버전이 동일합니다.(동일월)")},
        {"MajorVer=1\r\nMinorVer=5\r\n", QDate(2024, 5, 10), QStringLiteral("[원장]의 신/구버전의 길이가 달라 처리할 수 없습니다.")},
        {"MajorVer=1\r\nMinorVer=2405\r\n", QDate(2024, 5, 10), QStringLiteral("[원장]의 신/구버전의 길이가 달라 처리할 수 없습니다.")},
        {"MajorVer=1\r\nMinorVer=405", QDate(2024, 5, 10), QStringLiteral("[원장]의 현재버전을 구할수 없습니다.")},
        {"majorver=1\r\nMinorVer=405\r\n", QDate(2024, 5, 10), QStringLiteral("[원장]의 현재버전을 구할수 없습니다.")},
        {"", QDate(2024, 5, 10), QStringLiteral("[원장]의 현재버전을 구할수 없습니다.")},
    };
    for (const Case& c : cases) {
        today = c.today;
        load(c.project);
        ui.answer(true);
        desk.cmdVerUp_Click();
        EXPECT_EQ(Sandbox::readBytes(vbp), c.project) << c.message.toStdString();
        EXPECT_EQ(ui.tells(), QStringList{c.message});
        EXPECT_EQ(ui.log.last(), QStringLiteral("  ! 버전업 실패"));
        EXPECT_EQ(record(), QString());
    }
}

TEST_F(VerUpFixture, MissingProjectFileIsAnError)
{
    load(kProject);
    QFile::remove(vbp);
    ui.answer(true);
    desk.cmdVerUp_Click();
    EXPECT_EQ(ui.tells(), QStringList{QStringLiteral("Error 53 (File not found) in procedure ProcVerUp of Form FrmMain")});
    EXPECT_EQ(ui.log.last(), QStringLiteral("  ! 버전업 실패"));
}

TEST_F(VerUpFixture, RecentVersionUpAsksWithNoAsDefault)
{
    load(kProject, QStringLiteral("2024-05-09 : ver 1.403 -> 1.404")); // 19 days ago
    ui.answers({true, false});
    desk.cmdVerUp_Click();
    ASSERT_EQ(ui.questions().size(), 2);
    EXPECT_EQ(ui.questions()[1], QStringLiteral("원장은 최근(20일이내)에 버전업을 했습니다.(2024-05-09 : ver 1.403 -> 1.404)\r\n"
                                                 "그래도, 버전업을 하시겠습니까?"));
    EXPECT_TRUE(ui.messages[1].defaultNo);
    EXPECT_EQ(ui.log, QStringList{QStringLiteral("원장 : 버전업 생략")});
    EXPECT_EQ(Sandbox::readBytes(vbp), kProject);

    for (const QString& old : {QStringLiteral("2024-05-08 x"), QStringLiteral("not a date")}) {
        load(kProject, old); // 20 days ago, or no date: no question
        ui.answer(true);
        desk.cmdVerUp_Click();
        EXPECT_EQ(ui.questions().size(), 1) << old.toStdString();
    }
    // A future date counts as recent.
    load(kProject, QStringLiteral("2024-06-30"));
    ui.answers({true, true});
    desk.cmdVerUp_Click();
    EXPECT_EQ(ui.questions().size(), 2);
    EXPECT_EQ(record(), QStringLiteral("2024-05-28 : ver 1.404 -> 1.406"));
}

TEST_F(VerUpFixture, AnsweringNoChangesNothing)
{
    load(kProject);
    ui.answer(false);
    desk.cmdVerUp_Click();
    EXPECT_EQ(Sandbox::readBytes(vbp), kProject);
    EXPECT_TRUE(ui.log.isEmpty());
}
