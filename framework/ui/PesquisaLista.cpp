#include "PesquisaLista.h"

#include "DataSetModel.h"
#include "DataSource.h"
#include "Field.h"
#include "ListDialogs.h"
#include "Routines.h"

#include <QApplication>
#include <QSet>

QString listFormFromKeys(const QStringList &keys)
{
    QStringList quoted;
    quoted.reserve(keys.size());
    for (QString key : keys)
        quoted.append(QLatin1Char('\'') + key.replace(QLatin1Char('\''), QLatin1String("''")) + QLatin1Char('\''));
    return quoted.join(QLatin1Char(','));
}

QStringList keysFromListForm(const QString &list)
{
    QStringList keys;
    int i = 0;
    const int n = int(list.size());
    while (i < n) {
        while (i < n && (list.at(i).isSpace() || list.at(i) == QLatin1Char(',')))
            ++i;
        if (i >= n)
            break;
        QString key;
        if (list.at(i) == QLatin1Char('\'')) {
            ++i;
            while (i < n) {
                if (list.at(i) == QLatin1Char('\'')) {
                    if (i + 1 < n && list.at(i + 1) == QLatin1Char('\'')) {
                        key.append(QLatin1Char('\''));
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                key.append(list.at(i++));
            }
        } else { // tolerate an unquoted key
            while (i < n && list.at(i) != QLatin1Char(','))
                key.append(list.at(i++));
            key = key.trimmed();
        }
        keys.append(key);
    }
    return keys;
}

void PesquisaLista(TDataSource *dataSource, const QString &keyField, const QString &title, bool flag,
                   QString &result)
{
    const qsizetype bar = title.indexOf(QLatin1Char('|'));
    const QString caption = bar < 0 ? title : title.left(bar);
    const QString notFound = bar < 0 ? QString() : title.mid(bar + 1);

    TClientDataSet *ds = dataSource ? dataSource->DataSet() : nullptr;
    if (!ds || ds->IsEmpty()) {
        MensErro(notFound.isEmpty() ? caption : notFound, false);
        return;
    }
    TField *key = ds->FieldByName(keyField);

    PickListDialog dialog(ds, caption, true, QApplication::activeWindow());
    PickListModel *model = dialog.listModel();
    const QStringList current = keysFromListForm(result);
    const QSet<QString> premarked(current.cbegin(), current.cend());
    for (int row = 0; row < model->rowCount(); ++row) {
        const int token = ds->setActiveRecordForRead(row);
        const QString value = key->AsString();
        ds->restoreActiveRecord(token);
        if (premarked.contains(value) || (flag && premarked.isEmpty()))
            model->setMarked(row, true);
    }
    if (dialog.exec() != QDialog::Accepted)
        return;
    QStringList keys;
    for (int row = 0; row < model->rowCount(); ++row) {
        if (!model->isMarked(row))
            continue;
        const int token = ds->setActiveRecordForRead(row);
        keys.append(key->AsString());
        ds->restoreActiveRecord(token);
    }
    result = listFormFromKeys(keys);
}
