#include "net/ftpreply.h"

#include <QRegularExpression>
#include <QString>

namespace rh {

namespace {

// A listed size that does not fit is unknown, not zero.
qint64 listedSize(const QString& digits)
{
    bool ok = false;
    const qint64 n = digits.toLongLong(&ok);
    return ok ? n : -1;
}

} // namespace

bool isFinalReply(const QByteArray& line)
{
    if (line.size() < 3)
        return false;
    for (int i = 0; i < 3; ++i)
        if (line.at(i) < '0' || line.at(i) > '9')
            return false;
    return line.size() == 3 || line.at(3) == ' ';
}

QByteArray replyText(QByteArray line)
{
    line.replace('\r', ' ');
    line.replace('\n', ' ');
    return line.trimmed();
}

QList<QByteArray> finalReplyLines(const QByteArray& text)
{
    QList<QByteArray> finals;
    for (QByteArray line : text.split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        if (isFinalReply(line))
            finals.append(replyText(line));
    }
    return finals;
}

bool parseMlstFacts(const QByteArray& line, FtpFileInfo* info)
{
    const QByteArray body = line.mid(1);
    const qsizetype blank = body.indexOf(' ');
    if (blank <= 0)
        return false;
    bool isFile = true;
    qint64 size = -1;
    for (const QByteArray& fact : body.left(blank).split(';')) {
        const qsizetype eq = fact.indexOf('=');
        if (eq <= 0)
            continue;
        const QByteArray key = fact.left(eq).toLower();
        const QByteArray value = fact.mid(eq + 1);
        if (key == "type")
            isFile = value.toLower() == "file";
        else if (key == "size") {
            bool ok = false;
            const qint64 n = value.toLongLong(&ok);
            if (ok && n >= 0)
                size = n;
        }
    }
    info->exists = isFile;
    info->size = isFile ? size : -1;
    return true;
}

bool findInListing(const QByteArray& listing, const QByteArray& name, FtpFileInfo* info)
{
    static const QRegularExpression unixLine(QStringLiteral(
        R"(^([-dlpscbD])\S{9}\S*\s+\d+\s+\S+\s+(?:\S+\s+)?(\d+)\s+[A-Za-z]{3}\s+\d{1,2}\s+(?:\d{1,2}:\d{2}|\d{4}) (.+)$)"));
    static const QRegularExpression dosLine(QStringLiteral(
        R"(^\d{2}-\d{2}-\d{2,4}\s+\d{1,2}:\d{2}\s*(?:[AaPp][Mm])?\s+(<DIR>|\d+)\s+(.+)$)"));
    // Latin-1 keeps every byte as one character, whatever the code page.
    const QString wanted = QString::fromLatin1(name);
    for (QByteArray raw : listing.split('\n')) {
        if (raw.endsWith('\r'))
            raw.chop(1);
        const QString line = QString::fromLatin1(raw);
        QRegularExpressionMatch m = unixLine.match(line);
        if (m.hasMatch()) {
            if (m.captured(3) != wanted)
                continue;
            info->exists = m.captured(1) == QLatin1String("-");
            info->size = info->exists ? listedSize(m.captured(2)) : -1;
            return true;
        }
        m = dosLine.match(line);
        if (m.hasMatch() && m.captured(2) == wanted) {
            info->exists = m.captured(1) != QLatin1String("<DIR>");
            info->size = info->exists ? listedSize(m.captured(1)) : -1;
            return true;
        }
    }
    return false;
}

} // namespace rh
