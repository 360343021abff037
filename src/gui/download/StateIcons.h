#pragma once

#include "download/DownloadListModel.h"

#include <QIcon>
#include <QIdentityProxyModel>

namespace lintbay {

// The four state pictures of the download list: waiting (grey clock), downloading (blue arrow),
// done (green tick), failed (red cross).
QIcon StateIcon(DownloadItemState state);

// Shows the download list with each row's state picture in its first column.
class StateIconProxy : public QIdentityProxyModel
{
    Q_OBJECT
public:
    using QIdentityProxyModel::QIdentityProxyModel;
    QVariant data(const QModelIndex& index, int role) const override;
};

} // namespace lintbay
