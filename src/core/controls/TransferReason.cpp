#include "controls/TransferReason.h"

#include "controls/NetworkContext.h"

#include <QNetworkReply>

#include <cstddef>

using namespace Qt::StringLiterals;

namespace lintbay::reason {

namespace {

// A code and what it means to the user.
struct Meaning
{
    int code;
    const char16_t* text;
};

template <std::size_t N> QString meaningOf(const Meaning (&table)[N], int code)
{
    for (const Meaning& m : table) {
        if (m.code == code)
            return QString::fromUtf16(m.text);
    }
    return {};
}

constexpr Meaning kStatusMeanings[] = {
    {300, u"有多个可选地址"},   {301, u"已永久移走"},         {302, u"已临时移走"},
    {303, u"请到其他地址查看"}, {304, u"内容未改变"},         {307, u"临时重定向"},
    {308, u"永久重定向"},       {400, u"请求有误"},           {401, u"需要身份验证"},
    {402, u"需要付费"},         {403, u"禁止访问"},           {404, u"未找到"},
    {405, u"不允许此请求方法"}, {406, u"无法提供所要的格式"}, {407, u"需要代理服务器验证"},
    {408, u"请求超时"},         {410, u"已永久删除"},         {413, u"请求过大"},
    {414, u"网址过长"},         {429, u"请求过于频繁"},       {451, u"因法律原因不可访问"},
    {500, u"服务器内部错误"},   {501, u"服务器不支持此请求"}, {502, u"网关错误"},
    {503, u"服务暂时不可用"},   {504, u"网关超时"},           {505, u"不支持的 HTTP 版本"},
};
// What a status outside the table means, by its hundreds.
constexpr Meaning kStatusClasses[] = {
    {1, u"临时回应"}, {2, u"成功"}, {3, u"重定向"}, {4, u"请求错误"}, {5, u"服务器错误"},
};
constexpr Meaning kNetworkErrors[] = {
    {QNetworkReply::ConnectionRefusedError, u"服务器拒绝连接"},
    {QNetworkReply::RemoteHostClosedError, u"服务器关闭了连接"},
    {QNetworkReply::HostNotFoundError, u"找不到服务器"},
    {QNetworkReply::TimeoutError, u"连接超时"},
    {QNetworkReply::SslHandshakeFailedError, u"无法建立安全连接（HTTPS）"},
    {QNetworkReply::TemporaryNetworkFailureError, u"网络暂时不可用"},
    {QNetworkReply::NetworkSessionFailedError, u"网络暂时不可用"},
    {QNetworkReply::ProxyConnectionRefusedError, u"代理服务器拒绝连接"},
    {QNetworkReply::ProxyConnectionClosedError, u"代理服务器关闭了连接"},
    {QNetworkReply::ProxyNotFoundError, u"找不到代理服务器"},
    {QNetworkReply::ProxyTimeoutError, u"代理服务器超时"},
    {QNetworkReply::ProxyAuthenticationRequiredError, u"代理服务器要求身份验证"},
    {QNetworkReply::ProtocolUnknownError, u"不支持的协议"},
};

QString statusMeaning(int status)
{
    QString meaning = meaningOf(kStatusMeanings, status);
    if (meaning.isEmpty())
        meaning = meaningOf(kStatusClasses, status / 100);
    return meaning.isEmpty() ? u"未知状态"_s : meaning;
}

QString seconds(int ms)
{
    return QString::number(ms / 1000.0) + u" 秒"_s;
}

} // namespace

QString httpStatus(int status)
{
    return u"HTTP %1（%2）"_s.arg(status).arg(statusMeaning(status));
}

QString noAnswer(int networkError, const QString& systemText)
{
    const QString meaning = meaningOf(kNetworkErrors, networkError);
    if (!meaning.isEmpty())
        return u"无法连接服务器：%1"_s.arg(meaning);
    return u"网络错误 %1：%2"_s.arg(networkError).arg(asField(systemText));
}

QString headerTimeout(int ms)
{
    return u"超时：%1内服务器没有回应"_s.arg(seconds(ms));
}

QString stalled(int ms, qint64 received)
{
    if (received < 0)
        return headerTimeout(ms);
    return u"超时：%1内没有收到新的数据（已收到 %2 字节）"_s.arg(seconds(ms)).arg(received);
}

QString cutOff(qint64 received, qint64 announced)
{
    if (announced < 0)
        return u"连接中断，文件不完整：收到 %1 字节"_s.arg(received);
    return u"连接中断，文件不完整：收到 %1 字节，应为 %2 字节"_s.arg(received).arg(announced);
}

QString conflictingLengths()
{
    return u"服务器给出的文件长度互相矛盾，无法判断文件是否完整"_s;
}

QString compressedBody(const QByteArray& encoding)
{
    return u"服务器发来的是压缩数据（%1），已按原样保存"_s.arg(asField(QString::fromLatin1(encoding.left(40))));
}

QString redirectRefused(RedirectFault fault, const QUrl& target)
{
    switch (fault) {
    case RedirectFault::Loop:
        return u"重定向形成循环"_s;
    case RedirectFault::TooMany:
        return u"重定向次数过多（超过 %1 次）"_s.arg(NetworkContext::kMaxRedirects);
    case RedirectFault::NotWeb:
        break;
    }
    return u"重定向到不支持的网址：%1"_s.arg(target.toDisplayString());
}

QString emptyAnswer(int status)
{
    if (status == 0 || (status >= 200 && status <= 299))
        return u"服务器没有返回内容"_s;
    return httpStatus(status) + u"，服务器没有返回内容"_s;
}

QString writeFailed(const QString& systemMessage)
{
    return u"写入文件失败：%1"_s.arg(asField(systemMessage));
}

QString folderNotCreated(const QString& folder)
{
    return u"无法创建保存文件夹：%1"_s.arg(folder);
}

QString folderNotAbsolute(const QString& folder)
{
    return folder.isEmpty() ? u"没有保存文件夹"_s : u"保存文件夹不是完整路径：%1"_s.arg(folder);
}

QString unsupportedAddress(const QString& url)
{
    return u"不支持的网址（只下载 http 和 https 网址）：%1"_s.arg(asField(url));
}

QString tooLarge(qint64 bytes, double limitMB, bool announced)
{
    return u"文件超过大小限制 %1 MB：%2 %3 字节"_s
        .arg(QString::number(limitMB), announced ? u"共"_s : u"已收到"_s)
        .arg(bytes);
}

QString cannotReplace(const QString& path)
{
    return u"无法替换保存位置上已有的项目：%1"_s.arg(path);
}

QString notReplaced(const QString& answer, const QString& path)
{
    return u"%1，已有的文件没有被替换：%2"_s.arg(answer, path);
}

QString cancelled()
{
    return u"下载已取消"_s;
}

QString retryLater(int status)
{
    return httpStatus(status) + u"，稍后重试"_s;
}

QString duplicateOf(const QString& other)
{
    return u"与「%1」是同一个文件"_s.arg(other);
}

QString duplicateRemoved(const QString& other)
{
    return duplicateOf(other) + u"，已删除"_s;
}

QString incomplete(qint64 read, qint64 total)
{
    return u"下载不完整：收到 %1 字节，共 %2 字节"_s.arg(read).arg(total);
}

QString webPage(int status, bool afterLanding)
{
    if (status != 0 && (status < 200 || status > 299))
        return httpStatus(status);
    return afterLanding ? u"得到的仍是网页，不是文档"_s : u"得到的是网页，不是文档"_s;
}

QString followed(const QUrl& target)
{
    return u"已跟随说明页面：%1"_s.arg(target.toDisplayString());
}

QString severalDocuments(int count)
{
    return u"说明页面上有 %1 个文档链接，无法确定下载哪一个"_s.arg(count);
}

QString loginPage()
{
    return u"登录页面，需要先登录网站"_s;
}

QString verificationPage()
{
    return u"搜索引擎的安全验证页面，需要先在浏览器中通过验证"_s;
}

QString notWebTarget(const QUrl& target)
{
    return u"说明页面指向不支持的网址：%1"_s.arg(target.toDisplayString());
}

QString afterLanding(const QUrl& target, const QString& reason)
{
    return followed(target) + u'；' + reason;
}

QString asField(const QString& reason)
{
    QString field = reason;
    for (QChar& c : field) {
        if (c == u'\t' || c == u'\r' || c == u'\n')
            c = u' ';
    }
    return field;
}

} // namespace lintbay::reason
