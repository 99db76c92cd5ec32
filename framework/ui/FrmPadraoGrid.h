#pragma once

#include "Form.h"

#include <map>

class QMenu;
class QMenuBar;
class QScrollArea;
class QVBoxLayout;
class TButtonFlat;
class TDBGrid;
class TDBNavigator;
class TDBText;
class TDataSource;
class TLabel;
class TMenuItem;
class TMessages;
class TPageControl;
class TPanel;
class TSpeedButton;
class TTabSheet;

// Base of the family's maintenance screens: an MDI child with, from top to
// bottom, its menu bar mnuMenu, the tool panel panMenu, an optional header
// (insertHeader), the page control pgcPadrao (page tshPadrao, panel
// panDbgPadrao, scroll box scbFolhaDados with the grid dbgPadrao fed by
// dtsPadrao) and the navigator panel panNavigator (record caption dbtNome,
// navigator dbnPadrao).
//
// Tool buttons on panMenu (flat, 21x21, top 4, placed by setGeometry so a
// screen may move them), each paired with a menu item:
//   sbtIncluir/mnuIncluir, sbtAlterar/mnuAlterar, sbtExcluir/mnuExcluir,
//   sbtProcurar/mnuProcurar, sbtVerificar/mnuVerificar (the two record
//   commands after delete: search and verify/refresh),
//   sbtCancelar/mnuCancelar, sbtConfirmar/mnuConfirmar,
//   sbtImprimir/mnuListagem, sbtAjuda, sbtFechar.
// Every button and its item run the same virtual handler below; a screen
// overrides a handler by name to take its binding over.
class VORWIDGETS_EXPORT TfrmPadraoGrid : public TForm
{
    Q_OBJECT

public:
    explicit TfrmPadraoGrid(QWidget *parent = nullptr);
    ~TfrmPadraoGrid() override;

    // Places a screen's header panel between panMenu and pgcPadrao.
    void insertHeader(QWidget *header);
    // Appends an item to a menu of the form; its shortcut works only while the
    // focus is inside this form.
    void addMenuItem(QMenu *menu, TMenuItem *item);
    void addMenuSeparator(QMenu *menu);

    TLabel *lblCodTela = nullptr;
    TPanel *panMenu = nullptr;
    TSpeedButton *sbtIncluir = nullptr;
    TSpeedButton *sbtAlterar = nullptr;
    TSpeedButton *sbtExcluir = nullptr;
    TSpeedButton *sbtProcurar = nullptr;
    TSpeedButton *sbtVerificar = nullptr;
    TSpeedButton *sbtCancelar = nullptr;
    TSpeedButton *sbtConfirmar = nullptr;
    TSpeedButton *sbtImprimir = nullptr;
    TSpeedButton *sbtAjuda = nullptr;
    TSpeedButton *sbtFechar = nullptr;
    TPageControl *pgcPadrao = nullptr;
    TTabSheet *tshPadrao = nullptr;
    TPanel *panDbgPadrao = nullptr;      // has a QVBoxLayout: add widgets below the grid
    QScrollArea *scbFolhaDados = nullptr;
    TDBGrid *dbgPadrao = nullptr;
    TPanel *panNavigator = nullptr;
    TDBText *dbtNome = nullptr;
    TDBNavigator *dbnPadrao = nullptr;
    QMenuBar *mnuMenu = nullptr;
    QMenu *mnuOperacao = nullptr;
    TMenuItem *mnuListagem = nullptr;
    QMenu *mnuManutencao = nullptr;
    TMenuItem *mnuIncluir = nullptr;
    TMenuItem *mnuAlterar = nullptr;
    TMenuItem *mnuExcluir = nullptr;
    TMenuItem *mnuProcurar = nullptr;
    TMenuItem *mnuVerificar = nullptr;
    TMenuItem *mnuCancelar = nullptr;
    TMenuItem *mnuConfirmar = nullptr;
    TDataSource *dtsPadrao = nullptr;
    TMessages *msgPadrao = nullptr;          // the screen's own messages
    TMessages *msgMensagensPadroes = nullptr; // the framework's standard messages
    QObject *psdConfigurar = nullptr;        // printer set-up (not offered on this platform)
    QObject *prdImprimir = nullptr;          // print dialog (not offered on this platform)
    QMenu *pmnNavegar = nullptr;             // grid's context menu: first/prior/next/last

    // Handlers bound by the base.
    void FormCreate(QObject *sender) override;
    void FormClose(QObject *sender, TCloseAction &action) override;  // caHide: the instance stays
    virtual void dbgPadraoKeyDown(QObject *sender, int &key, Qt::KeyboardModifiers shift);
    virtual void dbgPadraoKeyPress(QObject *sender, QChar &key);
    // Enables the maintenance commands from dtsPadrao's state and mirrors each
    // button into its menu item (browse: edit/search/verify/print when there are
    // rows; edit: cancel and confirm only; insert and delete stay disabled).
    virtual void dtsPadraoStateChange(QObject *sender);
    virtual void sbtIncluirClick(QObject *sender);
    virtual void sbtAlterarClick(QObject *sender);    // dtsPadrao's dataset into edit state, focus to the grid
    virtual void sbtExcluirClick(QObject *sender);
    virtual void sbtProcurarClick(QObject *sender);
    virtual void sbtVerificarClick(QObject *sender);  // repaints the grid from its dataset
    virtual void sbtCancelarClick(QObject *sender);   // cancels the row's edit
    virtual void sbtConfirmarClick(QObject *sender);  // posts the row
    virtual void sbtImprimirClick(QObject *sender);
    virtual void sbtAjudaClick(QObject *sender);
    virtual void sbtFecharClick(QObject *sender);     // Close()

    // Sets a button's enabled state and the paired menu item's to the same.
    void setCommandEnabled(TSpeedButton *button, bool enabled);
    TMenuItem *menuItemOf(TSpeedButton *button) const;

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    TSpeedButton *makeButton(const QString &name, int left, const QString &hint);
    void pair(TSpeedButton *button, TMenuItem *item, void (TfrmPadraoGrid::*handler)(QObject *));

    QVBoxLayout *m_layout = nullptr;
    int m_headerCount = 0;
    std::map<TSpeedButton *, TMenuItem *> m_pairs;  // button -> its menu item
};
