#pragma once

#include <QObject>
#include <QStringList>

// Keyed message table: lines "KEY|text".
class TMessages : public QObject
{
    Q_OBJECT

public:
    explicit TMessages(QObject *owner = nullptr);

    QStringList Messages;

    // Text of the first line whose key matches exactly; a missing key returns
    // the key itself, so the gap shows instead of an empty box.
    QString Msg(const QString &key) const;
};
