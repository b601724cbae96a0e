#include "testinteraction.h"

#include <QCoreApplication>

namespace rh::test {

TestInteraction::TestInteraction()
{
    m_previous = &interaction();
    setInteraction(this);
}

TestInteraction::~TestInteraction()
{
    setInteraction(nullptr);
}

void TestInteraction::logLine(const QString& line)
{
    log.append(line);
    pumpEvents();
}

void TestInteraction::pumpEvents()
{
    ++pumps;
    QCoreApplication::processEvents();
    if (onPump)
        onPump();
}

bool TestInteraction::askYesNo(const QString& text, const QString& title, MsgIcon icon,
                               bool defaultNo)
{
    bool yes;
    if (!m_answers.isEmpty()) {
        yes = m_answers.takeFirst();
    } else {
        ++unexpectedQuestions;
        yes = !defaultNo;
    }
    messages.append({Message::Ask, text, title, icon, defaultNo, yes});
    return yes;
}

void TestInteraction::tell(const QString& text, const QString& title, MsgIcon icon)
{
    messages.append({Message::Tell, text, title, icon, false, false});
}

void TestInteraction::setBusy(bool b)
{
    busy = b;
    busyChanges.append(b);
}

bool TestInteraction::showProgress(const QString&, const QString&, qint64, qint64)
{
    ++progressCalls;
    return !(cancelAtProgressCall > 0 && progressCalls >= cancelAtProgressCall);
}

QStringList TestInteraction::texts() const
{
    QStringList out;
    for (const Message& m : messages)
        out << m.text;
    return out;
}

QStringList TestInteraction::tells() const
{
    QStringList out;
    for (const Message& m : messages)
        if (m.kind == Message::Tell)
            out << m.text;
    return out;
}

QStringList TestInteraction::questions() const
{
    QStringList out;
    for (const Message& m : messages)
        if (m.kind == Message::Ask)
            out << m.text;
    return out;
}

} // namespace rh::test
