#pragma once

#include "vorremote_export.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <memory>
#include <vector>

class TADOConnection;
class TClientDataSet;
class TField;

// A named parameter of a TADOIBQuery (":NAME" in its text).
class VORREMOTE_EXPORT TParam
{
public:
    explicit TParam(QString name) : m_name(std::move(name)) {}
    QString Name() const { return m_name; }
    void SetAsString(const QString &value);
    QString AsString() const { return m_value; }
    bool IsNull() const { return m_null; }
    void Clear();

private:
    QString m_name;
    QString m_value;
    bool m_null = true;
};

// Query on the host's local database (by default dtmDBGeral's connection).
// Named parameters become positional "?" bound one by one, every occurrence
// of a name getting that parameter's value; nothing is ever spliced into the
// text. The rows land in the inner dataset Query(), which data sources and
// lookup buttons show.
class VORREMOTE_EXPORT TADOIBQuery : public QObject
{
    Q_OBJECT

public:
    explicit TADOIBQuery(QObject *owner = nullptr);
    ~TADOIBQuery() override;

    QStringList SQL;                   // the text, line by line, kept as given
    TADOConnection *Connection = nullptr; // nullptr: dtmDBGeral().adcGeral

    // Parameters in order of first appearance. Values survive a change of the
    // text for the names the new text still uses.
    const std::vector<std::unique_ptr<TParam>> &Params();
    TParam *FindParam(const QString &name);
    TParam *ParamByName(const QString &name); // raises EDatabaseError for an unknown name

    // Runs the text and fills Query(): into its declared fields when the
    // screen declared some, else into string fields made from the result's
    // columns. Raises EDatabaseError with the driver's text on failure.
    void Open();
    void Close();
    bool Active() const;
    bool IsEmpty() const;
    TField *FieldByName(const QString &name) const;
    TClientDataSet *Query() const { return m_query; }

    // Positional text and the parameter name of each "?", for diagnostics and tests.
    QString positionalText();
    QStringList placeholderNames();

private:
    void parse();

    TClientDataSet *m_query;
    QString m_parsedText;
    bool m_parsed = false;
    QString m_positional;
    QStringList m_occurrences;
    std::vector<std::unique_ptr<TParam>> m_params;
};
