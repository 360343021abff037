#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class UrlReplace;
}

namespace lintbay {

class DownloadListModel;

// "网址批量替换": replaces a text in every row's addresses and referer.
class UrlReplace : public QDialog
{
    Q_OBJECT
public:
    UrlReplace(DownloadListModel& list, QWidget* parent = nullptr);
    ~UrlReplace() override;

private:
    void Command1_Click();

    DownloadListModel& m_list;
    std::unique_ptr<Ui::UrlReplace> ui;
};

} // namespace lintbay
