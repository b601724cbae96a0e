#include "ui/frmhistory.h"

#include <QHeaderView>
#include <QJsonObject>
#include <QLabel>
#include <QPlainTextEdit>
#include <QSplitter>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace rh {
namespace {

QTableWidget* table(const QString& name, const QStringList& headers)
{
    auto* t = new QTableWidget(0, int(headers.size()));
    t->setObjectName(name);
    t->setHorizontalHeaderLabels(headers);
    t->setEditTriggers(QAbstractItemView::NoEditTriggers);
    t->setSelectionBehavior(QAbstractItemView::SelectRows);
    t->setSelectionMode(QAbstractItemView::SingleSelection);
    t->verticalHeader()->setVisible(false);
    t->horizontalHeader()->setStretchLastSection(true);
    t->setTextElideMode(Qt::ElideMiddle); // paths differ at their ends
    return t;
}

// Fits the columns to their texts, but none wider than 200 pixels, so a long
// FTP path leaves the expected, found and result columns in view; the whole
// text is in the cell's tool tip.
void fitColumns(QTableWidget* t)
{
    t->resizeColumnsToContents();
    for (int c = 0; c + 1 < t->columnCount(); ++c)
        t->setColumnWidth(c, std::min(t->columnWidth(c), 200));
}

void setRow(QTableWidget* t, int row, const QStringList& cells)
{
    for (int c = 0; c < cells.size(); ++c) {
        auto* item = new QTableWidgetItem(cells[c]);
        item->setToolTip(cells[c]);
        t->setItem(row, c, item);
    }
}

} // namespace

FrmHistory::FrmHistory(const QString& logsFolder, QWidget* parent)
    : QDialog(parent), m_entries(loadRunHistory(logsFolder))
{
    setObjectName(QStringLiteral("frmHistory"));
    setWindowTitle(QStringLiteral("실행 기록"));
    resize(1200, 700);

    runs = table(QStringLiteral("tblRuns"),
                 {QStringLiteral("시작"), QStringLiteral("프로젝트"), QStringLiteral("결과"), QStringLiteral("소요시간"),
                  QStringLiteral("검증")});
    runs->setRowCount(int(m_entries.size()));
    for (int i = 0; i < m_entries.size(); ++i) {
        const RunHistoryEntry& e = m_entries[i];
        setRow(runs, i, {e.start, e.projects.join(QStringLiteral(", ")), e.result, e.duration, e.verification});
    }
    fitColumns(runs);

    log = new QPlainTextEdit;
    log->setObjectName(QStringLiteral("txtRunLog"));
    log->setReadOnly(true);
    checks = table(QStringLiteral("tblChecks"),
                   {QStringLiteral("프로젝트"), QStringLiteral("항목"), QStringLiteral("기대값"), QStringLiteral("실제값"),
                    QStringLiteral("결과")});

    auto* detail = new QSplitter(Qt::Horizontal);
    detail->addWidget(log);
    detail->addWidget(checks);
    detail->setSizes({300, 600}); // the table has more columns to show than the log
    auto* split = new QSplitter(Qt::Vertical);
    split->addWidget(runs);
    split->addWidget(detail);
    split->setStretchFactor(1, 2);
    auto* v = new QVBoxLayout(this);
    if (m_entries.isEmpty())
        v->addWidget(new QLabel(QStringLiteral("실행 기록이 없습니다.")));
    v->addWidget(split);

    connect(runs, &QTableWidget::currentCellChanged, this, [this](int row) { showRun(row); });
    if (!m_entries.isEmpty())
        runs->selectRow(0);
}

void FrmHistory::showRun(int index)
{
    if (index < 0 || index >= m_entries.size())
        return;
    const RunHistoryEntry& e = m_entries[index];
    log->setPlainText(e.log);
    checks->setRowCount(int(e.checks.size()));
    for (int i = 0; i < e.checks.size(); ++i) {
        const QJsonObject c = e.checks[i].toObject();
        setRow(checks, i,
               {c.value(QStringLiteral("project")).toString(), c.value(QStringLiteral("check")).toString(),
                c.value(QStringLiteral("expected")).toString(), c.value(QStringLiteral("found")).toString(),
                c.value(QStringLiteral("ok")).toBool() ? QStringLiteral("일치") : QStringLiteral("불일치")});
    }
    fitColumns(checks);
}

} // namespace rh
