#include "ui/runchart.h"

#include "pipeline/runrecord.h"

#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>

#include <algorithm>

namespace rh {

RunChart::RunChart(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("runChart"));
    setMouseTracking(true);
    setToolTip(QStringLiteral("지난 실행의 단계별 소요시간 (막대를 누르면 그 실행을 봅니다)"));
}

QColor RunChart::stepColor(const QString& step)
{
    // Fixed colours per step in run order, so bars compare at a glance.
    static const std::pair<const char*, QColor> colours[] = {
        {"RUN", QColor(141, 160, 203)},     {"컴파일", QColor(102, 194, 165)}, {"빌드서명", QColor(252, 141, 98)},
        {"셋업", QColor(231, 138, 195)},    {"셋업서명", QColor(255, 217, 47)}, {"배포", QColor(166, 216, 84)}};
    for (const auto& [name, colour] : colours)
        if (step == QString::fromUtf8(name))
            return colour;
    return QColor(179, 179, 179);
}

void RunChart::setRuns(const QList<RunHistoryEntry>& runs, const QList<int>& indexes)
{
    m_bars.clear();
    for (int i = 0; i < indexes.size() && m_bars.size() < maxRuns; ++i)
        m_bars.prepend({indexes[i], runs[indexes[i]]});
    m_maxMs = 1;
    for (const Bar& b : m_bars)
        m_maxMs = std::max(m_maxMs, b.run.durationMs);
    update();
}

QRect RunChart::plotRect() const
{
    // Room below for the legend, left for the scale.
    return rect().adjusted(48, 8, -8, -28);
}

QRect RunChart::barRect(int listIndex) const
{
    const QRect plot = plotRect();
    const int n = int(m_bars.size());
    for (int i = 0; i < n; ++i) {
        if (m_bars[i].listIndex != listIndex)
            continue;
        const int slot = plot.width() / std::max(n, 1);
        const int w = std::clamp(slot * 2 / 3, 4, 48);
        const int x = plot.left() + i * slot + (slot - w) / 2;
        const int h = std::max(2, int(double(plot.height()) * double(m_bars[i].run.durationMs) / double(m_maxMs)));
        return QRect(x, plot.bottom() - h + 1, w, h);
    }
    return {};
}

int RunChart::barAt(const QPoint& pos) const
{
    const QRect plot = plotRect();
    for (const Bar& b : m_bars) {
        const QRect r = barRect(b.listIndex);
        // The whole column counts, not only the bar: short runs are easy to hit.
        if (pos.x() >= r.left() && pos.x() <= r.right() && pos.y() >= plot.top() && pos.y() <= plot.bottom())
            return b.listIndex;
    }
    return -1;
}

void RunChart::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), palette().base());
    const QRect plot = plotRect();
    p.setPen(palette().color(QPalette::Mid));
    p.drawLine(plot.bottomLeft(), plot.bottomRight());
    p.setPen(palette().color(QPalette::Text));
    p.drawText(QRect(0, plot.top() - 4, plot.left() - 4, 16), Qt::AlignRight | Qt::AlignTop,
               secondsText(m_maxMs).replace(QStringLiteral(".00"), QString()));
    if (m_bars.isEmpty()) {
        p.drawText(plot, Qt::AlignCenter, QStringLiteral("실행 기록이 없습니다."));
        return;
    }
    QStringList legend;
    for (const Bar& b : m_bars) {
        const QRect r = barRect(b.listIndex);
        // Stacked from the bottom in run order; a step's height is its share
        // of the run's length.
        double y = r.bottom() + 1;
        for (const auto& [step, ms] : b.run.stepMs) {
            const double h = double(r.height()) * double(ms) / double(std::max<qint64>(1, b.run.durationMs));
            p.fillRect(QRectF(r.left(), y - h, r.width(), h), stepColor(step));
            y -= h;
            if (!legend.contains(step))
                legend << step;
        }
        p.setPen(palette().color(QPalette::Dark));
        p.setBrush(Qt::NoBrush);
        p.drawRect(r.adjusted(0, 0, -1, -1));
        if (b.run.failed) {
            // A failed run: red frame and a cross above the bar.
            p.setPen(QPen(QColor(200, 0, 0), 2));
            p.drawRect(r.adjusted(0, 0, -1, -1));
            const QPoint c(r.center().x(), std::max(plot.top() + 4, r.top() - 7));
            p.drawLine(c + QPoint(-4, -4), c + QPoint(4, 4));
            p.drawLine(c + QPoint(-4, 4), c + QPoint(4, -4));
        }
    }
    // Legend: one swatch per step that appears.
    int x = plot.left();
    const int y = plot.bottom() + 8;
    for (const QString& step : legend) {
        p.fillRect(QRect(x, y, 12, 12), stepColor(step));
        p.setPen(palette().color(QPalette::Text));
        const int w = fontMetrics().horizontalAdvance(step);
        p.drawText(QRect(x + 16, y - 2, w + 4, 16), Qt::AlignLeft | Qt::AlignVCenter, step);
        x += 16 + w + 14;
    }
    p.setPen(QColor(200, 0, 0));
    p.drawText(QRect(x, y - 2, 120, 16), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("✕ 실패"));
}

void RunChart::mouseReleaseEvent(QMouseEvent* event)
{
    const int index = barAt(event->position().toPoint());
    if (index >= 0)
        Q_EMIT runClicked(index);
    QWidget::mouseReleaseEvent(event);
}

bool RunChart::event(QEvent* event)
{
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        const int index = barAt(help->pos());
        for (const Bar& b : m_bars) {
            if (b.listIndex != index)
                continue;
            QStringList lines{b.run.start + QStringLiteral(" · ") + b.run.result + QStringLiteral(" · ")
                              + secondsText(b.run.durationMs)};
            for (const auto& [step, ms] : b.run.stepMs)
                lines << step + QStringLiteral(": ") + secondsText(ms);
            QToolTip::showText(help->globalPos(), lines.join(QLatin1Char('\n')), this);
            return true;
        }
    }
    return QWidget::event(event);
}

} // namespace rh
