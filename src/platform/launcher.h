#pragma once
// Outside programs. Setup INIs and the steps speak Windows command lines such as
//   C:\Program Files\Microsoft Visual Studio\VB98\vb6.exe /make D:\src\a.vbp
// (unquoted). The launcher finds the program part the way Windows does, maps
// it through the drive map and starts it: native programs get their Windows
// path arguments translated, PE images go through wine with the arguments as
// written, notepad and explorer become the user's editor and file manager.
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <functional>

namespace rh {

// Window show modes, numbered as Windows numbers them. Linux has a meaning only
// for Hidden: the program gets no terminal (own session, standard streams on
// /dev/null). The others inherit the caller's terminal and streams.
enum class WindowMode : int {
    Hidden = 0,
    Normal = 1,
    ShowMinimized = 2,
    Maximized = 3,
    NoActivate = 4,
    Show = 5,
    Minimize = 6,
    MinimizedNoActive = 7,
    ShowNA = 8,
    Restore = 9,
    Default = 10,
};

// The show mode of the shell start: hidden wins over minimized.
WindowMode shellShowMode(bool hidden, bool minimized);

// Splits an argument text by the Windows rules: blanks separate outside
// quotes; 2n backslashes before a quote give n backslashes and the quote
// toggles quoting, 2n+1 give n backslashes and a literal quote; backslashes
// elsewhere are literal; inside quotes a run of quotes yields a literal quote
// for every third.
QStringList splitWindowsArguments(const QString& text);

// One argument for a command line: as written when it holds no blank or
// quote, else quoted so that splitWindowsArguments gives it back whole (a
// path with blanks stays one argument).
QString quoteArgument(const QString& text);

// What a command line resolves to.
struct LaunchPlan {
    enum class Kind {
        Native,      // script or ELF, Windows path arguments translated
        Wine,        // PE image run through wine, arguments unchanged
        Editor,      // notepad: $VISUAL, $EDITOR or xdg-open
        FileManager, // explorer: xdg-open
        Opener,      // a document opened with the "open" verb: xdg-open
    };
    Kind kind = Kind::Native;
    QString programText; // the program part as written
    QString program;     // native executable that is started
    QStringList arguments;
};

// Resolves a command line without starting anything. The working folder
// (Windows or native, may be empty) anchors relative program names. Returns
// false with a message in *error when nothing could be started.
bool planCommandLine(const QString& commandLine, const QString& workingFolder, LaunchPlan* plan,
                     QString* error = nullptr);

// The same for the shell's "open" verb: a file (program or document, never
// split at blanks) and its parameter text.
bool planShellOpen(const QString& file, const QString& parameters, const QString& workingFolder,
                   LaunchPlan* plan, QString* error = nullptr);

struct LaunchOptions {
    WindowMode mode = WindowMode::Normal;
    QString workingFolder; // Windows or native; empty: the caller's own
    // Detached programs run in their own session, outlive the caller and are
    // never its children (no zombie, nothing to reap).
    bool detached = false;
};

// Starts a command line. Returns the process id, 0 when nothing was started
// (the reason in *error). A program started without `detached` is a child of
// this process: wait for it with WaitForProcessEnded, or it is reaped by a
// later launcher call once it has ended.
qint64 startCommandLine(const QString& commandLine, const LaunchOptions& options = {},
                        QString* error = nullptr);

// Starts a command line without waiting, detached (the editor, the
// source-merge tool, the file changer that replaces this program).
qint64 startWithoutWaiting(const QString& commandLine, WindowMode mode = WindowMode::Normal,
                           QString* error = nullptr);

// Waits until the process ends, pumping events through the interaction every
// 100 ms. True when the process could be found and has ended; false when
// there is no such process.
bool WaitForProcessEnded(qint64 pid);

// While set, every pumping wait for a tool (WaitForProcessEnded, and
// ShellExecuteAndWait without a time limit) asks it after each turn of the
// event loop. True ends the wait the way a CI engine ends a job: the tool gets
// SIGTERM, SIGKILL when it is still there after a few seconds, and is reaped.
// The run installs it for its length; empty: waits are never cut short.
void setToolWaitStop(std::function<bool()> stop);
// The last pumping wait ended because the stop said so.
bool toolWaitStopped();

// Starts `file` with the "open" verb (parameters, working folder, window mode
// from hidden/minimized) and blocks until the process ends, without pumping.
// The owner window has no use here; it is kept for the callers' sake.
// False when nothing could be started, with the reason in *error.
// `timeoutMs` >= 0 bounds the wait: a process still running then is killed
// and the result is false, with *error saying so. A wait the tool-wait stop
// ended is false as well (toolWaitStopped() tells it apart).
bool ShellExecuteAndWait(const QString& file, quintptr ownerWindow, const QString& parameters,
                         const QString& directory, bool hidden, bool minimized,
                         QString* error = nullptr, int timeoutMs = -1);

// Reaps children that have ended and were not waited for.
void reapEndedChildren();

} // namespace rh
