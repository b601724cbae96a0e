#pragma once
// The interaction seam for the desktop: message boxes, the event loop, the
// busy pointer and a progress dialog.
#include "platform/interaction.h"

#include <QPointer>

class QProgressDialog;
class QWidget;

namespace rh {

class QtInteraction final : public Interaction {
public:
    QtInteraction();
    ~QtInteraction() override;

    void logLine(const QString& line) override;
    void pumpEvents() override;
    bool askYesNo(const QString& text, const QString& title, MsgIcon icon, bool defaultNo) override;
    void tell(const QString& text, const QString& title, MsgIcon icon) override;
    void setBusy(bool busy) override;
    bool showProgress(const QString& title, const QString& text, qint64 done, qint64 total) override;
    void endProgress() override;

private:
    static QWidget* dialogParent();

    bool m_busy = false;
    QPointer<QProgressDialog> m_progress;
};

} // namespace rh
