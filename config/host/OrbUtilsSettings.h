#pragma once

#include "orbconfig_export.h"

#include <QUrl>

// Where OrbUtils' network helpers go, and how long they wait. Each geolocation
// service is given by its origin (scheme, host and port); the helper supplies
// the path ("/json" for the country, "/json/" for the country code), so any path
// in a given URL is ignored. Safe to read and change from any thread.
class ORBCONFIG_EXPORT OrbUtilsSettings {
public:
    OrbUtilsSettings() = delete;

    static QUrl countryService();
    static void setCountryService(const QUrl& origin);

    static QUrl countryCodeService();
    static void setCountryCodeService(const QUrl& origin);

    // A request that makes no progress for this long is abandoned and treated as
    // a transport failure. 0 waits without limit.
    static int requestTimeoutMs();
    static void setRequestTimeoutMs(int ms);

    // Full request URLs, with the fixed paths.
    static QUrl countryUrl();
    static QUrl countryCodeUrl();

    static void restoreDefaults();

    static constexpr const char* kDefaultCountryService = "https://ipinfo.io";
    static constexpr const char* kDefaultCountryCodeService = "http://ip-api.com";
    static constexpr int kDefaultRequestTimeoutMs = 30000;
};
