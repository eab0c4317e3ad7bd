#pragma once

#include "orbconfig_export.h"

#include <cstdint>
#include <string>

// The publisher's signed settings file: the exact bytes of the INI file are
// signed with Ed25519 (OrbSignature), and the file itself carries, in section
// [publisher], a serial number that only grows and an expiry time, so an old
// file cannot be replayed and a frozen one runs out.
//
//   [publisher]
//   Serial=42
//   Expires=2027-01-31T00:00:00Z
//   Game=valdane
//   Channel=steam
class ORBCONFIG_EXPORT OrbSignedSettings {
public:
    OrbSignedSettings() = delete;

    enum class Status {
        Valid,
        MissingSignature,
        MalformedSignature,
        BadKey,
        WrongSignature,
        MissingSerial,
        Replayed,
        MissingExpiry,
        Expired,
        WrongGame,  // made for another game or channel, or naming none
    };

    struct Check {
        Status status = Status::MissingSignature;
        std::int64_t serial = -1;
        std::int64_t expires = -1;  // seconds since the epoch, UTC
        // [publisher] Game and Channel; read only once the signature verifies.
        std::string game;
        std::string channel;
    };

    // Checks the signature first; only a file that verifies is read for its
    // serial and expiry. A serial below minSerial is a replay; the file's own
    // serial equal to minSerial is accepted (the same file fetched again).
    static Check Verify(const std::string& publicPem, const std::string& settings, const std::string& signature,
                        std::int64_t minSerial, std::int64_t nowUtcSeconds);
    // The same, and the file must be made for this game and channel: a file
    // naming another one, or none (no Game, an empty Game, no Channel key), is
    // WrongGame. An empty expected channel matches a present, empty Channel.
    static Check Verify(const std::string& publicPem, const std::string& settings, const std::string& signature,
                        std::int64_t minSerial, std::int64_t nowUtcSeconds, const std::string& expectedGame,
                        const std::string& expectedChannel);

    // Writes serial and expiry into the settings text and signs the result.
    // False for a bad key; settings and signature are then unchanged.
    static bool Sign(const std::string& privatePem, std::int64_t serial, std::int64_t expiresUtcSeconds,
                     std::string& settings, std::string& signature);

    static const char* Describe(Status status);

    // Plain INI text access, keeping every other byte of the text as it is.
    static std::string Value(const std::string& ini, const std::string& section, const std::string& key);
    // Whether the section has the key at all (Value is empty for both an
    // absent and an empty key).
    static bool HasKey(const std::string& ini, const std::string& section, const std::string& key);
    static std::string WithValue(const std::string& ini, const std::string& section, const std::string& key,
                                 const std::string& value);

    // ISO 8601 UTC ("2027-01-31T00:00:00Z") to and from seconds; -1 when unreadable.
    static std::int64_t ParseTime(const std::string& text);
    static std::string FormatTime(std::int64_t utcSeconds);

private:
    static Check verifyWith(const std::string& publicPem, const std::string& settings, const std::string& signature,
                       std::int64_t minSerial, std::int64_t nowUtcSeconds, const std::string* expectedGame,
                       const std::string* expectedChannel);
};
