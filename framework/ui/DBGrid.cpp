#include "DBGrid.h"

#include "DataSetModel.h"
#include "Field.h"
#include "Guard.h"
#include "NumberFormat.h"

#include <QApplication>
#include <QHeaderView>
#include <QInputMethodEvent>
#include <QProxyStyle>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QStyledItemDelegate>

namespace {

// Ctrl+Tab and Ctrl+Shift+Tab (a back-tab) leave the grid.
bool isLeaveKey(const QKeyEvent *event)
{
    return (event->key() == Qt::Key_Tab || event->key() == Qt::Key_Backtab)
           && (event->modifiers() & Qt::ControlModifier);
}

// The cell editor: keys go through the grid's key events first.
class InplaceEdit final : public QLineEdit
{
public:
    InplaceEdit(TDBGrid *grid, QWidget *parent)
        : QLineEdit(parent)
        , m_grid(grid)
    {
        setFrame(false);
        setObjectName(QStringLiteral("InplaceEditor"));
        // The first change puts the dataset into edit state.
        connect(this, &QLineEdit::textEdited, this, [this] {
            TClientDataSet *ds = m_grid->DataSet();
            if (ds && ds->Active() && ds->state() != TClientDataSet::State::Edit)
                runGuarded([ds] { ds->Edit(); });
        });
    }

    // A key already run through the grid's events (the one that opened the editor).
    void typeForwarded(QKeyEvent *event) { QLineEdit::keyPressEvent(event); }

protected:
    void keyPressEvent(QKeyEvent *event) override
    {
        const QChar original = keyPressChar(event);
        QChar ch;
        if (!m_grid->handleKey(event, &ch)) {
            event->accept();
            return;
        }
        switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Escape:
        case Qt::Key_Up:
        case Qt::Key_Down:
        case Qt::Key_PageUp:
        case Qt::Key_PageDown:
            m_grid->editorKey(event, this);
            return;
        default:
            break;
        }
        if (!ch.isNull() && ch != original) {
            QKeyEvent replaced = rewrittenEvent(event, ch);
            QLineEdit::keyPressEvent(&replaced);
            return;
        }
        QLineEdit::keyPressEvent(event);
    }

private:
    TDBGrid *m_grid;
};

class GridDelegate final : public QStyledItemDelegate
{
public:
    explicit GridDelegate(TDBGrid *grid)
        : QStyledItemDelegate(grid)
        , m_grid(grid)
    {
    }

    QPointer<InplaceEdit> editor;

    QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &, const QModelIndex &index) const override
    {
        auto *e = new InplaceEdit(m_grid, parent);
        if (const TColumn *c = m_grid->Columns(index.column()))
            if (const TField *f = c->Field())
                if ((f->DataType() == TFieldType::String || f->DataType() == TFieldType::FixedString) && f->Size() > 0)
                    e->setMaxLength(f->Size());
        const_cast<GridDelegate *>(this)->editor = e;
        return e;
    }

    void setEditorData(QWidget *w, const QModelIndex &index) const override
    {
        if (auto *e = qobject_cast<QLineEdit *>(w))
            e->setText(index.data(GridRole::FieldText).toString());
    }

    void setModelData(QWidget *w, QAbstractItemModel *model, const QModelIndex &index) const override
    {
        if (auto *e = qobject_cast<QLineEdit *>(w))
            model->setData(index, e->text(), Qt::EditRole);
    }

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        QStyleOptionViewItem opt = option;
        // Text is drawn without elision, clipped by the cell as the family's grids do.
        opt.textElideMode = Qt::ElideNone;
        QStyledItemDelegate::paint(painter, opt, index);
        int state = 0;
        if (option.state & QStyle::State_Selected)
            state |= gdSelected;
        if ((option.state & QStyle::State_HasFocus) || index == m_grid->currentIndex())
            state |= gdFocused;
        m_grid->paintCell(painter, option.rect, index.row(), index.column(), state);
    }

    bool eventFilter(QObject *object, QEvent *event) override
    {
        // Keys belong to the editor and the grid's own protocol (Enter posts,
        // Escape cancels), not to the delegate's queued commit.
        if (event->type() == QEvent::KeyPress) {
            auto *key = static_cast<QKeyEvent *>(event);
            if (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) {
                if (auto *e = qobject_cast<QLineEdit *>(object))
                    m_grid->editorKey(key, e);
                return true;
            }
            return false;
        }
        return QStyledItemDelegate::eventFilter(object, event);
    }

