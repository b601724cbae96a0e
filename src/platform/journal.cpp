#include "platform/journal.h"

#include "platform/codepage.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QRegularExpression>

#include <array>
#include <cerrno>
#include <cstdio>

#include <unistd.h>

namespace rh {
namespace {

struct KindText {
    EffectKind kind;
    const char* name;
    const char* label;
};

const std::array<KindText, 14> kKinds{{
    {EffectKind::FileWrite, "file-write", "쓰기"},
    {EffectKind::FileCopy, "file-copy", "복사"},
    {EffectKind::FileRename, "file-rename", "이름변경"},
    {EffectKind::FileDelete, "file-delete", "삭제"},
    {EffectKind::FolderMake, "folder-make", "폴더생성"},
    {EffectKind::ProcessStart, "process-start", "실행"},
    {EffectKind::FtpUpload, "ftp-upload", "FTP전송"},
    {EffectKind::FtpRename, "ftp-rename", "FTP이름변경"},
    {EffectKind::Sql, "sql", "SQL"},
    {EffectKind::IniWrite, "ini-write", "INI쓰기"},
    {EffectKind::SettingsWrite, "settings-write", "설정쓰기"},
    {EffectKind::HttpDownload, "http-download", "다운로드"},
    {EffectKind::Wait, "wait", "대기"},
    {EffectKind::FtpDelete, "ftp-delete", "FTP삭제"},
}};

// Planned process ids lie above any pid the kernel hands out (at most 2^22).
constexpr qint64 kFirstPlannedPid = 1'900'000'000;
constexpr qint64 kFirstPlaceholderNumber = 2'000'000'001;

const QChar kOpen(0x300A);  // 《, in CP949 too: placeholders reach INI and FTP names
const QChar kClose(0x300B); // 》

} // namespace

QString effectKindName(EffectKind kind)
{
    for (const KindText& k : kKinds)
        if (k.kind == kind)
            return QLatin1String(k.name);
    return QString();
}

QString effectKindLabel(EffectKind kind)
{
    for (const KindText& k : kKinds)
        if (k.kind == kind)
            return QString::fromUtf8(k.label);
    return QString();
}

std::optional<EffectKind> effectKindFromName(const QString& name)
{
    for (const KindText& k : kKinds)
        if (name == QLatin1String(k.name))
            return k.kind;
    return std::nullopt;
}

Journal& journal()
{
    static Journal j;
    return j;
}

void Journal::begin(Mode mode)
{
    // A plan that goes on (a dry run's start-up, then its release) keeps
    // what it planned so far.
    const bool goesOn = m_mode == Mode::Plan && mode == Mode::Plan;
    m_mode = mode;
    m_entries.clear();
    m_step.clear();
    m_project.clear();
    if (!goesOn) {
        m_files.clear();
        m_remote.clear();
    }
    m_waited.clear();
    m_handedBack.clear();
    m_numbers.clear();
    m_nextPid = kFirstPlannedPid;
}

void Journal::end()
{
    m_mode = Mode::Idle;
    m_files.clear();
    m_remote.clear();
    m_earlier.clear();
    m_chains.clear();
    m_inPlace.clear();
    remoteSize = nullptr;
    onDone = nullptr;
    handedBackAs = nullptr;
}

void Journal::holdEarlier(const QList<JournalEntry>& entries, bool earlierEnded)
{
    m_earlier = entries;
    m_earlierEnded = earlierEnded;
    m_chains.clear();
    m_inPlace.clear();
    // Waits are no effects, what a plan only planned was never done, and
    // what a run does before its steps (records kept from earlier runs) is
    // not the release's work.
    for (int i = 0; i < int(m_earlier.size()); ++i)
        if (m_earlier[i].kind != EffectKind::Wait && !m_earlier[i].planned && !m_earlier[i].step.isEmpty())
            m_chains[m_earlier[i].project].idx.append(i);
}

void Journal::setStep(const QString& step)
{
    m_step = step;
    m_project.clear();
}

void Journal::setProject(const QString& project)
{
    m_project = project;
}

QString Journal::key(const QString& path)
{
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

const Journal::PlannedFile* Journal::planned(const QString& path) const
{
    if (m_files.isEmpty())
        return nullptr;
    const auto it = m_files.constFind(key(path));
    return it == m_files.cend() ? nullptr : &it.value();
}

bool Journal::add(EffectKind kind, const QString& target, const QString& detail, qint64 size,
                  const QString& note)
{
    JournalEntry e;
    e.kind = kind;
    e.target = target;
    e.detail = detail;
    e.size = size;
    e.note = note;
    return report(e) == Act::Go;
}

Journal::Act Journal::report(JournalEntry e)
{
    if (m_mode == Mode::Idle)
        return Act::Go;
    e.seq = int(m_entries.size()) + 1;
    e.step = m_step;
    e.project = m_project;
    e.planned = m_mode == Mode::Plan;
    const bool done = !m_earlier.isEmpty() && alreadyDone(e);
    if (done) {
        e.done = true;
        e.planned = false;
        e.note = QStringLiteral("이미 완료");
        if (onDone)
            onDone(e);
        // A plan lists only what is still to do.
        if (m_mode == Mode::Plan)
            return Act::Done;
    }
    m_entries.append(e);
    if (m_file.isOpen() && recording()) {
        // Unbuffered: the line is in the file before the caller acts.
        m_file.write(QJsonDocument(journalEntryJson(e)).toJson(QJsonDocument::Compact) + '\n');
    }
    if (done)
        return Act::Done;
    return m_mode == Mode::Plan ? Act::Planned : Act::Go;
}

QString fileDigest(const QString& path)
{
    QFile f(path);
    if (!QFileInfo(path).isFile() || !f.open(QIODevice::ReadOnly))
        return QString();
    QCryptographicHash h(QCryptographicHash::Sha256);
    if (!h.addData(&f))
        return QString();
    return QString::fromLatin1(h.result().toHex());
}

namespace {

bool exists(const QString& path)
{
    return QFileInfo::exists(path);
}

} // namespace

bool Journal::same(const JournalEntry& earlier, const JournalEntry& now) const
{
    return earlier.kind == now.kind && earlier.target == now.target && earlier.detail == now.detail;
}

bool Journal::alreadyDone(const JournalEntry& e)
{
    if (e.kind == EffectKind::Wait || e.step.isEmpty())
        return false;
    Chain& c = m_chains[e.project];
    auto at = [&](int k) -> const JournalEntry& { return m_earlier[c.idx[k]]; };
    // A record whose row is there is never written twice, whatever came before.
    if (e.kind == EffectKind::Sql && m_rowFound > 0) {
        if (!c.broken && c.next < c.idx.size() && same(at(c.next), e))
            ++c.next;
        return true;
    }
    if (c.broken)
        return false;
    // A delete or a folder the earlier run needed and this one does not:
    // the file is gone, the folder is there.
    auto needless = [&](const JournalEntry& x) {
        return (x.kind == EffectKind::FileDelete && !exists(x.target))
            || (x.kind == EffectKind::FolderMake && QFileInfo(x.target).isDir());
    };
    while (c.next < c.idx.size() && !same(at(c.next), e) && needless(at(c.next)))
        ++c.next;
    if (c.next < c.idx.size() && same(at(c.next), e)) {
        const bool ok = e.kind == EffectKind::Sql ? false : inPlace(c, c.next);
        if (ok) {
            tookAsDone(c, c.next);
            ++c.next;
            return true;
        }
    } else if (e.kind == EffectKind::FileDelete) {
        // A delete this run needs and the earlier one did not: the file is
        // what the earlier run's next effects made, and they are in place.
        const int j = recreates(c, c.next, e.target);
        if (j >= 0 && allInPlace(c, c.next, j)) {
            m_files.remove(key(e.target));
            return true;
        }
    }
    c.broken = true;
    return false;
}

void Journal::tookAsDone(const Chain& c, int k)
{
    // What the skipped effect left is real, except where the earlier run's
    // later effects moved it on: there the reads of this run see it as the
    // skipped effect left it, so that the same later effects come.
    const JournalEntry& e = m_earlier[c.idx[k]];
    switch (e.kind) {
    case EffectKind::FileCopy:
        if (const QString back = handedBack(e); QFileInfo(back).isFile())
            m_handedBack.insert(key(back));
        if (exists(e.target)) {
            m_files.remove(key(e.target));
            break;
        }
        m_files.insert(key(e.target), {true, e.size, false, std::nullopt});
        // A round trip (the signing station): what comes back counts as
        // made by the skipped hand-over.
        for (int j = k + 1; j < c.idx.size(); ++j) {
            const JournalEntry& back = m_earlier[c.idx[j]];
            if (back.kind == EffectKind::FileCopy && back.target == e.detail) {
                m_files.insert(key(back.detail), {true, -1, true, std::nullopt});
                break;
            }
        }
        break;
    case EffectKind::FileWrite:
    case EffectKind::IniWrite:
    case EffectKind::FileDelete:
        m_files.remove(key(e.target));
        break;
    case EffectKind::FileRename:
        m_files.remove(key(e.target));
        m_files.remove(key(e.detail));
        break;
    case EffectKind::FtpUpload:
        m_remote.insert(e.target, expectedUploadSize(e));
        break;
    case EffectKind::FtpRename:
        if (m_remote.value(e.target, -1) >= 0)
            m_remote.insert(e.detail, m_remote.value(e.target));
        m_remote.insert(e.target, -1);
        break;
    default:
        break;
    }
}

QString Journal::handedBack(const JournalEntry& copy) const
{
    return copy.kind == EffectKind::FileCopy && handedBackAs ? handedBackAs(copy.target) : QString();
}

// What a station gave back for the earlier run's hand-over is no leftover:
// until this run comes to that hand-over, the reads see it not yet back.
bool Journal::awaitsHandOver(const QString& path)
{
    if (m_earlier.isEmpty() || !handedBackAs || m_step.isEmpty())
        return false;
    const auto it = m_chains.constFind(m_project);
    if (it == m_chains.cend() || it->broken || it->next >= it->idx.size())
        return false;
    const Chain& c = *it;
    const QString back = handedBack(m_earlier[c.idx[c.next]]);
    return !back.isEmpty() && key(back) == key(path) && inPlace(c, c.next);
}

bool Journal::earlierInPlace(int index)
{
    if (index < 0 || index >= m_earlier.size())
        return false;
    const Chain& c = m_chains[m_earlier[index].project];
    const int k = int(c.idx.indexOf(index));
    return k >= 0 && inPlace(c, k);
}

bool Journal::allInPlace(const Chain& c, int from, int to)
{
    for (int k = from; k <= to; ++k)
        if (!inPlace(c, k))
            return false;
    return true;
}

// The first effect from `from` on that makes `path` anew.
int Journal::recreates(const Chain& c, int from, const QString& path) const
{
    for (int k = from; k < c.idx.size(); ++k) {
        const JournalEntry& e = m_earlier[c.idx[k]];
        if (((e.kind == EffectKind::FileCopy || e.kind == EffectKind::FileWrite || e.kind == EffectKind::IniWrite)
             && e.target == path)
            || (e.kind == EffectKind::FileRename && e.detail == path)
            || (e.kind == EffectKind::ProcessStart && outputsOf(c.idx[k]).contains(path)))
            return k;
    }
    return -1;
}

// The outputs the earlier run waited for after starting a program, up to
// the project's next program.
QStringList Journal::outputsOf(int index) const
{
    QStringList out;
    const QString project = m_earlier[index].project;
    for (int i = index + 1; i < m_earlier.size(); ++i) {
        const JournalEntry& e = m_earlier[i];
        if (e.project != project)
            continue;
        if (e.kind == EffectKind::ProcessStart)
            break;
        if (e.kind == EffectKind::Wait)
            out << e.target;
    }
    return out;
}

// The digest the earlier run left a file with: its last write, copy or wait.
QString Journal::lastDigest(const QString& path) const
{
    for (qsizetype i = m_earlier.size() - 1; i >= 0; --i) {
        const JournalEntry& e = m_earlier[i];
        if (e.planned || e.target != path)
            continue;
        if (e.kind == EffectKind::Wait || e.kind == EffectKind::FileCopy || e.kind == EffectKind::FileWrite
            || e.kind == EffectKind::IniWrite)
            return e.sha256;
    }
    return QString();
}

bool Journal::processInPlace(int index)
{
    // The earlier run went past the program (it did not end inside it).
    if (!m_earlierEnded && index == m_earlier.size() - 1)
        return false;
    for (const QString& output : outputsOf(index)) {
        const QString want = lastDigest(output);
        if (want.isEmpty() || fileDigest(output) != want)
            return false;
    }
    return true;
}

qint64 Journal::expectedUploadSize(const JournalEntry& upload) const
{
    // A file's upload names the local file; a text's upload holds the text.
    const QFileInfo local(upload.detail);
    if (upload.detail.startsWith(QLatin1Char('/')) && local.isFile())
        return local.size();
    return upload.detail.startsWith(QLatin1Char('/')) ? -2 : upload.size;
}

std::optional<qint64> Journal::serverSize(const QString& remote)
{
    // The server's answer, not this run's view of it (FTP lookups consult
    // the remote files the journal took as done).
    QHash<QString, qint64> view;
    view.swap(m_remote);
    const std::optional<qint64> size = remoteSize(remote);
    view.swap(m_remote);
    return size;
}

bool Journal::inPlace(const Chain& c, int k)
{
    const int i = c.idx[k];
    if (const auto it = m_inPlace.constFind(i); it != m_inPlace.cend())
        return it.value();
    m_inPlace.insert(i, false);
    const JournalEntry& e = m_earlier[i];
    bool ok = false;
    switch (e.kind) {
    case EffectKind::FileWrite:
    case EffectKind::IniWrite:
        ok = !e.sha256.isEmpty() && fileDigest(e.target) == e.sha256;
        break;
    case EffectKind::FileCopy: {
        const QString there = fileDigest(e.target);
        if (!there.isEmpty()) {
            const QString source = fileDigest(e.detail);
            if (source.isEmpty() ? there == e.sha256 : there == source) {
                ok = true;
                break;
            }
        }
        // A hand-over the station took and answered: its output waits to be
        // taken back.
        if (there.isEmpty() && !exists(e.target) && QFileInfo(handedBack(e)).isFile()) {
            ok = true;
            break;
        }
        // Moved on by the earlier run's own later effects (renamed, deleted,
        // overwritten, or copied back: a round trip), which must then be in
        // place themselves.
        for (int j = k + 1; j < c.idx.size(); ++j) {
            const JournalEntry& later = m_earlier[c.idx[j]];
            if (((later.kind == EffectKind::FileRename || later.kind == EffectKind::FileDelete
                  || later.kind == EffectKind::FileCopy || later.kind == EffectKind::FileWrite)
                 && later.target == e.target)
                || (later.kind == EffectKind::FileCopy && later.target == e.detail)) {
                ok = allInPlace(c, k + 1, j);
                break;
            }
        }
        break;
    }
    case EffectKind::FileRename:
        ok = !exists(e.target) && exists(e.detail);
        break;
    case EffectKind::FileDelete:
        if (!exists(e.target)) {
            ok = true;
        } else {
            const int j = recreates(c, k + 1, e.target);
            ok = j > k && allInPlace(c, k + 1, j);
        }
        break;
    case EffectKind::FolderMake:
        ok = QFileInfo(e.target).isDir();
        break;
    case EffectKind::ProcessStart:
        ok = processInPlace(i);
        break;
    case EffectKind::FtpUpload: {
        if (!remoteSize)
            break;
        QString where = e.target;
        for (int j = i + 1; j < m_earlier.size(); ++j)
            if (m_earlier[j].kind == EffectKind::FtpRename && !m_earlier[j].planned && m_earlier[j].target == where)
                where = m_earlier[j].detail;
        const qint64 want = expectedUploadSize(e);
        const std::optional<qint64> size = serverSize(where);
        ok = want >= 0 && size && *size == want;
        break;
    }
    case EffectKind::FtpRename: {
        if (!remoteSize)
            break;
        qint64 want = -2;
        for (int j = i - 1; j >= 0; --j)
            if (m_earlier[j].kind == EffectKind::FtpUpload && m_earlier[j].target == e.target) {
                want = expectedUploadSize(m_earlier[j]);
                break;
            }
        const std::optional<qint64> from = serverSize(e.target);
        const std::optional<qint64> to = serverSize(e.detail);
        ok = want >= 0 && from && *from < 0 && to && *to == want;
        break;
    }
    default:
        // SQL is judged by its row check when it comes; settings writes and
        // downloads are done again.
        break;
    }
    m_inPlace.insert(i, ok);
    return ok;
}

bool Journal::openFile(const QString& path, const QJsonObject& run, QString* error)
{
    if (m_file.isOpen())
        m_file.close();
    QDir().mkpath(QFileInfo(path).absolutePath());
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
        if (error)
            *error = m_file.errorString();
        return false;
    }
    QJsonObject line = run;
    line.insert(QStringLiteral("type"), QStringLiteral("run"));
    m_file.write(QJsonDocument(line).toJson(QJsonDocument::Compact) + '\n');
    return true;
}

void Journal::closeFile(const QJsonObject& end)
{
    if (!m_file.isOpen())
        return;
    QJsonObject line = end;
    line.insert(QStringLiteral("type"), QStringLiteral("end"));
    m_file.write(QJsonDocument(line).toJson(QJsonDocument::Compact) + '\n');
    m_file.close();
}

QJsonObject journalEntryJson(const JournalEntry& e)
{
    QJsonObject o{{QStringLiteral("seq"), e.seq},
                  {QStringLiteral("kind"), effectKindName(e.kind)},
                  {QStringLiteral("step"), e.step},
                  {QStringLiteral("project"), e.project},
                  {QStringLiteral("target"), e.target},
                  {QStringLiteral("planned"), e.planned}};
    if (!e.detail.isEmpty())
        o.insert(QStringLiteral("detail"), e.detail);
    if (e.size >= 0)
        o.insert(QStringLiteral("size"), double(e.size));
    if (!e.note.isEmpty())
        o.insert(QStringLiteral("note"), e.note);
    if (!e.sha256.isEmpty())
        o.insert(QStringLiteral("sha256"), e.sha256);
    if (e.beforeSize >= 0)
        o.insert(QStringLiteral("beforeSize"), double(e.beforeSize));
    if (!e.beforeSha256.isEmpty())
        o.insert(QStringLiteral("beforeSha256"), e.beforeSha256);
    if (!e.check.isEmpty())
        o.insert(QStringLiteral("check"), e.check);
    if (e.done)
        o.insert(QStringLiteral("done"), true);
    return o;
}

std::optional<JournalEntry> journalEntryFromJson(const QJsonObject& o)
{
    const std::optional<EffectKind> kind = effectKindFromName(o.value(QStringLiteral("kind")).toString());
    if (!kind || !o.contains(QStringLiteral("seq")))
        return std::nullopt;
    JournalEntry e;
    e.seq = o.value(QStringLiteral("seq")).toInt();
    e.kind = *kind;
    e.step = o.value(QStringLiteral("step")).toString();
    e.project = o.value(QStringLiteral("project")).toString();
    e.target = o.value(QStringLiteral("target")).toString();
    e.detail = o.value(QStringLiteral("detail")).toString();
    e.size = qint64(o.value(QStringLiteral("size")).toDouble(-1));
    e.planned = o.value(QStringLiteral("planned")).toBool();
    e.note = o.value(QStringLiteral("note")).toString();
    e.sha256 = o.value(QStringLiteral("sha256")).toString();
    e.beforeSize = qint64(o.value(QStringLiteral("beforeSize")).toDouble(-1));
    e.beforeSha256 = o.value(QStringLiteral("beforeSha256")).toString();
    e.check = o.value(QStringLiteral("check")).toString();
    e.done = o.value(QStringLiteral("done")).toBool();
    return e;
}

bool readJournalFile(const QString& path, JournalFile* out)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    *out = JournalFile();
    // A line cut short by a kill is the last one and simply does not parse.
    for (const QByteArray& line : f.readAll().split('\n')) {
        const QJsonObject o = QJsonDocument::fromJson(line).object();
        const QString type = o.value(QStringLiteral("type")).toString();
        if (type == QLatin1String("run"))
            out->run = o;
        else if (type == QLatin1String("end"))
            out->end = o;
        else if (const std::optional<JournalEntry> e = journalEntryFromJson(o))
            out->entries.append(*e);
    }
    return true;
}

