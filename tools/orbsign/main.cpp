// orbsign: the publisher's tool for signed launcher settings.
//
//   orbsign keygen PRIVATE.pem PUBLIC.pem
//   orbsign sign PRIVATE.pem SETTINGS.ini [--serial N] [--days D]
//   orbsign verify PUBLIC.pem SETTINGS.ini [--min-serial N]
//
// sign fills [publisher] Serial (default: the file's serial plus one) and
// Expires (default: 30 days from now) and writes SETTINGS.ini.sig beside it.

#include "OrbSignedSettings.h"
#include "OrbSignature.h"

#include <QDateTime>
#include <QFile>
#include <QSaveFile>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

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

bool option(int argc, char** argv, const char* name, long long& value)
{
    for (int i = 4; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], name) == 0) {
            bool ok = false;
            value = QByteArray(argv[i + 1]).toLongLong(&ok);
            if (!ok) {
                std::fprintf(stderr, "orbsign: %s needs a number\n", name);
                std::exit(2);
            }
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
    long long serial = 0;
    if (!option(argc, argv, "--serial", serial)) {
        bool ok = false;
        serial = QByteArray::fromStdString(OrbSignedSettings::Value(settings, "publisher", "Serial")).toLongLong(&ok);
        serial = ok ? serial + 1 : 1;
    }
    long long days = 30;
    option(argc, argv, "--days", days);
    const qint64 expires = QDateTime::currentSecsSinceEpoch() + days * 86400;
    std::string signature;
    if (!OrbSignedSettings::Sign(priv, serial, expires, settings, signature)) {
        std::fputs("orbsign: the private key is not an Ed25519 key\n", stderr);
        return 1;
    }
    const QString path = QString::fromLocal8Bit(argv[3]);
    if (!writeFile(path, settings) || !writeFile(path + QStringLiteral(".sig"), signature + "\n"))
        return 1;
    std::printf("signed %s: serial %lld, expires %s\n", argv[3], serial,
                OrbSignedSettings::FormatTime(expires).c_str());
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
    option(argc, argv, "--min-serial", minSerial);
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
