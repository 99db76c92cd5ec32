#include "ListDialogs.h"

#include "DataSetModel.h"
#include "Form.h"

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QVBoxLayout>

PickListDialog::PickListDialog(TClientDataSet *dataSet, const QString &title, bool markable, QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("PickListDialog"));
    setWindowTitle(title);
    // A window does not take its parent's font: without this the list comes
    // up in the desktop's larger font, beside forms in the family's.
    setFont(TForm::FamilyFont());
    resize(520, 360);

    m_model = new PickListModel(dataSet, markable, this);
    m_proxy = new QSortFilterProxyModel(this);
    m_proxy->setSourceModel(m_model);
    m_proxy->setFilterCaseSensitivity(Qt::CaseInsensitive);
    m_proxy->setFilterKeyColumn(-1);

    m_search = new QLineEdit(this);
    m_search->setObjectName(QStringLiteral("search"));
    m_search->setPlaceholderText(QStringLiteral("Pesquisar..."));
    m_search->setClearButtonEnabled(true);

    m_view = new QTableView(this);
    m_view->setObjectName(QStringLiteral("list"));
    m_view->setModel(m_proxy);
    m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_view->setSelectionMode(QAbstractItemView::SingleSelection);
    m_view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_view->setTabKeyNavigation(false);
    m_view->verticalHeader()->hide();
    m_view->horizontalHeader()->setStretchLastSection(true);
    m_view->resizeColumnsToContents();
    if (markable)
        m_view->setColumnWidth(0, 24);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    // Enter is handled here (pick / confirm), never by a default button.
    for (QAbstractButton *b : buttons->buttons())
        if (auto *p = qobject_cast<QPushButton *>(b)) {
            p->setAutoDefault(false);
            p->setDefault(false);
        }
    // No Qt translations are installed with the host: say it in the screens' language.
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Cancelar"));
    connect(buttons, &QDialogButtonBox::accepted, this, [this] {
        if (m_model->markable() || pickedRow() >= 0)
            accept();
    });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_search);
    layout->addWidget(m_view, 1);
    layout->addWidget(buttons);

    connect(m_search, &QLineEdit::textChanged, this, &PickListDialog::onSearch);
    connect(m_view, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex &index) {
        if (!m_model->markable())
            accept();
        else if (index.column() != 0)
            toggleCurrent();
    });
    m_search->installEventFilter(this);
    m_view->installEventFilter(this);

    if (m_proxy->rowCount() > 0)
        m_view->setCurrentIndex(m_proxy->index(0, 0));
    m_search->setFocus();
}

int PickListDialog::pickedRow() const
{
    const QModelIndex current = m_view->currentIndex();
    if (!current.isValid())
        return -1;
    return m_proxy->mapToSource(current).row();
}

void PickListDialog::onSearch(const QString &text)
{
    m_proxy->setFilterFixedString(text);
    if (m_proxy->rowCount() > 0)
        m_view->setCurrentIndex(m_proxy->index(0, 0));
}

void PickListDialog::toggleCurrent()
{
    const int row = pickedRow();
    if (row >= 0)
        m_model->toggle(row);
}

bool PickListDialog::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::KeyPress)
        return QDialog::eventFilter(watched, event);
    auto *key = static_cast<QKeyEvent *>(event);
    switch (key->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (m_model->markable() || pickedRow() >= 0)
            accept();
        return true;
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
        if (watched == m_search) {
            QCoreApplication::sendEvent(m_view, event);
            return true;
        }
        return false;
    case Qt::Key_Space:
        if (m_model->markable() && (watched == m_view || m_search->text().isEmpty())) {
            toggleCurrent();
            return true;
        }
        break;
    default:
        break;
    }
    // Typing in the list searches.
    if (watched == m_view && !key->text().isEmpty() && key->text().at(0).isPrint()) {
        m_search->setFocus();
        m_search->insert(key->text());
        return true;
    }
    return QDialog::eventFilter(watched, event);
}