bool Journal::fileWrite(const QString& path, const QByteArray& bytes)
{
    JournalEntry e;
    e.kind = EffectKind::FileWrite;
    e.target = path;
    e.size = bytes.size();
    if (recording())
        e.sha256 = QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
    const Act a = report(e);
    if (a == Act::Planned)
        m_files.insert(key(path), {true, bytes.size(), false, bytes});
    return a == Act::Go;
}

namespace {

// What a copy or rename is about to overwrite.
void noteBefore(JournalEntry& e, const QString& destination)
{
    const QFileInfo fi(destination);
    if (!fi.isFile())
        return;
    e.beforeSize = fi.size();
    e.beforeSha256 = fileDigest(destination);
}

} // namespace

bool Journal::fileCopy(const QString& from, const QString& to, qint64 size)
{
    // The size of a skipped build is not known: the entry says so.
    JournalEntry e;
    e.kind = EffectKind::FileCopy;
    e.target = to;
    e.detail = from;
    e.size = pendingContent(from) ? -1 : size;
    if (recording() && !pendingContent(from)) {
        e.sha256 = fileDigest(from);
        noteBefore(e, to);
    }
    const Act a = report(e);
    if (a != Act::Planned)
        return a == Act::Go;
    PlannedFile f;
    f.exists = true;
    f.size = size;
    f.pending = pendingContent(from);
    f.bytes = plannedBytes(from);
    m_files.insert(key(to), f);
    return false;
}

