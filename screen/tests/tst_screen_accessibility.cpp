#include "ScreenHarness.h"

#include "Cli_VOR01300.h"
#include "Cli_VOR01301.h"
#include "VOR01300.h"

#include "ClientDataSet.h"
#include "DBGrid.h"
#include "BtnPesquisa.h"
#include "ButtonFlat.h"
#include "Edit.h"
#include "SpeedButton.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleTableInterface>
#include <QApplication>
#include <QLineEdit>
#include <QTest>
#include <QTimer>

namespace {

QString nameOf(QObject *object)
{
    QAccessibleInterface *a = QAccessible::queryAccessibleInterface(object);
    return a ? a->text(QAccessible::Name) : QString();
}

// The controls a user (or an automation tool) operates: buttons, boxes, lists.
QStringList unnamedControls(QWidget *root)
{
    QStringList unnamed;
    const QList<QWidget *> all = root->findChildren<QWidget *>();
    for (QWidget *w : all) {
        if (!w->isVisibleTo(root))
            continue;
        const bool control = qobject_cast<QAbstractButton *>(w) || qobject_cast<QLineEdit *>(w)
                             || qobject_cast<QAbstractItemView *>(w);
        // The item views' own scroll-bar buttons and header parts are Qt's.
        if (!control || qobject_cast<QAbstractItemView *>(w->parentWidget()))
            continue;
        if (nameOf(w).trimmed().isEmpty())
            unnamed << (w->objectName().isEmpty() ? QString::fromLatin1(w->metaObject()->className()) : w->objectName());
    }
    return unnamed;
}

QString cellName(TDBGrid *grid, int row, const QString &field)
{
    // Without an assistive tool attached Qt sends its views no model changes,
    // so cached cells would outlive a reload: read through a fresh table.
    if (QAccessibleInterface *old = QAccessible::queryAccessibleInterface(grid))
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(old));
    QAccessibleInterface *table = QAccessible::queryAccessibleInterface(grid);
    if (!table || !table->tableInterface())
        return QStringLiteral("<no table>");
    QAccessibleInterface *cell = table->tableInterface()->cellAt(row, IndiceCol(grid, field));
    return cell ? cell->text(QAccessible::Name) : QStringLiteral("<no cell>");
}

} // namespace

// What screen readers and UI-automation tools read of the screen and its
// filter dialog, through Qt's accessibility interfaces.
class tst_screen_accessibility : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        if (!ServerFixture::serverBuilt())
            QSKIP("the application server is not built");
        QString error;
        QVERIFY2(m_host.setUp(&error), qPrintable(error));
        s = m_host.openScreen();
        QVERIFY(s);
        QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget *>(s->edtCDFILIAL));
    }

    void everyControlOfTheScreenHasAName()
    {
        QCOMPARE(unnamedControls(s), QStringList());
        // Labels are tied to their boxes; glyph buttons are named by their hints.
        QCOMPARE(nameOf(s->edtCDFILIAL), QStringLiteral("Filial"));
        QCOMPARE(nameOf(s->edtCDPROJETO), QStringLiteral("Projeto"));
        QCOMPARE(nameOf(s->sbtConcluir), QStringLiteral("Aprovar Atividade"));
        QCOMPARE(nameOf(s->sbtFiltro), QStringLiteral("Filtrar"));
    }

    void markCellsSayWhatTheirPicturesShow()
    {
        ScreenHarness::typeText(s->edtCDFILIAL, QStringLiteral("1"));
        ScreenHarness::pressTab(s->edtCDFILIAL);
        ScreenHarness::typeText(s->edtCDPROJETO, QStringLiteral("1"));
        ScreenHarness::pressTab(s->edtCDPROJETO);
        QTRY_VERIFY(s->cdsConcAtivProj->Active() && s->cdsCSAAux->Active());
        TDBGrid *grid = s->dbgPadrao;
        QStringList names;
        for (int row = 0; row < s->cdsConcAtivProj->RecordCount(); ++row)
            names << cellName(grid, row, QStringLiteral("IDCHECK"));
        // Both activities of the fixture's project 1 are open and have bookings.
        QCOMPARE(names, (QStringList{"desmarcada", "desmarcada"}));
        const QModelIndex mark = grid->model()->index(0, IndiceCol(grid, QStringLiteral("IDCHECK")));
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->visualRect(mark).center());
        QTRY_COMPARE(cellName(grid, 0, QStringLiteral("IDCHECK")), QStringLiteral("marcada"));
        // Other cells read as they show.
        QCOMPARE(cellName(grid, 0, QStringLiteral("DESCRICAO")), s->cdsConcAtivProjDESCRICAO->DisplayText());

        // Project 5's one activity has no bookings: it cannot be marked.
        ScreenHarness::focus(s->edtCDPROJETO);
        QTRY_VERIFY(!s->cdsConcAtivProj->Active());
        s->edtCDPROJETO->selectAll();
        ScreenHarness::typeText(s->edtCDPROJETO, QStringLiteral("5"));
        ScreenHarness::pressTab(s->edtCDPROJETO);
        QTRY_VERIFY(s->cdsConcAtivProj->Active() && s->cdsCSAAux->Active());
        QCOMPARE(s->cdsConcAtivProj->RecordCount(), 1);
        QCOMPARE(cellName(grid, 0, QStringLiteral("IDCHECK")), QStringLiteral("não pode ser marcada"));
    }

    void everyControlOfTheFilterDialogHasAName()
    {
        QStringList unnamed{QStringLiteral("<not shown>")};
        QString confirm, lookup;
        QTimer poll;
        poll.setInterval(10);
        connect(&poll, &QTimer::timeout, this, [&] {
            auto *d = qobject_cast<TfrmFiltroConcAtivProj *>(QApplication::activeModalWidget());
            if (!d || !d->isVisible())
                return;
            poll.stop();
            unnamed = unnamedControls(d);
            confirm = nameOf(d->sbtConfirma);
            lookup = nameOf(d->btpOperador);
            QTest::keyClick(d, Qt::Key_Escape);
        });
        poll.start();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_L, Qt::ControlModifier);
        QTRY_VERIFY(!poll.isActive());
        QCOMPARE(unnamed, QStringList());
        QCOMPARE(confirm, QStringLiteral("Confirmar"));
        QCOMPARE(lookup, QStringLiteral("Pesquisar"));
    }

private:
    ScreenHarness m_host;
    TfrmConcAtivProj *s = nullptr;
};

QTEST_MAIN(tst_screen_accessibility)
#include "tst_screen_accessibility.moc"
