#pragma once
// In-memory result of a statement: ordered text columns with declared sizes,
// text rows and a cursor. Filled once by cMySQL and read by the callers; it
// never talks to the server itself.
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>

namespace rh {

class Recordset {
public:
    static constexpr int adStateClosed = 0;
    static constexpr int adStateOpen = 1;

    // Every column holds wide text; the declared size is informational.
    enum class FieldType { WideText };

    struct Field {
        QString name;
        FieldType type = FieldType::WideText;
        int definedSize = 0;
    };

    // Building (closed record set): declare the columns, open, add rows.
    void appendField(const QString& name, int definedSize);
    void open();
    // Adds one record and saves it; missing cells are empty, extra cells dropped.
    void addRecord(const QStringList& cells);

    int state() const { return m_open ? adStateOpen : adStateClosed; }
    void close();

    // Columns (0-based, as the record set's field collection is).
    int fieldCount() const;
    const Field& field(int index) const;
    // First column of that name, compared case-insensitively; -1 when none.
    int fieldIndex(const QString& name) const;

    // Cursor.
    bool isEOF() const;
    int recordCount() const;
    void moveFirst();
    void moveNext();
    int position() const { return m_row; } // 0-based; recordCount() at the end

    // Cells of the current row. Raise RhError 3021 without a current row, 3265
    // for an unknown column, 3704 when closed.
    QString value(int index) const;
    QString value(const QString& name) const;
    QString operator[](const QString& name) const { return value(name); }

private:
    void requireOpen() const;
    void requireRow() const;

    QList<Field> m_fields;
    QList<QStringList> m_rows;
    int m_row = 0;
    bool m_open = false;
};

using RecordsetPtr = std::unique_ptr<Recordset>;

} // namespace rh
