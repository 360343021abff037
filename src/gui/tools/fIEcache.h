#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class fIEcache;
}

namespace lintbay {

class CacheViewer;
class GuiContext;

// The cache viewer: lists the program's URL cache or every profile's cache folder, sorts the list
// by a header click, deletes selected or all entries, and copies cached files elsewhere.
class fIEcache : public QDialog
{
    Q_OBJECT
public:
    explicit fIEcache(GuiContext& context, QWidget* parent = nullptr);
    ~fIEcache() override;

    CacheViewer& viewer() const { return *m_viewer; }

    // Shows the viewer modally.
    static void showModal(GuiContext& context, QWidget* parent = nullptr);

private:
    void Command1_Click();
    void Command2_Click();
    void Command3_Click();
    void Command6_Click();
    void Command7_Click();
    void ListView1_ColumnClick(int column);
    QList<int> selectedRows() const;
    // Label1 and the column widths after a listing.
    void showListed();

    GuiContext& m_context;
    std::unique_ptr<Ui::fIEcache> ui;
    std::unique_ptr<CacheViewer> m_viewer;
};

// The "清空IE浏览器缓存" menu entries of the main windows: empties the program's URL cache and
// every profile's cache folder as the viewer's "全部删除" does in both views, and the embedded
// browser's own HTTP cache, then, when asked, says so with "IE缓存清空完毕！".
void ClearBrowserCache(GuiContext& context, QWidget* parent, bool showMessage = true);

} // namespace lintbay
