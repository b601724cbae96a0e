#include "util/fileutil.h"

#include "platform/errors.h"
#include "platform/drivemap.h"
#include "platform/shellcopy.h"
#include "platform/interaction.h"
#include "platform/journal.h"
#include "platform/peversion.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

namespace rh {

namespace {

const QString kModule = QStringLiteral("mdlFile");
const QString kProcedure = QStringLiteral("GetFileVer");
const QString kNotSpecified = QStringLiteral("Not specified");
const QString kLanguage = QStringLiteral("Language");

void showError(int number, const QString& description)
{
    tell(moduleErrorText(number, description, kProcedure, kModule));
}

// Index of the type word 1 that is directly followed by key and its NUL, at
// or after from; -1 when there is none. Requiring the NUL keeps "FileVersion"
// from matching a longer key that merely starts with it.
qsizetype findKey(const QList<char16_t>& b, qsizetype from, const QString& key)
{
    const qsizetype n = b.size();
    const qsizetype len = key.size();
    for (qsizetype i = qMax<qsizetype>(from, 0); i + len + 1 < n; ++i) {
        if (b[i] != 1)
            continue;
        bool match = true;
        for (qsizetype k = 0; k < len && match; ++k)
            match = b[i + 1 + k] == key[k].unicode();
        if (match && b[i + 1 + len] == 0)
            return i;
    }
    return -1;
}

// Units from start up to the next NUL, not beyond end.
QString textAt(const QList<char16_t>& b, qsizetype start, qsizetype end)
{
    qsizetype stop = start;
    while (stop < end && b[stop] != 0)
        ++stop;
    if (start >= stop)
        return QString();
    return QString(reinterpret_cast<const QChar*>(b.constData() + start), stop - start);
}

// The value of the entry whose type word is at typeIndex. It follows the
// key's NUL, after one padding unit when the key ends off the 32-bit grid;
// it ends at its NUL or at the end of the entry (wLength, two units before
// the type word), so an empty value never runs into the next entry.
QString valueOf(const QList<char16_t>& b, qsizetype typeIndex, qsizetype keyLength)
{
    const qsizetype n = b.size();
    const qsizetype nul = typeIndex + 1 + keyLength;
    qsizetype start = nul + 1;
    if (start % 2 == 1 && start < n && b[start] == 0)
        ++start;
    qsizetype end = n;
    if (typeIndex >= 2) {
        const qsizetype entryEnd = typeIndex - 2 + (qsizetype(b[typeIndex - 2]) + 1) / 2;
        if (entryEnd > nul && entryEnd < n)
            end = entryEnd;
    }
    return textAt(b, start, end);
}

} // namespace

QStringList versionFieldNames()
{
    return QStringLiteral("CompanyName;FileDescription;FileVersion;InternalName;LegalCopyright;"
                          "OriginalFilename;ProductName;ProductVersion;Comments;LegalTrademarks;"
                          "PrivateBuild;SpecialBuild;Language")
        .split(QLatin1Char(';'));
}

QStringList versionEntriesFromBlock(const QList<char16_t>& block)
{
    QStringList names = versionFieldNames();
    QStringList out;
    for (qsizetype f = 0; f + 1 < names.size(); ++f) {
        const QString& name = names[f];
        const qsizetype at = findKey(block, 0, name);
        if (at < 0)
            out.append(name + QStringLiteral(": ") + kNotSpecified);
        else
            out.append(name + QStringLiteral(": ") + valueOf(block, at, name.size()));
    }

    QString language = kLanguage;
    const QString sfi = QStringLiteral("StringFileInfo");
    const qsizetype at = findKey(block, 0, sfi);
    if (at >= 0) {
        QString code;
        for (qsizetype i = at + 1 + sfi.size() + 1; i < block.size(); ++i) {
            if (block[i] == 1) {
                code = textAt(block, i + 1, block.size());
                break;
            }
        }
        language += QStringLiteral(": ") + GetLanguageName(code);
    }
    out.append(language);
    return out;
}

QStringList GetFileVer(const QString& path)
{
    QString mapError;
    const QString file = nativePath(path, &mapError);
    if (file.isEmpty()) {
        // An unmapped drive: say so rather than report "no version".
        if (!mapError.isEmpty())
            showError(err::PathNotFound, mapError);
        return {};
    }
    const PeVersionBlock block = readPeVersionBlock(file);
    if (!block.ok())
        return {};
    return versionEntriesFromBlock(block.units);
}

QString GetLanguageName(const QString& code)
{
    struct Row {
        const char* code;
        const char* name;
    };
    static const Row table[] = {
        {"0436", "Afrikaans"}, {"041C", "Albanian"}, {"3801", "Arabic - U.A.E."},
        {"3C01", "Arabic - Bahrain"}, {"1401", "Arabic - Algeria"}, {"0C01", "Arabic - Egypt"},
        {"0801", "Arabic - Iraq"}, {"2C01", "Arabic - Jordan"}, {"3401", "Arabic - Kuwait"},
        {"3001", "Arabic - Lebanon"}, {"1001", "Arabic - Libya"}, {"1801", "Arabic - Morocco"},
        {"2001", "Arabic - Oman"}, {"4001", "Arabic - Qatar"}, {"0401", "Arabic - Saudia Arabia"},
        {"2801", "Arabic - Syria"}, {"1C01", "Arabic - Tunisia"}, {"2401", "Arabic - Yemen"},
        {"042D", "Basque"}, {"0423", "Belarusian"}, {"0402", "Bulgarian"}, {"0403", "Catalan"},
        {"0804", "Chinese - PRC"}, {"0C04", "Chinese - Hong Kong S.A.R."},
        {"1004", "Chinese - Singapore"}, {"0404", "Chinese - Taiwan"}, {"041A", "Croatian"},
        {"0405", "Czech"}, {"0406", "Danish"}, {"0413", "Dutch"}, {"0813", "Dutch - Belgium"},
        {"0C09", "English - Australia"}, {"2809", "English - Belize"},
        {"1009", "English - Canada"}, {"1809", "English - Ireland"},
        {"2009", "English - Jamaica"}, {"1409", "English - New Zealand"},
        {"1C09", "English - South Africa"}, {"2C09", "English - Trinidad"},
        {"0809", "English - United Kingdom"}, {"0409", "English - United States"},
        {"0425", "Estonian"}, {"0429", "Farsi"}, {"040B", "Finnish"}, {"0438", "Faeroese"},
        {"040C", "French - Standard"}, {"080C", "French - Belgium"}, {"0C0C", "French - Canada"},
        {"140C", "French - Luxembourg"}, {"100C", "French - Switzerland"},
        {"043C", "Gaelic - Scotland"}, {"0407", "German - Standard"},
        {"0C07", "German - Austrian"}, {"1407", "German - Lichtenstein"},
        {"1007", "German - Luxembourg"}, {"0807", "German - Switzerland"}, {"0408", "Greek"},
        {"040D", "Hebrew"}, {"0439", "Hindi"}, {"040E", "Hungarian"}, {"040F", "Icelandic"},
        {"0421", "Indonesian"}, {"0410", "Italian - Standard"}, {"0810", "Italian - Switzerland"},
        {"0411", "Japanese"}, {"0412", "Korean"}, {"0426", "Latvian"}, {"0427", "Lithuanian"},
        {"042F", "Macedonian"}, {"043E", "Malay - Malaysia"}, {"043A", "Maltese"},
        // The name as the original shows it on a Korean system, mojibake included.
        {"0414", "Norwegian - Bokm책l"}, {"0415", "Polish"}, {"0816", "Portuguese - Standard"},
        {"0416", "Portuguese - Brazil"}, {"0417", "Raeto-Romance"}, {"0418", "Romanian"},
        {"0818", "Romanian - Moldova"}, {"0419", "Russian"}, {"0819", "Russian - Moldova"},
        {"0C1A", "Serbian - Cyrillic"}, {"0432", "Setsuana"}, {"0424", "Slovenian"},
        {"041B", "Slovak"}, {"042E", "Sorbian"}, {"040A", "Spanish - Standard"},
        {"2C0A", "Spanish - Argentina"}, {"400A", "Spanish - Bolivia"}, {"340A", "Spanish - Chile"},
        {"240A", "Spanish - Columbia"}, {"140A", "Spanish - Costa Rica"},
        {"1C0A", "Spanish - Dominican Republic"}, {"300A", "Spanish - Ecuador"},
        {"100A", "Spanish - Guatemala"}, {"480A", "Spanish - Honduras"},
        {"080A", "Spanish - Mexico"}, {"4C0A", "Spanish - Nicaragua"}, {"180A", "Spanish - Panama"},
        {"280A", "Spanish - Peru"}, {"500A", "Spanish - Puerto Rico"},
        {"3C0A", "Spanish - Paraguay"}, {"440A", "Spanish - El Salvador"},
        {"380A", "Spanish - Uruguay"}, {"200A", "Spanish - Venezuela"}, {"0430", "Sutu"},
        {"041D", "Swedish"}, {"081D", "Swedish - Finland"}, {"041E", "Thai"}, {"041F", "Turkish"},
        {"0431", "Tsonga"}, {"0422", "Ukranian"}, {"0420", "Urdu - Pakistan"},
        {"042A", "Vietnamese"}, {"0434", "Xhosa"}, {"043D", "Yiddish"}, {"0435", "Zulu"},
    };
    static_assert(sizeof(table) / sizeof(table[0]) == 116);

    const QString key = code.left(4).toUpper();
    for (const Row& row : table) {
        if (key == QLatin1String(row.code))
            return QString::fromUtf8(row.name);
    }
    return QString();
}

QString GetFileVerText(const QString& path, bool keepLastPart, bool quiet)
{
    // The version of a build a dry run skipped is known only after the build.
    const QString native = nativePath(path);
    if (!native.isEmpty() && journal().pendingContent(native))
        return Journal::placeholder(QFileInfo(native).completeBaseName() + QStringLiteral(" 버전"));
    const QStringList entries = GetFileVer(path);
    if (entries.size() < 3) {
        if (!quiet)
            showError(err::SubscriptOutOfRange, standardErrorDescription(err::SubscriptOutOfRange));
        return QString();
    }
    const QString& entry = entries[2];
    const QString value = entry.mid(entry.indexOf(QLatin1Char(' ')) + 1);
    const qsizetype dot = value.lastIndexOf(QLatin1Char('.'));

    if (keepLastPart) {
        // Format(x, "0"): a whole number loses its leading zeros; a text
        // that is no number stays as it is.
        QString last = value.mid(dot + 1);
        const QString digits = last.trimmed();
        bool allDigits = !digits.isEmpty();
        for (QChar c : digits)
            allDigits = allDigits && c.isDigit() && c.unicode() < 128;
        if (allDigits) {
            qsizetype z = 0;
            while (z + 1 < digits.size() && digits[z] == QLatin1Char('0'))
                ++z;
            last = digits.mid(z);
        }
        return value.left(dot + 1) + last;
    }
    if (dot < 0) {
        // Left(value, -1) in the original: an invalid call.
        if (!quiet)
            showError(err::InvalidProcedureCall, standardErrorDescription(err::InvalidProcedureCall));
        return QString();
    }
    return value.left(dot);
}

bool CopyFileWithMessage(const QString& source, const QString& destination)
{
    // What failed, for the message: the system error and the path it was on.
    int sysError = 0;
    QString failedPath;
    QString mapError;
    auto fail = [&](const QString& path, int error = 0) {
        failedPath = path;
        sysError = error;
        return false;
    };
    auto copy = [&]() -> bool {
        const QString from = nativePath(source, &mapError);
        if (from.isEmpty())
            return fail(source);
        const QString to = nativePath(destination, &mapError);
        if (to.isEmpty())
            return fail(destination);
        if (!journal().isFile(from))
            return fail(source, ENOENT);
        if (!journal().fileCopy(from, to, journal().fileSize(from)))
            return true;
        const QFileInfo info(from);
        QFile in(from);
        if (!in.open(QIODevice::ReadOnly))
            return fail(source, errno);
        // Through a temporary file and a rename: a failed copy leaves the
        // old destination as it was.
        QSaveFile out(to);
        out.setDirectWriteFallback(false);
        if (!out.open(QIODevice::WriteOnly))
            return fail(destination, errno);
        QByteArray chunk;
        for (;;) {
            chunk = in.read(1 << 20);
            if (chunk.isEmpty())
                break;
            if (out.write(chunk) != chunk.size()) {
                const int e = errno;
                out.cancelWriting();
                return fail(destination, e);
            }
        }
        if (in.error() != QFileDevice::NoError || !in.atEnd()) {
            const int e = errno;
            out.cancelWriting();
            return fail(source, e);
        }
#ifdef Q_OS_UNIX
        // Keep the source's mode (executables stay executable).
        struct stat st;
        if (::fstat(in.handle(), &st) == 0)
            (void)::fchmod(out.handle(), st.st_mode & 07777);
#endif
        // Keep the modification time, as the platform's copy does; the
        // distribution step reads it.
        if (!out.flush())
            return fail(destination, errno);
        out.setFileTime(info.lastModified(), QFileDevice::FileModificationTime);
        errno = 0;
        if (!out.commit())
            return fail(destination, errno);
        return true;
    };
    if (copy())
        return true;
    QString why = mapError;
    if (why.isEmpty())
        why = (sysError != 0 ? fileErrorText(sysError) : QStringLiteral("복사하지 못했습니다"))
            + QStringLiteral("(") + failedPath + QLatin1Char(')');
    tell(QStringLiteral("Error copying File\r\n") + why);
    return false;
}

} // namespace rh
