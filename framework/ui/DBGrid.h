#pragma once

#include "ClientDataSet.h"
#include "DataSource.h"

#include "Canvas.h"
#include "FocusTracker.h"

#include <QFlags>
#include <QFont>
#include <QPointer>
#include <QTableView>
#include <memory>
#include <vector>

class TField;
class TDBGrid;
class QLineEdit;
class DataSetModel;

// Title of a grid column.
class VORWIDGETS_EXPORT TColumnTitle
{
public:
    QString Caption() const { return m_caption; }
    void SetCaption(const QString &caption);
    Qt::Alignment Alignment() const { return m_alignment; }
    void SetAlignment(Qt::Alignment alignment);
    QFont Font() const { return m_font; }
    void SetFont(const QFont &font);
    bool HasFont() const { return m_hasFont; }
    QColor FontColor() const { return m_fontColor; }   // invalid: the header's own
    void SetFontColor(const QColor &color);

private:
    friend class TColumn;
    friend class TDBGrid;
    explicit TColumnTitle(class TColumn *column) : m_column(column) {}
    TColumn *m_column;
    QString m_caption;
    bool m_captionSet = false;
    Qt::Alignment m_alignment = Qt::AlignLeft;
    QFont m_font;
    bool m_hasFont = false;
    QColor m_fontColor;
};

// A column of a TDBGrid: the field it shows (by name), title, width (-1 the
// default, from the field's size and title), alignment.
class VORWIDGETS_EXPORT TColumn
{
public:
    TColumn(TDBGrid *grid, int index);

    int Index() const { return m_index; }
    QString FieldName() const { return m_fieldName; }
    void SetFieldName(const QString &fieldName);
    TField *Field() const;               // of the grid's dataset; nullptr when absent
    TColumnTitle &Title() { return m_title; }
    const TColumnTitle &Title() const { return m_title; }
    int Width() const { return m_width; }
    void SetWidth(int width);
    Qt::Alignment Alignment() const;     // unset: the field's alignment
    void SetAlignment(Qt::Alignment alignment);
    bool ReadOnly() const { return m_readOnly; }
    void SetReadOnly(bool readOnly) { m_readOnly = readOnly; }
    bool Visible() const { return m_visible; }
    void SetVisible(bool visible);
    TDBGrid *Grid() const { return m_grid; }

    // Title caption shown: the title's, else the field's label, else the field name.
    QString displayTitle() const;

private:
    friend class TColumnTitle;
    friend class TDBGrid;
    void changed();

    TDBGrid *m_grid;
    int m_index;
    QString m_fieldName;
    TColumnTitle m_title{this};
    int m_width = -1;
    Qt::Alignment m_alignment;
    bool m_alignmentSet = false;
    bool m_readOnly = false;
    bool m_visible = true;
};

enum TDBGridOption {
    dgEditing = 0x1, dgAlwaysShowEditor = 0x2, dgTitles = 0x4, dgIndicator = 0x8,
    dgColumnResize = 0x10, dgColLines = 0x20, dgRowLines = 0x40, dgTabs = 0x80,
    dgRowSelect = 0x100, dgAlwaysShowSelection = 0x200, dgConfirmDelete = 0x400,
    dgCancelOnExit = 0x800
};
Q_DECLARE_FLAGS(TDBGridOptions, TDBGridOption)
Q_DECLARE_OPERATORS_FOR_FLAGS(TDBGridOptions)

// Draw state bits handed to OnDrawColumnCell.
enum TGridDrawStateBit { gdSelected = 0x1, gdFocused = 0x2, gdFixed = 0x4 };

// (grid, cell rectangle, column index, column, draw state). Called after the
// default painting of each data cell; the grid's Canvas() draws on that cell,
// and the painted row is the dataset's active record during the call.
using TDrawColumnCellEvent =
    std::function<void(QObject *sender, const QRect &rect, int dataCol, TColumn *column, int state)>;
using TColumnEvent = std::function<void(TColumn *column)>;
// (column, text by reference): the text screen readers get for a data cell,
// its display text unless changed; the cell's row is the dataset's active
// record during the call, as when painting.
using TAccessibleTextEvent = std::function<void(TColumn *column, QString &text)>;

// Data grid bound to a TDataSource. The dataset's current row is the grid's
// current row both ways (a click moves the cursor and runs AfterScroll; moving
// the cursor moves the grid). While the dataset's controls are disabled the
// grid neither repaints nor follows the cursor.
//
// In-place editing (dgEditing, switchable any time): typing a character into a
// cell whose column is editable (field and column not read-only, dataset not
// read-only) opens the cell editor with the field's Text() and the typed
// character replacing it; the first change puts the dataset into edit state.
// The editor's text goes to the field (SetAsString) when the cell is left;
// Enter in the editor commits and posts the row, moving to another row posts
// it, Escape closes the editor and cancels the row's edit. Tab and Shift+Tab
// move from cell to cell; Ctrl+Tab and Ctrl+Shift+Tab leave the grid forward
// and back, from the grid or its editor. The post of a row
// move runs while SelectedField is still the column being left; when it fails,
// or its reactions replace the rows (a reload), the move ends there and the
// cursor stays where they left it. A number's cell takes only digits, signs,
// the exponent letter and the workstation's decimal separator. Keys typed into the
// editor run the grid's OnKeyDown/OnKeyPress first. F2, a double click or
// Enter on an editable cell open the editor on the field's Text(), unless the
// row has a pending edit: Enter then posts it, on any cell. Only characters from space upwards open
// the editor by typing.
//
// With no column added, the grid shows one column per visible field.
class VORWIDGETS_EXPORT TDBGrid : public QTableView, public FocusEvents
{
    Q_OBJECT

public:
    explicit TDBGrid(QWidget *parent = nullptr);
    ~TDBGrid() override;

