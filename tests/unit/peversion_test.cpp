#include "platform/peversion.h"
#include "util/fileutil.h"

#include "pefixtures.h"

#include <QDir>
#include <QFile>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace rh;
using namespace rh::test;
using Status = PeVersionBlock::Status;

namespace {

const char* kKoreanRc = R"(#pragma code_page(65001)
1 VERSIONINFO
FILEVERSION 3,0,0,7
PRODUCTVERSION 3,0,0,7
FILEFLAGSMASK 0x3f
FILEOS 0x40004
FILETYPE 1
BEGIN
  BLOCK "StringFileInfo"
  BEGIN
    BLOCK "041204b0"
    BEGIN
      VALUE "CompanyName", "타벨소프트"
      VALUE "FileDescription", "원장관리 프로그램"
      VALUE "FileVersion", "3.00.0007"
      VALUE "InternalName", "ledger"
      VALUE "OriginalFilename", "ledger.exe"
      VALUE "ProductName", "원장"
      VALUE "ProductVersion", "3.00.0007"
      VALUE "Comments", ""
    END
  END
  BLOCK "VarFileInfo"
  BEGIN
    VALUE "Translation", 0x412, 1200
  END
END
)";

const char* kFrenchRc = R"(#pragma code_page(65001)
LANGUAGE 0x0C, 0x01
1 VERSIONINFO
FILEVERSION 2,10,0,7
PRODUCTVERSION 2,10,0,0
FILEOS 0x40004
FILETYPE 1
BEGIN
  BLOCK "VarFileInfo"
  BEGIN
    VALUE "Translation", 0x40c, 1252
  END
  BLOCK "StringFileInfo"
  BEGIN
    BLOCK "040c04e4"
    BEGIN
      VALUE "CompanyName", "Société Générale du Logiciel"
      VALUE "FileDescription", "Grand livre comptable"
      VALUE "FileVersion", "2.10.0007"
      VALUE "LegalCopyright", "© 2024 SGL"
      VALUE "LegalTrademarks", "Marque déposée"
      VALUE "PrivateBuild", "construit à Lyon"
      VALUE "ProductName", "Grand livre"
      VALUE "SpecialBuild", ""
    END
  END
END
)";

// A resource section without a version resource.
const char* kDataOnlyRc = "2 RCDATA\nBEGIN\n  \"hello\\0\"\nEND\n";

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeAll(const QString& path, const QByteArray& data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

void put32(QByteArray& b, qsizetype at, quint32 v)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = char((v >> (8 * i)) & 0xFF);
}

void put16(QByteArray& b, qsizetype at, quint16 v)
{
    b[at] = char(v & 0xFF);
    b[at + 1] = char(v >> 8);
}

// "major.minor.build.revision" from VS_FIXEDFILEINFO inside the block.
QString fixedFileVersion(const QList<char16_t>& u)
{
    for (qsizetype i = 0; i + 8 < u.size(); i += 2) {
        if (u[i] == 0x04BD && u[i + 1] == 0xFEEF)
            return QStringLiteral("%1.%2.%3.%4")
                .arg(int(u[i + 5]))
                .arg(int(u[i + 4]))
                .arg(int(u[i + 7]))
                .arg(int(u[i + 6]));
    }
    return QString();
}

QString keyAt(const QList<char16_t>& u, qsizetype at)
{
    QString s;
    while (at < u.size() && u[at] != 0)
        s.append(QChar(u[at++]));
    return s;
}

class PeVersionTest : public ::testing::Test {
protected:
    struct Built {
        QString path;
        QByteArray resData; // the VERSIONINFO bytes windres compiled
    };

