#include "platform/codepage.h"
#include "platform/profile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <functional>

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

using namespace rh;

namespace {

QByteArray cp(const char* utf8)
{
    return toAnsi(QString::fromUtf8(utf8));
}

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QString golden(const QString& name)
{
    return QStringLiteral(RH_SOURCE_DIR "/tests/unit/data/profile/") + name;
}

} // namespace

TEST(ProfileRead, MatchesSectionsAndKeysCaseInsensitively)
{
    ProfileFile p(cp("[general]\r\nupxEXEpath=D:\\tools\\upx.exe\r\n업무일지ID=홍길동\r\n"));
    EXPECT_EQ(p.getText(QStringLiteral("GENERAL"), QStringLiteral("UpxExePath"), {}, 200),
              QStringLiteral("D:\\tools\\upx.exe"));
    EXPECT_EQ(p.getText(QStringLiteral("General"), QStringLiteral("업무일지ID"), {}, 200),
              QStringLiteral("홍길동"));
    EXPECT_EQ(p.getText(QStringLiteral("General"), QStringLiteral("Missing"), QStringLiteral("dflt"), 200),
              QStringLiteral("dflt"));
    EXPECT_EQ(p.getText(QStringLiteral("Nowhere"), QStringLiteral("UpxExePath"), QStringLiteral("d"), 200),
              QStringLiteral("d"));
}

TEST(ProfileRead, TrimsBlanksAndOnePairOfQuotes)
{
    ProfileFile p(QByteArray("[S]\n  a  =  value with  inner  \n"
                             "b=\"quoted \"\nc='single'\nd=\"\"inner\"\"\ne=\"open\nf='mixed\"\n g\t=\t x \n"));
    auto v = [&](const char* k) { return p.getText(QStringLiteral("S"), QString::fromLatin1(k), {}, 200); };
    EXPECT_EQ(v("a"), QStringLiteral("value with  inner"));
    EXPECT_EQ(v("b"), QStringLiteral("quoted "));
    EXPECT_EQ(v("c"), QStringLiteral("single"));
    EXPECT_EQ(v("d"), QStringLiteral("\"inner\""));
    EXPECT_EQ(v("e"), QStringLiteral("\"open"));
    EXPECT_EQ(v("f"), QStringLiteral("'mixed\""));
    EXPECT_EQ(v("g"), QStringLiteral("x"));
}

TEST(ProfileRead, FirstDuplicateWinsAndOnlyFirstSectionIsSearched)
{
    ProfileFile p(QByteArray("[A]\nk=first\nK=second\n[B]\nx=1\n[a]\nk=third\nonly=in second A\n"));
    EXPECT_EQ(p.getText(QStringLiteral("A"), QStringLiteral("k"), {}, 200), QStringLiteral("first"));
    EXPECT_EQ(p.getText(QStringLiteral("A"), QStringLiteral("only"), QStringLiteral("none"), 200),
              QStringLiteral("none"));
}

TEST(ProfileRead, CommentsAndLinesWithoutEqualsAreNotKeys)
{
    ProfileFile p(QByteArray("[A]\n;k=commented\n  ;j=also\nplain line\nk=real\n"));
    EXPECT_EQ(p.getText(QStringLiteral("A"), QStringLiteral("k"), {}, 200), QStringLiteral("real"));
    EXPECT_EQ(p.getText(QStringLiteral("A"), QStringLiteral("j"), QStringLiteral("-"), 200), QStringLiteral("-"));
    EXPECT_EQ(p.getText(QStringLiteral("A"), QStringLiteral("plain line"), QStringLiteral("-"), 200),
              QStringLiteral("-"));
}

