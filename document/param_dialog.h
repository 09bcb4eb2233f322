// The parameter dialogs, built from the command table.
//
// One class serves all ten dialogs: the command's template gives caption,
// size and controls (in tab order), its parameter list the fields and the
// order in which they are exchanged and checked. A dialog always starts from
// the command's defaults; on OK every field is read and range-checked in
// order, and the first failure is shown in a message box, puts the focus back
// on its field with the text selected and keeps the dialog open.
#pragma once

#include <functional>
#include <map>

#include <QDialog>

#include "document/commands/command_table.h"

class QPushButton;

class CParamDialog : public QDialog {
    Q_OBJECT
public:
    // command must have a dialog template.
    explicit CParamDialog(const CommandSpec& command, QWidget* parent = nullptr);

    const CommandSpec& Command() const { return m_command; }
    // The values read by the last successful OK; the defaults before that.
    const ParamValues& Values() const { return m_values; }
    // The edit field or check box with the template's control id, else null.
    QWidget* Control(int id) const;
    QPushButton* OkButton() const { return m_pOkButton; }
    QPushButton* CancelButton() const { return m_pCancelButton; }

    // Reads and checks every field in order; false (message shown, focus on
    // the failing field) at the first failure, the values unchanged.
    bool UpdateData();

public slots:
    // OK: closes with Accepted only after a complete successful pass.
    void accept() override;

private:
    void WriteFields();

    const CommandSpec& m_command;
    ParamValues m_values;
    std::map<int, QWidget*> m_controls;
    QPushButton* m_pOkButton = nullptr;
    QPushButton* m_pCancelButton = nullptr;
};

// How the pipeline runs a dialog: true when it closed with OK. The standard
// runner is exec(); tests install one that fills fields and presses OK.
using ParamDialogRunner = std::function<bool(CParamDialog& dialog)>;
// Installs runner and returns the previous one; an empty runner restores exec().
ParamDialogRunner SetParamDialogRunner(ParamDialogRunner runner);
bool RunParamDialog(CParamDialog& dialog);
