#pragma once
// The tests' interaction: answers come from a script, every message and log
// line is recorded so tests can assert the exact texts.
#include "platform/interaction.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

namespace rh::test {

struct Message {
    enum Kind { Tell, Ask } kind;
    QString text;
    QString title;
    MsgIcon icon;
    bool defaultNo = false;
    bool answer = false; // for Ask: what was answered
};

class TestInteraction final : public Interaction {
public:
    TestInteraction();
    ~TestInteraction() override;

    // Answers for the next questions, in order. When the script runs out the
    // question gets its default button (and unexpectedQuestions grows).
    void answer(bool yes) { m_answers.append(yes); }
    void answers(std::initializer_list<bool> list)
    {
        for (bool b : list)
            m_answers.append(b);
    }
    // Called on every pump (AddLog yields, waits, transfer chunks).
    std::function<void()> onPump;

    void logLine(const QString& line) override;
    void pumpEvents() override;
    bool askYesNo(const QString& text, const QString& title, MsgIcon icon, bool defaultNo) override;
    void tell(const QString& text, const QString& title, MsgIcon icon) override;
    void setBusy(bool busy) override;
    bool showProgress(const QString& title, const QString& text, qint64 done, qint64 total) override;
    void endProgress() override { ++progressEnds; }

    // Progress calls seen; the call number (1-based) that answers "cancel".
    int progressCalls = 0;
    int progressEnds = 0;
    int cancelAtProgressCall = 0;

    QList<Message> messages;
    QStringList log;
    int pumps = 0;
    int unexpectedQuestions = 0;
    bool busy = false;
    QList<bool> busyChanges;

    QStringList texts() const;
    QStringList tells() const;
    QStringList questions() const;

private:
    QList<bool> m_answers;
    Interaction* m_previous = nullptr;
};

} // namespace rh::test
