#include "ScreenCase.h"
#include "ScreenHarness.h"

#include "Cli_VOR01300.h"
#include "VOR01300.h"
#include "Contract.h"

#include "ADOIBQuery.h"
#include "BtnPesquisa.h"
#include "ButtonFlat.h"
#include "ClientDataSet.h"
#include "DBGrid.h"
#include "DataSource.h"
#include "Edit.h"
#include "GroupBox.h"
#include "Image.h"
#include "Label.h"
#include "MenuItem.h"
#include "Messages.h"
#include "NetConnection.h"
#include "PageControl.h"
#include "Panel.h"

#include <QLayout>
#include <QMainWindow>
#include <QHeaderView>
#include <QScrollBar>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QScrollArea>
#include <QTest>

// The screen as declared: data model, layout, commands and messages.
class tst_screen_frame : public ScreenCase
{
    Q_OBJECT

private Q_SLOTS:
    void datasetsMatchServerContract();
    void workingCopyCarriesTheWholeList();
    void fieldProperties();
    void branchQueryAndConnection();
    void windowAndHeader();
    void toolPanelAndMenu();
    void activityGridColumns();
    void bookingGridColumns();
    void messageTable();
    void textHooks_data();
    void textHooks();
    void wholeWindowInViewOfTheHost();

private:
    static QString typeName(TFieldType type) { return fieldTypeName(type); }
};

void tst_screen_frame::datasetsMatchServerContract()
{
    const QList<TClientDataSet *> filled = {s->cdsConcAtivProj, s->cdsApropriaCSA,
                                            s->cdsCSAAux, s->cdsPlanProj,
                                            s->cdsPlanCSA, s->cdsProjeto};
    for (TClientDataSet *dataSet : filled) {
        const QList<ContractField> &expected = contractFields(dataSet->objectName());
        QVERIFY2(!expected.isEmpty(), qPrintable(dataSet->objectName()));
        QList<ContractField> declared;
        for (const auto &field : dataSet->Fields())
            declared.append({field->FieldName(), typeName(field->DataType()), field->Size()});
        QCOMPARE(declared, expected);
    }
    // Every method that fills one of these names it as its target.
    QStringList targets;
    for (const MethodInfo &method : contractMethods())
        targets += method.payloadDatasets;
    for (TClientDataSet *dataSet : filled)
        QVERIFY2(targets.contains(dataSet->objectName()), qPrintable(dataSet->objectName()));
}

void tst_screen_frame::workingCopyCarriesTheWholeList()
{
    // cdsAtivProj: the list's first 18 fields, then APROPRIA, and it takes the
    // list's whole data (23 fields) as a copy.
    const auto &list = s->cdsConcAtivProj->Fields();
    const auto &copy = s->cdsAtivProj->Fields();
    QCOMPARE(copy.size(), size_t(19));
    for (size_t i = 0; i < 18; ++i) {
        QCOMPARE(copy[i]->FieldName(), list[i]->FieldName());
        QCOMPARE(copy[i]->DataType(), list[i]->DataType());
        QCOMPARE(copy[i]->Size(), list[i]->Size());
        QCOMPARE(copy[i]->DisplayLabel, list[i]->DisplayLabel);
        QCOMPARE(copy[i]->Visible, list[i]->Visible);
    }
    QCOMPARE(copy[18]->FieldName(), QStringLiteral("APROPRIA"));

    DataPacket packet;
    for (const ContractField &f : contractFields(u"cdsConcAtivProj")) {
        TFieldType type;
        QVERIFY(fieldTypeFromName(f.type, &type));
        packet.fields.append({f.name, type, f.size});
    }
    PacketRow row(packet.fields.size());
    row[0] = QStringLiteral("S");
    row[2] = QStringLiteral("Levantamento");
    row[22] = QStringLiteral("A");
    packet.rows.push_back(row);
    s->cdsAtivProj->SetData(packet);
    QCOMPARE(s->cdsAtivProj->RecordCount(), 1);
    QCOMPARE(s->cdsAtivProjIDCHECK->AsString(), QStringLiteral("S"));
    QCOMPARE(s->cdsAtivProj->Data().fields.size(), 23);
    s->cdsAtivProj->Close();
}

