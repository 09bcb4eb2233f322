#include "ui/child_frame.h"

#include <QIcon>

#include "document/lumivex_doc.h"
#include "ui/lumivex_view.h"

CChildFrame::CChildFrame(std::unique_ptr<CLumivexDoc> document, QWidget* parent)
    : QMdiSubWindow(parent), m_pDocument(std::move(document))
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowIcon(QIcon(QStringLiteral(":/icons/document.png")));
    m_pView = new CLumivexView(m_pDocument.get());
    setWidget(m_pView);
    setWindowTitle(m_pDocument->GetTitle());
    connect(m_pDocument.get(), &CLumivexDoc::TitleChanged, this, &QWidget::setWindowTitle);
}

CChildFrame::~CChildFrame()
{
    // The view goes first: it never outlives the document it shows.
    delete m_pView;
    m_pView = nullptr;
}
