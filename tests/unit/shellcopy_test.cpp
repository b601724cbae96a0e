#include "platform/drivemap.h"
#include "platform/shellcopy.h"
#include "privatemount.h"
#include "util/fileutil.h"
#include "testinteraction.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <unistd.h>

using namespace rh;

static void PrintTo(const QString& s, std::ostream* os)
{
    *os << '"' << s.toStdString() << '"';
}

namespace {

QByteArray randomBytes(qsizetype size, quint32 seed)
{
    QByteArray b(size, Qt::Uninitialized);
    QRandomGenerator gen(seed);
    gen.fillRange(reinterpret_cast<quint32*>(b.data()), size / 4);
    return b;
}

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// Every entry of a folder, hidden ones (temporary files) included.
QStringList entries(const QString& dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                               QDir::Name);
}

class ShellCopy : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_tmp.isValid());
        root = m_tmp.path();
        DriveMap map;
        map.add(QStringLiteral("C:"), root + QStringLiteral("/c"));
        map.add(QStringLiteral("D:"), root + QStringLiteral("/d"));
        map.add(QStringLiteral("\\\\fileserver\\share"), root + QStringLiteral("/fs"));
        setDriveMap(map);
        for (const char* d : {"c", "d/src", "fs"})
            QDir().mkpath(root + QLatin1Char('/') + QLatin1String(d));
    }
    void TearDown() override { setDriveMap(DriveMap()); }

    QString put(const QString& nativePath, const QByteArray& content, const QDateTime& mtime = {})
    {
        QDir().mkpath(QFileInfo(nativePath).absolutePath());
        QFile f(nativePath);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(content);
        if (mtime.isValid())
            f.setFileTime(mtime, QFileDevice::FileModificationTime);
        f.close();
        return nativePath;
    }
    QString src(const char* name) { return root + QStringLiteral("/d/src/") + QLatin1String(name); }

    QString root;
    test::TestInteraction ui;

private:
    QTemporaryDir m_tmp;
};

} // namespace

TEST_F(ShellCopy, ListIntoNewNestedFolder)
{
    const QDateTime stamp(QDate(2020, 3, 4), QTime(5, 6, 7));
    put(src("ledger_setup_2.exe"), randomBytes(3 << 20, 1), stamp);
    put(src("ledger_patch_2.exe"), randomBytes(1000, 2), stamp);
    put(src("empty.txt"), QByteArray());
    // Windows and native paths mixed, NUL-separated.
    QString list = QStringLiteral("D:\\src\\ledger_setup_2.exe");
    list += QChar(0);
    list += QStringLiteral("D:\\src\\ledger_patch_2.exe");
    list += QChar(0);
    list += src("empty.txt");
    const QString outDir = root + QStringLiteral("/fs/프로그램셋업/1_정식버전/new");

    ASSERT_TRUE(ShellCopyFiles(list, QStringLiteral("\\\\fileserver\\share\\프로그램셋업\\1_정식버전\\new"), 0, false));
    EXPECT_TRUE(ui.messages.isEmpty());
    EXPECT_EQ(entries(outDir), (QStringList{"empty.txt", "ledger_patch_2.exe", "ledger_setup_2.exe"}));
    for (const char* name : {"ledger_setup_2.exe", "ledger_patch_2.exe", "empty.txt"})
        EXPECT_EQ(readAll(outDir + QLatin1Char('/') + QLatin1String(name)), readAll(src(name))) << name;
    // A copy keeps the source's modification time, as the shell's does.
    EXPECT_EQ(QFileInfo(outDir + QStringLiteral("/ledger_setup_2.exe")).lastModified(), stamp);
    // Not silent: the progress dialog was shown and closed.
    EXPECT_GE(ui.progressCalls, 3);
    EXPECT_EQ(ui.progressEnds, 1);
}

TEST_F(ShellCopy, OverwritesWithoutAskingAndSilentShowsNoProgress)
{
    put(src("a_2.exe"), "new");
    const QString target = put(root + QStringLiteral("/c/out/a_2.exe"), randomBytes(100000, 3));
    QFile(target).setPermissions(QFile::ReadOwner);
    ASSERT_TRUE(ShellCopyFiles(QStringLiteral("D:\\src\\a_2.exe"), QStringLiteral("C:\\out"), 0, true));
    EXPECT_EQ(readAll(target), QByteArray("new"));
    EXPECT_TRUE(ui.messages.isEmpty());
    EXPECT_EQ(ui.progressCalls, 0);
    EXPECT_EQ(ui.progressEnds, 0);
    EXPECT_EQ(entries(root + QStringLiteral("/c/out")), QStringList{"a_2.exe"});
}