    static void SetUpTestSuite()
    {
        dir = new QTemporaryDir;
        missing = missingPeTools();
        if (!missing.isEmpty())
            return;
        QString e;
        korean32.path = buildWithMingw(dir->path(), QStringLiteral("ko32"),
                                       QString::fromUtf8(kKoreanRc), 32, &e, &korean32.resData);
        french64.path = buildWithMingw(dir->path(), QStringLiteral("fr64"),
                                       QString::fromUtf8(kFrenchRc), 64, &e, &french64.resData);
        dataOnly32 = buildWithMingw(dir->path(), QStringLiteral("data32"),
                                    QString::fromLatin1(kDataOnlyRc), 32, &e);
        plain64 = buildWithMingw(dir->path(), QStringLiteral("plain64"), QString(), 64, &e);
        const QStringList mk{QStringLiteral("--version"), QStringLiteral("3.0.0.7"),
                             QStringLiteral("--lang"), QStringLiteral("0412"),
                             QStringLiteral("--string"), QStringLiteral("FileDescription=원장관리"),
                             QStringLiteral("--print-layout")};
        mkpe32 = makePe(dir->filePath(QStringLiteral("mk32.exe")), mk, &e, &layout32);
        mkpe64 = makePe(dir->filePath(QStringLiteral("mk64.exe")),
                        mk + QStringList{QStringLiteral("--pe64")}, &e, &layout64);
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
    }

    static QTemporaryDir* dir;
    static QString missing, buildError;
    static Built korean32, french64;
    static QString dataOnly32, plain64, mkpe32, mkpe64;
    static QJsonObject layout32, layout64;
};

QTemporaryDir* PeVersionTest::dir = nullptr;
QString PeVersionTest::missing, PeVersionTest::buildError;
PeVersionTest::Built PeVersionTest::korean32, PeVersionTest::french64;
QString PeVersionTest::dataOnly32, PeVersionTest::plain64, PeVersionTest::mkpe32,
    PeVersionTest::mkpe64;
QJsonObject PeVersionTest::layout32, PeVersionTest::layout64;

} // namespace

TEST_F(PeVersionTest, ImagesWithoutVersionResource)
{
    for (const QString& path : {dataOnly32, plain64}) {
        const PeVersionBlock r = readPeVersionBlock(path);
        EXPECT_EQ(r.status, Status::NoVersionResource) << path.toStdString() << r.error.toStdString();
        EXPECT_TRUE(r.units.isEmpty());
    }
    QString e;
    const auto m = makePe(dir->filePath(QStringLiteral("nores.exe")), {QStringLiteral("--no-resource")}, &e);
    ASSERT_FALSE(m.isEmpty()) << e.toStdString();
    EXPECT_EQ(readPeVersionBlock(m).status, Status::NoVersionResource);
}

