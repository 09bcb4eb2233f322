// CChildFrame: one document window, holding one document and its view.
//
// The window owns its document: closing the window destroys both. Its title
// is the document's title and follows it.
#pragma once

#include <memory>

#include <QMdiSubWindow>

class CLumivexDoc;
class CLumivexView;

class CChildFrame : public QMdiSubWindow {
    Q_OBJECT
public:
    explicit CChildFrame(std::unique_ptr<CLumivexDoc> document, QWidget* parent = nullptr);
    ~CChildFrame() override;

    CLumivexDoc* Document() const { return m_pDocument.get(); }
    CLumivexView* View() const { return m_pView; }

private:
    std::unique_ptr<CLumivexDoc> m_pDocument;
    CLumivexView* m_pView = nullptr;
};