void tst_screen_frame::fieldProperties()
{
    QCOMPARE(s->cdsConcAtivProjDESCRICAO->DisplayLabel, QStringLiteral("Descrição"));
    QCOMPARE(s->cdsConcAtivProjQTTEMPLAITAR->DisplayLabel, QStringLiteral("Tempo"));
    QCOMPARE(s->cdsConcAtivProjVRPERCCONCL->DisplayLabel, QStringLiteral("% Conclusão"));
    QCOMPARE(s->cdsConcAtivProjDTHRAPROVATIVTA->DisplayLabel, QStringLiteral("Data de Aprovação"));
    QCOMPARE(s->cdsConcAtivProjAPROPRIA->DisplayLabel, QStringLiteral("Apropriado"));
    // Hidden flags in list order.
    const QList<bool> visible = {false, false, true, false, false, false, false, false, true, false, false,
                                 false, false, false, false, false, false, false, true, true, false, true, true};
    QList<bool> declared;
    for (const auto &field : s->cdsConcAtivProj->Fields())
        declared << field->Visible;
    QCOMPARE(declared, visible);
    for (TField *percent : {s->cdsConcAtivProjVRPERCCONCL, s->cdsAtivProjVRPERCCONCL}) {
        QCOMPARE(percent->Alignment, Qt::Alignment(Qt::AlignLeft));
        QCOMPARE(percent->DisplayFormat, QStringLiteral("#"));
        QCOMPARE(percent->Precision, 2);
        QVERIFY(percent->OnGetText);
    }
    QCOMPARE(s->cdsApropriaCSAVRPERCCONCL->DisplayFormat, QStringLiteral("#"));
    QVERIFY(s->cdsApropriaCSAVRPERCCONCL->OnGetText);
    QVERIFY(s->cdsCSAAuxVRPERCCONCL->OnGetText);
    QVERIFY(s->cdsConcAtivProjQTTEMPLAITAR->OnGetText);
    QVERIFY(s->cdsAtivProjQTTEMPLAITAR->OnGetText);
    QCOMPARE(s->cdsProjetoCDPROJETO->DisplayLabel, QStringLiteral("Código"));
    QCOMPARE(s->cdsProjetoNMPROJETO->DisplayLabel, QStringLiteral("Nome"));
    QVERIFY(!s->cdsProjetoCDOPERESPRJ->Visible);
    for (TClientDataSet *dataSet : {s->cdsConcAtivProj, s->cdsApropriaCSA, s->cdsPlanProj, s->cdsPlanCSA})
        QVERIFY2(!dataSet->Active(), qPrintable(dataSet->objectName()));
}

void tst_screen_frame::branchQueryAndConnection()
{
    QCOMPARE(s->qryFilial->SQL, (QStringList{QStringLiteral("SELECT CDFILIAL,NMFILIAL"),
                                             QStringLiteral("  FROM  FILIAL"),
                                             QStringLiteral(" WHERE (:P_CDFILIAL = CDFILIAL OR :P_TCDFILIAL = 'T')"),
                                             QStringLiteral(" ORDER BY CDFILIAL"), QStringLiteral(" ")}));
    QStringList params;
    for (const auto &param : s->qryFilial->Params())
        params << param->Name();
    QCOMPARE(params, (QStringList{QStringLiteral("P_CDFILIAL"), QStringLiteral("P_TCDFILIAL")}));
    QCOMPARE(s->qryFilialCDFILIAL->Size(), 4);
    QCOMPARE(s->qryFilialNMFILIAL->Size(), 30);
    QCOMPARE(s->qryFilialCDFILIAL->DisplayLabel, QStringLiteral("Código"));

    QCOMPARE(s->dtsPadrao->DataSet(), s->cdsConcAtivProj);
    QCOMPARE(s->dtsApropriaCSA->DataSet(), s->cdsApropriaCSA);
    QCOMPARE(s->dtsProjeto->DataSet(), s->cdsProjeto);
    QCOMPARE(s->dtsFilial->DataSet(), s->qryFilial->Query());
    QCOMPARE(s->netConcAtivProj->ServerName(), QStringLiteral("VOR01300.rdmConcAtivProje"));
    QCOMPARE(s->netConcAtivProj->ServerName(), contractModuleName());
    QVERIFY(!s->netConcAtivProj->ThrowException());
}

