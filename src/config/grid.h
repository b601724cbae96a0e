#pragma once
// The project grid: the only store of project data during a run. Cells are
// addressed by column and row from 1, as the steps do; colours are kept per
// cell so the window can draw them and tests can read them.
#include <QObject>
#include <QString>
#include <QVector>

#include <array>

namespace rh {

struct Rgb {
    int r = 0, g = 0, b = 0;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

namespace colors {
constexpr Rgb White{255, 255, 255};
constexpr Rgb Black{0, 0, 0};
constexpr Rgb TickedRow{254, 254, 186};  // light yellow
constexpr Rgb InstallShieldText{0, 0, 255};
constexpr Rgb VersionUpDay{255, 255, 192};
constexpr Rgb AllStepAvailable{192, 255, 255}; // light cyan
} // namespace colors

class ProjectGrid : public QObject {
    Q_OBJECT
public:
    static constexpr int ActiveCell = -2;

    explicit ProjectGrid(int maxCols = 22, QObject* parent = nullptr);

    int maxRows() const { return int(m_rows.size()); }
    int maxCols() const { return m_maxCols; }

    // The text of a cell, "" outside the grid. -2 as column or row means the
    // active one.
    QString text(int col, int row) const;
    void setText(int col, int row, const QString& value);

    int appendRow();
    void clear();

    int activeCol() const { return m_activeCol; }
    int activeRow() const { return m_activeRow; }
    void setActiveCell(int col, int row);

    Rgb backColor(int col, int row) const;
    Rgb foreColor(int col, int row) const;
    void setBlockBackColor(int col1, int row1, int col2, int row2, Rgb color);
    void setBlockForeColor(int col1, int row1, int col2, int row2, Rgb color);

Q_SIGNALS:
    void cellChanged(int col, int row, const QString& oldText);
    void rowsReset();
    void rowAppended(int row);
    void colorsChanged(int row1, int row2);
    void activeCellChanged(int col, int row);

private:
    struct Cell {
        QString text;
        Rgb back = colors::White;
        Rgb fore = colors::Black;
    };
    bool valid(int col, int row) const;
    void paintBlock(int col1, int row1, int col2, int row2, Rgb color, Rgb Cell::*which);
    int resolveCol(int col) const { return col == ActiveCell ? m_activeCol : col; }
    int resolveRow(int row) const { return row == ActiveCell ? m_activeRow : row; }

    int m_maxCols;
    QVector<QVector<Cell>> m_rows;
    int m_activeCol = 1;
    int m_activeRow = 0;
};

// GetCellText: the text of one cell, "" when there is none.
inline QString GetCellText(const ProjectGrid& grid, int col, int row)
{
    return grid.text(col, row);
}

} // namespace rh
