#pragma once
// The update launcher: at every start it brings the two companion programs up
// to date from the update folder of the web server, runs the version checker
// and, when a newer build of the program is waiting as "New_" + program file,
// hands over to the file changer and ends the program.
//
// On Linux the program file is the running executable (real path and name);
// the "New_" file lives in its folder, the companions too, or in lib/rollhaven2
// beside bin/ for an installed layout. When either folder is not writable, or
// lies under /usr (a packaged install), self-update is skipped with one log line.
// The companions learn the update folder and the digest rule from the
// environment (ROLLHAVEN2_UPDATE_URL, ROLLHAVEN2_UPDATE_DIGEST) and the program
// file's folder (ROLLHAVEN2_EXE_FOLDER); the file changer also gets the program
// folder whose instance lock it waits for (ROLLHAVEN2_HOME) and the arguments
// to restart with (ROLLHAVEN2_RESTART_ARGS).
#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>

namespace rh {

// The first 20 bytes of the body of a GET (always from the server), as text
// of the ANSI code page; the empty text on any failure or a status other than
// 200.
QString OpenUrlText(const QString& url);
// The text OpenUrlText makes of a body: its first 20 bytes in the ANSI code page.
inline constexpr int kOpenUrlTextBytes = 20;
QString urlTextOfBody(const QByteArray& body);

// "http://" + WebServerAddress (+ the site's web port) + "/download/자동업데이트_v1/"
QString GetUpdateBaseUrl();

// The revision of a companion file: the last part of a PE image's version
// block, or what a native program prints for --revision; "0" when the file is
// missing or answers nothing.
QString companionRevision(const QString& path);

// Environment variables between the launcher and its companions.
inline constexpr char kEnvUpdateUrl[] = "ROLLHAVEN2_UPDATE_URL";
inline constexpr char kEnvUpdateDigest[] = "ROLLHAVEN2_UPDATE_DIGEST"; // "required" or empty
inline constexpr char kEnvRestartArgs[] = "ROLLHAVEN2_RESTART_ARGS"; // JSON array of texts
inline constexpr char kEnvUpdateFailed[] = "ROLLHAVEN2_UPDATE_FAILED"; // set by the file changer
inline constexpr char kEnvHome[] = "ROLLHAVEN2_HOME";
// The folder of the program file (default: the companion's own folder).
inline constexpr char kEnvExeFolder[] = "ROLLHAVEN2_EXE_FOLDER";
// Seconds the file changer waits for the program to end (default 60).
inline constexpr char kEnvChangerWait[] = "ROLLHAVEN2_FILECHANGER_WAIT";

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
    void note(const QString& line) const;
    bool download(const QString& url, const QString& path);
};

} // namespace rh
