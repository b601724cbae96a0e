#pragma once
// The seam between the release logic and whoever sits in front of it. Steps,
// the desk and the database layer never touch widgets: they log, pump events,
// ask and tell through this interface. Implementations: the Qt window's
// (message boxes, processEvents), the headless runner's (flags, stderr) and
// the tests' (scripted answers, every message recorded).
#include <QString>
#include <QtGlobal>

#include <functional>

namespace rh {

enum class MsgIcon { None, Information, Exclamation, Critical, Question };

// The application's title, used by message boxes that name no other.
QString appTitle();

class Interaction {
public:
    virtual ~Interaction() = default;

    // A run-log line was appended (AddLog): show it, then yield once.
    virtual void logLine(const QString& line) = 0;
    // Yield to the event loop (window repaint, user input).
    virtual void pumpEvents() = 0;
    // Yes/No question. Returns true for Yes.
    virtual bool askYesNo(const QString& text, const QString& title, MsgIcon icon,
                          bool defaultNo) = 0;
    // A step's "try again?" after a failed build (Yes = try again). The window
    // asks the user; an unattended runner must not loop on a default Yes.
    // retryCanHelp false (the program or the path is not there): No is the
    // default button.
    virtual bool askRetry(const QString& text, const QString& title, bool retryCanHelp = true)
    {
        return askYesNo(text, title, MsgIcon::None, !retryCanHelp);
    }
    // Message with an OK button.
    virtual void tell(const QString& text, const QString& title, MsgIcon icon) = 0;
    // Busy (hourglass) pointer on or off.
    virtual void setBusy(bool busy) = 0;

    // A progress dialog with a cancel button (the shell copy's). Called
    // repeatedly while work goes on; returns false when the user cancelled.
    // The defaults show nothing and never cancel.
    virtual bool showProgress(const QString& title, const QString& text, qint64 done, qint64 total)
    {
        (void)title;
        (void)text;
        (void)done;
        (void)total;
        return true;
    }
    virtual void endProgress() {}
};

// The process-wide interaction. Until one is installed a silent default is used
// that answers every question with its default button and drops messages.
Interaction& interaction();
void setInteraction(Interaction* impl);

// While it lives, every message box also becomes a run-log line through
// `log` ("[오류] " + the text on one line), so the run log alone tells what
// happened; everything else passes to the interaction that was installed.
class RunLogMirror final : public Interaction {
public:
    explicit RunLogMirror(std::function<void(const QString&)> log);
    ~RunLogMirror() override;
    RunLogMirror(const RunLogMirror&) = delete;
    RunLogMirror& operator=(const RunLogMirror&) = delete;

    void logLine(const QString& line) override { m_inner->logLine(line); }
    void pumpEvents() override { m_inner->pumpEvents(); }
    bool askYesNo(const QString& text, const QString& title, MsgIcon icon, bool defaultNo) override
    {
        return m_inner->askYesNo(text, title, icon, defaultNo);
    }
    bool askRetry(const QString& text, const QString& title, bool retryCanHelp = true) override
    {
        return m_inner->askRetry(text, title, retryCanHelp);
    }
    void tell(const QString& text, const QString& title, MsgIcon icon) override;
    void setBusy(bool busy) override { m_inner->setBusy(busy); }
    bool showProgress(const QString& title, const QString& text, qint64 done, qint64 total) override
    {
        return m_inner->showProgress(title, text, done, total);
    }
    void endProgress() override { m_inner->endProgress(); }

    // A message's text on one line: line breaks become " / ".
    static QString oneLine(QString text);

private:
    Interaction* m_inner;
    Interaction* m_installed; // what to put back: null for the silent default
    std::function<void(const QString&)> m_log;
};

// Shorthands with the application's title.
inline void tell(const QString& text, MsgIcon icon = MsgIcon::None)
{
    interaction().tell(text, appTitle(), icon);
}
inline bool askYesNo(const QString& text, MsgIcon icon = MsgIcon::Question, bool defaultNo = false)
{
    return interaction().askYesNo(text, appTitle(), icon, defaultNo);
}

} // namespace rh