TEST(ProfileRead, HeaderNameEndsAtTheFirstBracketOrTheLineEnd)
{
    // As Windows reads them: text after the first "]" is ignored (a key there
    // belongs to no section), a header without "]" runs to the line's end.
    ProfileFile p(QByteArray("[A]\nk=a\n[B] ; note\nk=b\n[C]x=lost\n[broken  \nz=in broken\n"
                             "[D]]E]\nk=d\n\t[[F]\nk=f\n"));
    auto v = [&](const char* section, const char* key) {
        return p.getText(QString::fromLatin1(section), QString::fromLatin1(key), QStringLiteral("-"), 200);
    };
    EXPECT_EQ(v("B", "k"), QStringLiteral("b"));
    EXPECT_EQ(v("C", "x"), QStringLiteral("-"));
    EXPECT_EQ(v("A", "z"), QStringLiteral("-"));
    EXPECT_EQ(v("broken", "z"), QStringLiteral("in broken"));
    EXPECT_EQ(v("D", "k"), QStringLiteral("d"));
    EXPECT_EQ(v("[F", "k"), QStringLiteral("f"));
    EXPECT_EQ(p.sectionNames(), (QStringList{"A", "B", "C", "broken", "D", "[F"}));
}

TEST(ProfileRead, DefaultLosesOnlyTrailingSpaces)
{
    ProfileFile p(QByteArray("[A]\nk=v\n"));
    auto d = [&](const char* dflt) {
        return p.getString(QStringLiteral("A"), QStringLiteral("none"), QByteArray(dflt), 200);
    };
    EXPECT_EQ(d("default  "), QByteArray("default"));
    EXPECT_EQ(d("  one two  "), QByteArray("  one two"));
    EXPECT_EQ(d("tab\t"), QByteArray("tab\t"));
    EXPECT_EQ(d("line\r\n"), QByteArray("line\r\n"));
    EXPECT_EQ(d("   "), QByteArray(""));
    // Cut after the blanks are gone.
    EXPECT_EQ(p.getString(QStringLiteral("A"), QStringLiteral("none"), QByteArray("ab   "), 4), QByteArray("ab"));
}

TEST(ProfileRead, AllLineEndsRead)
{
    for (const char* sep : {"\r", "\n", "\r\n"}) {
        QByteArray text = QByteArray("[A]") + sep + "x=1" + sep + "y=2" + sep + "[B]" + sep + "x=3";
        ProfileFile p(text);
        EXPECT_EQ(p.getText(QStringLiteral("A"), QStringLiteral("y"), {}, 200), QStringLiteral("2")) << sep;
        EXPECT_EQ(p.getText(QStringLiteral("B"), QStringLiteral("x"), {}, 200), QStringLiteral("3")) << sep;
    }
}

TEST(ProfileRead, BufferSizeCutsTheValue)
{
    QByteArray longValue(250, 'v');
    ProfileFile p(QByteArray("[A]\nk=") + longValue + "\n");
    EXPECT_EQ(p.getString(QStringLiteral("A"), QStringLiteral("k"), {}, 200), QByteArray(199, 'v'));
    // The default is cut the same way.
    EXPECT_EQ(p.getString(QStringLiteral("A"), QStringLiteral("none"), QByteArray("abcdef"), 4),
              QByteArray("abc"));

    // 198 ASCII bytes then a Hangul pair: the pair would end at byte 200, so the
    // orphan lead byte is dropped and 198 bytes come back.
    QByteArray mixed = QByteArray(198, 'a') + cp("한") + "tail";
    ProfileFile q(QByteArray("[A]\nk=") + mixed + "\n");
    QByteArray got = q.getString(QStringLiteral("A"), QStringLiteral("k"), {}, 200);
    EXPECT_EQ(got, QByteArray(198, 'a'));
    // With an odd prefix the pair fits whole.
    QByteArray mixed2 = QByteArray(197, 'a') + cp("한") + "tail";
    ProfileFile r(QByteArray("[A]\nk=") + mixed2 + "\n");
    EXPECT_EQ(r.getString(QStringLiteral("A"), QStringLiteral("k"), {}, 200), QByteArray(197, 'a') + cp("한"));
}

TEST(ProfileRead, KoreanKeysDoNotFoldTogether)
{
    // Trail bytes of CP949 fall in the ASCII letter range; byte-wise case folding
    // would make these two different syllables equal.
    QByteArray a("\x81\x41", 2), b("\x81\x61", 2);
    ASSERT_NE(fromAnsi(a), fromAnsi(b));
    ProfileFile p(QByteArray("[S]\n") + a + "=first\n" + b + "=second\n");
    EXPECT_EQ(p.getText(QStringLiteral("S"), fromAnsi(b), {}, 200), QStringLiteral("second"));
}