// Programs built by MinGW-w64 and Debian's MinGW-w64 runtime DLLs (most
// without a version resource, the winpthread ones with one), read against
// exiftool: the block, its fixed version and every GetFileVer entry.
TEST_F(PeVersionTest, MingwProgramsAndRuntimeDllsAgreeWithExiftool)
{
    QStringList dlls;
    const QStringList roots{QStringLiteral("/usr/x86_64-w64-mingw32/lib"),
                            QStringLiteral("/usr/i686-w64-mingw32/lib")};
    for (const QString& root : roots)
        for (const QString& f : QDir(root).entryList({QStringLiteral("*.dll")}, QDir::Files))
            dlls.append(root + QLatin1Char('/') + f);
    for (const char* gcc : {"/usr/lib/gcc/x86_64-w64-mingw32", "/usr/lib/gcc/i686-w64-mingw32"}) {
        QDir g(QString::fromLatin1(gcc));
        for (const QString& v : g.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            QDir d(g.filePath(v));
            for (const QString& f : d.entryList({QStringLiteral("*.dll")}, QDir::Files))
                dlls.append(d.filePath(f));
        }
    }
    ASSERT_FALSE(dlls.isEmpty()) << "no MinGW-w64 DLLs installed (mingw-w64 packages)";
    QString e;
    const auto exif = exifTool(dlls + QStringList{korean32.path, french64.path}, &e);
    ASSERT_TRUE(e.isEmpty()) << e.toStdString();

    // The built programs: exactly the bytes the resource compiler produced.
    for (const Built* b : {&korean32, &french64}) {
        SCOPED_TRACE(b->path.toStdString());
        ASSERT_FALSE(b->resData.isEmpty());
        const PeVersionBlock r = readPeVersionBlock(b->path);
        ASSERT_TRUE(r.ok()) << r.error.toStdString();
        EXPECT_EQ(r.units, toUnits(b->resData));
        EXPECT_EQ(readAll(b->path).mid(r.fileOffset, b->resData.size()), b->resData);
    }
    const QStringList fields = versionFieldNames();
    int withVersion = 0;
    for (const QString& file : dlls + QStringList{korean32.path, french64.path}) {
        SCOPED_TRACE(file.toStdString());
        const PeVersionBlock r = readPeVersionBlock(file);
        const auto& tags = exif[file];
        const QString expected = tags.value(QStringLiteral("FileVersionNumber"));
        if (expected.isEmpty()) {
            EXPECT_EQ(r.status, Status::NoVersionResource) << r.error.toStdString();
            EXPECT_TRUE(GetFileVer(file).isEmpty());
            continue;
        }
        ++withVersion;
        ASSERT_TRUE(r.ok()) << r.error.toStdString();
        EXPECT_EQ(keyAt(r.units, 3), QStringLiteral("VS_VERSION_INFO"));
        EXPECT_EQ(fixedFileVersion(r.units), expected);
        // The block's own length field fits what was read.
        EXPECT_LE(qsizetype(r.units[0]), r.units.size() * 2);
        // Each string as exiftool reads it, or "Not specified" where it finds none.
        const QStringList entries = GetFileVer(file);
        ASSERT_EQ(entries.size(), 13);
        for (int i = 0; i < 12; ++i) {
            const QString tag = fields[i] == QLatin1String("OriginalFilename") ? QStringLiteral("OriginalFileName")
                                                                                : fields[i];
            EXPECT_EQ(entries[i], fields[i] + QStringLiteral(": ")
                                      + (tags.contains(tag) ? tags.value(tag) : QStringLiteral("Not specified")));
        }
        EXPECT_EQ(entries[12], QStringLiteral("Language: ") + GetLanguageName(tags.value(QStringLiteral("LanguageCode"))));
    }
    EXPECT_GE(withVersion, 4) << "expected the two programs and the 32- and 64-bit libwinpthread-1.dll";
    // The cases the reference confirmed, spelled out.
    const QStringList ko = GetFileVer(korean32.path);
    EXPECT_EQ(ko[1], QStringLiteral("FileDescription: 원장관리 프로그램"));
    EXPECT_EQ(ko[8], QStringLiteral("Comments: "));
    EXPECT_EQ(ko[9], QStringLiteral("LegalTrademarks: Not specified"));
    EXPECT_EQ(ko[12], QStringLiteral("Language: Korean"));
    const QStringList fr = GetFileVer(french64.path);
    EXPECT_EQ(fr[0], QStringLiteral("CompanyName: Société Générale du Logiciel"));
    EXPECT_EQ(fr[11], QStringLiteral("SpecialBuild: "));
    EXPECT_EQ(fr[12], QStringLiteral("Language: French - Standard")); // key "040c04e4", lower case
    EXPECT_EQ(fixedFileVersion(readPeVersionBlock(french64.path).units), QStringLiteral("2.10.0.7"));
}

