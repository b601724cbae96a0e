#include "platform/interaction.h"

#include <QRegularExpression>

namespace rh {
namespace {

class SilentInteraction final : public Interaction {
public:
    void logLine(const QString&) override {}
    void pumpEvents() override {}
    bool askYesNo(const QString&, const QString&, MsgIcon, bool defaultNo) override
    {
        return !defaultNo;
    }
    void tell(const QString&, const QString&, MsgIcon) override {}
    void setBusy(bool) override {}
};

SilentInteraction g_silent;
Interaction* g_current = nullptr;

} // namespace

QString appTitle()
{
    return QStringLiteral("Rollhaven2");
}

Interaction& interaction()
{
    return g_current ? *g_current : g_silent;
}

void setInteraction(Interaction* impl)
{
    g_current = impl;
}

RunLogMirror::RunLogMirror(std::function<void(const QString&)> log)
    : m_inner(&interaction()), m_installed(g_current), m_log(std::move(log))
{
    setInteraction(this);
}

RunLogMirror::~RunLogMirror()
{
    if (g_current == this)
        setInteraction(m_installed);
}

void RunLogMirror::tell(const QString& text, const QString& title, MsgIcon icon)
{
    if (m_log)
        m_log(QStringLiteral("[오류] ") + oneLine(text));
    m_inner->tell(text, title, icon);
}

QString RunLogMirror::oneLine(QString text)
{
    static const QRegularExpression breaks(QStringLiteral("\\s*[\\r\\n]+\\s*"));
    text.replace(breaks, QStringLiteral(" / "));
    return text.trimmed();
}

} // namespace rh
