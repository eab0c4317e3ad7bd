#include "OrbUtilsSettings.h"

#include <mutex>

namespace {

struct Settings {
    std::mutex lock;
    QUrl country{QString::fromLatin1(OrbUtilsSettings::kDefaultCountryService)};
    QUrl countryCode{QString::fromLatin1(OrbUtilsSettings::kDefaultCountryCodeService)};
    int timeoutMs = OrbUtilsSettings::kDefaultRequestTimeoutMs;
    int deadlineMs = OrbUtilsSettings::kDefaultRequestDeadlineMs;
};

Settings& settings()
{
    static Settings s;
    return s;
}

QUrl originOf(const QUrl& url)
{
    return url.adjusted(QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment);
}

QUrl withPath(QUrl origin, const char* path)
{
    origin.setPath(QString::fromLatin1(path));
    return origin;
}

} // namespace

QUrl OrbUtilsSettings::countryService()
{
    std::lock_guard<std::mutex> guard(settings().lock);
    return settings().country;
}

void OrbUtilsSettings::setCountryService(const QUrl& origin)
{
    std::lock_guard<std::mutex> guard(settings().lock);
    settings().country = originOf(origin);
}

QUrl OrbUtilsSettings::countryCodeService()
{
    std::lock_guard<std::mutex> guard(settings().lock);
    return settings().countryCode;
}

void OrbUtilsSettings::setCountryCodeService(const QUrl& origin)
{
    std::lock_guard<std::mutex> guard(settings().lock);
    settings().countryCode = originOf(origin);
}

int OrbUtilsSettings::requestTimeoutMs()
{
    std::lock_guard<std::mutex> guard(settings().lock);
    return settings().timeoutMs;
}

void OrbUtilsSettings::setRequestTimeoutMs(int ms)
{
    std::lock_guard<std::mutex> guard(settings().lock);
    settings().timeoutMs = ms < 0 ? 0 : ms;
}

int OrbUtilsSettings::requestDeadlineMs()
{
    std::lock_guard<std::mutex> guard(settings().lock);
    return settings().deadlineMs;
}

void OrbUtilsSettings::setRequestDeadlineMs(int ms)
{
    std::lock_guard<std::mutex> guard(settings().lock);
    settings().deadlineMs = ms < 0 ? 0 : ms;
}

QUrl OrbUtilsSettings::countryUrl()
{
    return withPath(countryService(), "/json");
}

QUrl OrbUtilsSettings::countryCodeUrl()
{
    return withPath(countryCodeService(), "/json/");
}

void OrbUtilsSettings::restoreDefaults()
{
    std::lock_guard<std::mutex> guard(settings().lock);
    settings().country = QUrl(QString::fromLatin1(kDefaultCountryService));
    settings().countryCode = QUrl(QString::fromLatin1(kDefaultCountryCodeService));
    settings().timeoutMs = kDefaultRequestTimeoutMs;
    settings().deadlineMs = kDefaultRequestDeadlineMs;
}
