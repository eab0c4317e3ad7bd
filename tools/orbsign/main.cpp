// orbsign: the publisher's tool for signed launcher settings.
//
//   orbsign keygen PRIVATE.pem PUBLIC.pem
//   orbsign sign PRIVATE.pem SETTINGS.ini [--serial N] [--days D]
//   orbsign verify PUBLIC.pem SETTINGS.ini [--min-serial N]
//
// sign fills [publisher] Serial (default: the file's serial plus one) and
// Expires (default: 30 days from now, at most 36500), Game and Channel (from
// [Basic] GameName and [launcher] Channel unless present), and writes
// SETTINGS.ini.sig beside it.

#include "OrbSignedSettings.h"
#include "OrbSignature.h"

#include <QDateTime>
#include <QFile>
#include <QRegularExpression>
#include <QSaveFile>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

namespace {

// A hundred years: far beyond any sensible expiry, far below an overflow.
constexpr long long kMaxDays = 36500;

int usage()
{
    std::fputs("usage: orbsign keygen PRIVATE.pem PUBLIC.pem\n"
               "       orbsign sign PRIVATE.pem SETTINGS.ini [--serial N] [--days D]\n"
               "       orbsign verify PUBLIC.pem SETTINGS.ini [--min-serial N]\n",
               stderr);
    return 2;
}

bool readFile(const char* path, std::string& out)
{
    QFile file(QString::fromLocal8Bit(path));
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "orbsign: cannot read %s\n", path);
        return false;
    }
    out = file.readAll().toStdString();
    return true;
}

bool writeFile(const QString& path, const std::string& data, bool secret = false)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        std::fprintf(stderr, "orbsign: cannot write %s\n", qPrintable(path));
        return false;
    }
    if (secret)
        file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    file.write(data.data(), static_cast<qint64>(data.size()));
    return file.commit();
}

// A decimal integer in [low, high]; anything else ends the tool with a message.
// Out-of-range values are refused rather than wrapped: a serial or expiry that
// overflowed would be signed as something else than asked for.
long long inRange(const char* what, const QByteArray& text, long long low, long long high)
{
    bool ok = false;
    const long long value = text.trimmed().toLongLong(&ok);
    if (!ok) {
        static const QRegularExpression digits(QStringLiteral("^\\s*-?[0-9]+\\s*$"));
        if (digits.match(QString::fromLatin1(text)).hasMatch())
            std::fprintf(stderr, "orbsign: %s %s is out of range (%lld to %lld)\n", what, text.constData(), low, high);
        else
            std::fprintf(stderr, "orbsign: %s needs a number\n", what);
        std::exit(2);
    }
    if (value < low || value > high) {
        std::fprintf(stderr, "orbsign: %s %lld is out of range (%lld to %lld)\n", what, value, low, high);
        std::exit(2);
    }
    return value;
}

bool option(int argc, char** argv, const char* name, long long low, long long high, long long& value)
{
    for (int i = 4; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], name) == 0) {
            value = inRange(name, QByteArray(argv[i + 1]), low, high);
            return true;
        }
    }
    return false;
}

int keygen(const char* privatePath, const char* publicPath)
{
    std::string priv, pub;
    if (!OrbSignature::GenerateKeyPair(priv, pub)) {
        std::fputs("orbsign: key generation failed\n", stderr);
        return 1;
    }
    if (!writeFile(QString::fromLocal8Bit(privatePath), priv, true) ||
        !writeFile(QString::fromLocal8Bit(publicPath), pub))
        return 1;
    return 0;
}

int sign(int argc, char** argv)
{
    std::string priv, settings;
    if (!readFile(argv[2], priv) || !readFile(argv[3], settings))
        return 1;
    constexpr long long kMaxSerial = std::numeric_limits<long long>::max();
    long long serial = 0;
    if (!option(argc, argv, "--serial", 0, kMaxSerial, serial)) {
        const QByteArray current = QByteArray::fromStdString(OrbSignedSettings::Value(settings, "publisher", "Serial"));
        // The next one must exist: the largest serial has no successor.
        serial = current.isEmpty() ? 1 : inRange("the file's serial", current, 0, kMaxSerial - 1) + 1;
    }
    long long days = 30;
    option(argc, argv, "--days", 1, kMaxDays, days);
    const qint64 expires = QDateTime::currentSecsSinceEpoch() + days * 86400;

    // The file says which game and channel it is for, so a launcher of another
    // one refuses it even though the same key signed it.
    if (!OrbSignedSettings::HasKey(settings, "publisher", "Game"))
        settings = OrbSignedSettings::WithValue(settings, "publisher", "Game",
                                                OrbSignedSettings::Value(settings, "Basic", "GameName"));
    if (!OrbSignedSettings::HasKey(settings, "publisher", "Channel"))
        settings = OrbSignedSettings::WithValue(settings, "publisher", "Channel",
                                                OrbSignedSettings::Value(settings, "launcher", "Channel"));
    const std::string game = OrbSignedSettings::Value(settings, "publisher", "Game");
    const std::string channel = OrbSignedSettings::Value(settings, "publisher", "Channel");
    if (game.empty())
        std::fprintf(stderr, "orbsign: warning: %s names no game ([Basic] GameName); every launcher will refuse it\n",
                     argv[3]);
    std::string signature;
    if (!OrbSignedSettings::Sign(priv, serial, expires, settings, signature)) {
        std::fputs("orbsign: the private key is not an Ed25519 key\n", stderr);
        return 1;
    }
    const QString path = QString::fromLocal8Bit(argv[3]);
    if (!writeFile(path, settings) || !writeFile(path + QStringLiteral(".sig"), signature + "\n"))
        return 1;
    std::printf("signed %s: serial %lld, expires %s, game \"%s\", channel \"%s\"\n", argv[3], serial,
                OrbSignedSettings::FormatTime(expires).c_str(), game.c_str(), channel.c_str());
    return 0;
}

int verify(int argc, char** argv)
{
    std::string pub, settings, signature;
    if (!readFile(argv[2], pub) || !readFile(argv[3], settings))
        return 1;
    QFile sig(QString::fromLocal8Bit(argv[3]) + QStringLiteral(".sig"));
    if (sig.open(QIODevice::ReadOnly))
        signature = sig.readAll().toStdString();
    long long minSerial = 0;
    option(argc, argv, "--min-serial", 0, std::numeric_limits<long long>::max(), minSerial);
    const auto check = OrbSignedSettings::Verify(pub, settings, signature, minSerial,
                                                 QDateTime::currentSecsSinceEpoch());
    if (check.status != OrbSignedSettings::Status::Valid) {
        std::fprintf(stderr, "orbsign: %s: %s\n", argv[3], OrbSignedSettings::Describe(check.status));
        return 1;
    }
    std::printf("%s: valid, serial %lld, expires %s\n", argv[3], static_cast<long long>(check.serial),
                OrbSignedSettings::FormatTime(check.expires).c_str());
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 4)
        return usage();
    if (std::strcmp(argv[1], "keygen") == 0)
        return keygen(argv[2], argv[3]);
    if (std::strcmp(argv[1], "sign") == 0)
        return sign(argc, argv);
    if (std::strcmp(argv[1], "verify") == 0)
        return verify(argc, argv);
    return usage();
}
