// CAboutDlg: Help > About Lumivex.
#pragma once

#include <QDialog>

class QPushButton;

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);
    QPushButton* OkButton() const { return m_pOkButton; }

private:
    QPushButton* m_pOkButton = nullptr;
};