private:
    TDBGrid *m_grid;
};

GridDelegate *delegateOf(const TDBGrid *grid)
{
    return static_cast<GridDelegate *>(grid->itemDelegate());
}

} // namespace

// Ctrl+Tab and Ctrl+Shift+Tab belong to the grid that has the keyboard, even
// where a window area claims them for itself (an MDI area switches windows
// with them): an application filter, installed again whenever a grid takes
// the focus so that it runs before the others.
class GridLeaveKeys final : public QObject
{
public:
    static void claim()
    {
        static QPointer<GridLeaveKeys> keys;
        if (!keys)
            keys = new GridLeaveKeys(qApp);
        qApp->removeEventFilter(keys);
        qApp->installEventFilter(keys);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::KeyPress || !watched->isWidgetType() || watched != QApplication::focusWidget())
            return false;
        const auto *key = static_cast<QKeyEvent *>(event);
        if (!isLeaveKey(key))
            return false;
        for (QWidget *w = static_cast<QWidget *>(watched); w; w = w->parentWidget())
            if (auto *grid = qobject_cast<TDBGrid *>(w)) {
                grid->leaveGrid(key->key() == Qt::Key_Tab && !(key->modifiers() & Qt::ShiftModifier));
                return true;
            }
        return false;
    }

private:
    using QObject::QObject;
};

// --- TColumnTitle, TColumn -------------------------------------------------------

void TColumnTitle::SetCaption(const QString &caption)
{
    m_caption = caption;
    m_captionSet = true;
    m_column->changed();
}

void TColumnTitle::SetAlignment(Qt::Alignment alignment)
{
    m_alignment = alignment;
    m_column->changed();
}

void TColumnTitle::SetFont(const QFont &font)
{
    m_font = font;
    m_hasFont = true;
    m_column->changed();
}

void TColumnTitle::SetFontColor(const QColor &color)
{
    m_fontColor = color;
    m_column->changed();
}

TColumn::TColumn(TDBGrid *grid, int index)
    : m_grid(grid)
    , m_index(index)
{
}

void TColumn::SetFieldName(const QString &fieldName)
{
    m_fieldName = fieldName;
    changed();
}

TField *TColumn::Field() const
{
    const TClientDataSet *ds = m_grid ? m_grid->DataSet() : nullptr;
    return ds && !m_fieldName.isEmpty() ? ds->FindField(m_fieldName) : nullptr;
}

void TColumn::SetWidth(int width)
{
    m_width = width;
    changed();
}

Qt::Alignment TColumn::Alignment() const
{
    if (m_alignmentSet)
        return m_alignment;
    const TField *f = Field();
    return f ? f->Alignment : Qt::Alignment(Qt::AlignLeft);
}

void TColumn::SetAlignment(Qt::Alignment alignment)
{
    m_alignment = alignment;
    m_alignmentSet = true;
    changed();
}

void TColumn::SetVisible(bool visible)
{
    m_visible = visible;
    changed();
}

QString TColumn::displayTitle() const
{
    if (m_title.m_captionSet)
        return m_title.m_caption;
    if (const TField *f = Field())
        return f->displayLabel();
    return m_fieldName;
}

void TColumn::changed()
{
    if (m_grid)
        m_grid->columnsChanged();
}

// --- TDBGrid ---------------------------------------------------------------------

namespace {
class TitleMarginStyle final : public QProxyStyle
{
public:
    int pixelMetric(PixelMetric metric, const QStyleOption *option, const QWidget *widget) const override
    {
        if (metric == PM_HeaderMargin)
            return 2;
        return QProxyStyle::pixelMetric(metric, option, widget);
    }
};
} // namespace

