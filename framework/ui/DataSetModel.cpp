#include "DataSetModel.h"

#include "DBGrid.h"
#include "Field.h"
#include "Guard.h"

#include <QCoreApplication>
#include <QTimer>

void reportLater(std::exception_ptr error)
{
    // Painting and model reads must not open a message box in the middle of a
    // paint: the standard handling runs once control is back in the event loop,
    // and one fault at a time (a raising hook would raise for every cell).
    static bool pending = false;
    if (pending || !error)
        return;
    pending = true;
    QTimer::singleShot(0, qApp, [error] {
        pending = false;
        handleException(error);
    });
}

namespace {

// A read of a field of one row, text hooks included; faults are reported later.
template<class F>
QVariant readRow(TClientDataSet *dataSet, int row, F read)
{
    const int token = dataSet->setActiveRecordForRead(row);
    QVariant result;
    try {
        result = read();
    } catch (...) {
        reportLater(std::current_exception());
    }
    dataSet->restoreActiveRecord(token);
    return result;
}

} // namespace

// Also for indexes handed in by views and testers that may be stale or
// invalid; never a warning.
template<class M>
bool validIndexOf(const M *model, const QModelIndex &index)
{
    return index.isValid() && index.model() == model && index.row() < model->rowCount()
           && index.column() < model->columnCount();
}

// --- DataSetModel --------------------------------------------------------------

DataSetModel::DataSetModel(TDBGrid *grid)
    : QAbstractTableModel(grid)
    , m_grid(grid)
{
}

int DataSetModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_rows;
}

int DataSetModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_columns;
}

TField *DataSetModel::fieldAt(int column) const
{
    const TColumn *c = m_grid->Columns(column);
    return c ? c->Field() : nullptr;
}

QVariant DataSetModel::data(const QModelIndex &index, int role) const
{
    if (!validIndex(index))
        return {};
    TClientDataSet *ds = m_grid->DataSet();
    TField *field = fieldAt(index.column());
    if (!ds || !field || !ds->Active() || index.row() >= ds->RecordCount())
        return {};
    switch (role) {
    case Qt::DisplayRole:
        return readRow(ds, index.row(), [field] { return QVariant(field->DisplayText()); });
    case Qt::AccessibleTextRole: {
        TColumn *column = m_grid->Columns(index.column());
        return readRow(ds, index.row(), [this, field, column] {
            QString text = field->DisplayText();
            // Asked from outside any handler (an assistive tool's query):
            // a fault keeps the plain text rather than reaching Qt.
            if (m_grid->OnAccessibleText) {
                try {
                    m_grid->OnAccessibleText(column, text);
                } catch (...) {
                    text = field->DisplayText();
                }
            }
            return QVariant(text);
        });
    }
    case Qt::EditRole:
    case GridRole::FieldText:
        return readRow(ds, index.row(), [field] { return QVariant(field->Text()); });
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(m_grid->Columns(index.column())->Alignment() | Qt::AlignVCenter);
    default:
        return {};
    }
}

QVariant DataSetModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Vertical) {
        if (role != Qt::DisplayRole)
            return {};
        const TClientDataSet *ds = m_grid->DataSet();
        return ds && ds->currentIndex() == section ? QStringLiteral("\u25B6") : QString();
    }
    const TColumn *column = m_grid->Columns(section);
    if (!column)
        return {};
    switch (role) {
    case Qt::DisplayRole:
        return column->displayTitle();
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(column->Title().Alignment() | Qt::AlignVCenter);
    case Qt::FontRole:
        return column->Title().HasFont() ? QVariant(column->Title().Font()) : QVariant();
    case Qt::ForegroundRole:
        return column->Title().FontColor().isValid() ? QVariant(column->Title().FontColor()) : QVariant();
    default:
        return {};
    }
}

Qt::ItemFlags DataSetModel::flags(const QModelIndex &index) const
{
    if (!validIndex(index))
        return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (m_grid->columnEditable(index.column()))
        f |= Qt::ItemIsEditable;
    return f;
}

bool DataSetModel::validIndex(const QModelIndex &index) const
{
    return validIndexOf(this, index);
}

