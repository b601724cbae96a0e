#pragma once
// The update launcher: at every start it brings the two companion programs up
// to date from the update folder of the web server, runs the version checker
// and, when a newer build of the program is waiting as "New_" + program file,
// hands over to the file changer and ends the program.
//
// On Linux the program file is the running executable (real path and name);
// the "New_" file lives in its folder, the companions too, or in lib/rollhaven2
// beside bin/ for an installed layout. When either folder is not writable, or
// lies under /usr (a packaged install), or site.ini names no release key,
// self-update is skipped with one log line.
//
// Nothing from the update folder is kept or run unless it carries a good
// minisign signature ("<file>.minisig") of a release key named in site.ini,
// and its own revision is the announced one and above the installed one. The
// whole step is bounded by [Update] Deadline, every file by MaxFileMiB.
//
// The companions learn the update folder, the keys and the limits from the
// environment (ROLLHAVEN2_UPDATE_*), and the program file's folder from
// ROLLHAVEN2_EXE_FOLDER; the file changer also gets the program folder whose
// instance lock it waits for (ROLLHAVEN2_HOME) and the arguments to restart
// with (ROLLHAVEN2_RESTART_ARGS). All but ROLLHAVEN2_HOME (the program folder,
// possibly the user's own setting) are removed again once the companion has
// been started, so the tools of a run inherit none of them.
#include "net/minisign.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QString>
#include <QStringList>

#include <functional>

namespace rh {

// The first 20 bytes of the body of a GET (always from the server), as text
// of the ANSI code page; the empty text on any failure or a status other than
// 200.
QString OpenUrlText(const QString& url, int timeoutSec = 10);
// The text OpenUrlText makes of a body: its first 20 bytes in the ANSI code page.
inline constexpr int kOpenUrlTextBytes = 20;
QString urlTextOfBody(const QByteArray& body);

// "http://" (or "https://") + WebServerAddress (+ the site's web port) +
// "/download/자동업데이트_v1/"
QString GetUpdateBaseUrl();

// The revision of a companion file: the last part of a PE image's version
// block, or what a native program prints for --revision; "0" when the file is
// missing or answers nothing within `timeoutMs`.
QString companionRevision(const QString& path, int timeoutMs = 5000);

// Environment variables between the launcher and its companions.
inline constexpr char kEnvUpdateUrl[] = "ROLLHAVEN2_UPDATE_URL";
inline constexpr char kEnvUpdateKeys[] = "ROLLHAVEN2_UPDATE_KEYS"; // public keys, blank-separated
inline constexpr char kEnvUpdateLimits[] = "ROLLHAVEN2_UPDATE_LIMITS"; // "max bytes;seconds left"
inline constexpr char kEnvUpdateCaFile[] = "ROLLHAVEN2_UPDATE_CAFILE";
inline constexpr char kEnvRestartArgs[] = "ROLLHAVEN2_RESTART_ARGS"; // JSON array of texts
// Set by the file changer when it restarts the program, after a failure or a
// replacement: that start never hands over again.
inline constexpr char kEnvUpdateFailed[] = "ROLLHAVEN2_UPDATE_FAILED";
inline constexpr char kEnvUpdateReplaced[] = "ROLLHAVEN2_UPDATE_REPLACED";
inline constexpr char kEnvHome[] = "ROLLHAVEN2_HOME";
// The folder of the program file (default: the companion's own folder).
inline constexpr char kEnvExeFolder[] = "ROLLHAVEN2_EXE_FOLDER";
// Seconds the file changer waits for the program to end (default 60).
inline constexpr char kEnvChangerWait[] = "ROLLHAVEN2_FILECHANGER_WAIT";

// What every update file must satisfy, and the limits of the update step.
struct UpdateRules {
    QList<MinisignKey> keys;
    qint64 maxBytes = 0;
    QDeadlineTimer deadline;

    // The site's keys and limits, the deadline starting now.
    static UpdateRules fromSite();
    // What the launcher handed to a companion; false with *error when no key
    // or no limit came.
    static bool fromEnvironment(UpdateRules* rules, QString* error);
    // Whole seconds left for one more transfer (at least 1).
    int secondsLeft() const;
    // Milliseconds left, at most `atMost`.
    int millisecondsLeft(int atMost) const;
};

// One update file, downloaded beside its target and checked.
struct StagedUpdate {
    QString temp; // the checked file, not yet in place
    QByteArray signature; // its ".minisig"
    QString revision; // its own revision
    QString error; // why it was discarded
    bool ok() const { return error.isEmpty() && !temp.isEmpty(); }
    void discard();
};

// Downloads `url` (the update folder's `name`) and its "<url>.minisig" into
// temporary files beside `target` and keeps the file only when its signature
// is good and its own revision equals `announced` (< 0: any) and lies above
// `installed` (`mayEqual`: or equals it). The file is run only for its
// revision, and only once its signature has been found good.
StagedUpdate stageUpdate(const UpdateRules& rules, const QString& url, const QString& name, const QString& target,
                         double announced, double installed, bool mayEqual = false);
// Renames a staged file over `target` (mode 0755); false with *error.
bool commitUpdate(StagedUpdate& staged, const QString& target, QString* error);

class AutoUpdater {
public:
    enum class Result {
        Continue,   // start-up goes on to the login
        HandedOver, // the file changer runs: end the program now
        End,        // the file changer is missing: end the program
    };

    // The running executable's folder and file name, this build's revision.
    AutoUpdater();

    QString exeFolder;
    QString programFile;
    int programRevision = 0;
    // The program folder whose lock the file changer waits for, and the
    // arguments the program is restarted with.
    QString homeFolder;
    QStringList restartArguments;
    // Start-up log lines (downloads, skips); quiet when empty.
    std::function<void(const QString&)> log;
    // "explorer.exe" + folder: shows the folder to the user.
    std::function<void(const QString&)> openFolder;

    Result RunAutoUpdate(bool skip);
    bool AutoUpdaterSelfUpdate();

    QString checkerPath() const;
    QString changerPath() const;
    // The update folder URL of the last self-update.
    QString UpdateBaseUrl;

private:
    // Why this start leaves the program and its companions as they are:
    // a packaged or read-only install, or no release key. Empty: it updates.
    QString skipReason(const UpdateRules& rules) const;
    // The version checker, with the update folder, keys and limits in its
    // environment for as long as it runs.
    void runChecker();
    // Starts the file changer on a checked waiting build and lets it restart
    // the program with the same arguments.
    Result handOver(const QString& waiting);
    void note(const QString& line) const;
    // A waiting "New_" build with its signature, newer than this build.
    bool waitingBuildIsGood(const QString& waiting);

    UpdateRules m_rules;
};

} // namespace rh