TDBGrid::TDBGrid(QWidget *parent)
    : QTableView(parent)
{
    m_model = new DataSetModel(this);
    setModel(m_model);
    setItemDelegate(new GridDelegate(this));
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    // Editing starts only through this class (typing, F2, double click) so the
    // key events run first and the dataset's rules apply.
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setWordWrap(false);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setFixedWidth(14);
    horizontalHeader()->setSectionsClickable(true);
    horizontalHeader()->setHighlightSections(false);
    // Titles start two pixels in, as the cells' texts do: the style's wider
    // margins would cut titles that fit their designed widths.
    auto *titleStyle = new TitleMarginStyle;
    titleStyle->setParent(horizontalHeader());
    horizontalHeader()->setStyle(titleStyle);
    horizontalHeader()->setStretchLastSection(false);
    connect(this, &QAbstractItemView::clicked, this, &TDBGrid::onClicked);
    connect(this, &QAbstractItemView::doubleClicked, this, [this] { fireNotify(OnDblClick, this); });
    connect(horizontalHeader(), &QHeaderView::sectionClicked, this, &TDBGrid::onSectionClicked);
    applyOptions();
}

TDBGrid::~TDBGrid()
{
    for (const auto &c : m_dsConnections)
        disconnect(c);
}

TClientDataSet *TDBGrid::DataSet() const
{
    return m_dataSet;
}

void TDBGrid::SetDataSource(TDataSource *dataSource)
{
    if (m_dataSource == dataSource)
        return;
    if (m_dataSource)
        disconnect(m_dataSource, nullptr, this, nullptr);
    m_dataSource = dataSource;
    if (m_dataSource)
        connect(m_dataSource, &TDataSource::dataSetReplaced, this, [this] { syncFromDataSet(); });
    syncFromDataSet();
}

void TDBGrid::syncFromDataSet()
{
    for (const auto &c : m_dsConnections)
        disconnect(c);
    m_dsConnections.clear();
    m_dataSet = m_dataSource ? m_dataSource->DataSet() : nullptr;
    if (m_dataSet) {
        m_dsConnections.push_back(connect(m_dataSet, &TClientDataSet::cursorMoved, this, &TDBGrid::onCursorMoved));
        m_dsConnections.push_back(connect(m_dataSet, &TClientDataSet::dataSetChanged, this, &TDBGrid::onDataSetChanged));
        m_dsConnections.push_back(connect(m_dataSet, &TClientDataSet::stateChanged, this, &TDBGrid::onStateChanged));
        m_dsConnections.push_back(connect(m_dataSet, &TClientDataSet::recordChanged, this, [this](int row) {
            m_model->rowChanged(row);
        }));
        m_dsConnections.push_back(connect(m_dataSet, &QObject::destroyed, this, [this] {
            m_dataSet = nullptr;
            onDataSetChanged();
        }));
    }
    onDataSetChanged();
}

// --- columns ---------------------------------------------------------------------

TColumn *TDBGrid::Columns(int index) const
{
    return index >= 0 && size_t(index) < m_columns.size() ? m_columns[size_t(index)].get() : nullptr;
}

TColumn *TDBGrid::AddColumn(const QString &fieldName, const QString &title, int width)
{
    if (m_defaultColumns) {
        m_columns.clear();
        m_defaultColumns = false;
    }
    auto column = std::make_unique<TColumn>(nullptr, int(m_columns.size()));
    column->m_fieldName = fieldName;
    if (!title.isEmpty()) {
        column->m_title.m_caption = title;
        column->m_title.m_captionSet = true;
    }
    column->m_width = width;
    column->m_grid = this;
    TColumn *result = column.get();
    m_columns.push_back(std::move(column));
    closeEditorOnly();
    m_model->reload();
    applyColumnWidths();
    onCursorMoved(m_dataSet ? m_dataSet->currentIndex() : -1);
    return result;
}

void TDBGrid::ClearColumns()
{
    closeEditorOnly();
    m_columns.clear();
    m_defaultColumns = true;
    rebuildDefaultColumns();
    m_model->reload();
    applyColumnWidths();
}

void TDBGrid::rebuildDefaultColumns()
{
    if (!m_defaultColumns)
        return;
    m_columns.clear();
    if (!m_dataSet)
        return;
    for (const auto &f : m_dataSet->Fields()) {
        if (!f->Visible)
            continue;
        auto column = std::make_unique<TColumn>(this, int(m_columns.size()));
        column->m_fieldName = f->FieldName();
        m_columns.push_back(std::move(column));
    }
}

