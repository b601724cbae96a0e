#pragma once
// The last runs' step timings side by side, like a CI engine's stage view:
// one stacked bar per run (oldest left), one colour per step, failed runs
// marked. Clicking a bar chooses that run.
#include "app/runhistory.h"

#include <QWidget>

namespace rh {

class RunChart final : public QWidget {
    Q_OBJECT
public:
    explicit RunChart(QWidget* parent = nullptr);

    // The runs to draw, newest first (as the history lists them); the chart
    // shows the newest `maxRuns`. `indexes` are the runs' places in the list.
    void setRuns(const QList<RunHistoryEntry>& runs, const QList<int>& indexes);
    static constexpr int maxRuns = 20;
    // The bar of the run at this list index, in widget coordinates (empty when not shown).
    QRect barRect(int listIndex) const;
    static QColor stepColor(const QString& step);

    QSize sizeHint() const override { return {600, 170}; }
    QSize minimumSizeHint() const override { return {200, 110}; }

Q_SIGNALS:
    void runClicked(int listIndex);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    bool event(QEvent* event) override;

private:
    struct Bar {
        int listIndex;
        RunHistoryEntry run;
    };
    QRect plotRect() const;
    int barAt(const QPoint& pos) const;

    QList<Bar> m_bars; // oldest first
    qint64 m_maxMs = 1;
};

} // namespace rh
