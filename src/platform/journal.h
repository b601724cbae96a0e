#pragma once
// The side-effect journal. Every side effect of a release run (file write,
// copy, rename, delete, folder, process start, FTP upload and rename, SQL
// statement, INI and settings write, HTTP download) is reported here by the
// platform, net and db layers just before it happens. A recording run keeps
// the entries; a planning run (the dry run) keeps them and answers "done"
// without acting, and remembers what the skipped actions would have left so
// that later reads of the same run see it. A resuming run records like a
// recording run but holds an earlier run's entries: an effect that repeats
// the earlier run's next one for its project, and is still in place, answers
// "done" without acting. The steps never know the mode.
//
// Outside a run the journal is idle: nothing is kept and everything acts.
#include <QByteArray>
#include <QFile>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QSet>
#include <QString>
#include <QtGlobal>

#include <functional>
#include <optional>

namespace rh {

enum class EffectKind {
    FileWrite,
    FileCopy,
    FileRename,
    FileDelete,
    FolderMake,
    ProcessStart,
    FtpUpload,
    FtpRename,
    Sql,
    IniWrite,
    SettingsWrite,
    HttpDownload,
    Wait, // a wait for something a tool or station makes
    FtpDelete,
};

// "file-copy", "sql", ... (reports) and the plan's Korean label ("복사", ...).
QString effectKindName(EffectKind kind);
QString effectKindLabel(EffectKind kind);
std::optional<EffectKind> effectKindFromName(const QString& name);

struct JournalEntry {
    int seq = 0;
    EffectKind kind = EffectKind::FileWrite;
    QString step;    // the driver's step that was running
    QString project; // the grid row being worked on, when there was one
    QString target;  // path, remote path, command line, SQL text, ...
    QString detail;  // source of a copy, new name, working folder, value, ...
    qint64 size = -1; // bytes, when known
    bool planned = false; // not performed (dry run)
    QString note;    // e.g. why a wait was taken as satisfied
    QString sha256;  // the content: bytes written, a copy's source, a waited-for output
    // A destination the effect overwrites, as it was before (copies, renames).
    qint64 beforeSize = -1;
    QString beforeSha256;
    QString check;   // SQL: the statement that finds the record's row
    bool done = false; // a resume found it in place and did not act
};

class Journal {
public:
    enum class Mode { Idle, Record, Plan, Resume };

    Mode mode() const { return m_mode; }
    bool planning() const { return m_mode == Mode::Plan; }
    bool active() const { return m_mode != Mode::Idle; }
    // Record and Resume keep a journal file and act.
    bool recording() const { return m_mode == Mode::Record || m_mode == Mode::Resume; }

    // ---- resuming an earlier run (held from before begin until end). Per
    // project, in order, the leading effects that repeat the earlier run's and
    // are still in place answer "done"; from the first that is not, every
    // effect of that project acts. A Plan with an earlier run held plans only
    // what is not in place.
    void holdEarlier(const QList<JournalEntry>& entries, bool earlierEnded);
    bool holdsEarlier() const { return !m_earlier.isEmpty(); }
    const QList<JournalEntry>& earlier() const { return m_earlier; }
    // Checks only upper layers can make: a remote file's size (-1: none;
    // nullopt: cannot tell).
    std::function<std::optional<qint64>(const QString& remote)> remoteSize;
    // Told of every effect found in place.
    std::function<void(const JournalEntry&)> onDone;
    // Where a station hands back what a copy gave it (empty: not a hand-over).
    std::function<QString(const QString& handedOver)> handedBackAs;
    // The earlier run's rule for "in place", entry by entry (earlier()[index]).
    bool earlierInPlace(int index);

    // A run starts: entries, planned state and placeholders start afresh.
    void begin(Mode mode);
    // The run ended; the entries stay readable until the next begin.
    void end();
    const QList<JournalEntry>& entries() const { return m_entries; }

    void setStep(const QString& step);
    void setProject(const QString& project);
    QString step() const { return m_step; }

    // ---- the run's journal file (recording runs). One JSON object a line:
    // the run's description first, then each entry, written and flushed to
    // the file before the side effect it announces goes ahead, so a run that
    // is killed or crashes still leaves what it did; the run's end adds a
    // line with "result". A file without that line is a run that ended
    // abnormally.
    bool openFile(const QString& path, const QJsonObject& run, QString* error = nullptr);
    // Adds the closing line and closes the file.
    void closeFile(const QJsonObject& end);
    QString filePath() const { return m_file.fileName(); }
    bool fileOpen() const { return m_file.isOpen(); }

