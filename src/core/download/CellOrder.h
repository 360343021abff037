#pragma once

#include "download/DownloadListModel.h"

#include <QList>
#include <QStringView>

namespace lintbay {

// A plain decimal number: optional sign, digits, an optional fraction; spaces around it are allowed.
// Thousands separators are not: callers remove them where the column may hold them.
bool parseDecimal(QStringView text, double* value);

// The order of the rows sorted by one column's cells: order[newRow] = oldRow. Equal cells keep their
// list order.
//  - Size and received: cells holding a number (thousands separators allowed) order by value; empty
//    cells come before numbers and status words ("未知", "下载失败") after them, as the digits of a
//    zero-padded number compare below any word.
//  - Progress: the same after every "%" is removed, so "7%" orders as 7 and "大文件，跳过" as a word.
//  - Other columns: text, ignoring case, in Chinese collation order (Chinese names by their reading).
// Descending reverses the whole order of the groups too.
QList<int> sortedOrder(const QList<DownloadItem>& rows, int column, Qt::SortOrder order);

} // namespace lintbay
