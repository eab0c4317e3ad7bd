#pragma once

#include "orbconfig_export.h"
#include "OrbWindowHandle.h"

#include <QJsonObject>
#include <QString>

#include <string>

class QQuickWindow;

// Host and network information, string encryption and the game window tracker.
// Every member is static; only the window tracker keeps state (one per process).
class ORBCONFIG_EXPORT OrbUtils {
public:
    OrbUtils() = delete;

    // Bytes available to the user on the volume holding `path`, in units of
    // 2^30 bytes. A path that does not exist yet is measured on the volume of
    // its nearest existing parent folder.
    static float getStorageInfo(const QString& path);

    // Size announced by the server for `url` (HEAD request), as "<n.n>GB".
    // Any failure gives the text for a size of -1 ("-0.0GB").
    static QString getDownLoadFileSize(const QString& url);

    // First non-loopback IPv4 address of an up interface, else "127.0.0.1".
    static QString getLocalIPAddress();
    // Hardware address of the first up, non-loopback interface that has one.
    static QString getMacAddress();
    // "Wi-Fi", "Ethernet" or "Type: Other" for the first up and running
    // interface; empty when there is none.
    static QString getCurrentNetworkType();

    // Country reported by the geolocation services (see OrbUtilsSettings);
    // empty on any failure.
    static QString getCountryByIP();
    static QString getCountryCodeByIP();

    // First run of ASCII digits in `text`, plus one; 0 when there is none and
    // 1 when the run does not fit an int.
    static int extractNumber(const QString& text);

    // 16 random characters of the URL-safe Base64 alphabet.
    static QString generateCodeVerifier();

    // The JSON object in `text`; throws std::runtime_error("Invalid JSON format")
    // for anything else (invalid JSON, arrays, scalars).
    static QJsonObject convertStringToJson(const std::string& text);

    // AES-128-CBC with PKCS#7 padding, ciphertext as standard Base64. Key and
    // vector must be 16 bytes each (std::invalid_argument, the key is checked
    // first); cipher and decoding failures throw std::runtime_error.
    static std::string AESEncrypt(const std::string& plaintext, const std::string& key,
                                  const std::string& iv);
    static std::string AESDecrypt(const std::string& ciphertext, const std::string& key,
                                  const std::string& iv);

    // Game window tracker: keeps `window` laid over the client area of a game
    // window of this process. Start and stop are meant for one thread.

    // First top-level window of this process with a non-empty title other than
    // "OrbLive" (and other than the overlay being tracked with); null if none.
    static OrbWindowHandle findUnityWindow();
    // Takes `window` as the overlay (also while tracking, also when null); when
    // idle and `window` is not null, finds the game window and hooks it.
    static void windowUpdaterStart(QQuickWindow* window);
    // Unhooks the game window and forgets both windows; nothing when idle.
    static void windowUpdaterStop();
    // Lays `window` over the client area of `hwnd` once; nothing when the area
    // cannot be read.
    static void updateWindowPosition(QQuickWindow* window, OrbWindowHandle hwnd);
};
