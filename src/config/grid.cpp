#include "config/grid.h"

#include <algorithm>

namespace rh {

ProjectGrid::ProjectGrid(int maxCols, QObject* parent) : QObject(parent), m_maxCols(maxCols) {}

bool ProjectGrid::valid(int col, int row) const
{
    return row >= 1 && row <= m_rows.size() && col >= 1 && col <= m_maxCols;
}

QString ProjectGrid::text(int col, int row) const
{
    col = resolveCol(col);
    row = resolveRow(row);
    if (!valid(col, row))
        return QString();
    return m_rows[row - 1][col - 1].text;
}

void ProjectGrid::setText(int col, int row, const QString& value)
{
    col = resolveCol(col);
    row = resolveRow(row);
    if (!valid(col, row))
        return;
    Cell& c = m_rows[row - 1][col - 1];
    if (c.text == value)
        return;
    QString old = c.text;
    c.text = value;
    Q_EMIT cellChanged(col, row, old);
}

int ProjectGrid::appendRow()
{
    m_rows.append(QVector<Cell>(m_maxCols));
    Q_EMIT rowAppended(int(m_rows.size()));
    return int(m_rows.size());
}

void ProjectGrid::clear()
{
    m_rows.clear();
    m_activeRow = 0;
    Q_EMIT rowsReset();
}

void ProjectGrid::setActiveCell(int col, int row)
{
    m_activeCol = col;
    m_activeRow = row;
    Q_EMIT activeCellChanged(col, row);
}

Rgb ProjectGrid::backColor(int col, int row) const
{
    return valid(col, row) ? m_rows[row - 1][col - 1].back : colors::White;
}

Rgb ProjectGrid::foreColor(int col, int row) const
{
    return valid(col, row) ? m_rows[row - 1][col - 1].fore : colors::Black;
}

void ProjectGrid::paintBlock(int col1, int row1, int col2, int row2, Rgb color, Rgb Cell::*which)
{
    row1 = std::max(row1, 1);
    row2 = std::min(row2, maxRows());
    col1 = std::max(col1, 1);
    col2 = std::min(col2, m_maxCols);
    for (int r = row1; r <= row2; ++r)
        for (int c = col1; c <= col2; ++c)
            m_rows[r - 1][c - 1].*which = color;
    if (row1 <= row2)
        Q_EMIT colorsChanged(row1, row2);
}

void ProjectGrid::setBlockBackColor(int col1, int row1, int col2, int row2, Rgb color)
{
    paintBlock(col1, row1, col2, row2, color, &Cell::back);
}

void ProjectGrid::setBlockForeColor(int col1, int row1, int col2, int row2, Rgb color)
{
    paintBlock(col1, row1, col2, row2, color, &Cell::fore);
}

} // namespace rh
