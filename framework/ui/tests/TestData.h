#pragma once

// Small fixtures shared by the widget tests.
#include "ClientDataSet.h"
#include "DataSource.h"
#include "Routines.h"

#include <QJsonDocument>
#include <QStringList>

// Records what the error presenter is asked to show, instead of message boxes.
struct PresenterRecorder
{
    QStringList shown;
    PresenterRecorder()
    {
        setErrorPresenter([this](const QString &text) { shown.append(text); });
    }
    ~PresenterRecorder() { setErrorPresenter({}); }
};

// CODE, NAME (visible) and HIDDEN (not visible) with the given rows.
inline void fillPeople(TClientDataSet &ds, const QList<QStringList> &rows)
{
    if (ds.FieldCount() == 0) {
        ds.AddField(QStringLiteral("CODE"), TFieldType::String, 10)->DisplayLabel = QStringLiteral("Código");
        ds.AddField(QStringLiteral("NAME"), TFieldType::String, 30)->DisplayLabel = QStringLiteral("Nome");
        ds.AddField(QStringLiteral("HIDDEN"), TFieldType::String, 5)->Visible = false;
        ds.AddField(QStringLiteral("PERC"), TFieldType::Float);
    }
    DataPacket packet;
    packet.fields = {{QStringLiteral("CODE"), TFieldType::String, 10},
                     {QStringLiteral("NAME"), TFieldType::String, 30},
                     {QStringLiteral("HIDDEN"), TFieldType::String, 5},
                     {QStringLiteral("PERC"), TFieldType::Float, 0}};
    for (const QStringList &r : rows)
        packet.rows.push_back({r.value(0), r.value(1), r.value(2),
                               r.value(3).isEmpty() ? QVariant() : QVariant(r.value(3).toDouble())});
    ds.SetData(packet);
}