bool DataSetModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (role != Qt::EditRole || !validIndex(index))
        return false;
    TClientDataSet *ds = m_grid->DataSet();
    TField *field = fieldAt(index.column());
    // The editor works on the current row only.
    if (!ds || !field || !ds->Active() || index.row() != ds->currentIndex())
        return false;
    const QString text = value.toString();
    return runGuarded([&] {
        if (text == field->Text())
            return; // nothing typed: no edit, no change
        if (ds->state() != TClientDataSet::State::Edit)
            ds->Edit();
        field->SetAsString(text);
    });
}

void DataSetModel::reload()
{
    beginResetModel();
    const TClientDataSet *ds = m_grid->DataSet();
    m_rows = ds && ds->Active() ? ds->RecordCount() : 0;
    m_columns = m_grid->ColumnCount();
    endResetModel();
}

void DataSetModel::rowChanged(int row)
{
    if (row < 0 || row >= m_rows || m_columns == 0)
        return;
    Q_EMIT dataChanged(index(row, 0), index(row, m_columns - 1));
}

void DataSetModel::headerChanged()
{
    if (m_columns > 0)
        Q_EMIT headerDataChanged(Qt::Horizontal, 0, m_columns - 1);
    if (m_rows > 0)
        Q_EMIT headerDataChanged(Qt::Vertical, 0, m_rows - 1);
}

// --- PickListModel ----------------------------------------------------------

PickListModel::PickListModel(TClientDataSet *dataSet, bool markable, QObject *parent)
    : QAbstractTableModel(parent)
    , m_dataSet(dataSet)
    , m_markable(markable)
{
    if (dataSet) {
        for (const auto &f : dataSet->Fields())
            if (f->Visible)
                m_fields.push_back(f.get());
        m_rows = dataSet->Active() ? dataSet->RecordCount() : 0;
    }
    m_marks.assign(size_t(m_rows), 0);
}

int PickListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_rows;
}

int PickListModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_fields.size()) + fieldColumnOffset();
}

TField *PickListModel::fieldAt(int column) const
{
    const int i = column - fieldColumnOffset();
    return i >= 0 && size_t(i) < m_fields.size() ? m_fields[size_t(i)] : nullptr;
}

QString PickListModel::textAt(int row, TField *field) const
{
    if (!m_dataSet || !field || row < 0 || row >= m_rows)
        return {};
    return readRow(m_dataSet, row, [field] { return QVariant(field->DisplayText()); }).toString();
}

QVariant PickListModel::data(const QModelIndex &index, int role) const
{
    if (!validIndex(index))
        return {};
    if (m_markable && index.column() == 0) {
        if (role == Qt::CheckStateRole)
            return isMarked(index.row()) ? Qt::Checked : Qt::Unchecked;
        return {};
    }
    TField *field = fieldAt(index.column());
    if (role == Qt::DisplayRole)
        return textAt(index.row(), field);
    if (role == Qt::TextAlignmentRole && field)
        return QVariant::fromValue(field->Alignment | Qt::AlignVCenter);
    return {};
}

QVariant PickListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    if (m_markable && section == 0)
        return QString();
    const TField *field = fieldAt(section);
    return field ? field->displayLabel() : QString();
}

Qt::ItemFlags PickListModel::flags(const QModelIndex &index) const
{
    if (!validIndex(index))
        return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (m_markable && index.column() == 0)
        f |= Qt::ItemIsUserCheckable;
    return f;
}

bool PickListModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (!m_markable || index.column() != 0 || role != Qt::CheckStateRole
        || !validIndex(index))
        return false;
    setMarked(index.row(), value.toInt() == Qt::Checked);
    return true;
}

bool PickListModel::validIndex(const QModelIndex &index) const
{
    return validIndexOf(this, index);
}

bool PickListModel::isMarked(int row) const
{
    return row >= 0 && row < m_rows && m_marks[size_t(row)];
}

void PickListModel::setMarked(int row, bool marked)
{
    if (row < 0 || row >= m_rows || bool(m_marks[size_t(row)]) == marked)
        return;
    m_marks[size_t(row)] = marked;
    const QModelIndex i = index(row, 0);
    Q_EMIT dataChanged(i, i, {Qt::CheckStateRole});
}

void PickListModel::toggle(int row)
{
    setMarked(row, !isMarked(row));
}