    // ---- reports: true means "go ahead"; false means planned, answer done.
    bool fileWrite(const QString& path, const QByteArray& bytes);
    bool fileCopy(const QString& from, const QString& to, qint64 size);
    bool fileRename(const QString& from, const QString& to);
    bool fileDelete(const QString& path);
    bool folderMake(const QString& path);
    bool processStart(const QString& commandLine, const QString& folder);
    bool ftpUpload(const QString& local, const QString& remote, qint64 size);
    bool ftpUploadData(const QString& remote, const QByteArray& bytes);
    bool ftpDelete(const QString& remote);
    // beforeSize: the size `to` had on the server (-1: none or not known).
    bool ftpRename(const QString& from, const QString& to, qint64 beforeSize = -1);
    // check: a SELECT that finds the record's row (a number > 0 when it is
    // there: its id or a count); runCheck runs it. While resuming, a statement
    // whose row is there is never sent again.
    bool sql(const QString& text, const QString& check = QString(),
             const std::function<std::optional<qint64>()>& runCheck = {});
    // What the last statement's check found (0: no row, -1: no check).
    qint64 rowFound() const { return m_rowFound; }
    bool iniWrite(const QString& path, const QString& section, const QString& key,
                  const QString& value, const QByteArray& newBytes);
    bool settingsWrite(const QString& file, const QString& key, const QString& value);
    bool httpDownload(const QString& url, const QString& path);

    // ---- reads that see the run's planned state (native paths)
    bool isFile(const QString& path);
    qint64 fileSize(const QString& path) const; // -1: no such file
    // The file's content is known only after a skipped action (a tool's output).
    bool pendingContent(const QString& path) const;
    // Bytes a planned write left, for readers of that file.
    std::optional<QByteArray> plannedBytes(const QString& path) const;
    // What a remote file is after planned uploads and renames: nullopt when
    // the plan did not touch it (ask the server), -1 when it is gone.
    std::optional<qint64> plannedRemoteSize(const QString& remote) const;

    // A wait for a file that a tool or station makes (producer names it).
    // Recording: the file's existence, noted the first time it is there.
    // Planning: a missing file is taken as made by the skipped action; the
    // journal says so and later reads see it as pending content.
    bool awaitFile(const QString& path, const QString& producer);
    // For waits that judge the file themselves: true only while planning,
    // when the file counts as made by the skipped action (said as above).
    bool plannedOutput(const QString& path, const QString& producer);
    // A process id the plan handed out instead of starting a program.
    bool isPlannedProcess(qint64 pid) const;
    qint64 plannedProcessId();

    // ---- placeholders for values known only after an action
    // "《label》": a plan shows it where the real run has a value.
    static QString placeholder(const QString& label);
    // A number standing for a value such as a new row's id; SQL texts that
    // carry it are journaled with the placeholder instead.
    qint64 placeholderNumber(const QString& label);

private:
    enum class Act { Go, Planned, Done };
    struct Chain {
        QList<int> idx; // the earlier run's effects of one project
        int next = 0;
        bool broken = false;
    };
    struct PlannedFile {
        bool exists = false;
        qint64 size = -1;
        bool pending = false;
        std::optional<QByteArray> bytes;
    };
    bool add(EffectKind kind, const QString& target, const QString& detail = QString(),
             qint64 size = -1, const QString& note = QString());
    Act report(JournalEntry e);
    bool alreadyDone(const JournalEntry& e);
    bool same(const JournalEntry& earlier, const JournalEntry& now) const;
    bool inPlace(const Chain& c, int k);
    bool allInPlace(const Chain& c, int from, int to);
    int recreates(const Chain& c, int from, const QString& path) const;
    bool processInPlace(int index);
    QStringList outputsOf(int index) const;
    QString lastDigest(const QString& path) const;
    qint64 expectedUploadSize(const JournalEntry& upload) const;
    std::optional<qint64> serverSize(const QString& remote);
    void tookAsDone(const Chain& c, int k);
    QString handedBack(const JournalEntry& copy) const;
    bool awaitsHandOver(const QString& path);
    static QString key(const QString& path);
    const PlannedFile* planned(const QString& path) const;

    Mode m_mode = Mode::Idle;
    QList<JournalEntry> m_entries;
    QString m_step;
    QString m_project;
    QHash<QString, PlannedFile> m_files;
    QHash<QString, qint64> m_remote;
    QSet<QString> m_waited;
    QSet<QString> m_handedBack; // outputs of hand-overs taken as done
    QHash<qint64, QString> m_numbers; // placeholder number -> label
    qint64 m_nextPid = 0;
    QFile m_file;
    QList<JournalEntry> m_earlier;
    bool m_earlierEnded = false;
    QHash<QString, Chain> m_chains;
    QHash<int, bool> m_inPlace; // earlier index -> in place
    qint64 m_rowFound = -1;
};

// The process-wide journal.
Journal& journal();

// File operations that report to the journal first (native paths). They
// return 0 or the errno of the failed call; planned ones return 0.
int journaledUnlink(const QString& path);
int journaledRename(const QString& from, const QString& to);

// An entry as a journal file line holds it, and back (nullopt: not an entry).
QJsonObject journalEntryJson(const JournalEntry& e);
std::optional<JournalEntry> journalEntryFromJson(const QJsonObject& o);

// A journal file read back: its run line, its entries and its end line
// (empty when the run ended abnormally). False when the file cannot be read.
struct JournalFile {
    QJsonObject run;
    QList<JournalEntry> entries;
    QJsonObject end;
};
bool readJournalFile(const QString& path, JournalFile* out);

// Hex SHA-256 of a file's bytes; empty when it is no readable file.
QString fileDigest(const QString& path);

// Plan text: the entries grouped by step, then by project, numbered.
QString renderJournal(const QList<JournalEntry>& entries);

} // namespace rh