bool Journal::fileRename(const QString& from, const QString& to)
{
    JournalEntry e;
    e.kind = EffectKind::FileRename;
    e.target = from;
    e.detail = to;
    if (recording())
        noteBefore(e, to);
    const Act a = report(e);
    if (a != Act::Planned)
        return a == Act::Go;
    PlannedFile f;
    if (const PlannedFile* p = planned(from))
        f = *p;
    else
        f = {QFileInfo(from).isFile(), QFileInfo(from).size(), false, std::nullopt};
    m_files.insert(key(to), f);
    m_files.insert(key(from), PlannedFile());
    return false;
}

bool Journal::fileDelete(const QString& path)
{
    JournalEntry e;
    e.kind = EffectKind::FileDelete;
    e.target = path;
    const Act a = report(e);
    if (a == Act::Planned)
        m_files.insert(key(path), PlannedFile());
    return a == Act::Go;
}

bool Journal::folderMake(const QString& path)
{
    return add(EffectKind::FolderMake, path);
}

bool Journal::processStart(const QString& commandLine, const QString& folder)
{
    return add(EffectKind::ProcessStart, commandLine, folder, -1,
               planning() ? QStringLiteral("시작하지 않음: 끝난 것으로 봅니다") : QString());
}

bool Journal::ftpUpload(const QString& local, const QString& remote, qint64 size)
{
    JournalEntry e;
    e.kind = EffectKind::FtpUpload;
    e.target = remote;
    e.detail = local;
    e.size = pendingContent(local) ? -1 : size;
    const Act a = report(e);
    if (a == Act::Planned)
        m_remote.insert(remote, size);
    return a == Act::Go;
}

