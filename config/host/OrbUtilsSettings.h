#pragma once

#include "orbconfig_export.h"

#include <QUrl>

// Where OrbUtils' network helpers go, how long they wait and how much they
// read. Each geolocation
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

    // The whole request, from sending to the last byte, may take this long; a
    // server that keeps trickling bytes is cut off here. 0 waits without limit.
    static int requestDeadlineMs();
    static void setRequestDeadlineMs(int ms);

    // Full request URLs, with the fixed paths.
    static QUrl countryUrl();
    static QUrl countryCodeUrl();

    static void restoreDefaults();

    static constexpr const char* kDefaultCountryService = "https://ipinfo.io";
    static constexpr const char* kDefaultCountryCodeService = "http://ip-api.com";
    static constexpr int kDefaultRequestTimeoutMs = 30000;
    static constexpr int kDefaultRequestDeadlineMs = 60000;
    // A geolocation answer is a small JSON object; a longer body (announced or
    // received) ends the request as a failure instead of being read into memory.
    static constexpr qint64 kMaxAnswerBytes = 64 * 1024;
};
