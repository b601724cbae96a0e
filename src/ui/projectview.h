#pragma once
// spList: a table view that reports the grid events the desk reacts to
// (block selection with the mouse, double click, Space/Enter, active cell)
// instead of acting on them.
#include <QTableView>

namespace rh {

class ProjectView final : public QTableView {
    Q_OBJECT
public:
    explicit ProjectView(QWidget* parent = nullptr);

Q_SIGNALS:
    // 1-based rows and columns, as the grid counts them.
    void blockSelected(int row1, int row2);
    void cellDoubleClicked(int col, int row);
    void gridKeyPress(int key); // 32 Space, 13 Enter
    void activeCellMoved(int col, int row);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;

private:
    // Rows of the current selection when it covers more than one cell.
    bool selectedBlock(int* row1, int* row2) const;

    bool m_leftPressed = false;
};

} // namespace rh