bool Journal::ftpUploadData(const QString& remote, const QByteArray& bytes)
{
    JournalEntry e;
    e.kind = EffectKind::FtpUpload;
    e.target = remote;
    e.detail = fromAnsi(bytes);
    e.size = bytes.size();
    const Act a = report(e);
    if (a == Act::Planned)
        m_remote.insert(remote, bytes.size());
    return a == Act::Go;
}

bool Journal::ftpRename(const QString& from, const QString& to, qint64 beforeSize)
{
    JournalEntry e;
    e.kind = EffectKind::FtpRename;
    e.target = from;
    e.detail = to;
    e.beforeSize = beforeSize;
    const Act a = report(e);
    if (a != Act::Planned)
        return a == Act::Go;
    m_remote.insert(to, m_remote.value(from, -1));
    m_remote.insert(from, -1);
    return false;
}

bool Journal::ftpDelete(const QString& remote)
{
    if (add(EffectKind::FtpDelete, remote))
        return true;
    m_remote.insert(remote, -1);
    return false;
}

bool Journal::sql(const QString& text, const QString& check, const std::function<std::optional<qint64>()>& runCheck)
{
    QString shown = text;
    for (auto it = m_numbers.cbegin(); it != m_numbers.cend(); ++it)
        shown.replace(QRegularExpression(QStringLiteral("\\b%1\\b").arg(it.key())), it.value());
    m_rowFound = -1;
    if (!m_earlier.isEmpty() && runCheck) {
        const std::optional<qint64> found = runCheck();
        m_rowFound = found ? *found : -1;
    }
    JournalEntry e;
    e.kind = EffectKind::Sql;
    e.target = shown;
    e.check = check;
    return report(e) == Act::Go;
}

