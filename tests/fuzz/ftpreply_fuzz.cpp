// The FTP session's own readers of server bytes. The first byte picks which:
// - reply text: the final reply lines found, written back one per line, are
//   found again; a multi-line reply built by the protocol's rules (text lines
//   padded when they start with a digit) has exactly its last line as final;
// - an MLST facts line: what it gives, written back as facts, gives the same;
// - a LIST reply (the first line is the wanted name): what it gives is
//   consistent and does not depend on CR LF or LF line ends, and an entry for
//   the name written in the Unix or DOS form is found with its type and size.
#include "net/ftpreply.h"

#include <cstdint>
#include <cstdlib>

namespace {

bool same(const rh::FtpFileInfo& a, const rh::FtpFileInfo& b)
{
    return a.exists == b.exists && a.size == b.size;
}

void sane(const rh::FtpFileInfo& i)
{
    if (i.size < -1 || (!i.exists && i.size != -1))
        std::abort();
}

void replyText(const QByteArray& text)
{
    const QList<QByteArray> finals = rh::finalReplyLines(text);
    for (const QByteArray& l : finals)
        if (!rh::isFinalReply(l) || l.contains('\r') || l.contains('\n'))
            std::abort();
    if (rh::finalReplyLines(finals.join("\r\n")) != finals)
        std::abort();

    QByteArray built = "250-Start\r\n";
    for (QByteArray line : text.split('\n')) {
        line.replace('\r', ' ');
        if (!line.isEmpty() && line.at(0) >= '0' && line.at(0) <= '9')
            line.prepend(' ');
        built += line + "\r\n";
    }
    built += "250 End\r\n";
    if (rh::finalReplyLines(built) != QList<QByteArray>{"250 End"})
        std::abort();
}

void mlst(const QByteArray& line)
{
    rh::FtpFileInfo info;
    if (!rh::parseMlstFacts(line, &info))
        return;
    sane(info);
    QByteArray facts = info.exists ? "type=file;" : "type=dir;";
    if (info.size >= 0)
        facts += "size=" + QByteArray::number(info.size) + ';';
    rh::FtpFileInfo again;
    if (!rh::parseMlstFacts(' ' + facts + " /x", &again) || !same(info, again))
        std::abort();
}

void listing(const QByteArray& bytes, quint32 size)
{
    const qsizetype nl = bytes.indexOf('\n');
    const QByteArray name = nl < 0 ? bytes : bytes.left(nl);
    const QByteArray list = nl < 0 ? QByteArray() : bytes.mid(nl + 1);

    rh::FtpFileInfo info;
    const bool found = rh::findInListing(list, name, &info);
    if (found)
        sane(info);
    if (!list.contains('\r')) {
        QByteArray crlf = list;
        crlf.replace("\n", "\r\n");
        rh::FtpFileInfo again;
        if (rh::findInListing(crlf, name, &again) != found || (found && !same(info, again)))
            std::abort();
    }

    if (name.isEmpty() || name.contains('\r'))
        return;
    const QByteArray n = QByteArray::number(size);
    const QList<QPair<QByteArray, bool>> entries = {
        {"-rw-r--r--   1 owner    group    " + n + " Jan  1  2020 " + name, true},
        {"drwxr-xr-x   2 owner    group    4096 Dec 31 23:59 " + name, false},
        {"01-01-20  10:00AM  " + n + " " + name, true},
        {"12-31-2019  11:59PM       <DIR>          " + name, false},
    };
    for (const auto& [line, isFile] : entries) {
        // The DOS form cannot carry a name that starts with a blank.
        if (line.at(0) != '-' && line.at(0) != 'd' && QByteArray(" \t\v\f").contains(name.at(0)))
            continue;
        rh::FtpFileInfo entry;
        if (!rh::findInListing("total 1\r\n" + line + "\r\n", name, &entry) || entry.exists != isFile
            || entry.size != (isFile ? qint64(size) : -1))
            std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 5)
        return 0;
    const quint32 number = quint32(data[1]) << 24 | quint32(data[2]) << 16 | quint32(data[3]) << 8 | data[4];
    const QByteArray bytes(reinterpret_cast<const char*>(data + 5), qsizetype(size - 5));
    switch (data[0] % 3) {
    case 0:
        replyText(bytes);
        break;
    case 1:
        mlst(bytes);
        break;
    default:
        listing(bytes, number);
        break;
    }
    return 0;
}
