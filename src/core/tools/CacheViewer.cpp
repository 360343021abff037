#include "CacheViewer.h"

#include "tools/UrlCache.h"

#include <algorithm>

using namespace Qt::StringLiterals;

namespace lintbay {

CacheViewer::CacheViewer(const CacheLocations& locations, QObject* parent)
    : QObject(parent), m_locations(locations), m_profiles({u"用户名"_s, u"文件夹"_s}),
      m_subfolders({u"文件夹"_s})
{
}

void CacheViewer::showMyCache()
{
    const UrlCache cache(m_locations.myCacheFolder);
    bool complete = true;
    m_list.setRows(MyCacheRows(cache, &complete));
    m_countText = CacheCountText(m_list.count(), complete);
    m_mode = kMyCacheMode.toString();
}

void CacheViewer::showAllUsersCache()
{
    const UserCacheFolders folders = ListUserCacheFolders(m_locations);
    m_subfolderPaths = folders.subfolders;
    QList<QStringList> profileRows;
    QList<CacheRow> rows;
    for (const ProfileCache& profile : folders.profiles) {
        profileRows.append({profile.profile, profile.folder});
        rows.append(ListUserCacheFiles(profile.folder, profile.profile));
    }
    QList<QStringList> folderRows;
    for (const QString& folder : std::as_const(m_subfolderPaths)) {
        if (!folder.isEmpty())
            folderRows.append({folder});
    }
    m_profiles.setRows(profileRows);
    m_subfolders.setRows(folderRows);
    m_list.setRows(rows);
    m_countText = CacheCountText(m_list.count());
    m_mode = kAllCachesMode.toString();
}

int CacheViewer::deleteListed(const QList<CacheRow>& rows)
{
    UrlCache cache(m_locations.myCacheFolder);
    const int deleted = DeleteCacheRows(rows, cache);
    删除空文件夹(m_subfolderPaths);
    if (m_mode == kMyCacheMode)
        showMyCache();
    else if (m_mode == kAllCachesMode)
        showAllUsersCache();
    return deleted;
}

int CacheViewer::deleteRows(const QList<int>& rows)
{
    QList<int> ordered = rows;
    std::sort(ordered.begin(), ordered.end());
    ordered.erase(std::unique(ordered.begin(), ordered.end()), ordered.end());
    QList<CacheRow> chosen;
    for (int row : std::as_const(ordered)) {
        if (row >= 0 && row < m_list.count())
            chosen.append(m_list.at(row));
    }
    return deleteListed(chosen);
}

int CacheViewer::deleteAll()
{
    return deleteListed(m_list.rows());
}

QStringList CacheViewer::filePaths(const QList<int>& rows) const
{
    QList<int> ordered = rows;
    std::sort(ordered.begin(), ordered.end());
    ordered.erase(std::unique(ordered.begin(), ordered.end()), ordered.end());
    QStringList paths;
    for (int row : std::as_const(ordered)) {
        if (row >= 0 && row < m_list.count() && !m_list.at(row).filePath.isEmpty())
            paths.append(m_list.at(row).filePath);
    }
    return paths;
}

} // namespace lintbay