void TDBGrid::columnsChanged()
{
    if (m_model->columnCount() != ColumnCount()) {
        m_model->reload();
        onCursorMoved(m_dataSet ? m_dataSet->currentIndex() : -1);
    } else {
        m_model->headerChanged();
    }
    applyColumnWidths();
    viewport()->update();
}

int TDBGrid::defaultWidth(const TColumn *column) const
{
    const QFontMetrics fm(font());
    const int charWidth = fm.averageCharWidth();
    int chars = 10;
    if (const TField *f = column->Field()) {
        switch (f->DataType()) {
        case TFieldType::String:
        case TFieldType::FixedString:
            chars = qBound(1, f->Size(), 40);
            break;
        case TFieldType::Float:
            chars = 10;
            break;
        case TFieldType::DateTime:
            chars = 18;
            break;
        }
    }
    QFont titleFont = column->Title().HasFont() ? column->Title().Font() : horizontalHeader()->font();
    const int titleWidth = QFontMetrics(titleFont).horizontalAdvance(column->displayTitle()) + 12;
    return qMax(chars * charWidth + 8, titleWidth);
}

void TDBGrid::applyColumnWidths()
{
    for (int i = 0; i < ColumnCount() && i < m_model->columnCount(); ++i) {
        const TColumn *c = m_columns[size_t(i)].get();
        setColumnWidth(i, c->Width() >= 0 ? c->Width() : defaultWidth(c));
        setColumnHidden(i, !c->Visible());
    }
}

// --- options ---------------------------------------------------------------------

void TDBGrid::SetOptions(TDBGridOptions options)
{
    const bool editingOff = (m_options & dgEditing) && !(options & dgEditing);
    m_options = options;
    if (editingOff && InplaceEditor()) {
        // The text typed so far is kept in the field, as when the cell is left.
        if (!commitEditor())
            closeEditorOnly();
    }
    applyOptions();
}

void TDBGrid::SetOption(TDBGridOption option, bool on)
{
    TDBGridOptions o = m_options;
    o.setFlag(option, on);
    SetOptions(o);
}

void TDBGrid::applyOptions()
{
    horizontalHeader()->setVisible(m_options & dgTitles);
    verticalHeader()->setVisible(m_options & dgIndicator);
    horizontalHeader()->setSectionResizeMode(m_options & dgColumnResize ? QHeaderView::Interactive
                                                                          : QHeaderView::Fixed);
    setShowGrid(m_options & (dgColLines | dgRowLines));
    setTabKeyNavigation(m_options & dgTabs);
    setSelectionBehavior(m_options & dgRowSelect ? QAbstractItemView::SelectRows : QAbstractItemView::SelectItems);
    QPalette pal = palette();
    const QPalette base = QApplication::palette(this);
    if (m_options & dgAlwaysShowSelection) {
        pal.setColor(QPalette::Inactive, QPalette::Highlight, base.color(QPalette::Active, QPalette::Highlight));
        pal.setColor(QPalette::Inactive, QPalette::HighlightedText,
                     base.color(QPalette::Active, QPalette::HighlightedText));
    } else {
        pal.setColor(QPalette::Inactive, QPalette::Highlight, base.color(QPalette::Inactive, QPalette::Highlight));
        pal.setColor(QPalette::Inactive, QPalette::HighlightedText,
                     base.color(QPalette::Inactive, QPalette::HighlightedText));
    }
    setPalette(pal);
}

void TDBGrid::SetReadOnly(bool readOnly)
{
    m_readOnly = readOnly;
    if (readOnly)
        closeEditorOnly();
}

bool TDBGrid::columnEditable(int column) const
{
    if (!(m_options & dgEditing) || m_readOnly || !m_dataSet || !m_dataSet->Active() || m_dataSet->ReadOnly)
        return false;
    const TColumn *c = Columns(column);
    if (!c || c->ReadOnly())
        return false;
    const TField *f = c->Field();
    return f && !f->ReadOnly;
}

// --- selection ---------------------------------------------------------------------

TField *TDBGrid::SelectedField() const
{
    const TColumn *c = Columns(SelectedIndex());
    return c ? c->Field() : nullptr;
}