void tst_screen_frame::windowAndHeader()
{
    QCOMPARE(s->Caption(), QStringLiteral("Aprovação de Atividades do Projeto"));
    QCOMPARE(s->FormStyle(), fsMDIChild);
    QCOMPARE(s->lblCodTela->Caption(), QStringLiteral("VOR01300"));

    // Top to bottom: tool panel, header, pages.
    const auto top = [this](QWidget *w) { return w->mapTo(s, QPoint(0, 0)).y(); };
    QVERIFY(top(s->panMenu) < top(s->panFiltroProj));
    QVERIFY(top(s->panFiltroProj) < top(s->pgcPadrao));
    QCOMPARE(s->panFiltroProj->height(), 58);
    QVERIFY(s->panFiltroProj->font().bold());

    QCOMPARE(s->lblFilial->Caption(), QStringLiteral("Filial"));
    QCOMPARE(s->lblProjeto->Caption(), QStringLiteral("Projeto"));
    QCOMPARE(s->lblFilial->buddy(), static_cast<QWidget *>(s->edtCDFILIAL));
    QCOMPARE(s->lblProjeto->buddy(), static_cast<QWidget *>(s->edtCDPROJETO));
    QCOMPARE(s->edtCDFILIAL->MaxLength(), 4);
    QCOMPARE(s->edtCDPROJETO->MaxLength(), 10);
    QCOMPARE(s->edtCDFILIAL->palette().color(QPalette::Base), QColor(255, 255, 225));
    QCOMPARE(s->edtCDPROJETO->palette().color(QPalette::Base), QColor(255, 255, 225));
    QVERIFY(!s->edtCDFILIAL->font().bold());
    QVERIFY(!s->edtNMFILIAL->Enabled());
    QVERIFY(!s->edtNMPROJETO->Enabled());
    QCOMPARE(s->edtCDFILIAL->nextInFocusChain(), static_cast<QWidget *>(s->edtCDPROJETO));

    QCOMPARE(s->btpFilial->Title(), QStringLiteral("Filial"));
    QCOMPARE(s->btpFilial->Associate(), static_cast<QWidget *>(s->edtCDFILIAL));
    QCOMPARE(s->btpFilial->DataSource(), s->dtsFilial);
    QCOMPARE(s->btpFilial->Hint(), QStringLiteral("Pesquisar"));
    QCOMPARE(s->btpProjeto->Title(), QStringLiteral("Projeto"));
    QCOMPARE(s->btpProjeto->Associate(), static_cast<QWidget *>(s->edtCDPROJETO));
    QCOMPARE(s->btpProjeto->DataSource(), s->dtsProjeto);
    QCOMPARE(s->btpProjeto->Hint(), QStringLiteral("Pesquisar"));
    QVERIFY(s->btpProjeto->focusPolicy() == Qt::NoFocus);

    QCOMPARE(s->grbAcomProj->Caption(), QStringLiteral("Acompanhamento do projeto"));
    QVERIFY(!s->grbAcomProj->Enabled());
    const QList<QPair<TLabel *, QString>> captions = {
        {s->lblHrPlan, QStringLiteral("Horas Planejadas -")},
        {s->lblHrReal, QStringLiteral("Horas Realizadas -")},
        {s->lblPlanXReal, QStringLiteral("Planejado X Realizado (%) -")},
        {s->lblConcCrono, QStringLiteral("Conclusão do Cronograma (%) -")},
        {s->lblStatus, QStringLiteral("Status de Planejamento -")},
    };
    const QList<TLabel *> values = {s->lblVrHrPlan, s->lblVrHrReal, s->lblVrPlanXRel, s->lblVrConcCrono,
                                    s->lblVrStatus};
    for (int i = 0; i < captions.size(); ++i) {
        QCOMPARE(captions[i].first->Caption(), captions[i].second);
        QCOMPARE(captions[i].first->parentWidget(), static_cast<QWidget *>(s->grbAcomProj));
        QVERIFY(values[i]->Caption().isEmpty());
        QVERIFY(!values[i]->font().bold());
        // Each value sits to the right of its caption.
        QCOMPARE(values[i]->y(), captions[i].first->y());
        QVERIFY(values[i]->x() >= captions[i].first->x() + captions[i].first->width());
    }

    // Below the activity grid: the strip, then the booking grid filling its box.
    QVERIFY(top(s->Panel1) > top(s->dbgPadrao));
    QVERIFY(top(s->ScrollBox1) > top(s->Panel1));
    QCOMPARE(s->Panel1->height(), 13);
    QCOMPARE(s->ScrollBox1->widget()->layout()->indexOf(s->dbgApropriaCSA), 0);
}

