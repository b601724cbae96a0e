#include "app/junitreport.h"

#include "pipeline/desk.h"

#include <QXmlStreamWriter>

namespace rh {
namespace {

struct Case {
    Case(const QString& s, const QString& p) : step(s), project(p) {}
    QString step;
    QString project;
    qint64 ms = 0;
    QStringList lines;
    QStringList errors;
    bool failed = false;
    bool skipped = false;
};

QString seconds(qint64 ms)
{
    return QString::number(double(ms) / 1000.0, 'f', 3);
}

} // namespace

QByteArray junitReport(const Desk& desk)
{
    static const int kOrder[6] = {StepRun, StepCompile, StepBuildSign, StepSetup, StepSetupSign, StepDistribute};
    const QStringList projects = desk.runProjects();
    const QList<StepTiming>& timings = desk.stepClock.steps();
    const QString stepless = QStringLiteral("(단계)");

    QList<Case> cases;
    for (int box : kOrder) {
        if (!desk.chkStep[size_t(box)].checked)
            continue;
        const QString step = Desk::stepCaption(box);
        const auto t = std::find_if(timings.begin(), timings.end(), [&](const StepTiming& s) { return s.step == step; });
        const qsizetype first = cases.size();
        for (const QString& p : projects) {
            Case c(step, p);
            c.skipped = t == timings.end();
            if (t != timings.end())
                for (const auto& [name, ms] : t->projects)
                    if (name == p)
                        c.ms = ms;
            cases.append(c);
        }
        Case whole(step, stepless);
        whole.skipped = t == timings.end();
        for (const Desk::RunLine& l : desk.runLines()) {
            if (l.step != step)
                continue;
            Case* c = &whole;
            for (qsizetype i = first; i < cases.size(); ++i)
                if (cases[i].project == l.project)
                    c = &cases[i];
            c->lines << l.text;
            if (l.text.startsWith(QStringLiteral("[오류]")))
                c->errors << l.text;
        }
        bool anyFailed = false;
        for (qsizetype i = first; i < cases.size(); ++i) {
            cases[i].failed = !cases[i].errors.isEmpty();
            anyFailed = anyFailed || cases[i].failed;
        }
        // A step that stopped the run without naming a project fails as a whole.
        if (t != timings.end() && !t->ok && !anyFailed) {
            whole.failed = true;
            if (t->projects.size() > 0) {
                for (Case& c : cases)
                    if (c.step == step && c.project == t->projects.last().first) {
                        c.failed = true;
                        whole.failed = false;
                    }
            }
        }
        whole.failed = whole.failed || !whole.errors.isEmpty();
        if (whole.failed || !whole.lines.isEmpty())
            cases.append(whole);
    }

    int failures = 0, skipped = 0;
    qint64 total = 0;
    for (const Case& c : cases) {
        failures += c.failed ? 1 : 0;
        skipped += c.skipped ? 1 : 0;
        total += c.ms;
    }

    QByteArray out;
    QXmlStreamWriter w(&out);
    w.setAutoFormatting(true);
    w.writeStartDocument();
    w.writeStartElement(QStringLiteral("testsuites"));
    w.writeAttribute(QStringLiteral("name"), QStringLiteral("rollhaven2"));
    w.writeAttribute(QStringLiteral("tests"), QString::number(cases.size()));
    w.writeAttribute(QStringLiteral("failures"), QString::number(failures));
    w.writeAttribute(QStringLiteral("errors"), QStringLiteral("0"));
    w.writeAttribute(QStringLiteral("time"), seconds(desk.stepClock.runMs()));
    w.writeStartElement(QStringLiteral("testsuite"));
    w.writeAttribute(QStringLiteral("name"), QStringLiteral("release"));
    w.writeAttribute(QStringLiteral("tests"), QString::number(cases.size()));
    w.writeAttribute(QStringLiteral("failures"), QString::number(failures));
    w.writeAttribute(QStringLiteral("errors"), QStringLiteral("0"));
    w.writeAttribute(QStringLiteral("skipped"), QString::number(skipped));
    w.writeAttribute(QStringLiteral("time"), seconds(total));
    for (const Case& c : cases) {
        w.writeStartElement(QStringLiteral("testcase"));
        w.writeAttribute(QStringLiteral("classname"), QStringLiteral("rollhaven2.") + c.step);
        w.writeAttribute(QStringLiteral("name"), c.project);
        w.writeAttribute(QStringLiteral("time"), seconds(c.ms));
        if (c.skipped) {
            w.writeEmptyElement(QStringLiteral("skipped"));
        } else if (c.failed) {
            w.writeStartElement(QStringLiteral("failure"));
            w.writeAttribute(QStringLiteral("message"),
                             c.errors.isEmpty() ? QStringLiteral("실행이 중단되었습니다.") : c.errors.first());
            w.writeAttribute(QStringLiteral("type"), QStringLiteral("오류"));
            w.writeCharacters(c.lines.join(QLatin1Char('\n')));
            w.writeEndElement();
        }
        if (!c.lines.isEmpty())
            w.writeTextElement(QStringLiteral("system-out"), c.lines.join(QLatin1Char('\n')));
        w.writeEndElement();
    }
    w.writeEndElement();
    w.writeEndElement();
    w.writeEndDocument();
    return out;
}

} // namespace rh