bool Journal::iniWrite(const QString& path, const QString& section, const QString& key_,
                       const QString& value, const QByteArray& newBytes)
{
    JournalEntry e;
    e.kind = EffectKind::IniWrite;
    e.target = path;
    e.detail = QLatin1Char('[') + section + QStringLiteral("] ") + key_ + QLatin1Char('=') + value;
    if (recording())
        e.sha256 = QString::fromLatin1(QCryptographicHash::hash(newBytes, QCryptographicHash::Sha256).toHex());
    const Act a = report(e);
    if (a == Act::Planned)
        m_files.insert(key(path), {true, newBytes.size(), false, newBytes});
    return a == Act::Go;
}

bool Journal::settingsWrite(const QString& file, const QString& key_, const QString& value)
{
    return add(EffectKind::SettingsWrite, file, key_ + QLatin1Char('=') + value);
}

bool Journal::httpDownload(const QString& url, const QString& path)
{
    JournalEntry e;
    e.kind = EffectKind::HttpDownload;
    e.target = path;
    e.detail = url;
    const Act a = report(e);
    if (a == Act::Planned)
        m_files.insert(key(path), {true, -1, true, std::nullopt});
    return a == Act::Go;
}

bool Journal::isFile(const QString& path)
{
    if (const PlannedFile* p = planned(path))
        return p->exists;
    return !awaitsHandOver(path) && QFileInfo(path).isFile();
}