void tst_screen_frame::toolPanelAndMenu()
{
    QCOMPARE(s->sbtFiltro->parentWidget(), static_cast<QWidget *>(s->panMenu));
    QCOMPARE(s->sbtFiltro->geometry(), QRect(192, 4, 21, 21));
    QCOMPARE(s->sbtConcluir->geometry(), QRect(224, 4, 21, 21));
    QCOMPARE(s->sbtFiltro->Hint(), QStringLiteral("Filtrar"));
    QCOMPARE(s->sbtConcluir->Hint(), QStringLiteral("Aprovar Atividade"));
    QVERIFY(!s->sbtFiltro->Enabled());
    QVERIFY(!s->sbtConcluir->Enabled());
    QVERIFY(!s->sbtFiltro->Glyph().isNull());
    QVERIFY(!s->sbtConcluir->Glyph().isNull());
    QCOMPARE(s->sbtImprimir->x(), 268);
    QVERIFY(!s->sbtImprimir->Enabled());
    QCOMPARE(s->sbtAjuda->x(), 304);
    QCOMPARE(s->sbtFechar->x(), 340);

    for (TImage *image : {s->imgUnchecked, s->imgChecked, s->imgGrayCheck, s->imgAlerta}) {
        QVERIFY(image->isHidden());
        QCOMPARE(image->PictureWidth(), 16);
        QCOMPARE(image->PictureHeight(), 16);
        // Olive background, drawn transparent by the grid.
        QCOMPARE(image->Picture().toImage().pixelColor(0, 0), QColor(128, 128, 0));
    }
    QCOMPARE(s->imgUnchecked->x(), 370);
    QCOMPARE(s->imgChecked->x(), 389);
    QCOMPARE(s->imgGrayCheck->x(), 409);
    QCOMPARE(s->imgAlerta->x(), 656);

    for (TMenuItem *item : {s->mnuListagem, s->mnuIncluir, s->mnuAlterar, s->mnuExcluir, s->mnuProcurar,
                            s->mnuVerificar, s->mnuCancelar, s->mnuConfirmar})
        QVERIFY2(!item->Enabled(), qPrintable(item->Caption()));
    const QList<QAction *> actions = s->mnuManutencao->actions();
    QVERIFY(actions.size() >= 3);
    QVERIFY(actions.at(actions.size() - 3)->isSeparator());
    QCOMPARE(actions.at(actions.size() - 2), static_cast<QAction *>(s->mnuFiltrar));
    QCOMPARE(actions.last(), static_cast<QAction *>(s->mnuConcluir));
    QCOMPARE(s->mnuFiltrar->Caption(), QStringLiteral("&Filtrar"));
    QCOMPARE(s->mnuFiltrar->ShortCut(), QKeySequence(Qt::CTRL | Qt::Key_L));
    QCOMPARE(s->mnuConcluir->Caption(), QStringLiteral("Ap&rovar Atividade"));
    QCOMPARE(s->mnuConcluir->ShortCut(), QKeySequence(Qt::CTRL | Qt::Key_P));
    QVERIFY(!s->mnuFiltrar->Enabled());
    QVERIFY(!s->mnuConcluir->Enabled());
}