int TDBGrid::SelectedIndex() const
{
    if (m_moveColumn >= 0 && m_moveColumn < ColumnCount())
        return m_moveColumn;
    const QModelIndex current = currentIndex();
    if (current.isValid())
        return current.column();
    if (m_lastColumn >= 0 && m_lastColumn < ColumnCount())
        return m_lastColumn;
    return ColumnCount() > 0 ? 0 : -1;
}

void TDBGrid::SetSelectedIndex(int index)
{
    if (index < 0 || index >= ColumnCount() || index == SelectedIndex())
        return;
    const QModelIndex current = currentIndex();
    if (current.isValid()) {
        selectionModel()->setCurrentIndex(m_model->index(current.row(), index),
                                          QItemSelectionModel::ClearAndSelect);
        return;
    }
    m_lastColumn = index;
    fireNotify(OnColEnter, this);
}

void TDBGrid::SetFocus()
{
    setFocus(Qt::OtherFocusReason);
}

// --- dataset -> grid ----------------------------------------------------------------

void TDBGrid::onCursorMoved(int row)
{
    if (m_syncing || !m_dataSet || m_dataSet->ControlsDisabled())
        return;
    m_syncing = true;
    const int column = qBound(0, SelectedIndex(), qMax(0, ColumnCount() - 1));
    if (row >= 0 && row < m_model->rowCount() && ColumnCount() > 0) {
        const QModelIndex target = m_model->index(row, column);
        if (target != currentIndex()) {
            closeEditorOnly();
            selectionModel()->setCurrentIndex(target, QItemSelectionModel::ClearAndSelect);
        }
        scrollTo(target);
    }
    m_syncing = false;
    m_model->headerChanged();
    viewport()->update();
}

void TDBGrid::onDataSetChanged()
{
    ++m_resets;
    if (m_dataSet && m_dataSet->ControlsDisabled())
        return;
    const int column = SelectedIndex();
    closeEditorOnly();
    m_syncing = true;
    rebuildDefaultColumns();
    m_model->reload();
    applyColumnWidths();
    m_syncing = false;
    if (column >= 0)
        m_lastColumn = column;
    onCursorMoved(m_dataSet ? m_dataSet->currentIndex() : -1);
}

void TDBGrid::onStateChanged()
{
    // Posted or cancelled from outside: the editor has nothing left to edit.
    if (!m_dataSet || m_dataSet->state() != TClientDataSet::State::Edit)
        closeEditorOnly();
    viewport()->update();
}

// --- grid -> dataset ----------------------------------------------------------------

void TDBGrid::currentChanged(const QModelIndex &current, const QModelIndex &previous)
{
    if (m_syncing) {
        QTableView::currentChanged(current, previous);
        return;
    }
    // Leaving the cell: its text goes to the field first; a refused text keeps
    // the user in the cell.
    if (InplaceEditor() && !commitEditor()) {
        m_syncing = true;
        selectionModel()->setCurrentIndex(previous, QItemSelectionModel::ClearAndSelect);
        m_syncing = false;
        return;
    }
    if (current.isValid() && m_dataSet && m_dataSet->Active() && current.row() != m_dataSet->currentIndex()) {
        // A row move posts the row left first, as seen from where it was: the
        // post's reactions read the column the user was in, not the one clicked.
        QPointer<TClientDataSet> ds = m_dataSet;
        m_moveColumn = previous.isValid() ? previous.column() : -1;
        m_moveRow = current.row();
        const quint64 resets = m_resets;
        bool posted = true;
        if (ds->state() == TClientDataSet::State::Edit)
            posted = runGuarded([ds] { ds->Post(); });
        m_moveColumn = -1;
        m_moveRow = -1;
        if (!ds || m_dataSet != ds)
            return;
        if (!posted || m_resets != resets) {
            // The post failed, or its reaction replaced the rows (a reload):
            // the cursor stays where that left it; the move is over.
            m_moveAbandoned = true;
            onCursorMoved(ds->currentIndex());
            const int row = ds->currentIndex();
            if (row >= 0 && row < m_model->rowCount() && previous.isValid() && previous.column() < ColumnCount()) {
                m_syncing = true;
                selectionModel()->setCurrentIndex(m_model->index(row, previous.column()),
                                                  QItemSelectionModel::ClearAndSelect);
                m_syncing = false;
            }
            m_model->headerChanged();
            viewport()->update();
            return;
        }
        QTableView::currentChanged(current, previous);
        // Moving runs AfterScroll (dataset semantics).
        runGuarded([ds, &current] { ds->SetRecNo(current.row() + 1); });
        if (m_dataSet && m_dataSet->currentIndex() != currentIndex().row())
            onCursorMoved(m_dataSet->currentIndex());
    } else {
        QTableView::currentChanged(current, previous);
    }
    const int column = currentIndex().isValid() ? currentIndex().column() : -1;
    if (column >= 0 && column != m_lastColumn) {
        if (m_lastColumn >= 0)
            fireNotify(OnColExit, this);
        m_lastColumn = column;
        fireNotify(OnColEnter, this);
    }
    m_model->headerChanged();
}

