#pragma once

#include <QAbstractTableModel>
#include <QPointer>
#include <exception>

class TDBGrid;
#include "ClientDataSet.h"
class TField;

// Hands an exception caught while painting or reading a cell to the standard
// handling once the event loop runs again (one at a time).
void reportLater(std::exception_ptr error);

// Roles of the grid's model beyond Qt's.
namespace GridRole {
enum : int {
    FieldText = Qt::UserRole + 1,   // TField::Text() (what the cell editor starts from)
};
}

// Table model of a TDBGrid: one row per visible row of the dataset, one column
// per grid column. Reads go through the dataset's active record for read, so
// text hooks see the row being shown.
class DataSetModel final : public QAbstractTableModel
{
    Q_OBJECT

public:
    explicit DataSetModel(TDBGrid *grid);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role) override;

    // Structure follows the dataset/columns again (model reset).
    void reload();
    void rowChanged(int row);
    void headerChanged();
    TField *fieldAt(int column) const;

private:
    bool validIndex(const QModelIndex &index) const;
    TDBGrid *m_grid;
    int m_rows = 0;
    int m_columns = 0;
};

// Read-only model of a dataset's visible rows and visible fields, for the pick
// lists; with a mark column first when markable. Never moves the cursor.
class PickListModel final : public QAbstractTableModel
{
    Q_OBJECT

public:
    PickListModel(TClientDataSet *dataSet, bool markable, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role) override;

    bool markable() const { return m_markable; }
    int fieldColumnOffset() const { return m_markable ? 1 : 0; }
    bool isMarked(int row) const;
    void setMarked(int row, bool marked);
    void toggle(int row);
    QString textAt(int row, TField *field) const;
    TField *fieldAt(int column) const;   // nullptr for the mark column

private:
    bool validIndex(const QModelIndex &index) const;
    QPointer<TClientDataSet> m_dataSet;
    bool m_markable;
    std::vector<TField *> m_fields;
    std::vector<char> m_marks;
    int m_rows = 0;
};