qint64 Journal::fileSize(const QString& path) const
{
    if (const PlannedFile* p = planned(path))
        return p->exists ? std::max<qint64>(p->size, 0) : -1;
    const QFileInfo fi(path);
    return fi.isFile() ? fi.size() : -1;
}

bool Journal::pendingContent(const QString& path) const
{
    const PlannedFile* p = planned(path);
    return p && p->exists && p->pending;
}

std::optional<QByteArray> Journal::plannedBytes(const QString& path) const
{
    const PlannedFile* p = planned(path);
    if (!p)
        return std::nullopt;
    if (!p->exists)
        return QByteArray();
    return p->bytes;
}

std::optional<qint64> Journal::plannedRemoteSize(const QString& remote) const
{
    const auto it = m_remote.constFind(remote);
    if (it == m_remote.cend())
        return std::nullopt;
    return it.value();
}

bool Journal::awaitFile(const QString& path, const QString& producer)
{
    if (isFile(path)) {
        if (recording() && !m_waited.contains(key(path))) {
            m_waited.insert(key(path));
            // What the producer made, so that a resume can tell it is still there.
            JournalEntry e;
            e.kind = EffectKind::Wait;
            e.target = path;
            e.detail = producer;
            e.note = QStringLiteral("생겼습니다");
            if (!pendingContent(path)) {
                e.size = QFileInfo(path).size();
                e.sha256 = fileDigest(path);
            }
            report(e);
        }
        return true;
    }
    if (!planning())
        return false;
    add(EffectKind::Wait, path, producer, -1,
        QStringLiteral("생략된 작업이 만들 파일: 생긴 것으로 봅니다"));
    m_files.insert(key(path), {true, -1, true, std::nullopt});
    return true;
}

