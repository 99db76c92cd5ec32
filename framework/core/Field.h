#pragma once

#include <QDateTime>
#include <QString>
#include <QVariant>
#include <Qt>
#include <functional>

class TClientDataSet;

enum class TFieldType { String, FixedString, Float, DateTime };

// Name used in data packets: "string", "fixedstring", "float", "datetime".
QString fieldTypeName(TFieldType type);
bool fieldTypeFromName(const QString &name, TFieldType *type);

// A persistent field of a TClientDataSet. Values are those of the dataset's
// current row; a field never holds data of its own.
class TField
{
public:
    // (field, text by reference, display flag)
    using GetTextEvent = std::function<void(TField &sender, QString &text, bool displayText)>;

    TField(TClientDataSet *dataSet, const QString &name, TFieldType type, int size, int index);

    TClientDataSet *DataSet() const { return m_dataSet; }
    QString FieldName() const { return m_name; }
    TFieldType DataType() const { return m_type; }
    int Size() const { return m_size; }
    int Index() const { return m_index; } // position among the dataset's fields

    QString DisplayLabel;      // empty: FieldName is used
    bool Visible = true;
    bool ReadOnly = false;
    Qt::Alignment Alignment = Qt::AlignLeft; // float fields start right-aligned
    QString DisplayFormat;
    int Precision = 15;
    GetTextEvent OnGetText;

    QString displayLabel() const { return DisplayLabel.isEmpty() ? m_name : DisplayLabel; }

    // Current row. A null value reads as "" / 0 / invalid date-time.
    QVariant Value() const;
    bool IsNull() const;            // an empty text counts as no value
    QString AsString() const;       // plain text: floats in the workstation format
    double AsFloat() const;
    QDateTime AsDateTime() const;   // wall-clock value, held as Qt::UTC
    QVariant OldValue() const;      // value of the current row as last loaded

    // Assignment needs the dataset in edit state and the field not read-only.
    // Strings longer than Size are refused; AsString on a float field parses
    // the workstation format (empty text clears).
    void SetValue(const QVariant &value);
    void SetAsString(const QString &text);
    void SetAsFloat(double value);
    void SetAsDateTime(const QDateTime &value);
    void Clear();

    // Text for display (DisplayText) or for editing (Text); both start from
    // AsString and go through OnGetText. Without a hook, DisplayText of a float
    // applies DisplayFormat (FormatFloat) when one is set.
    QString DisplayText() const;
    QString Text() const;

private:
    QString textFor(bool display) const;

    TClientDataSet *m_dataSet;
    QString m_name;
    TFieldType m_type;
    int m_size;
    int m_index;
};
