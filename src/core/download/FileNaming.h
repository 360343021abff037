#pragma once

#include <QByteArrayView>
#include <QList>
#include <QNetworkReply>
#include <QString>
#include <QStringView>

namespace lintbay {

class DownloadListModel;

// The texts of the "同名文件：" choice (DuplicateNamePolicy). Any other text acts as "重命名".
inline constexpr QStringView kPolicySkip = u"跳过";
inline constexpr QStringView kPolicyOverwrite = u"覆盖";
inline constexpr QStringView kPolicyRename = u"重命名";

// Progress of a row finished because its file is already there under the skip policy.
inline constexpr QStringView kAlreadyExistsSkippedText = u"已存在，跳过";

// Whether a waiting row still has to be fetched. The row's Name must be sanitised already. When its
// file exists and the policy is "跳过", the row is finished here (Done, Size = Received = the file's
// length, Progress "已存在，跳过") and the answer is false. An out-of-range row answers false.
bool 确定是需要下载(DownloadListModel& list, int row, QStringView policy);

// The file a transfer writes, and the Name the row takes with it.
struct SavePathChoice
{
    QString path;
    QString name;
};

// folder + name + "." + type (no dot when the type is empty). A clash is resolved by a counter
// "[001]", "[002]", ... on the name, counting on from a counter the name already ends in, with any
// other square bracket of the name turned into "『" / "』". Whether a clash is resolved depends on the
// policy and the mode:
//   mode 1: only under "重命名"; "跳过" and "覆盖" get the plain path (under "覆盖" the transfer
//           replaces the file, under "跳过" it skips a file found there);
//   mode 2: under every policy but "覆盖" (the path may be taken by then, e.g. by another slot).
// Name and type are made legal file-name parts (never a path outside the folder), and the whole file
// name is kept within the file system's 255-byte limit. A name that cleans away to nothing, with
// a type or without, gives the file the name "[001]" (counted on like any other), never the
// folder's own path nor a hidden file of the type alone.
SavePathChoice 重命名保存路径(const QString& folder, const QString& name, const QString& type,
                              QStringView policy, int mode = 2);

// Header bytes as text: UTF-8 when they are valid UTF-8, else GBK (what servers here send raw).
QString headerValueText(QByteArrayView value);

// The value of the first Content-Disposition line of a raw header block (lines ended by CR LF; a bare
// LF is accepted too), trimmed; empty when there is none.
QString 从网络文件Header获取ContentDisposition(const QString& headerBlock);
// The same from a reply's header list (QNetworkReply::rawHeaderPairs()).
QString 从网络文件Header获取ContentDisposition(const QList<QNetworkReply::RawHeaderPair>& headers);

// The extension a Content-Disposition value announces for its file: a run of 1 to 5 ASCII letters
// (case kept), or empty. "filename*=" (charset''percent-encoded) is preferred over "filename=". The
// header never names the file itself, so hostile names can only yield a short letter run.
QString 从下载头信息ContentDisposition获取文件名(const QString& value);

} // namespace lintbay
