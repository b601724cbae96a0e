#include "ui/projectmodel.h"

#include "config/projectrow.h"
#include "pipeline/desk.h"

#include <QColor>

namespace rh {
namespace {

QColor toColor(Rgb c)
{
    return QColor(c.r, c.g, c.b);
}

} // namespace

ProjectModel::ProjectModel(Desk& desk, QObject* parent)
    : QAbstractTableModel(parent), m_desk(desk), m_rows(desk.grid.maxRows())
{
    ProjectGrid* grid = &m_desk.grid;
    connect(grid, &ProjectGrid::cellChanged, this,
            [this](int col, int row, const QString&) { onCellChanged(col, row); });
    connect(grid, &ProjectGrid::rowAppended, this, &ProjectModel::onRowAppended);
    connect(grid, &ProjectGrid::rowsReset, this, &ProjectModel::onRowsReset);
    connect(grid, &ProjectGrid::colorsChanged, this, &ProjectModel::onColorsChanged);
}

int ProjectModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_rows;
}

int ProjectModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_desk.grid.maxCols();
}

QVariant ProjectModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows)
        return {};
    const int col = index.column() + 1;
    const int row = index.row() + 1;
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        // The tick column shows its box, not its "1"/"0".
        return col == ColSelected ? QVariant() : QVariant(m_desk.grid.text(col, row));
    case Qt::CheckStateRole:
        if (col != ColSelected)
            return {};
        return m_desk.isTicked(row) ? Qt::Checked : Qt::Unchecked;
    case Qt::BackgroundRole:
        return toColor(m_desk.grid.backColor(col, row));
    case Qt::ForegroundRole:
        return toColor(m_desk.grid.foreColor(col, row));
    case Qt::TextAlignmentRole:
        if (col == ColSelected || col == ColProjectType || col == ColSetupBuilderKind)
            return int(Qt::AlignCenter);
        return int(Qt::AlignLeft | Qt::AlignVCenter);
    default:
        return {};
    }
}

bool ProjectModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (!index.isValid() || index.row() >= m_rows || index.column() + 1 != ColSelected
        || role != Qt::CheckStateRole)
        return false;
    const bool ticked = Qt::CheckState(value.toInt()) == Qt::Checked;
    m_desk.setTicked(index.row() + 1, ticked);
    return true;
}

Qt::ItemFlags ProjectModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (index.column() + 1 == ColSelected)
        f |= Qt::ItemIsUserCheckable;
    return f;
}

QVariant ProjectModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Horizontal)
        return projectColumnHeader(section + 1);
    return section + 1;
}

void ProjectModel::onCellChanged(int col, int row)
{
    if (row < 1 || row > m_rows)
        return;
    const QModelIndex i = index(row - 1, col - 1);
    Q_EMIT dataChanged(i, i);
}

void ProjectModel::onRowAppended(int row)
{
    if (row <= m_rows)
        return;
    beginInsertRows({}, m_rows, row - 1);
    m_rows = row;
    endInsertRows();
}

void ProjectModel::onRowsReset()
{
    beginResetModel();
    m_rows = m_desk.grid.maxRows();
    endResetModel();
}

void ProjectModel::onColorsChanged(int row1, int row2)
{
    row2 = std::min(row2, m_rows);
    if (row1 < 1 || row1 > row2)
        return;
    Q_EMIT dataChanged(index(row1 - 1, 0), index(row2 - 1, columnCount() - 1),
                       {Qt::BackgroundRole, Qt::ForegroundRole});
}

} // namespace rh
