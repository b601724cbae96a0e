#include "db/recordset.h"

#include "platform/errors.h"

namespace rh {
namespace {

const QString kSource = QStringLiteral("Recordset");

[[noreturn]] void raiseNoCurrentRecord()
{
    throw RhError(3021,
                  QStringLiteral("Either BOF or EOF is True, or the current record has been "
                                 "deleted. Requested operation requires a current record."),
                  kSource);
}

[[noreturn]] void raiseNoItem()
{
    throw RhError(3265,
                  QStringLiteral("Item cannot be found in the collection corresponding to the "
                                 "requested name or ordinal."),
                  kSource);
}

} // namespace

void Recordset::appendField(const QString& name, int definedSize)
{
    m_fields.append(Field{name, FieldType::WideText, definedSize});
}

void Recordset::open()
{
    m_open = true;
    m_row = 0;
}

void Recordset::addRecord(const QStringList& cells)
{
    requireOpen();
    QStringList row = cells.mid(0, m_fields.size());
    while (row.size() < m_fields.size())
        row.append(QString());
    m_rows.append(row);
}

void Recordset::close()
{
    requireOpen();
    m_open = false;
    m_rows.clear();
    m_row = 0;
}

int Recordset::fieldCount() const
{
    requireOpen();
    return int(m_fields.size());
}

const Recordset::Field& Recordset::field(int index) const
{
    requireOpen();
    if (index < 0 || index >= m_fields.size())
        raiseNoItem();
    return m_fields.at(index);
}

int Recordset::fieldIndex(const QString& name) const
{
    for (int i = 0; i < m_fields.size(); ++i) {
        if (m_fields.at(i).name.compare(name, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

bool Recordset::isEOF() const
{
    requireOpen();
    return m_row >= m_rows.size();
}

int Recordset::recordCount() const
{
    requireOpen();
    return int(m_rows.size());
}

void Recordset::moveFirst()
{
    requireOpen();
    m_row = 0;
}

void Recordset::moveNext()
{
    requireRow();
    ++m_row;
}

QString Recordset::value(int index) const
{
    requireOpen();
    if (index < 0 || index >= m_fields.size())
        raiseNoItem();
    requireRow();
    return m_rows.at(m_row).at(index);
}

QString Recordset::value(const QString& name) const
{
    requireOpen();
    const int index = fieldIndex(name);
    if (index < 0)
        raiseNoItem();
    return value(index);
}

void Recordset::requireOpen() const
{
    if (!m_open)
        throw RhError(3704, QStringLiteral("Operation is not allowed when the object is closed."),
                      kSource);
}

void Recordset::requireRow() const
{
    requireOpen();
    if (m_row < 0 || m_row >= m_rows.size())
        raiseNoCurrentRecord();
}

} // namespace rh