TEST_F(PeVersionTest, WriterImagesBothKinds)
{
    QString e;
    const auto exif = exifTool({mkpe32, mkpe64}, &e);
    ASSERT_TRUE(e.isEmpty()) << e.toStdString();
    EXPECT_EQ(exif[mkpe32].value(QStringLiteral("PEType")), QStringLiteral("267")); // 0x10B
    EXPECT_EQ(exif[mkpe64].value(QStringLiteral("PEType")), QStringLiteral("523")); // 0x20B
    for (const auto& [path, layout] : {std::pair{mkpe32, layout32}, std::pair{mkpe64, layout64}}) {
        SCOPED_TRACE(path.toStdString());
        const PeVersionBlock r = readPeVersionBlock(path);
        ASSERT_TRUE(r.ok()) << r.error.toStdString();
        const int at = layout.value(QStringLiteral("block")).toInt();
        const int size = layout.value(QStringLiteral("block_size")).toInt();
        EXPECT_EQ(int(r.fileOffset), at);
        EXPECT_EQ(r.units, toUnits(readAll(path).mid(at, size)));
        EXPECT_EQ(fixedFileVersion(r.units), QStringLiteral("3.0.0.7"));
        EXPECT_EQ(exif[path].value(QStringLiteral("FileVersionNumber")), QStringLiteral("3.0.0.7"));
    }
}

TEST_F(PeVersionTest, ResourceFarIntoALargeSparseImage)
{
    QString e;
    QJsonObject layout;
    const QString big = makePe(dir->filePath(QStringLiteral("big.exe")),
                               {QStringLiteral("--text-size"), QStringLiteral("300000000"),
                                QStringLiteral("--version"), QStringLiteral("9.8.7.6"),
                                QStringLiteral("--print-layout")},
                               &e, &layout);
    ASSERT_FALSE(big.isEmpty()) << e.toStdString();
    const PeVersionBlock r = readPeVersionBlock(big);
    ASSERT_TRUE(r.ok()) << r.error.toStdString();
    EXPECT_GT(r.fileOffset, 300000000u);
    EXPECT_EQ(int(r.fileOffset), layout.value(QStringLiteral("block")).toInt());
    EXPECT_EQ(fixedFileVersion(r.units), QStringLiteral("9.8.7.6"));
}

