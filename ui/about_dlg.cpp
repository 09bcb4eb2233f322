#include "ui/about_dlg.h"

#include <QIcon>
#include <QLabel>
#include <QPushButton>

#include "document/dialog_units.h"

CAboutDlg::CAboutDlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                          Qt::WindowSystemMenuHint)
{
    setObjectName(QStringLiteral("CAboutDlg"));
    setWindowTitle(QStringLiteral("About Lumivex"));
    const CDialogUnits units(font());
    setFixedSize(units.Size(235, 55));

    // The icon keeps its own size, as icons in dialogs always have.
    auto* icon = new QLabel(this);
    icon->setPixmap(QIcon(QStringLiteral(":/icons/lumivex.png")).pixmap(32, 32));
    icon->move(units.X(11), units.Y(17));
    icon->resize(32, 32);

    const struct {
        const char* text;
        int x, y, width, height;
    } labels[] = {
        {"Lumivex", 40, 10, 119, 8},
        {"by the Lumivex team", 40, 20, 87, 8},
        {"2003", 40, 31, 119, 8},
    };
    for (const auto& label : labels) {
        auto* widget = new QLabel(QString::fromLatin1(label.text), this);
        widget->setTextFormat(Qt::PlainText);
        widget->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        widget->setGeometry(units.Rect(label.x, label.y, label.width, label.height));
    }

    m_pOkButton = new QPushButton(QStringLiteral("OK"), this);
    m_pOkButton->setDefault(true);
    m_pOkButton->setGeometry(units.Rect(178, 7, 50, 14));
    connect(m_pOkButton, &QPushButton::clicked, this, &QDialog::accept);
    m_pOkButton->setFocus();
}
