#include "util/fileutil.h"

#include "platform/drivemap.h"
#include "pefixtures.h"
#include "testinteraction.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace rh;
using namespace rh::test;

namespace {

const QString kErrorTail = QStringLiteral(") in procedure GetFileVer of Module mdlFile");

QString exifTagFor(const QString& field)
{
    return field == QLatin1String("OriginalFilename") ? QStringLiteral("OriginalFileName") : field;
}

class FileUtilTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        dir = new QTemporaryDir;
        missing = missingPeTools();
        if (!missing.isEmpty())
            return;
        // Programs built by MinGW are read in peversion_test; the writer's
        // images serve here.
        QString e;
        korean32 = makePe(dir->filePath(QStringLiteral("ko32.exe")),
                          {QStringLiteral("--version"), QStringLiteral("3.0.0.7"), QStringLiteral("--lang"),
                           QStringLiteral("0412"), QStringLiteral("--string"), QStringLiteral("FileVersion=3.00.0007")},
                          &e);
        if (!korean32.isEmpty())
            plain32 = makePe(dir->filePath(QStringLiteral("plain32.exe")), {QStringLiteral("--no-resource")}, &e);
        buildError = e;
    }
    static void TearDownTestSuite()
    {
        delete dir;
        dir = nullptr;
    }
    void SetUp() override
    {
        ASSERT_TRUE(missing.isEmpty()) << missing.toStdString();
        ASSERT_TRUE(buildError.isEmpty()) << buildError.toStdString();
        savedMap = driveMap();
    }
    void TearDown() override { setDriveMap(savedMap); }

    // A writer image in the suite folder; fails the test when it cannot.
    static QString mk(const QString& name, const QStringList& args)
    {
        QString e;
        const QString p = makePe(dir->filePath(name), args, &e);
        EXPECT_FALSE(p.isEmpty()) << e.toStdString();
        return p;
    }

    static QTemporaryDir* dir;
    static QString missing, buildError, korean32, plain32;
    DriveMap savedMap;
};

QTemporaryDir* FileUtilTest::dir = nullptr;
QString FileUtilTest::missing, FileUtilTest::buildError, FileUtilTest::korean32,
    FileUtilTest::plain32;

} // namespace

// Every field as exiftool reads it from the same file: the value, or
// "Not specified" where exiftool finds no such string.
TEST_F(FileUtilTest, EntriesAgreeWithExiftool)
{
    const QString rich = mk(QStringLiteral("rich.exe"),
                            {QStringLiteral("--version"), QStringLiteral("1.0.0.123"),
                             QStringLiteral("--lang"), QStringLiteral("0412"),
                             QStringLiteral("--string"), QStringLiteral("CompanyName=(주)타벨"),
                             QStringLiteral("--string"), QStringLiteral("FileDescription=원장관리"),
                             QStringLiteral("--string"), QStringLiteral("FileVersion=1.00.0123"),
                             QStringLiteral("--string"), QStringLiteral("LegalCopyright=Copyright ⓒ 2024"),
                             QStringLiteral("--string"), QStringLiteral("Comments=세미콜론; 포함"),
                             QStringLiteral("--string"), QStringLiteral("SpecialBuild=x"),
                             QStringLiteral("--pe64")});
    QString e;
    const auto exif = exifTool({rich}, &e);
    ASSERT_TRUE(e.isEmpty()) << e.toStdString();
    const QStringList fields = versionFieldNames();
    ASSERT_EQ(fields.size(), 13);
    const QStringList entries = GetFileVer(rich);
    ASSERT_EQ(entries.size(), 13);
    const auto& tags = exif[rich];
    for (int i = 0; i < 12; ++i) {
        const QString tag = exifTagFor(fields[i]);
        const QString expected = tags.contains(tag) ? tags.value(tag) : QStringLiteral("Not specified");
        EXPECT_EQ(entries[i], fields[i] + QStringLiteral(": ") + expected);
    }
    EXPECT_EQ(entries[12], QStringLiteral("Language: Korean"));
    EXPECT_EQ(entries[8], QStringLiteral("Comments: 세미콜론; 포함"));
}

