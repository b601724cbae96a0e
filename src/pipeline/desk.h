#pragma once
// The desk: the main window without widgets. Every control of FrmMain is data
// here and every handler is a method, so the Qt window only binds widgets to
// this object and the headless runner and the tests drive the same code.
#include "config/grid.h"
#include "db/cmysql.h"
#include "pipeline/runprogress.h"
#include "pipeline/runrecord.h"
#include "platform/profile.h"

#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

#include <array>
#include <functional>
#include <memory>

class QFileSystemWatcher;

namespace rh {

struct FtpConnection;

struct CheckBox {
    bool checked = false;
    bool enabled = true;
};

struct Button {
    QString caption;
    bool enabled = true;
    bool defaultColor = true; // the system button face
    Rgb back = colors::White; // when !defaultColor
    QString tag;
};

struct GroupButton {
    QString caption;
    QString list; // comma-separated project section names
    bool enabled = true;
};

// lstDest: a multi-select list.
struct DestinationList {
    QStringList items;
    QList<bool> selected;
    int current = -1;
    void clear()
    {
        items.clear();
        selected.clear();
        current = -1;
    }
    void addSelected(const QString& item)
    {
        items.append(item);
        selected.append(true);
        current = int(items.size() - 1);
    }
    QStringList selectedItems() const
    {
        QStringList out;
        for (int i = 0; i < items.size(); ++i)
            if (selected[i])
                out << items[i];
        return out;
    }
};

// The "FTP 전송상태" frame.
struct FtpStatusFrame {
    QString fileName;  // lblFileName
    QString far;       // lbFar: bytes sent
    QString left;      // lbLeft: bytes left
    QString celkem;    // lbCelkem: file size
    QString time;      // lbTime: elapsed
    QString timeLeft;  // lbTimeLeft
    QString speed;     // lbSpeed
    int progressMax = 100;
    int progressValue = 0;
    // The last upload failed: the window shows the frame in red with the reason.
    bool failed = false;
    QString failure;
};

enum StepBox : int {
    StepCompile = 0,
    StepSetup = 1,
    StepDistribute = 2,
    StepRun = 3,
    StepBuildSign = 4,
    StepSetupSign = 5
};

// The release steps the driver can call; a step that has not been attached is
// skipped without a trace.
struct StepTable {
    std::function<bool()> step1_1;                        // run each project once
    std::function<bool()> step1_2;                        // compile and pack
    std::function<bool(int, int)> codeSigning;            // signing of two path columns
    std::function<bool()> step2;                          // setup build
    std::function<bool()> step3;                          // distribution
    // Sends the records earlier runs could not, at the start of a run.
    std::function<void()> sendPending;
    // Before anything of the run: false ends it stopped, nothing done.
    std::function<bool()> preflight;
};

class Desk : public QObject {
    Q_OBJECT
public:
    explicit Desk(QObject* parent = nullptr);
    ~Desk() override;

    // --- window values -------------------------------------------------------
    QString IniPath;
    QString UpxExePath;
    QString WorkDiaryId;   // 업무일지ID
    QString ISResultFolder;
    std::array<QString, 2> SetupBuilderExe;
    std::array<QString, 2> SetupBuilderArgs;
    bool versionUpDay = false;
    bool groupAdd = false;
    bool ftpBusy = false;
    bool cancelRequested = false;
    bool visible = false; // the window is shown: handlers may store settings and start runs
    bool closed = false;
    QStringList commandLine; // program arguments (without the program itself)

    // --- controls ------------------------------------------------------------
    QString caption;
    ProjectGrid grid;
    int selCount = 0; // lblSelCount
    CheckBox chkAll;
    std::array<GroupButton, 8> groups;
    QStringList setupNames; // cmbSetups
    int setupIndex = -1;
    bool setupsEnabled = true;
    Button cmdOpenINI;
    Button cmdVerUp;
    std::array<CheckBox, 6> chkStep;
    Button cmdAllStep;
    CheckBox chkTestVer, chkPatchOnly, chkWriteVer, chkVerUpdate, chkEndUnload, chkFTPAutoRemove;
    // 모의실행: the run journals every side effect instead of performing it.
    CheckBox chkDryRun;
    int optWeek = -1;
    Button btnTrans, btnClose, btnSourceMerge, btnImdAutoRemove;
    DestinationList lstDest;
    QString txtLog;
    FtpStatusFrame ftpStatus;
    bool stepFrameEnabled = true, projectFrameEnabled = true, destFrameEnabled = true,
         ftpFrameEnabled = true;

