#pragma once

#include "ClientDataSet.h"
#include "DataSource.h"

#include "Events.h"

#include <QPointer>
#include <QWidget>

class TSpeedButton;

// Record navigator: first, prior, next, last on the data source's dataset.
class VORWIDGETS_EXPORT TDBNavigator : public QWidget
{
    Q_OBJECT

public:
    enum Button { nbFirst, nbPrior, nbNext, nbLast };

    explicit TDBNavigator(QWidget *parent = nullptr);

    TDataSource *DataSource() const { return m_dataSource; }
    void SetDataSource(TDataSource *dataSource);
    TSpeedButton *button(Button which) const { return m_buttons[which]; }
    void BtnClick(Button which);
    void refresh();                      // enabled states from the cursor

    // (navigator, button) after the move
    std::function<void(QObject *sender, int button)> OnClick;

private:
    void rebind();

    QPointer<TDataSource> m_dataSource;
    QPointer<TClientDataSet> m_dataSet;
    TSpeedButton *m_buttons[4] = {};
    std::vector<QMetaObject::Connection> m_connections;
};