void tst_screen_frame::activityGridColumns()
{
    TDBGrid *grid = s->dbgPadrao;
    QCOMPARE(grid->DataSource(), s->dtsPadrao);
    struct Col { const char *field; int width; const char *title; };
    const Col expected[] = {
        {"IDCHECK", -1, "\u2713"}, {"DESCRICAO", 220, "Descrição"}, {"NMOPERADOR", 159, "Operador"},
        {"QTTEMPLAITAR", 49, "Tempo"}, {"DTINIITCRPRJ", 108, "Data Inicial Planejada"},
        {"DTFINITCRPRJ", 102, "Data Final Planejada"}, {"DTINPATIVTAR", -1, "Data Inicial Real"},
        {"DTFIPATIVTAR", -1, "Data Final Real"}, {"CDFILAPRIO", 27, "Fila"}, {"APROPRIA", 60, "Apropriado"},
        {"VRPERCCONCL", 69, "% Conclusão"}, {"DTHRAPROVATIVTA", -1, "Data de Aprovação"},
    };
    QCOMPARE(grid->ColumnCount(), int(std::size(expected)));
    for (int i = 0; i < grid->ColumnCount(); ++i) {
        TColumn *column = grid->Columns(i);
        QCOMPARE(column->FieldName(), QString::fromLatin1(expected[i].field));
        QCOMPARE(column->Width(), expected[i].width);
        QCOMPARE(column->Title().Caption(), QString::fromUtf8(expected[i].title));
    }
    QCOMPARE(grid->Columns(3)->Alignment(), Qt::Alignment(Qt::AlignLeft));
    QCOMPARE(grid->Columns(10)->Title().Alignment(), Qt::Alignment(Qt::AlignRight));
    const TDBGridOptions options = grid->Options();
    QVERIFY(!(options & dgEditing));
    QVERIFY(!(options & dgIndicator));
    for (TDBGridOption on : {dgTitles, dgColumnResize, dgColLines, dgRowLines, dgTabs, dgAlwaysShowSelection,
                             dgConfirmDelete, dgCancelOnExit})
        QVERIFY(options & on);
    // At the window's designed size every column is in view, the last whole.
    if (s->WindowState() == wsNormal)
        QVERIFY2(grid->horizontalHeader()->length() <= grid->viewport()->width() - grid->verticalScrollBar()->sizeHint().width(),
                 qPrintable(QStringLiteral("%1 > %2").arg(grid->horizontalHeader()->length()).arg(grid->viewport()->width())));
}

void tst_screen_frame::bookingGridColumns()
{
    TDBGrid *grid = s->dbgApropriaCSA;
    QCOMPARE(grid->DataSource(), s->dtsApropriaCSA);
    const QStringList fields = {QStringLiteral("DTHRINIAPROCSA"), QStringLiteral("DTHRFIMAPROCSA"),
                                QStringLiteral("VRPERCCONCL"), QStringLiteral("INCLUSAO"),
                                QStringLiteral("DSOBSAPROATVCSA")};
    const QStringList titles = {QStringLiteral("Data Inicial CSA"), QStringLiteral("Data Final CSA"),
                                QStringLiteral("% Conclusão"), QStringLiteral("Inclusão"),
                                QStringLiteral("Observação")};
    QCOMPARE(grid->ColumnCount(), 5);
    for (int i = 0; i < 5; ++i) {
        QCOMPARE(grid->Columns(i)->FieldName(), fields[i]);
        QCOMPARE(grid->Columns(i)->Title().Caption(), titles[i]);
        QCOMPARE(grid->Columns(i)->Width(), i == 3 ? 308 : -1);
    }
    QCOMPARE(grid->Columns(2)->Title().Alignment(), Qt::Alignment(Qt::AlignRight));
    QVERIFY(!(grid->Options() & dgEditing));
    QVERIFY(!(grid->Options() & dgAlwaysShowSelection));
    QVERIFY(grid->ReadOnly());
    QCOMPARE(grid->palette().color(QPalette::Base), QColor(255, 255, 225));
}

void tst_screen_frame::messageTable()
{
    QCOMPARE(s->msgPadrao->Messages,
             (QStringList{QStringLiteral("Excl|Confirma exclusão?"),
                          QStringLiteral("FILINF|Filial deve ser informada"),
                          QStringLiteral("FILNCAD|Filial não cadastrada"),
                          QStringLiteral("P_NCADFIL|Nenhum projeto cadastrado para filial informada"),
                          QStringLiteral("PROINF|Projeto deve ser informado"),
                          QStringLiteral("PRONCAD|Projeto não cadastrado"),
                          QStringLiteral("PERC_MENOR|Percentual de conclusão deve ser maior ou igual á 0.")}));
    QCOMPARE(s->msgPadrao->Msg(QStringLiteral("PRONCAD")), QStringLiteral("Projeto não cadastrado"));
}

