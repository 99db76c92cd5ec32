#include "DBNavigator.h"

#include "Guard.h"
#include "SpeedButton.h"

#include <QHBoxLayout>
#include <QPointer>

TDBNavigator::TDBNavigator(QWidget *parent)
    : QWidget(parent)
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    const char *captions[] = {"|\u25C0", "\u25C0", "\u25B6", "\u25B6|"};
    const char *hints[] = {"Primeiro", "Anterior", "Próximo", "Último"};
    for (int i = 0; i < 4; ++i) {
        auto *b = new TSpeedButton(this);
        b->setObjectName(QStringLiteral("nav%1").arg(i));
        b->SetCaption(QString::fromUtf8(captions[i]));
        b->SetHint(QString::fromUtf8(hints[i]));
        b->setFixedSize(25, 21);
        b->OnClick = [this, i](QObject *) { BtnClick(Button(i)); };
        layout->addWidget(b);
        m_buttons[i] = b;
    }
    refresh();
}

void TDBNavigator::SetDataSource(TDataSource *dataSource)
{
    if (m_dataSource)
        disconnect(m_dataSource, nullptr, this, nullptr);
    m_dataSource = dataSource;
    if (m_dataSource)
        connect(m_dataSource, &TDataSource::dataSetReplaced, this, &TDBNavigator::rebind);
    rebind();
}

void TDBNavigator::rebind()
{
    for (const auto &c : m_connections)
        disconnect(c);
    m_connections.clear();
    m_dataSet = m_dataSource ? m_dataSource->DataSet() : nullptr;
    if (m_dataSet) {
        m_connections.push_back(connect(m_dataSet, &TClientDataSet::cursorMoved, this, &TDBNavigator::refresh));
        m_connections.push_back(connect(m_dataSet, &TClientDataSet::dataSetChanged, this, &TDBNavigator::refresh));
        m_connections.push_back(connect(m_dataSet, &TClientDataSet::stateChanged, this, &TDBNavigator::refresh));
    }
    refresh();
}

void TDBNavigator::refresh()
{
    const bool usable = m_dataSet && m_dataSet->Active() && !m_dataSet->IsEmpty();
    const int recNo = usable ? m_dataSet->RecNo() : 0;
    const int count = usable ? m_dataSet->RecordCount() : 0;
    m_buttons[nbFirst]->setEnabled(usable && recNo > 1);
    m_buttons[nbPrior]->setEnabled(usable && recNo > 1);
    m_buttons[nbNext]->setEnabled(usable && recNo < count);
    m_buttons[nbLast]->setEnabled(usable && recNo < count);
}

void TDBNavigator::BtnClick(Button which)
{
    TClientDataSet *ds = m_dataSet;
    if (!ds || !ds->Active())
        return;
    // A pending edit is posted first: when that fails, or its reactions
    // replace the rows (a reload), the move is over where they left the cursor.
    if (ds->state() == TClientDataSet::State::Edit) {
        QPointer<TClientDataSet> alive = ds;
        int replaced = 0;
        const QMetaObject::Connection counter =
            connect(ds, &TClientDataSet::dataSetChanged, this, [&replaced] { ++replaced; });
        const bool posted = runGuarded([ds] { ds->Post(); });
        disconnect(counter);
        if (!alive || !posted || replaced > 0)
            return;
    }
    runGuarded([ds, which] {
        switch (which) {
        case nbFirst: ds->First(); break;
        case nbPrior: ds->Prior(); break;
        case nbNext: ds->Next(); break;
        case nbLast: ds->Last(); break;
        }
    });
    refresh();
    if (OnClick)
        runGuarded([this, which] { OnClick(this, int(which)); });
}
