#pragma once

#include "search/HandOff.h"
#include "search/QueryBuilder.h"
#include "search/ResultExtractor.h"

#include <QTimer>

#include <QMainWindow>

#include <functional>
#include <memory>

class QLabel;

namespace Ui {
class fWebSearch;
}

namespace lintbay {

class Browser;
class GuiContext;
class ResultListModel;
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

    ResultListModel* results() const { return m_results; }
    // The extraction choices of the check boxes.
    ExtractionOptions extractionOptions() const;

    // Navigates to the engine's home page.
    void openHomePage();

    // The auto-analysis timer: hands over new rows every second while "自动分析未分析项" is ticked.
    QTimer* Timer1 = nullptr;

    // One hand-over pass (the menu "加入", "分析下载" and the timer).
    void runPass(AnalysePass pass);


protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void loadSettings();
    bool saveSettings(); // false when the settings file could not be written
    void Command1_Click();
    void Command4_Click();
    void Command9_Click();
    void Command7_Click();
    void Command2_Click();
    void Check7_Click(bool ticked);
    // Tells the user and returns true while the download window's login runs.
    bool refusedDuringALogin();
    void showBatch(bool running);
    void showPageFollowing(bool running);
    void showVerificationPause(bool paused);
    // Asks for the save folder where the extraction prompt says so; false when cancelled.
    bool askSaveFolder();
    void setStatusText(const QString& text);
    void updateCounter();

    // Result list operations (menus "清除(&C)" and "工具(&T)").
    bool refuseWhileAnalysing();
    void removeByRule(const std::function<int()>& remove);
    void removeSelected();
    void removeTitleRule(bool containing);
    void clearAll();
    void selectRows(const QList<int>& rows);
    void convertAll();
    void savePageSource();

    GuiContext& m_context;
    std::unique_ptr<Ui::fWebSearch> ui;
    Browser* m_browser = nullptr;
    SearchSession* m_session = nullptr;
    ResultListModel* m_results = nullptr;
    QLabel* m_statusPanels[3] = {};
};

} // namespace lintbay