    TDataSource *DataSource() const { return m_dataSource; }
    void SetDataSource(TDataSource *dataSource);
    TClientDataSet *DataSet() const;

    // Columns collection.
    int ColumnCount() const { return int(m_columns.size()); }
    TColumn *Columns(int index) const;   // nullptr when out of range
    TColumn *AddColumn(const QString &fieldName, const QString &title = {}, int width = -1);
    void ClearColumns();
    const std::vector<std::unique_ptr<TColumn>> &ColumnList() const { return m_columns; }

    TDBGridOptions Options() const { return m_options; }
    void SetOptions(TDBGridOptions options);
    void SetOption(TDBGridOption option, bool on);

    TField *SelectedField() const;       // field of the selected column
    int SelectedIndex() const;           // selected column, -1 when none
    // While a row move posts the row being left: the visible row the user is
    // moving to (-1 otherwise), so that a reaction that reloads the rows can
    // put the cursor where the user was going.
    int MoveTargetRow() const { return m_moveRow; }
    void SetSelectedIndex(int index);    // runs OnColEnter when it changes

    bool ReadOnly() const { return m_readOnly; }
    void SetReadOnly(bool readOnly);

    // The cell editor.
    bool EditorMode() const;
    void SetEditorMode(bool on);         // opens/closes the editor on the current cell
    QLineEdit *InplaceEditor() const;    // nullptr when closed
    bool Enabled() const { return isEnabled(); }
    void SetEnabled(bool enabled) { setEnabled(enabled); }
    void SetFocus();

    // Valid only inside OnDrawColumnCell.
    TCanvas *Canvas() const { return m_canvas; }

    TColumnEvent OnCellClick;
    TColumnEvent OnTitleClick;
    TNotifyEvent OnColEnter;
    TNotifyEvent OnColExit;
    TKeyEvent OnKeyDown;
    TKeyPressEvent OnKeyPress;
    TDrawColumnCellEvent OnDrawColumnCell;
    TAccessibleTextEvent OnAccessibleText; // for cells painted with pictures instead of text
    TNotifyEvent OnDblClick;

    // --- for the grid's own parts (model, delegate, editor) ---
    DataSetModel *dataModel() const { return m_model; }
    bool columnEditable(int column) const;
    // Runs the key protocol for a key typed in the grid or its editor; false
    // when the key must go no further; may rewrite the character.
    bool handleKey(QKeyEvent *event, QChar *character);
    void paintCell(QPainter *painter, const QRect &rect, int row, int column, int state);
    void editorKey(QKeyEvent *event, QLineEdit *editor);  // Enter/Escape in the editor
    bool commitEditor();                 // editor text -> field; false on failure
    void columnsChanged();
    // No type-ahead search: a character typed into the grid is data for the
    // current cell or is refused, never a jump to another row.
    void keyboardSearch(const QString &search) override;

protected:
    // Text committed by an input method goes through the same key protocol
    // as typed keys.
    void inputMethodEvent(QInputMethodEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void currentChanged(const QModelIndex &current, const QModelIndex &previous) override;
    bool edit(const QModelIndex &index, EditTrigger trigger, QEvent *event) override;
    bool viewportEvent(QEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    void syncFromDataSet();
    void onCursorMoved(int row);
    void onDataSetChanged();
    void onStateChanged();
    void applyOptions();
    void applyColumnWidths();
    void onClicked(const QModelIndex &index);
    void onSectionClicked(int section);
    void closeEditorOnly();
    // Ctrl+Tab / Ctrl+Shift+Tab: the focus leaves the grid, the cell's text
    // going to its field first. False when the text was refused.
    bool leaveGrid(bool forward);
    friend class GridLeaveKeys;
    int defaultWidth(const TColumn *column) const;
    void rebuildDefaultColumns();

    QPointer<TDataSource> m_dataSource;
    QPointer<TClientDataSet> m_dataSet;
    DataSetModel *m_model = nullptr;
    std::vector<std::unique_ptr<TColumn>> m_columns;
    bool m_defaultColumns = true;
    TDBGridOptions m_options = TDBGridOptions(dgEditing | dgTitles | dgIndicator | dgColumnResize
                                              | dgColLines | dgRowLines | dgTabs | dgConfirmDelete
                                              | dgCancelOnExit);
    bool m_readOnly = false;
    TCanvas *m_canvas = nullptr;
    int m_lastColumn = -1;
    int m_moveColumn = -1;   // while a row move posts: the column being left
    int m_moveRow = -1;      // while a row move posts: the row moved to
    bool m_moveAbandoned = false; // a click's row move ended in a reload
    quint64 m_resets = 0;    // times the rows were replaced, filtered, opened or closed
    bool m_syncing = false;
    std::vector<QMetaObject::Connection> m_dsConnections;
};

// Index of the grid column showing fieldName (case-insensitive), -1 when none.
VORWIDGETS_EXPORT int IndiceCol(const TDBGrid *grid, const QString &fieldName);

// Text being typed into fieldName's cell of the grid.
// flag false: the cell editor's whole text when the editor is open on that
//   field's column; otherwise the field's Text() in the current row.
// flag true: the text to which the key now being pressed will be added: the
//   editor's text with its selection removed (typing replaces a selection);
//   when no editor is open, typing starts a fresh edit, so the empty string.
// The empty string when the grid shows no such field.
VORWIDGETS_EXPORT QString GridText(const TDBGrid *grid, const QString &fieldName, bool flag);