void TDBGrid::mousePressEvent(QMouseEvent *event)
{
    m_moveAbandoned = false;
    QTableView::mousePressEvent(event);
    // The press's row move ended in a reload: what the press would select
    // next belongs to rows that are gone.
    if (m_moveAbandoned && currentIndex().isValid())
        selectionModel()->select(currentIndex(), QItemSelectionModel::ClearAndSelect);
}

void TDBGrid::mouseReleaseEvent(QMouseEvent *event)
{
    QTableView::mouseReleaseEvent(event);
    m_moveAbandoned = false;
}

void TDBGrid::onClicked(const QModelIndex &index)
{
    if (m_moveAbandoned)
        return; // the click's cell is no longer there
    if (TColumn *c = Columns(index.column()); c && OnCellClick)
        runGuarded([this, c] { OnCellClick(c); });
}

void TDBGrid::onSectionClicked(int section)
{
    if (TColumn *c = Columns(section); c && OnTitleClick)
        runGuarded([this, c] { OnTitleClick(c); });
}

// --- keys and editing ---------------------------------------------------------------

bool TDBGrid::handleKey(QKeyEvent *event, QChar *character)
{
    const KeyDispatch k = dispatchKey(this, event, OnKeyDown, OnKeyPress);
    if (k.swallowed)
        return false;
    // A number's cell takes only what a number is written with.
    const QChar c = k.character;
    if (!c.isNull() && c.unicode() >= 32 && c.unicode() != 127) {
        const TColumn *column = Columns(currentIndex().column());
        const TField *field = column ? column->Field() : nullptr;
        if (field && field->DataType() == TFieldType::Float && !(c >= QLatin1Char('0') && c <= QLatin1Char('9'))
            && c != QLatin1Char('+') && c != QLatin1Char('-') && c != QLatin1Char('e') && c != QLatin1Char('E')
            && c != Workstation::decimalSeparator())
            return false;
    }
    *character = k.character;
    return true;
}

void TDBGrid::keyPressEvent(QKeyEvent *event)
{
    QPointer<TDBGrid> self = this;
    QChar ch;
    if (!handleKey(event, &ch)) {
        event->accept();
        return;
    }
    if (!self)
        return;
    const bool printable = !ch.isNull() && ch.unicode() >= 32 && ch.unicode() != 127;
    if (printable) {
        // Typing into an editable cell opens the editor; the character replaces its text.
        const QModelIndex current = currentIndex();
        if (current.isValid() && columnEditable(current.column()) && !InplaceEditor()
            && QAbstractItemView::edit(current, QAbstractItemView::AllEditTriggers, nullptr)) {
            if (auto *e = static_cast<InplaceEdit *>(InplaceEditor())) {
                QKeyEvent typed = rewrittenEvent(event, ch);
                e->typeForwarded(&typed);
            }
        }
        event->accept();
        return; // never Qt's keyboard search
    }
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        // A pending edit of the row is posted (also one whose editor is
        // closed, as after a refused post); otherwise Enter on an editable
        // cell opens the editor.
        if (m_dataSet && m_dataSet->state() != TClientDataSet::State::Edit && currentIndex().isValid()
            && columnEditable(currentIndex().column())) {
            SetEditorMode(true);
        } else if (m_dataSet && m_dataSet->state() == TClientDataSet::State::Edit) {
            TClientDataSet *ds = m_dataSet;
            runGuarded([ds] { ds->Post(); });
        }
        event->accept();
        return;
    case Qt::Key_Escape:
        if (m_dataSet && m_dataSet->state() == TClientDataSet::State::Edit) {
            TClientDataSet *ds = m_dataSet;
            runGuarded([ds] { ds->Cancel(); });
            event->accept();
            return;
        }
        break;
    default:
        break;
    }
    QTableView::keyPressEvent(event);
}