    StepTable steps;
    // Releases a database session a step may still hold (CloseDatabase).
    std::function<void()> closeDatabase;
    // The database session of the step that is running (work diary, web
    // catalogue). A step that fails half-way leaves it here until the next
    // step replaces it or closeDatabase drops it.
    std::unique_ptr<cMySQL> database;
    // The window's FTP connection and transfer display state (ftptransfer.h).
    std::unique_ptr<FtpConnection> ftp;

    // The run log's lines with the step and project they were written in.
    struct RunLine {
        QString step;
        QString project;
        QString text;
    };
    const QList<RunLine>& runLines() const { return m_runLines; }
    // The last run's end-of-run verification found a disagreement.
    bool verificationFailed() const { return m_verificationFailed; }
    // What follows is work for this row (journal, step timings), also where
    // a step goes through the rows without moving the grid's cursor.
    void workOnRow(int row);
    // The projects of the last run, in grid order.
    QStringList runProjects() const;
    // The step box captions, by StepBox index.
    static QString stepCaption(int box);
    // The run's files beside its log share this path (without extension);
    // empty: logs/run_<start time> in the program folder.
    QString runFileBase;
    QString lastRunFileBase; // the last run's, once it ended
    // The run this one finishes (its file name without extension), for the
    // run line and the report; empty for a run of its own.
    QString resumes;
    // The run report (logs/run_<start time>.json): selection, options,
    // servers, step timings, artefacts, verification and the journal.
    QJsonObject runReport(const QDateTime& start, const QDateTime& end) const;
    // Step and project durations of the last run.
    StepClock stepClock;

    // "Today" and the clock, injectable for the date rules.
    std::function<QDateTime()> now = [] { return QDateTime::currentDateTime(); };
    // Milliseconds between the signing step's looks at the signed folder; the
    // fallback where change notification does not arrive (network shares).
    int signingPollMs = 10000;
    // Watch the signed folder for changes besides the poll.
    bool signingWatch = true;
    // Longest wait for the signed files in milliseconds; 0 waits without limit.
    qint64 signingTimeoutMs = 0;
    // The signing step is waiting for the station: closing becomes a cancel request.
    bool signingWaiting = false;
    // The user confirmed a cancel during this run: the run ends "취소됨" at
    // the next unit of work.
    bool runCancelled = false;
    // The desk writes the run log (<runFileBase>.log) itself; the headless
    // front end keeps its own, with start-up's lines.
    bool writeRunLog = true;
    // Runs of the program folder whose journal has no end (killed, crashed):
    // each gets its report from the journal and an end line "abnormal", and
    // is named in the log. Returns how many were found.
    int reportAbandonedRuns();

    // --- the whole run in view --------------------------------------------------
    // Units of work of the run the options describe: each ticked step with a
    // step attached, for each ticked project, in run order.
    QList<RunUnit> plannedUnits() const;
    RunProgress progress;
    // How long the event loop went without a turn during the run.
    ResponsivenessProbe probe;
    // 중지: the run ends at the next boundary between units of work. Sets the
    // cancel request as closing does, so an upload or the signing wait asks now.
    void requestStop();
    bool stopRequested = false;
    // Called by the steps between units of work: true when the run is to end
    // here (logged once).
    bool stopBetweenUnits();

    // --- start-up ------------------------------------------------------------
    void Form_Load();
    void LoadConfig();
    void SaveRecentProjects();
    QString GetIni(const QString& section, const QString& key, const QString& defaultValue) const;
    QString setupChooserText() const;
    // Lists inis/ again (the folder changed): the loaded file stays chosen.
    void refreshSetupList();