TEST_F(FileUtilTest, LanguageEntry)
{
    const QString unknown = mk(QStringLiteral("unknown-lang.exe"),
                               {QStringLiteral("--lang"), QStringLiteral("0C0A")}); // not in the table
    EXPECT_EQ(GetFileVer(unknown).value(12), QStringLiteral("Language: "));
    const QString noTable = mk(QStringLiteral("no-table.exe"), {QStringLiteral("--no-string-table")});
    const QStringList entries = GetFileVer(noTable);
    ASSERT_EQ(entries.size(), 13);
    EXPECT_EQ(entries[12], QStringLiteral("Language"));
    EXPECT_EQ(entries[2], QStringLiteral("FileVersion: Not specified"));
    const QString lower = mk(QStringLiteral("lower.exe"),
                             {QStringLiteral("--table-key"), QStringLiteral("0416fde9")});
    EXPECT_EQ(GetFileVer(lower).value(12), QStringLiteral("Language: Portuguese - Brazil"));
}

TEST_F(FileUtilTest, KeysMatchWholeNamesOnly)
{
    // A longer key that starts with a field's name is another field.
    const QString p = mk(QStringLiteral("prefix.exe"),
                         {QStringLiteral("--no-default-strings"),
                          QStringLiteral("--string"), QStringLiteral("FileVersionExtra=wrong"),
                          QStringLiteral("--string"), QStringLiteral("CommentsX=wrong"),
                          QStringLiteral("--string"), QStringLiteral("FileVersion=4.5.6")});
    const QStringList entries = GetFileVer(p);
    EXPECT_EQ(entries.value(2), QStringLiteral("FileVersion: 4.5.6"));
    EXPECT_EQ(entries.value(8), QStringLiteral("Comments: Not specified"));
}

// Hand-made blocks for layouts resource compilers do not write.
TEST(FileUtilBlocks, ValuesAtTheEdgesOfTheBlock)
{
    auto units = [](std::initializer_list<QString> parts) {
        QList<char16_t> u;
        for (const QString& s : parts)
            for (QChar c : s)
                u.append(c.unicode());
        return u;
    };
    const QString nul(QChar(0));
    const QString one(QChar(1));
    // wLength 0 (unknown), type 1, key at an odd index, value runs to the end
    // of the buffer without a NUL.
    QList<char16_t> b = units({QString(QChar(0)) + nul + one, QStringLiteral("ProductName"), nul,
                               QStringLiteral("원장")});
    EXPECT_EQ(versionEntriesFromBlock(b).value(6), QStringLiteral("ProductName: 원장"));
    // The key is the last thing in the buffer: an empty value, no overrun.
    b = units({nul + nul + one, QStringLiteral("ProductName"), nul});
    EXPECT_EQ(versionEntriesFromBlock(b).value(6), QStringLiteral("ProductName: "));
    // An entry that ends right after its key (wLength 30 bytes, no value)
    // followed by the next entry: the value must not run into it.
    b = units({QString(QChar(24)) + nul + one, QStringLiteral("Comments"), nul,
               QString(QChar(40)) + QChar(4) + one, QStringLiteral("ProductName"), nul + nul,
               QStringLiteral("abc"), nul});
    ASSERT_EQ(b.size(), 32);
    const QStringList e = versionEntriesFromBlock(b);
    EXPECT_EQ(e.value(8), QStringLiteral("Comments: "));
    EXPECT_EQ(e.value(6), QStringLiteral("ProductName: abc"));
    EXPECT_EQ(e.value(12), QStringLiteral("Language"));
    // StringFileInfo with nothing after it.
    b = units({nul + nul + one, QStringLiteral("StringFileInfo"), nul});
    EXPECT_EQ(versionEntriesFromBlock(b).value(12), QStringLiteral("Language: "));
    EXPECT_EQ(versionEntriesFromBlock({}).size(), 13);
}

TEST_F(FileUtilTest, VersionTextKeepsOrDropsTheLastPart)
{
    const QString p = mk(QStringLiteral("v.exe"), {QStringLiteral("--string"), QStringLiteral("FileVersion=2.10.0007")});
    EXPECT_EQ(GetFileVerText(p, true, false), QStringLiteral("2.10.7"));
    EXPECT_EQ(GetFileVerText(p, false, false), QStringLiteral("2.10"));
    const QString q = mk(QStringLiteral("q.exe"), {QStringLiteral("--string"), QStringLiteral("FileVersion=1.00.0123")});
    EXPECT_EQ(GetFileVerText(q, true, true), QStringLiteral("1.00.123"));
    EXPECT_EQ(GetFileVerText(q, false, true), QStringLiteral("1.00"));
    const QString zero = mk(QStringLiteral("z.exe"), {QStringLiteral("--string"), QStringLiteral("FileVersion=3.00.0000")});
    EXPECT_EQ(GetFileVerText(zero, true, true), QStringLiteral("3.00.0"));
    EXPECT_EQ(GetFileVerText(korean32, true, true), QStringLiteral("3.00.7"));
}