void TDBGrid::keyboardSearch(const QString &)
{
}

void TDBGrid::inputMethodEvent(QInputMethodEvent *event)
{
    const QString committed = event->commitString();
    event->accept();
    QPointer<TDBGrid> self = this;
    for (const QChar c : committed) {
        if (!self)
            return;
        const QChar upper = c.toUpper();
        QKeyEvent typed(QEvent::KeyPress, upper.unicode() < 0x80 ? int(upper.unicode()) : int(Qt::Key_unknown),
                        Qt::NoModifier, QString(c));
        // Once a character has opened the cell editor, the rest are its.
        if (QLineEdit *editor = InplaceEditor())
            QCoreApplication::sendEvent(editor, &typed);
        else
            keyPressEvent(&typed);
    }
}

bool TDBGrid::edit(const QModelIndex &index, EditTrigger trigger, QEvent *event)
{
    if ((trigger == DoubleClicked || trigger == EditKeyPressed) && index.isValid() && columnEditable(index.column()))
        return QTableView::edit(index, AllEditTriggers, nullptr);
    return QTableView::edit(index, trigger, event);
}

bool TDBGrid::EditorMode() const
{
    return InplaceEditor() != nullptr;
}

void TDBGrid::SetEditorMode(bool on)
{
    if (on) {
        const QModelIndex current = currentIndex();
        if (current.isValid() && columnEditable(current.column()) && !InplaceEditor())
            QAbstractItemView::edit(current, QAbstractItemView::AllEditTriggers, nullptr);
    } else if (InplaceEditor() && !commitEditor()) {
        closeEditorOnly();
    }
}

QLineEdit *TDBGrid::InplaceEditor() const
{
    if (state() != QAbstractItemView::EditingState)
        return nullptr;
    return delegateOf(this)->editor;
}

void TDBGrid::closeEditorOnly()
{
    GridDelegate *d = delegateOf(this);
    if (!d || !d->editor)
        return;
    QPointer<InplaceEdit> e = d->editor;
    d->editor = nullptr;
    if (state() == QAbstractItemView::EditingState)
        QAbstractItemView::closeEditor(e, QAbstractItemDelegate::NoHint);
}

bool TDBGrid::commitEditor()
{
    QLineEdit *e = InplaceEditor();
    if (!e)
        return true;
    const QModelIndex index = currentIndex();
    if (!m_model->setData(index, e->text(), Qt::EditRole)) {
        // setData refuses silently only for a stale index; a refused text was
        // reported by the guard. Either way the user stays in the cell.
        if (e->isVisible())
            e->setFocus();
        return false;
    }
    closeEditorOnly();
    return true;
}

void TDBGrid::editorKey(QKeyEvent *event, QLineEdit *editor)
{
    Q_UNUSED(editor);
    QPointer<TDBGrid> self = this;
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (commitEditor() && m_dataSet) {
            TClientDataSet *ds = m_dataSet;
            runGuarded([ds] { ds->Post(); });
        }
        if (self)
            setFocus();
        return;
    case Qt::Key_Escape: {
        closeEditorOnly();
        if (m_dataSet) {
            TClientDataSet *ds = m_dataSet;
            runGuarded([ds] { ds->Cancel(); });
        }
        if (self)
            setFocus();
        return;
    }
    case Qt::Key_Tab:
    case Qt::Key_Backtab: {
        if (!commitEditor())
            return;
        setFocus();
        const bool back = event->key() == Qt::Key_Backtab || (event->modifiers() & Qt::ShiftModifier);
        if (m_options & dgTabs) {
            int column = currentIndex().column() + (back ? -1 : 1);
            while (column >= 0 && column < ColumnCount() && isColumnHidden(column))
                column += back ? -1 : 1;
            if (column >= 0 && column < ColumnCount()) {
                selectionModel()->setCurrentIndex(m_model->index(currentIndex().row(), column),
                                                  QItemSelectionModel::ClearAndSelect);
                return;
            }
        }
        focusNextPrevChild(!back);
        return;
    }
    default:
        // Row moves: the text goes to the field, then the grid moves (and posts).
        if (commitEditor()) {
            setFocus();
            QKeyEvent copy(event->type(), event->key(), event->modifiers(), event->text());
            QTableView::keyPressEvent(&copy);
        }
        return;
    }
}