bool Journal::plannedOutput(const QString& path, const QString& producer)
{
    // Resuming: an output of a hand-over found done counts as come back.
    if (m_mode == Mode::Resume)
        return (pendingContent(path) || m_handedBack.contains(key(path))) && awaitFile(path, producer);
    return planning() && awaitFile(path, producer);
}

bool Journal::isPlannedProcess(qint64 pid) const
{
    return (planning() || m_mode == Mode::Resume) && pid >= kFirstPlannedPid && pid < m_nextPid;
}

qint64 Journal::plannedProcessId()
{
    return m_nextPid++;
}

QString Journal::placeholder(const QString& label)
{
    return kOpen + label + kClose;
}

qint64 Journal::placeholderNumber(const QString& label)
{
    const qint64 n = kFirstPlaceholderNumber + m_numbers.size();
    m_numbers.insert(n, placeholder(label + QLatin1Char(' ') + QString::number(m_numbers.size() + 1)));
    return n;
}

int journaledUnlink(const QString& path)
{
    if (!journal().fileDelete(path))
        return 0;
    return ::unlink(QFile::encodeName(path).constData()) == 0 ? 0 : errno;
}

int journaledRename(const QString& from, const QString& to)
{
    if (!journal().fileRename(from, to))
        return 0;
    return std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0 ? 0
                                                                                                : errno;
}