    // --- handlers ------------------------------------------------------------
    void optWeekClick(int index);
    void setTestVersion(bool ticked);     // chkTestVer click
    void setStep(int index, bool ticked); // chkStep click
    void setEndUnload(bool ticked);       // chkEndUnload click
    void chkAllClick(bool ticked);
    void toggleRow(int row);
    void blockSelected(int row1, int row2);
    void gridDoubleClick(int col, int row);
    void gridKeyPress(int key);
    void groupMouseDown(int index, bool ctrl, bool shift, bool alt);
    void groupClick(int index);
    void groupMouseUp(int index);
    void chooseSetup(int index); // cmbSetups click
    // Closing: false when refused (an FTP transfer or the signing wait is
    // running; it is asked to stop).
    bool requestClose();
    // Ends the program at once, skipping the closing rules (the original's End
    // after a failed FTP connection): marks the desk ended and closed, asks the
    // window to close, then runs endProgram.
    void EndProgram();
    bool ended = false;
    // Installed by the front ends (the headless runner exits); empty in tests.
    std::function<void()> endProgram;
    // INI 열기: the desktop's application (openDocument, installed by the
    // window), else the editor of $VISUAL or $EDITOR, else a message naming
    // the file. Without a window: the editor the launcher finds.
    void OpenIni();
    std::function<bool(const QString& nativePath)> openDocument;
    void btnSourceMerge_Click();
    void cmdVerUp_Click();
    bool ProcVerUp(int row);
    // lstDest: the user changed the selection or the current entry.
    void setDestinationSelection(const QList<bool>& selected, int current);
    // Option boxes without a click handler of their own (chkPatchOnly,
    // chkWriteVer, chkVerUpdate, chkFTPAutoRemove): the user changed the value.
    void setOptionBox(CheckBox& box, bool ticked);
    // The FTP clean-up command (remove "_2" from the ticked projects' files on
    // the server now); in pipeline/ftptransfer.cpp.
    void btnImdAutoRemove_Click();

    // --- the driver ------------------------------------------------------------
    // Returns how the run ended, for the headless runner.
    // Cancelled: the user (or a signal, headless) cancelled an upload or the
    // signing wait. FtpFailed: the FTP server could not be reached and the
    // program ends.
    enum class RunResult { Refused, Stopped, Finished, Closed, Cancelled, FtpFailed };
    RunResult btnTrans_Click();
    RunResult cmdAllStep_Click();
    void AddLog(const QString& text);
    void EnableControls(bool enable);
    bool IsVersionUpDoneToday() const;
    RunResult lastRunResult() const { return m_lastResult; }
    bool running() const { return m_running; }

    // "[오류] " lines of the current or last run, and the end-of-run line that
    // counts them with the products they concern ("오류 2건: 원장, 세금").
    int runErrorCount() const { return int(m_runErrors.size()); }
    // When the current or last run started (invalid before the first).
    QDateTime runStarted;
    QString runErrorSummary() const;

    // Rows whose setup did not reach the FTP server completely in this run's
    // distribution: nothing after the upload is published for them.
    QSet<int> failedUploads;
    // A ticked row whose release goes on (its uploads, if any, completed).
    bool releasesRow(int row) const { return isTicked(row) && !failedUploads.contains(row); }

    // Tick state of a row ("1" ticks).
    bool isTicked(int row) const { return grid.text(1, row) == QLatin1String("1"); }
    void setTicked(int row, bool ticked);

    // The fallback test destination on the file server.
    static QString fallbackTestDestination();
    // Version-up day: a Tuesday whose day +8 lies in another month and whose
    // next day lies in the same month.
    static bool isVersionUpDay(const QDate& today);

Q_SIGNALS:
    // Any control changed: the window refreshes its widgets from the desk.
    void changed();
    void logAppended(const QString& line);
    void logCleared();
    void closeRequested();
    // The run moved on (unit, step, project, unit text).
    void progressChanged();

private:
    void onCellChanged(int col, int row, const QString& oldText);
    QString nativeIniPath(const ProfileFile& file) const;
    void loadDestinations(const ProfileFile& file);
    void reportMissingProjects(const ProfileFile& file);
    void updateAllStepButton();
    void resetGroupButtons();
    QStringList listSetupNames() const;
    void logIniError(const QString& section, const QString& key, const QString& value, const QString& why);
    void runChainInto(RunResult* result, bool* closedAfter, const QDateTime& start);
    void beginRecord(const QDateTime& start);
    void beginStep(int box);
    void onActiveCellChanged(int col, int row);
    void endRecord(const QDateTime& start);
    // The run's progress, probe and dry-run cell snapshot (deskprogress.cpp).
    void beginProgress();
    void endStepProgress();
    void endProgress();
    void restoreDryRunCells();

    QJsonObject runDescription(const QDateTime& start) const;
    // Once per run: the journal's end line, the report, the selection saved.
    bool m_recordEnded = false;
    QFile m_runLog;
    QList<RunLine> m_runLines;
    bool m_verificationFailed = false;
    QString m_runProject;
    QJsonArray m_artefacts;
    QJsonArray m_verification;
    bool m_running = false;
    RunResult m_lastResult = RunResult::Refused;
    QStringList m_runErrors; // "[오류] " lines since the run started
    bool m_stopLogged = false;
    QFileSystemWatcher* m_iniWatcher = nullptr;
    // A dry run's grid cells (all but the tick column) as they were before it.
    QList<QPair<QPair<int, int>, QString>> m_dryRunCells;
};

} // namespace rh