bool TDBGrid::leaveGrid(bool forward)
{
    if (!commitEditor())
        return false;
    // The next (or previous) control in the tab chain that takes the
    // keyboard, outside the grid and its editor.
    QWidget *w = this;
    for (int guard = 0; guard < 10000; ++guard) {
        w = forward ? w->nextInFocusChain() : w->previousInFocusChain();
        if (!w || w == this)
            break;
        if (isAncestorOf(w) || !(w->focusPolicy() & Qt::TabFocus) || !w->isVisible() || !w->isEnabled()
            || w->window() != window())
            continue;
        w->setFocus(forward ? Qt::TabFocusReason : Qt::BacktabFocusReason);
        return true;
    }
    return false;
}

void TDBGrid::focusInEvent(QFocusEvent *event)
{
    GridLeaveKeys::claim();
    QTableView::focusInEvent(event);
}

void TDBGrid::focusOutEvent(QFocusEvent *event)
{
    QTableView::focusOutEvent(event);
}

// --- painting -------------------------------------------------------------------------

bool TDBGrid::viewportEvent(QEvent *event)
{
    // Controls disabled on the dataset: no repaint until they are enabled.
    if (event->type() == QEvent::Paint && m_dataSet && m_dataSet->ControlsDisabled())
        return true;
    return QTableView::viewportEvent(event);
}

void TDBGrid::paintCell(QPainter *painter, const QRect &rect, int row, int column, int state)
{
    if (!OnDrawColumnCell || !m_dataSet || m_canvas)
        return;
    TColumn *c = Columns(column);
    if (!c)
        return;
    const bool selected = state & gdSelected;
    const QPalette::ColorGroup group = hasFocus() || (m_options & dgAlwaysShowSelection) ? QPalette::Active
                                                                                           : QPalette::Inactive;
    painter->save();
    TCanvas canvas(painter);
    canvas.Brush.Color = palette().color(group, selected ? QPalette::Highlight : QPalette::Base);
    canvas.Font.Color = palette().color(group, selected ? QPalette::HighlightedText : QPalette::Text);
    canvas.Font.Font = font();
    m_canvas = &canvas;
    // The painted row is the active record while the handler runs.
    const int token = m_dataSet->setActiveRecordForRead(row);
    try {
        OnDrawColumnCell(this, rect, column, c, state);
    } catch (...) {
        reportLater(std::current_exception());
    }
    if (m_dataSet)
        m_dataSet->restoreActiveRecord(token);
    m_canvas = nullptr;
    painter->restore();
}

// --- routines ---------------------------------------------------------------------------

int IndiceCol(const TDBGrid *grid, const QString &fieldName)
{
    if (!grid)
        return -1;
    for (int i = 0; i < grid->ColumnCount(); ++i)
        if (grid->Columns(i)->FieldName().compare(fieldName, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

QString GridText(const TDBGrid *grid, const QString &fieldName, bool flag)
{
    const int column = IndiceCol(grid, fieldName);
    if (column < 0)
        return {};
    const QLineEdit *editor = grid->InplaceEditor();
    const bool editing = editor && grid->currentIndex().column() == column;
    if (!flag) {
        if (editing)
            return editor->text();
        const TField *field = grid->Columns(column)->Field();
        return field ? field->Text() : QString();
    }
    if (!editing)
        return {}; // the key starts a fresh edit
    QString text = editor->text();
    if (editor->hasSelectedText())
        text.remove(editor->selectionStart(), editor->selectedText().size());
    return text;
}
