#pragma once
// The seam between the release logic and whoever sits in front of it. Steps,
// the desk and the database layer never touch widgets: they log, pump events,
// ask and tell through this interface. Implementations: the Qt window's
// (message boxes, processEvents), the headless runner's (flags, stderr) and
// the tests' (scripted answers, every message recorded).
#include <QString>
#include <QtGlobal>

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
