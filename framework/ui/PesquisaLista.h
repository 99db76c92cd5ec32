#pragma once

#include "vorwidgets_export.h"

#include <QString>
#include <QStringList>

class TDataSource;

// Modal multi-pick list over the data source's rows: a mark column and the
// visible fields. title is "caption|not-found message"; with a closed or empty
// dataset the not-found message is shown (MensErro(msg, false)) and nothing
// else happens. Rows whose keyField value is in result's current list start
// marked. OK: result = the marked keys in list form, in row order, "" when none
// is marked. Cancel/Escape: result unchanged. The dataset's cursor and data
// are never changed (marks are the picker's own).
// flag true: with an empty result every row starts marked.
VORWIDGETS_EXPORT void PesquisaLista(TDataSource *dataSource, const QString &keyField,
                                     const QString &title, bool flag, QString &result);

// List form of the picker: 'A','B' (single quotes, commas, a quote inside a
// key doubled: O'Brien -> 'O''Brien'). Keys are taken as they are.
VORWIDGETS_EXPORT QString listFormFromKeys(const QStringList &keys);
// Inverse of listFormFromKeys; tolerates blanks around commas.
VORWIDGETS_EXPORT QStringList keysFromListForm(const QString &list);
