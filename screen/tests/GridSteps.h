#pragma once

// Steps shared by the tests that drive the activity grid through its real
// widgets: loading a project as a user does, clicking cells and titles, typing.
#include "ScreenHarness.h"

#include "Cli_VOR01300.h"

#include "ClientDataSet.h"
#include "DBGrid.h"
#include "Edit.h"

#include <QApplication>
#include <QHeaderView>
#include <QJsonArray>
#include <QTest>

namespace GridSteps {

inline const QString IDCHECK = QStringLiteral("IDCHECK");
inline const QString DESCRICAO = QStringLiteral("DESCRICAO");
inline const QString PERC = QStringLiteral("VRPERCCONCL");
// After a stored percentage or an approval: the list, the bookings of the
// activity the cursor lands on, once, the project's bookings and the summary.
inline const QStringList kStoredReload = {"getConcAtivPro", "getApropriaCSA", "getCSAAux", "getPlanProj"};

inline void chooseBranch(TfrmConcAtivProj *s, const QString &typed)
{
    ScreenHarness::focus(s->edtCDFILIAL);
    s->edtCDFILIAL->selectAll();
    ScreenHarness::typeText(s->edtCDFILIAL, typed);
    ScreenHarness::pressTab(s->edtCDFILIAL);
}

// Branch 0001, then the project typed and tabbed out of the header.
inline bool load(TfrmConcAtivProj *s, const QString &project)
{
    chooseBranch(s, QStringLiteral("1"));
    ScreenHarness::focus(s->edtCDPROJETO);
    s->edtCDPROJETO->selectAll();
    ScreenHarness::typeText(s->edtCDPROJETO, project);
    ScreenHarness::pressTab(s->edtCDPROJETO);
    return QTest::qWaitFor([s] { return s->cdsConcAtivProj->Active() && s->cdsCSAAux->Active(); }, 5000);
}

// Back to the header: the list is dropped.
inline bool leaveGrid(TfrmConcAtivProj *s)
{
    if (s->cdsConcAtivProj->state() == TClientDataSet::State::Edit)
        s->cdsConcAtivProj->Cancel();
    ScreenHarness::focus(s->edtCDFILIAL);
    return QTest::qWaitFor([s] { return !s->cdsConcAtivProj->Active(); }, 2000);
}

// The screen opened by the host against a server holding the given fixture;
// nullptr with the reason when it could not be.
inline TfrmConcAtivProj *openOnFixture(ScreenHarness &host, const QString &fixture, QString *error)
{
    if (!host.setUp(error, fixture))
        return nullptr;
    return host.openScreen();
}

// Each case starts with the host's window active, no project loaded, no
// message pending and the server's request log marked.
inline bool startCase(ScreenHarness &host, TfrmConcAtivProj *s)
{
    QApplication::setActiveWindow(host.mainWindow());
    if (!QTest::qWaitForWindowActive(host.mainWindow()) || !leaveGrid(s))
        return false;
    host.takeMessages();
    host.server().markCalls();
    return true;
}

inline QModelIndex cell(TfrmConcAtivProj *s, int row, const QString &field)
{
    return s->dbgPadrao->model()->index(row, IndiceCol(s->dbgPadrao, field));
}

inline QRect cellRect(TfrmConcAtivProj *s, int row, const QString &field)
{
    return s->dbgPadrao->visualRect(cell(s, row, field));
}

inline void clickCell(TfrmConcAtivProj *s, int row, const QString &field)
{
    s->dbgPadrao->scrollTo(cell(s, row, field));
    QTest::mouseClick(s->dbgPadrao->viewport(), Qt::LeftButton, {}, cellRect(s, row, field).center());
}

inline void clickTitle(TfrmConcAtivProj *s, const QString &field)
{
    QHeaderView *header = s->dbgPadrao->horizontalHeader();
    const int section = IndiceCol(s->dbgPadrao, field);
    const QPoint at(header->sectionViewportPosition(section) + header->sectionSize(section) / 2, header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
}

// Keys to whatever has the keyboard (the grid or its cell editor).
inline void type(const QString &text)
{
    for (const QChar c : text)
        QTest::keyClick(QApplication::focusWidget(), c.toLatin1());
}

inline void key(Qt::Key k, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QTest::keyClick(QApplication::focusWidget(), k, modifiers);
}

// A field of a row without moving the cursor.
inline QString value(TfrmConcAtivProj *s, int row, const QString &field)
{
    TClientDataSet *ds = s->cdsConcAtivProj;
    return ds->valueAt(row, ds->fieldIndex(field)).toString();
}

inline QStringList marks(TfrmConcAtivProj *s)
{
    QStringList out;
    for (int row = 0; row < s->cdsConcAtivProj->RecordCount(); ++row)
        out << value(s, row, QStringLiteral("IDCHECK"));
    return out;
}

// What the grid shows in a column, row by row.
inline QStringList shown(TfrmConcAtivProj *s, const QString &field)
{
    QStringList out;
    for (int row = 0; row < s->dbgPadrao->model()->rowCount(); ++row)
        out << cell(s, row, field).data(Qt::DisplayRole).toString();
    return out;
}

inline QStringList texts(const QJsonArray &params)
{
    QStringList out;
    for (const QJsonValue &v : params)
        out << v.toString();
    return out;
}

} // namespace GridSteps
