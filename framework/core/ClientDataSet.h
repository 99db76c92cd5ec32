#pragma once

#include "Field.h"
#include "Packet.h"

#include <QJsonValue>
#include <QObject>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

class FilterExpr;

// In-memory dataset with persistent fields declared in code, a cursor over the
// rows that pass the filter, edit/post/cancel of the current row and a change
// log since the data was last set.
//
// Events (AfterScroll, AfterPost) are plain callbacks: an exception raised in
// one propagates to whoever moved the cursor or posted. The framework's guard
// sits where Qt dispatches user input, not here.
class TClientDataSet : public QObject
{
    Q_OBJECT

public:
    enum class State { Inactive, Browse, Edit };
    using DataSetEvent = std::function<void(TClientDataSet &dataSet)>;

    explicit TClientDataSet(QObject *owner = nullptr);
    ~TClientDataSet() override;

    // Persistent fields, in declaration order. Declaring is allowed only while closed.
    TField *AddField(const QString &name, TFieldType type, int size = 0);
    const std::vector<std::unique_ptr<TField>> &Fields() const { return m_fields; }
    int FieldCount() const { return int(m_fields.size()); }
    TField *FindField(const QString &name) const;   // nullptr when absent
    TField *FieldByName(const QString &name) const; // raises EDatabaseError when absent

    // Replaces the whole content, opens, clears the change log and moves to the
    // first row (AfterScroll runs). A packet lacking a declared field, or with a
    // value that does not fit, is refused and the previous content is kept.
    // The state listeners run as on an open, even when the dataset was open.
    // A dataset without declared fields takes its fields from the packet.
    // Refused (EDatabaseError) while a row is being edited: the edit is never
    // dropped silently.
    void SetData(const QJsonValue &packet);
    void SetData(const DataPacket &packet);
    void SetData(DataPacket &&packet);
    DataPacket Data() const;          // all rows (ignores the filter), extra packet fields included
    QJsonObject DataJson() const { return Data().toJson(); }
    ChangeLogPacket Delta() const;    // rows changed since SetData, each once: original and latest values
    QJsonObject DeltaJson() const { return Delta().toJson(); }
    int ChangeCount() const;
    void MergeChangeLog();            // current values become the loaded ones

    bool Active() const { return m_state != State::Inactive; }
    void SetActive(bool active);
    void Open();   // an empty dataset of the declared fields (like SetData of no rows)
    void Close();  // drops the rows and the change log
    State state() const { return m_state; }
    bool IsEmpty() const;             // a closed dataset counts as empty

    // Cursor over the visible (filtered) rows. Every move runs AfterScroll.
    // Moving while in edit state posts first. First on an empty dataset, like
    // SetData, runs AfterScroll once for the empty position; Next at the last
    // row (Prior at the first) only sets Eof (Bof) and runs nothing. Last sets Eof.
    void First();
    void Last();
    void Next();
    void Prior();
    bool Eof() const;
    bool Bof() const;
    int RecNo() const;                // 1-based; 0 when empty
    void SetRecNo(int recNo);
    int RecordCount() const;          // visible rows
    bool Locate(const QStringList &fieldNames, const QVariantList &values);

    void Edit();   // raises when inactive, empty, or read-only
    void Post();   // runs AfterPost; nothing outside edit state
    void Cancel();
    void CheckBrowseMode(); // posts a pending edit

    bool ReadOnly = false;

    // Filter text over the declared fields. Changing what is shown (the text
    // while filtering, or the switch while a text is set) posts a pending edit
    // and moves to the first visible row, running AfterScroll.
    QString Filter() const { return m_filterText; }
    void SetFilter(const QString &text);  // parsed once; raises EDatabaseError naming the position or an unknown field
    bool Filtered() const { return m_filtered; }
    void SetFiltered(bool on);

    void DisableControls();
    void EnableControls();
    bool ControlsDisabled() const { return m_disableCount > 0; }

    DataSetEvent AfterScroll;
    DataSetEvent AfterPost;

    // --- access for data-aware controls (grids, lookups) ---
    // Value of a field in a visible row without moving the cursor.
    QVariant valueAt(int visibleRow, int fieldIndex) const;
    int currentIndex() const { return m_current; } // visible row index, -1 when none
    // Makes a visible row the active record for field reads without running
    // AfterScroll (grids paint row by row this way); restore with the returned token.
    int setActiveRecordForRead(int visibleRow);
    void restoreActiveRecord(int token);
    // Field index among the declared fields, -1 when absent (case-insensitive).
    int fieldIndex(const QString &name) const;

    // Internal, used by TDataSource: runs right after stateChanged, as a plain
    // call rather than through Qt's signal machinery, so that an exception from
    // a state-change handler reaches whoever changed the state.
    using StateListener = std::function<void()>;
    int addStateListener(StateListener listener); // returns an id for removeStateListener
    void removeStateListener(int id);

    // Internal, used by TField.
    QVariant currentValue(int fieldIndex) const;
    QVariant currentOldValue(int fieldIndex) const;
    void setCurrentValue(int fieldIndex, const QVariant &value);

Q_SIGNALS:
    // Notifications for data-aware controls. dataSetChanged, recordChanged and
    // cursorMoved are held back while controls are disabled and replaced by one
    // dataSetChanged when they are enabled again; stateChanged is always sent.
    void stateChanged();          // Inactive/Browse/Edit changed (open, close, edit, post, cancel)
    void dataSetChanged();        // rows replaced, filtered, opened or closed
    void recordChanged(int visibleRow);
    void cursorMoved(int visibleRow);

private:
    struct Impl;
    void setState(State s, bool evenIfSame = false);
    void adoptPacketFields(const QList<PacketField> &fields);
    void moveTo(int visibleRow);
    void rebuildVisible();
    void notifyDataSet();
    void checkActive() const;
    void setDataImpl(DataPacket &&packet);
    // The end of a load: cursor, state and notifications, over rows in place.
    void reopen();
    void repositionAfterFilter();
    bool filterActive() const;

    std::vector<std::unique_ptr<TField>> m_fields;
    std::unique_ptr<Impl> d;
    State m_state = State::Inactive;
    int m_current = -1;
    QString m_filterText;
    bool m_filtered = false;
    int m_disableCount = 0;
    bool m_pendingReset = false;
    bool m_fieldsFromData = false; // fields made from the last packet, not declared
};