TEST_F(FileUtilTest, VersionTextFailures)
{
    TestInteraction ui;
    // No version resource: empty, with the message unless quiet.
    EXPECT_EQ(GetFileVerText(plain32, true, true), QString());
    EXPECT_TRUE(ui.messages.isEmpty());
    EXPECT_TRUE(GetFileVer(plain32).isEmpty());
    EXPECT_EQ(GetFileVerText(plain32, true, false), QString());
    ASSERT_EQ(ui.tells().size(), 1);
    EXPECT_EQ(ui.tells().first(), QStringLiteral("Error 9 (Subscript out of range") + kErrorTail);
    EXPECT_EQ(ui.messages.first().title, QStringLiteral("Rollhaven2"));

    // A version without a dot: kept whole with the flag, an invalid call without.
    const QString p = mk(QStringLiteral("nodot.exe"), {QStringLiteral("--string"), QStringLiteral("FileVersion=0007")});
    EXPECT_EQ(GetFileVerText(p, true, false), QStringLiteral("7"));
    EXPECT_EQ(GetFileVerText(p, false, false), QString());
    ASSERT_EQ(ui.tells().size(), 2);
    EXPECT_EQ(ui.tells().last(), QStringLiteral("Error 5 (Invalid procedure call or argument") + kErrorTail);
    EXPECT_EQ(GetFileVerText(p, false, true), QString());
    EXPECT_EQ(ui.tells().size(), 2);
    // No FileVersion string at all: "Not specified" is no number.
    const QString none = mk(QStringLiteral("nofv.exe"), {QStringLiteral("--no-default-strings")});
    EXPECT_EQ(GetFileVerText(none, true, true), QStringLiteral("Not specified"));
    // Not an executable.
    QFile text(dir->filePath(QStringLiteral("readme.txt")));
    ASSERT_TRUE(text.open(QIODevice::WriteOnly));
    text.write("MZ but not really");
    text.close();
    EXPECT_TRUE(GetFileVer(text.fileName()).isEmpty());
    EXPECT_EQ(GetFileVerText(text.fileName(), false, true), QString());
}

TEST_F(FileUtilTest, WindowsPathsGoThroughTheDriveMap)
{
    TestInteraction ui;
    DriveMap map;
    map.add(QStringLiteral("X:"), dir->path());
    setDriveMap(map);
    QDir(dir->path()).mkpath(QStringLiteral("sub"));
    ASSERT_TRUE(QFile::copy(korean32, dir->filePath(QStringLiteral("sub/ko32.exe"))));
    EXPECT_EQ(GetFileVerText(QStringLiteral("x:\\sub\\ko32.exe"), true, false), QStringLiteral("3.00.7"));
    EXPECT_TRUE(ui.messages.isEmpty());
    // The program folder joined with "\name" is a path too.
    EXPECT_EQ(GetFileVer(dir->path() + QStringLiteral("\\sub\\ko32.exe")).size(), 13);
    // An unmapped drive is said, not taken for "no version".
    EXPECT_TRUE(GetFileVer(QStringLiteral("Q:\\ko32.exe")).isEmpty());
    ASSERT_EQ(ui.tells().size(), 1);
    EXPECT_TRUE(ui.tells().first().startsWith(QStringLiteral("Error 76 ("))) << ui.tells().first().toStdString();
    EXPECT_TRUE(ui.tells().first().contains(QStringLiteral("Q:")));
    EXPECT_TRUE(ui.tells().first().endsWith(kErrorTail));
}

TEST(FileUtilLanguage, Table)
{
    EXPECT_EQ(GetLanguageName(QStringLiteral("041204b0")), QStringLiteral("Korean"));
    EXPECT_EQ(GetLanguageName(QStringLiteral("040c04b0")), QStringLiteral("French - Standard"));
    EXPECT_EQ(GetLanguageName(QStringLiteral("0436")), QStringLiteral("Afrikaans"));
    EXPECT_EQ(GetLanguageName(QStringLiteral("0435")), QStringLiteral("Zulu"));
    EXPECT_EQ(GetLanguageName(QStringLiteral("0c1a")), QStringLiteral("Serbian - Cyrillic"));
    EXPECT_EQ(GetLanguageName(QStringLiteral("240a04e4")), QStringLiteral("Spanish - Columbia"));
    EXPECT_EQ(GetLanguageName(QStringLiteral("041404B0")), QStringLiteral("Norwegian - Bokm책l"));
    EXPECT_EQ(GetLanguageName(QStringLiteral("0412")), QStringLiteral("Korean"));
    EXPECT_EQ(GetLanguageName(QStringLiteral("0C0A")), QString()); // Spanish modern sort: not listed
    EXPECT_EQ(GetLanguageName(QStringLiteral("041")), QString());
    EXPECT_EQ(GetLanguageName(QString()), QString());
    EXPECT_EQ(GetLanguageName(QStringLiteral(" 0412")), QString());
}

