#include "ui/projectview.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>

namespace rh {

ProjectView::ProjectView(QWidget* parent) : QTableView(parent)
{
    setSelectionMode(QAbstractItemView::ContiguousSelection);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setWordWrap(false);
    setTextElideMode(Qt::ElideMiddle); // paths: keep the drive and the file name
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    horizontalHeader()->setHighlightSections(false);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
}

bool ProjectView::selectedBlock(int* row1, int* row2) const
{
    if (!selectionModel())
        return false;
    const QItemSelection sel = selectionModel()->selection();
    if (sel.size() != 1)
        return false;
    const QItemSelectionRange& r = sel.first();
    if (r.top() == r.bottom() && r.left() == r.right())
        return false;
    *row1 = r.top() + 1;
    *row2 = r.bottom() + 1;
    return true;
}

void ProjectView::mousePressEvent(QMouseEvent* event)
{
    m_leftPressed = event->button() == Qt::LeftButton;
    QTableView::mousePressEvent(event);
}

void ProjectView::mouseReleaseEvent(QMouseEvent* event)
{
    QTableView::mouseReleaseEvent(event);
    if (event->button() != Qt::LeftButton || !m_leftPressed)
        return;
    m_leftPressed = false;
    int row1 = 0, row2 = 0;
    if (selectedBlock(&row1, &row2))
        Q_EMIT blockSelected(row1, row2);
}

bool ProjectView::edit(const QModelIndex& index, EditTrigger trigger, QEvent* event)
{
    // A mouse gesture that selected a block is not also a click on a tick box.
    if (event && event->type() == QEvent::MouseButtonRelease) {
        int row1 = 0, row2 = 0;
        if (selectedBlock(&row1, &row2))
            return false;
    }
    return QTableView::edit(index, trigger, event);
}

void ProjectView::mouseDoubleClickEvent(QMouseEvent* event)
{
    const QModelIndex index = indexAt(event->position().toPoint());
    QTableView::mouseDoubleClickEvent(event);
    if (event->button() == Qt::LeftButton && index.isValid())
        Q_EMIT cellDoubleClicked(index.column() + 1, index.row() + 1);
}

void ProjectView::keyPressEvent(QKeyEvent* event)
{
    const int key = event->key();
    if (key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter) {
        Q_EMIT gridKeyPress(key == Qt::Key_Space ? 32 : 13);
        // Space on the tick column is the box's own toggle.
        if (key == Qt::Key_Space && currentIndex().isValid() && currentIndex().column() == 0)
            QTableView::keyPressEvent(event);
        else
            event->accept();
        return;
    }
    QTableView::keyPressEvent(event);
}

void ProjectView::currentChanged(const QModelIndex& current, const QModelIndex& previous)
{
    QTableView::currentChanged(current, previous);
    if (current.isValid())
        Q_EMIT activeCellMoved(current.column() + 1, current.row() + 1);
}

} // namespace rh
