#include "ui/frmhistory.h"

#include "pipeline/resume.h"

#include "ui/runchart.h"

#include <QComboBox>
#include <QDesktopServices>
#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMessageBox>
#include <QPushButton>
#include <QUrl>
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
    : QDialog(parent), m_entries(loadRunHistory(logsFolder)), m_logsFolder(logsFolder)
{
    opener = [](const QString& path) { return QDesktopServices::openUrl(QUrl::fromLocalFile(path)); };
    setObjectName(QStringLiteral("frmHistory"));
    setWindowTitle(QStringLiteral("실행 기록"));
    // Roomy where the screen allows, never larger than it (1024×700 screens).
    QSize size(1200, 700);
    if (const QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen())
        size = size.boundedTo(screen->availableGeometry().size());
    resize(size);

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

    // Tools: the result filter and the run's files.
    auto* tools = new QHBoxLayout;
    tools->addWidget(new QLabel(QStringLiteral("결과:")));
    cmbResult = new QComboBox;
    cmbResult->setObjectName(QStringLiteral("cmbResult"));
    cmbResult->addItems({QStringLiteral("전체"), QStringLiteral("완료"), QStringLiteral("중단"), QStringLiteral("거부"),
                         QStringLiteral("닫음"), QStringLiteral("모의실행")});
    cmbResult->setToolTip(QStringLiteral("결과로 실행을 거릅니다"));
    tools->addWidget(cmbResult);
    tools->addStretch(1);
    auto button = [&](const char* name, const char* caption, const char* tip) {
        auto* b = new QPushButton(QString::fromUtf8(caption));
        b->setObjectName(QString::fromUtf8(name));
        b->setToolTip(QString::fromUtf8(tip));
        b->setAutoDefault(false);
        tools->addWidget(b);
        return b;
    };
    btnOpenFolder = button("btnOpenFolder", "로그 폴더 열기", "실행 로그, 작업 기록, 보고서가 있는 폴더");
    btnOpenReport = button("btnOpenReport", "보고서 열기", "고른 실행의 보고서 (JSON)");
    btnOpenJournal = button("btnOpenJournal", "작업 기록 열기", "고른 실행이 한 일 (모의실행이면 계획)");
    btnResume = button("btnResume", "이어하기", "끝나지 않은 실행을 같은 선택과 옵션으로 마저 합니다 (이미 된 일은 다시 하지 않습니다)");
    v->addLayout(tools);

    chart = new RunChart;
    QList<int> all;
    for (int i = 0; i < m_entries.size(); ++i)
        all << i;
    chart->setRuns(m_entries, all);
    split->insertWidget(0, chart);
    split->setStretchFactor(0, 0);
    v->addWidget(split);

    connect(runs, &QTableWidget::currentCellChanged, this, [this](int row) { showRun(row); });
    connect(chart, &RunChart::runClicked, this, &FrmHistory::selectRun);
    connect(cmbResult, &QComboBox::currentTextChanged, this,
            [this](const QString& t) { filterByResult(t == QStringLiteral("전체") ? QString() : t); });
    connect(btnOpenFolder, &QPushButton::clicked, this, [this] { openPath(m_logsFolder); });
    connect(btnOpenReport, &QPushButton::clicked, this, [this] {
        if (currentRun() >= 0)
            openPath(m_entries[currentRun()].reportPath);
    });
    connect(btnOpenJournal, &QPushButton::clicked, this, [this] {
        if (currentRun() >= 0)
            openPath(m_entries[currentRun()].journalPath);
    });
    connect(btnResume, &QPushButton::clicked, this, [this] {
        const QString path = resumableJournal(currentRun());
        if (!path.isEmpty() && resume)
            resume(path);
    });
    if (!m_entries.isEmpty())
        runs->selectRow(0);
    else
        showRun(-1);
}

int FrmHistory::currentRun() const
{
    const int row = runs->currentRow();
    return row >= 0 && row < m_entries.size() && !runs->isRowHidden(row) ? row : -1;
}

void FrmHistory::selectRun(int index)
{
    if (index < 0 || index >= m_entries.size())
        return;
    if (runs->isRowHidden(index))
        cmbResult->setCurrentIndex(0); // the chosen run must be in view
    runs->selectRow(index);
}

void FrmHistory::filterByResult(const QString& result)
{
    QList<int> shown;
    for (int i = 0; i < m_entries.size(); ++i) {
        const bool match = result.isEmpty() || m_entries[i].result.contains(result);
        runs->setRowHidden(i, !match);
        if (match)
            shown << i;
    }
    chart->setRuns(m_entries, shown);
    if (currentRun() < 0 && !shown.isEmpty())
        runs->selectRow(shown.first());
}

void FrmHistory::openPath(const QString& path)
{
    if (path.isEmpty() || !QFileInfo::exists(path)) {
        QMessageBox::information(this, windowTitle(),
                                 QStringLiteral("열 파일이 없습니다.") + (path.isEmpty() ? QString() : QStringLiteral("\n") + path));
        return;
    }
    if (!opener || !opener(path))
        QMessageBox::information(this, windowTitle(),
                                 QStringLiteral("이 파일을 열 프로그램이 없습니다. 직접 여세요:\n") + path);
}

QString FrmHistory::resumableJournal(int index) const
{
    if (index < 0 || index >= m_entries.size())
        return QString();
    QString path = m_entries[index].reportPath;
    path = path.left(path.size() - int(qstrlen(".json"))) + QStringLiteral(".journal.jsonl");
    JournalFile f;
    return readJournalFile(path, &f) && isResumable(f) ? path : QString();
}

void FrmHistory::showRun(int index)
{
    btnResume->setEnabled(!resumableJournal(index).isEmpty());
    btnOpenReport->setEnabled(index >= 0 && index < m_entries.size());
    btnOpenJournal->setEnabled(index >= 0 && index < m_entries.size() && !m_entries[index].journalPath.isEmpty());
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
