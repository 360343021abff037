#pragma once

#include "tools/CacheListModel.h"
#include "tools/CacheListing.h"

#include <QObject>
#include <QString>
#include <QStringList>

namespace lintbay {

// What the cache viewer window shows and does, without the window: the cache list, the profiles
// and folders lists, the view mode (the window's Tag), the count text, deletion and the files to
// copy. The window wires its buttons to these; ClearBrowserCache runs them with no window at all.
class CacheViewer : public QObject
{
    Q_OBJECT
public:
    explicit CacheViewer(const CacheLocations& locations = CacheLocations::current(),
                         QObject* parent = nullptr);

    CacheListModel* list() { return &m_list; }
    TextTableModel* profiles() { return &m_profiles; }     // "用户名", "文件夹"
    TextTableModel* subfolders() { return &m_subfolders; } // "文件夹"
    const CacheLocations& locations() const { return m_locations; }

    // kMyCacheMode or kAllCachesMode after a listing; empty before the first one.
    QString mode() const { return m_mode; }
    // The count line shown under the list after each listing.
    QString countText() const { return m_countText; }

    // "查看我的缓存": lists the user's own cache.
    void showMyCache();
    // "查看所有用户缓存": lists every profile's cache folder and the files in it.
    void showAllUsersCache();

    // "删除所选文件" with the given rows (any order; worked through in list order) and "全部删除":
    // each deletable row is deleted, then the emptied folders found by the last all-users listing
    // are removed and the current view is listed again. Return the rows deleted.
    int deleteRows(const QList<int>& rows);
    int deleteAll();

    // The existing file paths of the given rows, in list order (for "复制选中...").
    QStringList filePaths(const QList<int>& rows) const;

private:
    int deleteListed(const QList<CacheRow>& rows);

    CacheLocations m_locations;
    CacheListModel m_list;
    TextTableModel m_profiles;
    TextTableModel m_subfolders;
    QStringList m_subfolderPaths; // every subfolder collected by the last all-users listing
    QString m_mode;
    QString m_countText;
};

} // namespace lintbay