TEST_F(ShellCopy, SingleSourceToANameOrIntoAFolder)
{
    put(src("ledger_setup_2.exe"), "setup");
    // A name that does not exist is the copy's new name; its folder is made.
    ASSERT_TRUE(ShellCopyFiles(QStringLiteral("D:\\src\\ledger_setup_2.exe"),
                               QStringLiteral("C:\\2TarvelInstalls\\ledger_setup_2.1.05.exe"), 0, true));
    EXPECT_EQ(entries(root + QStringLiteral("/c/2TarvelInstalls")), QStringList{"ledger_setup_2.1.05.exe"});
    // An existing folder receives the file under its own name.
    ASSERT_TRUE(ShellCopyFiles(QStringLiteral("D:\\src\\ledger_setup_2.exe"),
                               QStringLiteral("C:\\2TarvelInstalls"), 0, true));
    EXPECT_EQ(readAll(root + QStringLiteral("/c/2TarvelInstalls/ledger_setup_2.exe")), QByteArray("setup"));
    // A native folder joined with "\name", as program folder texts are.
    ASSERT_TRUE(ShellCopyFiles(root + QStringLiteral("/d/src\\ledger_setup_2.exe"),
                               root + QStringLiteral("/c\\copy.exe"), 0, true));
    EXPECT_EQ(readAll(root + QStringLiteral("/c/copy.exe")), QByteArray("setup"));
    EXPECT_TRUE(ui.messages.isEmpty());
}

TEST_F(ShellCopy, WildcardsAndFolders)
{
    put(src("a_2.exe"), "a");
    put(src("b_2.exe"), "b");
    put(src("c.txt"), "c");
    put(src("sub/deep/d.txt"), "d");
    ASSERT_TRUE(ShellCopyFiles(QStringLiteral("D:\\src\\*_2.exe"), QStringLiteral("D:\\one"), 0, true));
    EXPECT_EQ(entries(root + QStringLiteral("/d/one")), (QStringList{"a_2.exe", "b_2.exe"}));
    ASSERT_TRUE(ShellCopyFiles(QStringLiteral("D:\\src\\sub"), QStringLiteral("D:\\two\\"), 0, true));
    EXPECT_EQ(readAll(root + QStringLiteral("/d/two/sub/deep/d.txt")), QByteArray("d"));

    EXPECT_FALSE(ShellCopyFiles(QStringLiteral("D:\\src\\*.none"), QStringLiteral("D:\\three"), 0, true));
    EXPECT_EQ(ui.tells(), QStringList{QStringLiteral("파일을 복사할 수 없습니다: 파일이나 폴더가 없습니다\r\n") + root
                                      + QStringLiteral("/d/src/*.none")});
    EXPECT_FALSE(QFileInfo::exists(root + QStringLiteral("/d/three")));
}

TEST_F(ShellCopy, CancelLeavesNoPartialFile)
{
    put(src("a.exe"), "first");
    put(src("big.bin"), randomBytes(40 << 20, 4));
    put(src("z.txt"), "last");
    QString list = src("a.exe") + QChar(0) + src("big.bin") + QChar(0) + src("z.txt");
    // Progress calls: a.exe starts (1), big.bin starts (2), 8 MiB of it done (3).
    for (bool hadOld : {false, true}) {
        test::TestInteraction run;
        run.cancelAtProgressCall = 3;
        const QString out = root + (hadOld ? QStringLiteral("/c/old") : QStringLiteral("/c/new"));
        if (hadOld)
            put(out + QStringLiteral("/big.bin"), "old");
        EXPECT_FALSE(ShellCopyFiles(list, out, 0, false));
        EXPECT_EQ(run.tells(), QStringList{QStringLiteral("Operation Failed")});
        EXPECT_EQ(run.progressCalls, 3);
        EXPECT_EQ(run.progressEnds, 1);
        EXPECT_EQ(readAll(out + QStringLiteral("/a.exe")), QByteArray("first"));
        if (hadOld) {
            EXPECT_EQ(readAll(out + QStringLiteral("/big.bin")), QByteArray("old"));
            EXPECT_EQ(entries(out), (QStringList{"a.exe", "big.bin"}));
        } else {
            EXPECT_EQ(entries(out), QStringList{"a.exe"});
        }
    }
    // Cancel before anything was written.
    test::TestInteraction first;
    first.cancelAtProgressCall = 1;
    const ShellCopyResult r = shellCopy(list, root + QStringLiteral("/c/none"), false);
    EXPECT_TRUE(r.aborted);
    EXPECT_EQ(r.error, 0);
    EXPECT_EQ(entries(root + QStringLiteral("/c/none")), QStringList());
    EXPECT_TRUE(first.messages.isEmpty()); // only ShellCopyFiles speaks
}