void tst_screen_frame::textHooks_data()
{
    QTest::addColumn<QVariant>("hours");
    QTest::addColumn<QString>("time");
    QTest::addColumn<QVariant>("percent");
    QTest::addColumn<QString>("percentText");
    QTest::newRow("empty") << QVariant() << QString() << QVariant() << QString();
    QTest::newRow("1.5") << QVariant(1.5) << "01:30:00" << QVariant(50.0) << "50%";
    QTest::newRow("12.25") << QVariant(12.25) << "12:15:00" << QVariant(12.5) << "12,5%";
    QTest::newRow("0.01") << QVariant(0.01) << "00:00:36" << QVariant(0.0) << "0%";
    QTest::newRow("2.05 truncates") << QVariant(2.05) << "02:02:59" << QVariant(100.0) << "100%";
    QTest::newRow("0") << QVariant(0.0) << "00:00:00" << QVariant(33.33) << "33,33%";
}

void tst_screen_frame::textHooks()
{
    QFETCH(QVariant, hours);
    QFETCH(QString, time);
    QFETCH(QVariant, percent);
    QFETCH(QString, percentText);
    DataPacket packet;
    for (const auto &field : s->cdsConcAtivProj->Fields())
        packet.fields.append({field->FieldName(), field->DataType(), field->Size()});
    PacketRow row(packet.fields.size());
    row[11] = hours;
    row[17] = percent;
    packet.rows.push_back(row);
    s->cdsConcAtivProj->SetData(packet);
    QCOMPARE(s->cdsConcAtivProjQTTEMPLAITAR->DisplayText(), time);
    QCOMPARE(s->cdsConcAtivProjQTTEMPLAITAR->Text(), time);
    QCOMPARE(s->cdsConcAtivProjVRPERCCONCL->DisplayText(), percentText);

    DataPacket bookings;
    for (const auto &field : s->cdsApropriaCSA->Fields())
        bookings.fields.append({field->FieldName(), field->DataType(), field->Size()});
    PacketRow booking(bookings.fields.size());
    booking[2] = percent;
    bookings.rows.push_back(booking);
    s->cdsApropriaCSA->SetData(bookings);
    QCOMPARE(s->cdsApropriaCSAVRPERCCONCL->DisplayText(), percentText);
    s->cdsConcAtivProj->Close();
    s->cdsApropriaCSA->Close();
}

void tst_screen_frame::wholeWindowInViewOfTheHost()
{
    QMdiSubWindow *frame = s->SubWindow();
    QVERIFY(frame);
    QMdiArea *area = frame->mdiArea();
    const auto inView = [&] { return area->viewport()->rect().contains(frame->geometry()); };
    const auto reopen = [&] {
        s->Close();
        QVERIFY(!s->Visible());
        IniProc();
        QTRY_VERIFY(s->Visible());
    };

    // The host's usual main window: the designed place would cut the bottom off.
    m_host.mainWindow()->resize(1280, 820);
    frame->move(38, 294);
    reopen();
    QTRY_VERIFY2(inView(), qPrintable(QStringLiteral("%1,%2 %3x%4 in %5x%6")
                                          .arg(frame->x()).arg(frame->y())
                                          .arg(frame->width()).arg(frame->height())
                                          .arg(area->viewport()->width()).arg(area->viewport()->height())));
    QCOMPARE(s->size(), QSize(1201, 572));
    QCOMPARE(frame->x(), 38); // only as far as needed

    // Pushed off to the right and below, it comes back whole when opened again.
    frame->move(900, 700);
    reopen();
    QTRY_VERIFY(inView());
    QCOMPARE(s->size(), QSize(1201, 572));

    // Where it fits, the designed place stays.
    m_host.mainWindow()->resize(1400, 1000);
    frame->move(38, 294);
    reopen();
    QTRY_VERIFY(inView());
    QCOMPARE(frame->pos(), QPoint(38, 294));

    // Smaller than the window: the top left corner stays in view.
    m_host.mainWindow()->resize(800, 500);
    frame->move(300, 200);
    reopen();
    QCOMPARE(frame->pos(), QPoint(0, 0));
    QCOMPARE(s->size(), QSize(1201, 572));
    QCOMPARE(m_host.takeMessages(), QStringList());
}

QTEST_MAIN(tst_screen_frame)
#include "tst_screen_frame.moc"
