#include "document/param_dialog.h"

#include <algorithm>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "core/messages.h"
#include "document/dialog_units.h"

namespace {

ParamDialogRunner& Runner()
{
    static ParamDialogRunner runner;
    return runner;
}

QString ToQString(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// Fields are read up to 31 characters, as much as their buffer ever held.
constexpr int kFieldChars = 31;

}  // namespace

CParamDialog::CParamDialog(const CommandSpec& command, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                          Qt::WindowSystemMenuHint),
      m_command(command),
      m_values(command.Defaults())
{
    const DialogTemplate& layout = *command.dialog;
    setObjectName(ToQString(layout.className));
    setWindowTitle(ToQString(layout.caption));
    setModal(true);

    const CDialogUnits units(font());
    setFixedSize(units.Size(layout.width, layout.height));

    // Widgets are created in template order, which is also their tab order.
    QWidget* previous = nullptr;
    for (const DialogControl& control : layout.controls) {
        QWidget* widget = nullptr;
        switch (control.kind) {
        case DialogControl::Kind::DefaultButton:
        case DialogControl::Kind::Button: {
            auto* button = new QPushButton(ToQString(control.text), this);
            if (control.kind == DialogControl::Kind::DefaultButton) {
                button->setDefault(true);
                m_pOkButton = button;
                connect(button, &QPushButton::clicked, this, &CParamDialog::accept);
            } else {
                m_pCancelButton = button;
                connect(button, &QPushButton::clicked, this, &CParamDialog::reject);
            }
            widget = button;
            break;
        }
        case DialogControl::Kind::Label: {
            auto* label = new QLabel(ToQString(control.text), this);
            label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            label->setTextFormat(Qt::PlainText);
            widget = label;
            break;
        }
        case DialogControl::Kind::Edit:
            widget = new QLineEdit(this);
            break;
        case DialogControl::Kind::CheckBox:
            widget = new QCheckBox(ToQString(control.text), this);
            break;
        }
        QRect geometry = units.Rect(control.x, control.y, control.width, control.height);
        // A label whose text runs wider in this font than in the template's is
        // widened rather than cut ("Size of window =" must stay readable).
        if (control.kind == DialogControl::Kind::Label || control.kind == DialogControl::Kind::CheckBox)
            geometry.setWidth(std::max(geometry.width(), widget->sizeHint().width()));
        widget->setGeometry(geometry);
        if (control.id >= 0)
            m_controls[control.id] = widget;
        if (widget->focusPolicy() != Qt::NoFocus) {
            if (previous)
                setTabOrder(previous, widget);
            previous = widget;
        }
    }

    WriteFields();
    // OK is the first control that takes the focus: Enter at once accepts the defaults.
    if (m_pOkButton)
        m_pOkButton->setFocus();
}

QWidget* CParamDialog::Control(int id) const
{
    const auto found = m_controls.find(id);
    return found == m_controls.end() ? nullptr : found->second;
}

void CParamDialog::WriteFields()
{
    for (std::size_t i = 0; i < m_command.params.size(); ++i) {
        const ParamSpec& param = m_command.params[i];
        QWidget* control = Control(param.controlId);
        if (auto* box = qobject_cast<QCheckBox*>(control))
            box->setChecked(AsBool(m_values[i]));
        else if (auto* edit = qobject_cast<QLineEdit*>(control))
            edit->setText(QString::fromStdString(FormatParamValue(m_values[i])));
    }
}

bool CParamDialog::UpdateData()
{
    ParamValues values = m_values;
    for (std::size_t i = 0; i < m_command.params.size(); ++i) {
        const ParamSpec& param = m_command.params[i];
        QWidget* control = Control(param.controlId);
        auto* edit = qobject_cast<QLineEdit*>(control);
        std::string text;
        if (auto* box = qobject_cast<QCheckBox*>(control))
            text = box->isChecked() ? "1" : "0";
        else if (edit)
            text = edit->text().left(kFieldChars).toStdString();
        if (const auto error = ReadParamField(param, text, values[i])) {
            ShowMessage(*error);
            if (edit) {
                edit->setFocus(Qt::OtherFocusReason);
                edit->selectAll();
            }
            return false;
        }
    }
    m_values = std::move(values);
    return true;
}

void CParamDialog::accept()
{
    if (UpdateData())
        QDialog::accept();
}

ParamDialogRunner SetParamDialogRunner(ParamDialogRunner runner)
{
    ParamDialogRunner previous = std::move(Runner());
    Runner() = std::move(runner);
    return previous;
}

bool RunParamDialog(CParamDialog& dialog)
{
    if (Runner())
        return Runner()(dialog);
    return dialog.exec() == QDialog::Accepted;
}
