#include "UrlReplaceDialog.h"
#include "ui_UrlReplaceDialog.h"

#include "download/UrlReplace.h"
#include "util/Messages.h"

#include <QCoreApplication>

using namespace Qt::StringLiterals;

namespace lintbay {

UrlReplace::UrlReplace(DownloadListModel& list, QWidget* parent)
    : QDialog(parent), m_list(list), ui(std::make_unique<Ui::UrlReplace>())
{
    ui->setupUi(this);
    setObjectName(u"UrlReplace"_s);
    setWindowTitle(u"网址批量替换-"_s + QCoreApplication::applicationName());
    connect(ui->Command1, &QPushButton::clicked, this, &UrlReplace::Command1_Click);
    connect(ui->Command2, &QPushButton::clicked, this, &QDialog::reject);
}

UrlReplace::~UrlReplace() = default;

void UrlReplace::Command1_Click()
{
    const UrlReplaceResult result = replaceInAddresses(m_list, ui->Text1->text(), ui->Text2->text());
    if (result.refused) {
        ShowError(this, kUrlReplaceEmptyFindText.toString());
        return;
    }
    accept();
    ShowInfo(parentWidget(), urlReplaceMessage(result));
}

} // namespace lintbay