TEST(ProfileRead, BadInputNeverBreaks)
{
    QByteArray binary;
    for (int i = 0; i < 100000; ++i)
        binary += char((i * 7919) & 0xFF);
    ProfileFile p(binary);
    (void)p.getString(QStringLiteral("x"), QStringLiteral("y"), "d", 200);
    // A 1 MB line is one key like any other.
    QByteArray bigLine = "[A]\nk=" + QByteArray(1 << 20, 'x') + "\nafter=1\n";
    ProfileFile q(bigLine);
    EXPECT_EQ(q.getString(QStringLiteral("A"), QStringLiteral("k"), {}, 200).size(), 199);
    EXPECT_EQ(q.getText(QStringLiteral("A"), QStringLiteral("after"), {}, 200), QStringLiteral("1"));
    // Invalid CP949 bytes decode with replacement characters, not errors.
    ProfileFile r(QByteArray("[A]\nk=ab\xFF\xFFz\n"));
    QString v = r.getText(QStringLiteral("A"), QStringLiteral("k"), {}, 200);
    EXPECT_TRUE(v.startsWith(QStringLiteral("ab")));
    EXPECT_TRUE(v.endsWith(QLatin1Char('z')));
}

TEST(ProfileNames, AListedNameDenotesItsOwnSectionForReaderAndWriter)
{
    // Undecodable bytes, a lone lead byte at the name's end and NUL: each
    // listed name reads and writes its own section, never a namesake such as
    // "[?]" that a lossy decoding would give.
    const char raw[] = "[\xC1]\nk=1\n[?]\nk=2\n[ab\xB0]\nk=3\n[n\0ul]\nk=4\n[\xFF\xFE]\nk=5\n";
    const QByteArray file(raw, sizeof(raw) - 1);
    ProfileFile p(file);
    const QStringList names = p.sectionNames();
    ASSERT_EQ(names.size(), 5);
    for (int i = 0; i < names.size(); ++i)
        EXPECT_EQ(p.value(names[i], QStringLiteral("k")), QByteArray::number(i + 1)) << i;
    EXPECT_FALSE(sameProfileName(names[0], QStringLiteral("?")));
    EXPECT_TRUE(sameProfileName(names[1], QStringLiteral(" ? ")));
    EXPECT_TRUE(sameProfileName(QStringLiteral("General"), QStringLiteral("gENERAL")));

    ASSERT_TRUE(p.setString(names[0], QStringLiteral("k"), "new"));
    const ProfileFile again(p.bytes());
    EXPECT_EQ(again.value(names[0], QStringLiteral("k")), QByteArray("new"));
    for (int i = 1; i < names.size(); ++i)
        EXPECT_EQ(again.value(names[i], QStringLiteral("k")), QByteArray::number(i + 1)) << i;
}

TEST(ProfileNames, WriterRefusesWhatWouldNotReadBack)
{
    ProfileFile p(QByteArray("[A]\r\nk=v\r\n"));
    const QByteArray before = p.bytes();
    const QString a = QStringLiteral("A"), k = QStringLiteral("k");
    EXPECT_FALSE(p.setString(QStringLiteral("sec]whoops"), k, "x"));
    EXPECT_FALSE(p.setString(QStringLiteral("two\nlines"), k, "x"));
    for (const char* key : {"a=b", ";k", "[k", "", "k\r"})
        EXPECT_FALSE(p.setString(a, QString::fromLatin1(key), "x")) << key;
    EXPECT_FALSE(p.setString(a, k, "one\r\n[B]\r\nk=two"));
    EXPECT_EQ(p.bytes(), before);
}

struct WriteCase {
    const char* file;
    const char* section;
    const char* key;
    const char* value;
};

class ProfileWrite : public ::testing::TestWithParam<WriteCase> {};

