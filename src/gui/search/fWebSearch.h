#pragma once

#include "search/QueryBuilder.h"

#include <QMainWindow>

#include <memory>

class QLabel;

namespace Ui {
class fWebSearch;
}

namespace lintbay {

class Browser;
class GuiContext;
class SearchSession;

// The search window: the embedded browser above, the keyword panel, options and result list below.
class fWebSearch : public QMainWindow
{
    Q_OBJECT
public:
    explicit fWebSearch(GuiContext& context, QWidget* parent = nullptr);
    ~fWebSearch() override;

    Browser* browser() const { return m_browser; }
    SearchSession* session() const { return m_session; }

    // The query options as the controls set them.
    QueryOptions queryOptions() const;
    QSet<QString> tickedTypes() const;

    // Navigates to the engine's home page.
    void openHomePage();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void loadSettings();
    void saveSettings();
    void Command1_Click();
    void setStatusText(const QString& text);

    GuiContext& m_context;
    std::unique_ptr<Ui::fWebSearch> ui;
    Browser* m_browser = nullptr;
    SearchSession* m_session = nullptr;
    QLabel* m_statusPanels[3] = {};
};

} // namespace lintbay