QString renderJournal(const QList<JournalEntry>& entries)
{
    QString out;
    QString step, project;
    bool first = true;
    for (const JournalEntry& e : entries) {
        if (first || e.step != step) {
            out += QLatin1Char('[') + (e.step.isEmpty() ? QStringLiteral("시작") : e.step)
                + QStringLiteral("]\n");
            step = e.step;
            project = QString();
            first = false;
            if (!e.project.isEmpty()) {
                out += QStringLiteral("  ") + e.project + QLatin1Char('\n');
                project = e.project;
            }
        } else if (e.project != project) {
            out += QStringLiteral("  ") + (e.project.isEmpty() ? QStringLiteral("-") : e.project)
                + QLatin1Char('\n');
            project = e.project;
        }
        QString line = QStringLiteral("    %1. %2 %3").arg(e.seq).arg(effectKindLabel(e.kind), e.target);
        if (!e.detail.isEmpty())
            line += (e.kind == EffectKind::FileCopy || e.kind == EffectKind::FtpUpload)
                ? QStringLiteral(" ← ") + e.detail
                : e.kind == EffectKind::FileRename || e.kind == EffectKind::FtpRename
                ? QStringLiteral(" → ") + e.detail
                : QStringLiteral(" (") + e.detail + QLatin1Char(')');
        if (e.size >= 0)
            line += QStringLiteral(" [%1 bytes]").arg(e.size);
        if (!e.note.isEmpty())
            line += QStringLiteral(" - ") + e.note;
        out += line + QLatin1Char('\n');
    }
    return out;
}

} // namespace rh