TEST_F(FileUtilTest, CopyReplacesTheDestinationAndKeepsTimeAndMode)
{
    TestInteraction ui;
    const QString src = dir->filePath(QStringLiteral("copy-src.exe"));
    QFile::remove(src);
    ASSERT_TRUE(QFile::copy(korean32, src));
    const QDateTime old = QDateTime::currentDateTime().addDays(-3);
    {
        QFile f(src);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        ASSERT_TRUE(f.setFileTime(old, QFileDevice::FileModificationTime));
        f.close();
        ASSERT_TRUE(f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
    }
    const QString dst = dir->filePath(QStringLiteral("copy-dst.exe"));
    QFile existing(dst);
    ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
    existing.write("old content that is longer than nothing");
    existing.close();

    CopyFileWithMessage(src, dst);
    EXPECT_TRUE(ui.messages.isEmpty());
    QFile a(src), b(dst);
    ASSERT_TRUE(a.open(QIODevice::ReadOnly));
    ASSERT_TRUE(b.open(QIODevice::ReadOnly));
    EXPECT_EQ(a.readAll(), b.readAll());
    const QFileInfo info(dst);
    EXPECT_EQ(info.lastModified().toSecsSinceEpoch(), old.toSecsSinceEpoch());
    EXPECT_TRUE(info.permissions() & QFileDevice::ExeOwner);
    EXPECT_EQ(QDir(dir->path()).entryList({QStringLiteral("copy-dst.exe*")}, QDir::Files | QDir::Hidden).size(), 1)
        << "no temporary file left behind";

    // Through the drive map, into a subfolder.
    DriveMap map;
    map.add(QStringLiteral("C:"), dir->path());
    setDriveMap(map);
    QDir(dir->path()).mkpath(QStringLiteral("out"));
    CopyFileWithMessage(QStringLiteral("C:\\copy-src.exe"), QStringLiteral("C:\\out\\copied.exe"));
    EXPECT_TRUE(ui.messages.isEmpty());
    EXPECT_EQ(GetFileVer(dir->filePath(QStringLiteral("out/copied.exe"))).value(12), QStringLiteral("Language: Korean"));
}

TEST_F(FileUtilTest, CopyFailuresTellTheUserAndLeaveTheDestination)
{
    TestInteraction ui;
    const QString dst = dir->filePath(QStringLiteral("keep.txt"));
    QFile keep(dst);
    ASSERT_TRUE(keep.open(QIODevice::WriteOnly));
    keep.write("keep me");
    keep.close();
    DriveMap map;
    map.add(QStringLiteral("C:"), dir->path());
    setDriveMap(map);

    const struct {
        const char* name;
        QString source;
        QString destination;
    } cases[] = {
        {"missing source", dir->filePath(QStringLiteral("no-such.exe")), dst},
        {"source is a folder", dir->path(), dst},
        {"destination folder missing", korean32, dir->filePath(QStringLiteral("no/such/dir/x.exe"))},
        {"unmapped source drive", QStringLiteral("R:\\x.exe"), dst},
        {"unmapped destination drive", korean32, QStringLiteral("R:\\x.exe")},
        {"destination is a folder", korean32, dir->path()},
    };
    int expected = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CopyFileWithMessage(c.source, c.destination);
        ++expected;
        ASSERT_EQ(ui.tells().size(), expected);
        EXPECT_TRUE(ui.tells().last().startsWith(QStringLiteral("Error copying File\r\n")));
        EXPECT_EQ(ui.messages.last().title, QStringLiteral("Rollhaven2"));
    }
    ASSERT_TRUE(keep.open(QIODevice::ReadOnly));
    EXPECT_EQ(keep.readAll(), QByteArray("keep me"));
    EXPECT_TRUE(QFileInfo(dir->path()).isDir());
}
