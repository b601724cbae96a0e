#pragma once
// The project grid as a table model for spList. The grid stays the only store:
// the model reads cells and colours from it and turns a tick in column 1 into
// a desk call, so the counter and the row colours follow as for any other tick.
#include <QAbstractTableModel>

namespace rh {

class Desk;

class ProjectModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit ProjectModel(Desk& desk, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    void onCellChanged(int col, int row);
    void onRowAppended(int row);
    void onRowsReset();
    void onColorsChanged(int row1, int row2);

    Desk& m_desk;
    // Rows announced to views; the grid appends first and tells afterwards.
    int m_rows = 0;
};

} // namespace rh