TEST_P(ProfileWrite, MatchesGoldenFile)
{
    const WriteCase c = GetParam();
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("setup.ini"));
    ASSERT_TRUE(QFile::copy(golden(QString::fromLatin1(c.file) + QStringLiteral(".in.ini")), path));
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    ASSERT_TRUE(WritePrivateProfileText(QString::fromUtf8(c.section), QString::fromUtf8(c.key),
                                        QString::fromUtf8(c.value), path));
    EXPECT_EQ(readAll(path), readAll(golden(QString::fromLatin1(c.file) + QStringLiteral(".expected.ini"))));
    // Nothing else left behind in the folder (the temporary was renamed).
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Golden, ProfileWrite,
    ::testing::Values(WriteCase{"replace", "GENERAL", "recentprojects", ";2;5"},
                      WriteCase{"addkey", "General", "ISResultFolder", "D:\\결과"},
                      WriteCase{"addsection", "Project3", "최종버전업", "2026-12-08"},
                      WriteCase{"lf", "General", "RecentProjects", ""},
                      WriteCase{"dup", "General", "RecentProjects", ";4"}),
    [](const auto& info) { return std::string(info.param.file); });

TEST(ProfileWriteFile, CreatesAMissingFileWithCrLf)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("config.ini"));
    ASSERT_TRUE(WritePrivateProfileText(QStringLiteral("LPID"), QStringLiteral("ID"), QStringLiteral("42"), path));
    ASSERT_TRUE(WritePrivateProfileText(QStringLiteral("LPID2"), QStringLiteral("ID"), QStringLiteral("43"), path));
    ASSERT_TRUE(WritePrivateProfileText(QStringLiteral("LPID"), QStringLiteral("ID"), QStringLiteral("44"), path));
    EXPECT_EQ(readAll(path), QByteArray("[LPID]\r\nID=44\r\n[LPID2]\r\nID=43\r\n"));
    EXPECT_EQ(GetPrivateProfileText(QStringLiteral("lpid2"), QStringLiteral("id"), {}, path), QStringLiteral("43"));
}

TEST(ProfileWriteFile, MissingFolderFailsAndWritesNothing)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("no/such/dir/setup.ini"));
    EXPECT_FALSE(WritePrivateProfileText(QStringLiteral("A"), QStringLiteral("k"), QStringLiteral("v"), path));
    EXPECT_FALSE(QFile::exists(path));
}

// Files the program makes for its user (run report, journal, JUnit) are
// never written through a planted link or into another user's file.
TEST(WriteOwnFile, RefusesLinksAndOtherUsersFiles)
{
    QTemporaryDir dir;
    const QString victim = dir.filePath(QStringLiteral("victim")), target = dir.filePath(QStringLiteral("report.json"));
    auto writeVictim = [&] {
        QFile v(victim);
        return v.open(QIODevice::WriteOnly | QIODevice::Truncate) && v.write("keep") == 4;
    };
    const struct {
        const char* name;
        std::function<bool()> plant;
        QString refusal; // empty: written
    } cases[] = {
        {"new file", [] { return true; }, QString()},
        {"own file", [&] { return writeVictim() && QFile::copy(victim, target); }, QString()},
        {"symbolic link", [&] { return QFile::link(victim, target); }, QStringLiteral("심볼릭 링크를 따라 쓰지 않습니다")},
        {"another user's file",
         [&] { return QFile::copy(victim, target) && ::chown(QFile::encodeName(target).constData(), 65534, 65534) == 0; },
         QStringLiteral("다른 사용자의 파일입니다")},
    };
    for (const auto& c : cases) {
        if (QLatin1String(c.name) == QLatin1String("another user's file") && ::geteuid() != 0)
            continue; // only root can give a file away
        SCOPED_TRACE(c.name);
        QFile::remove(target);
        ASSERT_TRUE(writeVictim());
        ASSERT_TRUE(c.plant());
        QString error;
        EXPECT_EQ(writeOwnFileAtomically(target, "new", &error), c.refusal.isEmpty());
        EXPECT_EQ(error, c.refusal);
        EXPECT_EQ(readAll(victim), QByteArray("keep"));
        if (c.refusal.isEmpty()) {
            EXPECT_EQ(readAll(target), QByteArray("new"));
        }
    }
}
