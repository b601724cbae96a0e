#include "platform/interaction.h"

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

} // namespace rh
