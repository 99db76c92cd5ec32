#pragma once

#include "Form.h"

class QMenu;
class TButtonFlat;
class TClientDataSet;
class TGroupBox;
class TLabel;
class TMenuItem;
class TMessages;
class TPanel;
class TSpeedButton;

// Base of the family's filter dialogs: the criteria group box grbFiltroPadrao
// on the left, the command column panMenu on the right (panHelp with sbtHelp,
// panBotoes with the confirm button sbtConfirma and the cancel button
// sbtCancel, the options button btfSaveOpc, panBotao), the screen-code label
// lblCodTela. Shown with ShowModal.
//
// Keyboard: Return confirms (sbtConfirma's press), or presses the command
// button that has the focus; Escape cancels. The command buttons are Tab stops
// after the criteria (Space presses them); F4 or Alt+Down on btfSaveOpc opens
// its menu.
//
// Options: btfSaveOpc opens ppmOpcoes ("Salvar opções" -> btfSaveOpcClick,
// "Carregar opções" -> btfLoadOpcClick). The checked state of every
// TRadioButton and TCheckBox of the dialog is saved with QSettings under
// "FiltroOpcoes/<dialog objectName, else class name>/<control objectName>".
class VORWIDGETS_EXPORT TfrmFiltroPadrao : public TForm
{
    Q_OBJECT

public:
    explicit TfrmFiltroPadrao(QWidget *parent = nullptr);
    ~TfrmFiltroPadrao() override;

    // Client area: the group box takes it all but the command column.
    void SetClientSize(int width, int height);

    TLabel *lblCodTela = nullptr;
    TGroupBox *grbFiltroPadrao = nullptr;
    TPanel *panMenu = nullptr;
    TPanel *panHelp = nullptr;
    TSpeedButton *sbtHelp = nullptr;
    TPanel *panBotoes = nullptr;
    TSpeedButton *sbtConfirma = nullptr;   // OnClick -> sbtConfirmaClick
    TSpeedButton *sbtCancel = nullptr;     // OnClick -> sbtCancelClick
    TButtonFlat *btfSaveOpc = nullptr;
    TPanel *panBotao = nullptr;
    TMessages *msgPadrao = nullptr;
    QMenu *ppmOpcoes = nullptr;
    TMenuItem *mnuSalvarOpcoes = nullptr;
    TMenuItem *mnuCarregarOpcoes = nullptr;
    TClientDataSet *cdsCarregaOpcoes = nullptr;  // saved options as rows (CONTROLE, VALOR) after a load
    QMenu *PopupMenu1 = nullptr;

    virtual void sbtConfirmaClick(QObject *sender);   // base: nothing
    virtual void sbtCancelClick(QObject *sender);     // base: Close()
    virtual void sbtHelpClick(QObject *sender);
    virtual void btfLoadOpcClick(QObject *sender);    // restores the saved options, then runs the click handlers of what changed
    virtual void btfSaveOpcClick(QObject *sender);    // saves them

    QString optionsGroup() const;

protected:
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
};