TEST_F(PeVersionTest, FilesThatAreNoImages)
{
    const QString base = dir->filePath(QStringLiteral("bad-"));
    QByteArray random(4096, Qt::Uninitialized);
    QRandomGenerator gen(42);
    for (char& c : random)
        c = char(gen.bounded(256));
    random[0] = 'Q'; // no accidental MZ
    QByteArray mzOnly(64, '\0');
    mzOnly[0] = 'M';
    mzOnly[1] = 'Z';
    QByteArray mzFarHeader = mzOnly + QByteArray(200, '\0');
    put32(mzFarHeader, 0x3C, 0x7FFFFFFF);

    const struct {
        const char* name;
        QByteArray data;
        Status status;
    } cases[] = {
        {"empty", QByteArray(), Status::NotPeImage},
        {"short", QByteArray("MZ\x90\0", 4), Status::NotPeImage},
        {"text", QByteArray("[Config]\r\nkey=value\r\n").repeated(20), Status::NotPeImage},
        {"random", random, Status::NotPeImage},
        {"mz-only", mzOnly, Status::NotPeImage}, // e_lfanew 0: "MZ" is no PE signature
        {"mz-far-header", mzFarHeader, Status::Malformed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = base + QString::fromLatin1(c.name);
        ASSERT_TRUE(writeAll(path, c.data));
        const PeVersionBlock fromFile = readPeVersionBlock(path);
        EXPECT_EQ(fromFile.status, c.status) << fromFile.error.toStdString();
        EXPECT_FALSE(fromFile.error.isEmpty());
        EXPECT_EQ(readPeVersionBlock(QByteArrayView(c.data)).status, c.status);
    }
    EXPECT_EQ(readPeVersionBlock(dir->filePath(QStringLiteral("no-such.exe"))).status, Status::ReadError);
    const PeVersionBlock folder = readPeVersionBlock(dir->path());
    EXPECT_EQ(folder.status, Status::ReadError);
    EXPECT_FALSE(folder.error.isEmpty());
}

// Every prefix of an image: sound up to the block's end, a failure with a
// reason before it.
TEST_F(PeVersionTest, TruncatedAtEveryPosition)
{
    const QString winpthread = QStringLiteral("/usr/i686-w64-mingw32/lib/libwinpthread-1.dll");
    QStringList images{mkpe32, mkpe64, korean32.path};
    if (QFile::exists(winpthread))
        images.append(winpthread);
    for (const QString& path : images) {
        SCOPED_TRACE(path.toStdString());
        const QByteArray full = readAll(path);
        const PeVersionBlock whole = readPeVersionBlock(QByteArrayView(full));
        ASSERT_TRUE(whole.ok()) << whole.error.toStdString();
        const qsizetype blockEnd = whole.fileOffset + whole.units.size() * 2;
        int wrong = 0;
        for (qsizetype len = 0; len <= full.size() && wrong < 5; ++len) {
            const PeVersionBlock r = readPeVersionBlock(QByteArrayView(full.constData(), len));
            const bool expectOk = len >= blockEnd;
            if (r.ok() != expectOk || (r.ok() && r.units != whole.units) || (!r.ok() && r.error.isEmpty())) {
                ++wrong;
                ADD_FAILURE() << "length " << len << ": " << r.error.toStdString();
            }
            if (len > blockEnd + 4096)
                len += 997; // past the block nothing changes; sample the rest
        }
    }
    // The same through real files, for the seek-and-read path.
    const QByteArray full = readAll(mkpe32);
    const qsizetype blockAt = layout32.value(QStringLiteral("block")).toInt();
    const qsizetype blockEnd = blockAt + layout32.value(QStringLiteral("block_size")).toInt();
    for (qsizetype len : {qsizetype(0), qsizetype(1), qsizetype(63), qsizetype(64), qsizetype(100),
                          qsizetype(0x180), blockAt - 1, blockAt + 7, blockEnd - 1, blockEnd}) {
        const QString cut = dir->filePath(QStringLiteral("cut.exe"));
        ASSERT_TRUE(writeAll(cut, full.left(len)));
        const PeVersionBlock r = readPeVersionBlock(cut);
        EXPECT_EQ(r.ok(), len >= blockEnd) << len << ": " << r.error.toStdString();
        EXPECT_NE(r.status, Status::ReadError) << len;
    }
}

// Damage the resource tree and headers of a writer image on purpose.
TEST_F(PeVersionTest, DamagedHeadersAndResourceTrees)
{
    const QByteArray good = readAll(mkpe32);
    ASSERT_FALSE(good.isEmpty());
    auto at = [&](const char* key) { return qsizetype(layout32.value(QString::fromLatin1(key)).toInt()); };
    const qsizetype rsrc = at("rsrc_offset");
    const qsizetype sections = at("section_table");
    const qsizetype rsrcSection = sections + 40; // the second section header

    const struct {
        const char* name;
        std::function<void(QByteArray&)> damage;
        Status status;
        const char* reason; // a word the error must contain
    } cases[] = {
        {"name level points back to the root",
         [&](QByteArray& b) { put32(b, at("name_entry") + 4, 0x80000000u); }, Status::Malformed, "loops"},
        {"type level points to the root",
         [&](QByteArray& b) { put32(b, at("type_entry") + 4, 0x80000000u); }, Status::Malformed, "loops"},
        {"name level points to itself",
         [&](QByteArray& b) { put32(b, at("name_entry") + 4, 0x80000000u | quint32(at("name_dir") - rsrc)); },
         Status::Malformed, "loops"},
        {"language level points to a directory",
         [&](QByteArray& b) { put32(b, at("lang_entry") + 4, 0x80000000u | quint32(at("name_dir") - rsrc)); },
         Status::Malformed, "deep"},
        {"subdirectory far outside",
         [&](QByteArray& b) { put32(b, at("type_entry") + 4, 0x8FFFFFF0u); }, Status::Malformed, "outside"},
        {"root claims 65535 entries",
         [&](QByteArray& b) { put16(b, at("root_dir") + 14, 0xFFFF); }, Status::Malformed, "claims"},
        {"data entry outside the resource data",
         [&](QByteArray& b) { put32(b, at("lang_entry") + 4, 0x7FFFFFF0u); }, Status::Malformed, "outside"},
        {"block RVA in no section",
         [&](QByteArray& b) { put32(b, at("data_entry"), 0x7FFFFFF0u); }, Status::Malformed, "section"},
        {"block size past the section",
         [&](QByteArray& b) { put32(b, at("data_entry") + 4, 0xFFFFFFF0u); }, Status::Malformed, "past"},
        {"block size zero",
         [&](QByteArray& b) { put32(b, at("data_entry") + 4, 0); }, Status::NoVersionResource, "empty"},
        {"resource section data outside the file",
         [&](QByteArray& b) { put32(b, rsrcSection + 20, 0x7FFFFF00u); }, Status::Malformed, "outside"},
        {"65535 sections",
         [&](QByteArray& b) { put16(b, 0x40 + 4 + 2, 0xFFFF); }, Status::Malformed, "section table"},
        {"unknown optional header",
         [&](QByteArray& b) { put16(b, at("optional_header"), 0x0107); }, Status::Malformed, "optional"},
        {"no resource directory",
         [&](QByteArray& b) { put32(b, at("optional_header") + 96 + 16, 0); }, Status::NoVersionResource, "no resources"},
        {"no version type",
         [&](QByteArray& b) { put32(b, at("type_entry"), 3); }, Status::NoVersionResource, "no version"},
        {"version type is a leaf",
         [&](QByteArray& b) { put32(b, at("type_entry") + 4, quint32(at("data_entry") - rsrc)); },
         Status::Malformed, "directory"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QByteArray bad = good;
        c.damage(bad);
        ASSERT_NE(bad, good);
        const PeVersionBlock r = readPeVersionBlock(QByteArrayView(bad));
        EXPECT_EQ(r.status, c.status) << r.error.toStdString();
        EXPECT_TRUE(r.error.contains(QString::fromLatin1(c.reason))) << r.error.toStdString();
        EXPECT_TRUE(r.units.isEmpty());
        const QString path = dir->filePath(QStringLiteral("damaged.exe"));
        ASSERT_TRUE(writeAll(path, bad));
        EXPECT_EQ(readPeVersionBlock(path).status, c.status);
    }
}

// Random byte damage anywhere in the headers and resources: a result, never
// a crash; a success only with a block inside the file.
TEST_F(PeVersionTest, RandomDamageNeverCrashes)
{
    const QByteArray good = readAll(korean32.path);
    const PeVersionBlock whole = readPeVersionBlock(QByteArrayView(good));
    ASSERT_TRUE(whole.ok());
    const qsizetype hot = qsizetype(whole.fileOffset) + whole.units.size() * 2;
    QRandomGenerator gen(7);
    int failures = 0;
    for (int round = 0; round < 20000; ++round) {
        QByteArray bad = good;
        const int flips = 1 + int(gen.bounded(4));
        for (int i = 0; i < flips; ++i) {
            // Mostly the parts the walk reads: headers and the resource data.
            const qsizetype pos = gen.bounded(2) ? qsizetype(gen.bounded(0x400))
                                                 : qsizetype(gen.bounded(int(qMin<qsizetype>(hot, good.size()))));
            bad[pos] = char(gen.bounded(256));
        }
        const PeVersionBlock r = readPeVersionBlock(QByteArrayView(bad));
        if (r.ok()) {
            EXPECT_LE(qsizetype(r.fileOffset) + r.units.size() * 2, bad.size());
        } else {
            ++failures;
            EXPECT_FALSE(r.error.isEmpty());
        }
    }
    EXPECT_GT(failures, 0);
}
