#include "platform/journal.h"

#include "platform/codepage.h"

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
    m_numbers.clear();
    m_nextPid = kFirstPlannedPid;
}

void Journal::end()
{
    m_mode = Mode::Idle;
    m_files.clear();
    m_remote.clear();
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
    if (m_mode == Mode::Idle)
        return true;
    JournalEntry e;
    e.seq = int(m_entries.size()) + 1;
    e.kind = kind;
    e.step = m_step;
    e.project = m_project;
    e.target = target;
    e.detail = detail;
    e.size = size;
    e.planned = m_mode == Mode::Plan;
    e.note = note;
    m_entries.append(e);
    if (m_file.isOpen() && m_mode == Mode::Record) {
        // Unbuffered: the line is in the file before the caller acts.
        m_file.write(QJsonDocument(journalEntryJson(e)).toJson(QJsonDocument::Compact) + '\n');
    }
    return m_mode != Mode::Plan;
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
    if (add(EffectKind::FileWrite, path, QString(), bytes.size()))
        return true;
    m_files.insert(key(path), {true, bytes.size(), false, bytes});
    return false;
}

bool Journal::fileCopy(const QString& from, const QString& to, qint64 size)
{
    // The size of a skipped build is not known: the entry says so.
    if (add(EffectKind::FileCopy, to, from, pendingContent(from) ? -1 : size))
        return true;
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
    if (add(EffectKind::FileRename, from, to))
        return true;
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
    if (add(EffectKind::FileDelete, path))
        return true;
    m_files.insert(key(path), PlannedFile());
    return false;
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
    if (add(EffectKind::FtpUpload, remote, local, pendingContent(local) ? -1 : size))
        return true;
    m_remote.insert(remote, size);
    return false;
}

bool Journal::ftpUploadData(const QString& remote, const QByteArray& bytes)
{
    if (add(EffectKind::FtpUpload, remote, fromAnsi(bytes), bytes.size()))
        return true;
    m_remote.insert(remote, bytes.size());
    return false;
}

bool Journal::ftpRename(const QString& from, const QString& to)
{
    if (add(EffectKind::FtpRename, from, to))
        return true;
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

bool Journal::sql(const QString& text)
{
    QString shown = text;
    for (auto it = m_numbers.cbegin(); it != m_numbers.cend(); ++it)
        shown.replace(QRegularExpression(QStringLiteral("\\b%1\\b").arg(it.key())), it.value());
    return add(EffectKind::Sql, shown);
}

bool Journal::iniWrite(const QString& path, const QString& section, const QString& key_,
                       const QString& value, const QByteArray& newBytes)
{
    if (add(EffectKind::IniWrite, path,
            QLatin1Char('[') + section + QStringLiteral("] ") + key_ + QLatin1Char('=') + value))
        return true;
    m_files.insert(key(path), {true, newBytes.size(), false, newBytes});
    return false;
}

bool Journal::settingsWrite(const QString& file, const QString& key_, const QString& value)
{
    return add(EffectKind::SettingsWrite, file, key_ + QLatin1Char('=') + value);
}

bool Journal::httpDownload(const QString& url, const QString& path)
{
    if (add(EffectKind::HttpDownload, path, url))
        return true;
    m_files.insert(key(path), {true, -1, true, std::nullopt});
    return false;
}

bool Journal::isFile(const QString& path) const
{
    if (const PlannedFile* p = planned(path))
        return p->exists;
    return QFileInfo(path).isFile();
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
        if (m_mode == Mode::Record && !m_waited.contains(key(path))) {
            m_waited.insert(key(path));
            add(EffectKind::Wait, path, producer, -1, QStringLiteral("생겼습니다"));
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
    return planning() && awaitFile(path, producer);
}

bool Journal::isPlannedProcess(qint64 pid) const
{
    return planning() && pid >= kFirstPlannedPid && pid < m_nextPid;
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
