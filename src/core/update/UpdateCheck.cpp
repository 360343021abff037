#include "UpdateCheck.h"

#include "Version.h"
#include "app/ProgramSettings.h"
#include "app/SettingsStore.h"
#include "controls/uXMLHTTP.h"
#include "util/TextHelpers.h"

#include <QStringDecoder>
#include <QtNumeric>

using namespace Qt::StringLiterals;

namespace lintbay {

namespace {
// Far more than any version line; a larger body is not a version file.
constexpr qsizetype kMaxAnswerBytes = 1024;
constexpr qsizetype kMaxAnswerChars = 20;
} // namespace

std::optional<qint64> VersionScore(qint64 major, qint64 minor, qint64 revision)
{
    if (major < 0 || minor < 0 || revision < 0)
        return std::nullopt;
    qint64 a = 0;
    qint64 b = 0;
    qint64 sum = 0;
    if (qMulOverflow(major, qint64(10000000), &a) || qMulOverflow(minor, qint64(10000), &b) ||
        qAddOverflow(a, b, &sum) || qAddOverflow(sum, revision, &sum))
        return std::nullopt;
    return sum;
}

qint64 RunningVersionScore()
{
    return VersionScore(LINTBAY_VERSION_MAJOR, LINTBAY_VERSION_MINOR, LINTBAY_VERSION_PATCH).value_or(0);
}

std::optional<UpdateAnswer> ParseUpdateAnswer(const QByteArray& body)
{
    if (body.isEmpty() || body.size() > kMaxAnswerBytes || body.contains('\0'))
        return std::nullopt;
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(body);
    if (decoder.hasError())
        return std::nullopt;
    if (text.startsWith(QChar(0xFEFF))) // a byte order mark left by an editor
        text.remove(0, 1);
    text = text.trimmed();
    if (text.isEmpty() || text.size() > kMaxAnswerChars)
        return std::nullopt;
    const QStringList parts = text.split(u'.');
    if (parts.size() != 3)
        return std::nullopt;
    qint64 numbers[3] = {};
    for (int i = 0; i < 3; ++i) {
        bool ok = false;
        if (!isAsciiDigits(parts[i]))
            return std::nullopt;
        numbers[i] = parts[i].toLongLong(&ok);
        if (!ok)
            return std::nullopt;
    }
    const std::optional<qint64> score = VersionScore(numbers[0], numbers[1], numbers[2]);
    if (!score)
        return std::nullopt;
    return UpdateAnswer{text, *score};
}

bool IsNewerVersion(const UpdateAnswer& answer, qint64 runningScore)
{
    return answer.score > runningScore;
}

QString NewVersionLabelText(const QString& answerText)
{
    return u"有最新版本：V"_s + answerText + u"可以下载升级"_s;
}

QUrl UpdateBaseUrl(const QString& setting)
{
    const QString text = setting.trimmed();
    if (text.isEmpty())
        return {};
    // A bare "maker.example/soft" is taken as a web address; "mailto:", a file path and the like are
    // recognised as what they are and refused below.
    QUrl url = text.contains(u"://"_s) ? QUrl(text, QUrl::StrictMode) : QUrl::fromUserInput(text);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != u"http"_s && scheme != u"https"_s) || url.host().isEmpty())
        return {};
    url.setQuery(QString());
    url.setFragment(QString());
    return url;
}

QUrl ProgramPageUrl(const QUrl& base)
{
    if (!base.isValid())
        return {};
    QUrl page = base;
    QString path = page.path();
    if (!path.endsWith(u'/'))
        path += u'/';
    page.setPath(path);
    return page;
}

QUrl VersionFileUrl(const QUrl& base)
{
    if (!base.isValid())
        return {};
    QUrl file = base;
    QString path = file.path();
    while (path.endsWith(u'/'))
        path.chop(1);
    file.setPath(path + u"/newver.txt"_s);
    return file;
}

QUrl ProgramPageUrl(const SettingsStore& settings)
{
    return ProgramPageUrl(UpdateBaseUrl(settings.get(keys::kSettings, keys::kUpdateAddress)));
}

UpdateCheck::UpdateCheck(uXMLHTTP& request, SettingsStore& settings, QObject* parent)
    : QObject(parent), m_request(request), m_settings(settings), m_runningScore(RunningVersionScore())
{
    m_timeout.setSingleShot(true);
    m_timeout.setInterval(kDefaultTimeoutMs);
    m_request.setMaxBodyBytes(kMaxAnswerBytes);
    connect(&m_timeout, &QTimer::timeout, this, &UpdateCheck::onTimeout);
    connect(&m_request, &uXMLHTTP::OnDateArrived, this, &UpdateCheck::onArrived);
    connect(&m_request, &uXMLHTTP::OnDateErr, this, &UpdateCheck::onError);
}

bool UpdateCheck::start()
{
    if (m_pending)
        return false;
    const QUrl base = UpdateBaseUrl(m_settings.get(keys::kSettings, keys::kUpdateAddress));
    if (!base.isValid())
        return false;
    if (!m_request.Open_(u"GET"_s, VersionFileUrl(base).toString(QUrl::FullyEncoded)))
        return false;
    m_page = ProgramPageUrl(base);
    m_pending = true;
    m_request.Send_();
    m_timeout.start();
    return true;
}

void UpdateCheck::onArrived()
{
    if (!m_pending)
        return;
    m_pending = false;
    m_timeout.stop();
    const std::optional<UpdateAnswer> answer = ParseUpdateAnswer(m_request.ResponseBody());
    if (answer && IsNewerVersion(*answer, m_runningScore))
        emit newerVersionFound(answer->text);
    emit finished();
}

void UpdateCheck::onError()
{
    if (!m_pending)
        return;
    m_pending = false;
    m_timeout.stop();
    emit networkError();
    emit finished();
}

void UpdateCheck::onTimeout()
{
    if (!m_pending)
        return;
    // The request control would otherwise poll for the rest of the run.
    m_pending = false;
    m_request.Abort_();
    emit finished();
}

} // namespace lintbay