TEST_F(ShellCopy, FailuresSayWhatFailedAndWhy)
{
    put(src("a.exe"), "a");
    put(src("b.exe"), "b");
    const QString list = src("a.exe") + QChar(0) + src("b.exe");
    auto says = [](const char* why, const QString& path) {
        return QStringLiteral("파일을 복사할 수 없습니다: ") + QString::fromUtf8(why) + QStringLiteral("\r\n") + path;
    };

    // The destination folder cannot be made: a file stands in its path.
    put(root + QStringLiteral("/c/blocker"), "x");
    EXPECT_FALSE(ShellCopyFiles(list, QStringLiteral("C:\\blocker\\out"), 0, false));
    EXPECT_EQ(ui.tells(), QStringList{says("폴더가 아닙니다", root + QStringLiteral("/c/blocker/out"))});

    // The target name is taken by a folder: the rename fails, no temporary is left.
    QDir().mkpath(root + QStringLiteral("/c/dest/b.exe"));
    ui.messages.clear();
    EXPECT_FALSE(ShellCopyFiles(list, QStringLiteral("C:\\dest"), 0, true));
    EXPECT_EQ(ui.tells(), QStringList{says("폴더입니다", root + QStringLiteral("/c/dest/b.exe"))});
    EXPECT_EQ(entries(root + QStringLiteral("/c/dest")), (QStringList{"a.exe", "b.exe"}));
    EXPECT_TRUE(QFileInfo(root + QStringLiteral("/c/dest/b.exe")).isDir());

    // A missing source stops the copy before anything is written.
    ui.messages.clear();
    EXPECT_FALSE(ShellCopyFiles(list + QChar(0) + src("missing.exe"), QStringLiteral("C:\\fresh"), 0, true));
    EXPECT_EQ(ui.tells(), QStringList{says("파일이나 폴더가 없습니다", src("missing.exe"))});
    EXPECT_FALSE(QFileInfo::exists(root + QStringLiteral("/c/fresh")));
}

// A full disk and a read-only folder, for real: each runs in a child process
// with a mount namespace of its own, on a small tmpfs mounted there.
TEST_F(ShellCopy, FullDiskAndReadOnlyFolderAreSaidInWords)
{
    put(src("big.exe"), randomBytes(256 * 1024, 7));
    put(src("old.exe"), "old");
    const QString full = root + QStringLiteral("/c/full");
    const QString ro = root + QStringLiteral("/c/ro");
    QDir().mkpath(full);
    QDir().mkpath(ro);

    QString why;
    const QStringList told = test::inPrivateMounts(
        {{full, QStringLiteral("size=64k")}, {ro, QStringLiteral("ro")}},
        [&] {
            // A file the tmpfs holds before it fills: it must survive the failed copy.
            QFile keep(full + QStringLiteral("/big.exe"));
            if (keep.open(QIODevice::WriteOnly))
                keep.write("previous release");
            keep.close();
            test::TestInteraction child;
            ShellCopyFiles(src("big.exe"), QStringLiteral("C:\\full\\"), 0, true);
            ShellCopyFiles(src("old.exe"), QStringLiteral("C:\\ro\\"), 0, true);
            CopyFileWithMessage(src("old.exe"), QStringLiteral("C:\\ro\\old.exe"));
            QStringList out = child.tells();
            out << entries(full).join(QLatin1Char(',')) << QString::fromUtf8(readAll(full + QStringLiteral("/big.exe")));
            return out;
        },
        &why);
    ASSERT_EQ(told.size(), 5) << why.toStdString() << told.join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(told[0], QStringLiteral("파일을 복사할 수 없습니다: 디스크 공간이 부족합니다\r\n") + full
                           + QStringLiteral("/big.exe"));
    EXPECT_EQ(told[1], QStringLiteral("파일을 복사할 수 없습니다: 권한이 없습니다(읽기 전용)\r\n") + ro
                           + QStringLiteral("/old.exe"));
    EXPECT_EQ(told[2], QStringLiteral("Error copying File\r\n권한이 없습니다(읽기 전용)(C:\\ro\\old.exe)"));
    // Nothing under a final name but what was there, no temporary left behind.
    EXPECT_EQ(told[3], QStringLiteral("big.exe"));
    EXPECT_EQ(told[4], QStringLiteral("previous release"));
}

TEST_F(ShellCopy, UnmappedDriveIsRefusedWithItsName)
{
    put(src("a.exe"), "a");
    EXPECT_FALSE(ShellCopyFiles(QStringLiteral("D:\\src\\a.exe"), QStringLiteral("Q:\\out"), 0, true));
    ASSERT_EQ(ui.tells().size(), 1);
    EXPECT_TRUE(ui.tells().first().contains(QStringLiteral("Q:"))) << ui.tells().first().toStdString();
    EXPECT_EQ(entries(root), (QStringList{"c", "d", "fs"}));
    ui.messages.clear();
    EXPECT_FALSE(ShellCopyFiles(QStringLiteral("\\\\otherhost\\x\\a.exe"), QStringLiteral("C:\\out"), 0, true));
    ASSERT_EQ(ui.tells().size(), 1);
    EXPECT_TRUE(ui.tells().first().contains(QStringLiteral("\\\\otherhost\\x")));
}
