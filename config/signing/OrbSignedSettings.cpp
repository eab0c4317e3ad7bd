#include "OrbSignedSettings.h"

#include "OrbSignature.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

namespace {

const char kSection[] = "publisher";
const char kSerial[] = "Serial";
const char kExpires[] = "Expires";
const char kGame[] = "Game";
const char kChannel[] = "Channel";

// Lines keep their terminators so that rewriting one line leaves the rest intact.
QList<QByteArray> splitLines(const std::string& text)
{
    QList<QByteArray> lines;
    const QByteArray all = QByteArray::fromStdString(text);
    qsizetype start = 0;
    while (start < all.size()) {
        qsizetype end = all.indexOf('\n', start);
        end = end < 0 ? all.size() : end + 1;
        lines.append(all.mid(start, end - start));
        start = end;
    }
    return lines;
}

QByteArray sectionOf(const QByteArray& line)
{
    const QByteArray t = line.trimmed();
    if (t.size() >= 2 && t.startsWith('[') && t.endsWith(']'))
        return t.mid(1, t.size() - 2).trimmed();
    return {};
}

bool keyOf(const QByteArray& line, QByteArray& key, QByteArray& value)
{
    const QByteArray t = line.trimmed();
    if (t.isEmpty() || t.startsWith(';') || t.startsWith('#') || t.startsWith('['))
        return false;
    const qsizetype eq = t.indexOf('=');
    if (eq <= 0)
        return false;
    key = t.left(eq).trimmed();
    value = t.mid(eq + 1).trimmed();
    return true;
}

bool parseSerial(const std::string& text, std::int64_t& out)
{
    bool ok = false;
    const qlonglong v = QByteArray::fromStdString(text).toLongLong(&ok);
    if (!ok || v < 0)
        return false;
    out = v;
    return true;
}

} // namespace

namespace {

// The value of section/key in the text; false when the key is not there.
bool findValue(const std::string& ini, const std::string& section, const std::string& key, QByteArray* value)
{
    QByteArray current;
    const QByteArray wantSection = QByteArray::fromStdString(section);
    const QByteArray wantKey = QByteArray::fromStdString(key);
    for (const QByteArray& line : splitLines(ini)) {
        const QByteArray s = sectionOf(line);
        if (!s.isEmpty()) {
            current = s;
            continue;
        }
        QByteArray k, v;
        if (current == wantSection && keyOf(line, k, v) && k == wantKey) {
            *value = v;
            return true;
        }
    }
    return false;
}

} // namespace

std::string OrbSignedSettings::Value(const std::string& ini, const std::string& section, const std::string& key)
{
    QByteArray value;
    return findValue(ini, section, key, &value) ? value.toStdString() : std::string();
}

bool OrbSignedSettings::HasKey(const std::string& ini, const std::string& section, const std::string& key)
{
    QByteArray value;
    return findValue(ini, section, key, &value);
}

std::string OrbSignedSettings::WithValue(const std::string& ini, const std::string& section, const std::string& key,
                                         const std::string& value)
{
    QList<QByteArray> lines = splitLines(ini);
    const QByteArray wantSection = QByteArray::fromStdString(section);
    const QByteArray wantKey = QByteArray::fromStdString(key);
    const QByteArray entry = wantKey + '=' + QByteArray::fromStdString(value);
    const bool crlf = !lines.isEmpty() && lines.first().endsWith("\r\n");
    const QByteArray eol = crlf ? QByteArray("\r\n") : QByteArray("\n");

    QByteArray current;
    qsizetype lastInSection = -1;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QByteArray s = sectionOf(lines[i]);
        if (!s.isEmpty()) {
            current = s;
            if (current == wantSection)
                lastInSection = i;
            continue;
        }
        if (current != wantSection)
            continue;
        QByteArray k, v;
        if (keyOf(lines[i], k, v)) {
            if (k == wantKey) {
                lines[i] = entry + eol;
                return lines.join().toStdString();
            }
            lastInSection = i;
        }
    }
    if (lastInSection >= 0) {
        lines.insert(lastInSection + 1, entry + eol);
    } else {
        if (!lines.isEmpty() && !lines.last().endsWith('\n'))
            lines.last().append(eol);
        if (!lines.isEmpty())
            lines.append(eol);
        lines.append('[' + wantSection + ']' + eol);
        lines.append(entry + eol);
    }
    return lines.join().toStdString();
}

std::int64_t OrbSignedSettings::ParseTime(const std::string& text)
{
    const QDateTime t = QDateTime::fromString(QString::fromStdString(text).trimmed(), Qt::ISODate);
    if (!t.isValid() || t.timeSpec() == Qt::LocalTime)
        return -1;  // an expiry must say which time zone it means
    return t.toSecsSinceEpoch();
}

std::string OrbSignedSettings::FormatTime(std::int64_t utcSeconds)
{
    return QDateTime::fromSecsSinceEpoch(utcSeconds, Qt::UTC).toString(Qt::ISODate).toStdString();
}

OrbSignedSettings::Check OrbSignedSettings::Verify(const std::string& publicPem, const std::string& settings,
                                                   const std::string& signature, std::int64_t minSerial,
                                                   std::int64_t nowUtcSeconds)
{
    return verifyWith(publicPem, settings, signature, minSerial, nowUtcSeconds, nullptr, nullptr);
}

OrbSignedSettings::Check OrbSignedSettings::Verify(const std::string& publicPem, const std::string& settings,
                                                   const std::string& signature, std::int64_t minSerial,
                                                   std::int64_t nowUtcSeconds, const std::string& expectedGame,
                                                   const std::string& expectedChannel)
{
    return verifyWith(publicPem, settings, signature, minSerial, nowUtcSeconds, &expectedGame, &expectedChannel);
}

OrbSignedSettings::Check OrbSignedSettings::verifyWith(const std::string& publicPem, const std::string& settings,
                                                  const std::string& signature, std::int64_t minSerial,
                                                  std::int64_t nowUtcSeconds, const std::string* expectedGame,
                                                  const std::string* expectedChannel)
{
    Check check;
    if (QByteArray::fromStdString(signature).trimmed().isEmpty()) {
        check.status = Status::MissingSignature;
        return check;
    }
    switch (OrbSignature::Verify(publicPem, settings, signature)) {
    case OrbSignature::Result::Valid:
        break;
    case OrbSignature::Result::BadKey:
        check.status = Status::BadKey;
        return check;
    case OrbSignature::Result::Malformed:
        check.status = Status::MalformedSignature;
        return check;
    case OrbSignature::Result::Invalid:
        check.status = Status::WrongSignature;
        return check;
    }
    check.game = Value(settings, kSection, kGame);
    check.channel = Value(settings, kSection, kChannel);
    // Before the serial: serials count per game and channel, so another game's
    // number says nothing about this one's.
    if (expectedGame && expectedChannel &&
        (check.game.empty() || check.game != *expectedGame || !HasKey(settings, kSection, kChannel) ||
         check.channel != *expectedChannel)) {
        check.status = Status::WrongGame;
        return check;
    }
    if (!parseSerial(Value(settings, kSection, kSerial), check.serial)) {
        check.serial = -1;
        check.status = Status::MissingSerial;
        return check;
    }
    if (check.serial < minSerial) {
        check.status = Status::Replayed;
        return check;
    }
    check.expires = ParseTime(Value(settings, kSection, kExpires));
    if (check.expires < 0) {
        check.status = Status::MissingExpiry;
        return check;
    }
    check.status = nowUtcSeconds >= check.expires ? Status::Expired : Status::Valid;
    return check;
}

bool OrbSignedSettings::Sign(const std::string& privatePem, std::int64_t serial, std::int64_t expiresUtcSeconds,
                             std::string& settings, std::string& signature)
{
    std::string text = WithValue(settings, kSection, kSerial, std::to_string(serial));
    text = WithValue(text, kSection, kExpires, FormatTime(expiresUtcSeconds));
    const std::string sig = OrbSignature::Sign(privatePem, text);
    if (sig.empty())
        return false;
    settings = std::move(text);
    signature = sig;
    return true;
}

const char* OrbSignedSettings::Describe(Status status)
{
    switch (status) {
    case Status::Valid:
        return "signed settings verified";
    case Status::MissingSignature:
        return "no signature for the settings";
    case Status::MalformedSignature:
        return "the settings signature is malformed";
    case Status::BadKey:
        return "the publisher key is not a usable Ed25519 public key";
    case Status::WrongSignature:
        return "the settings signature does not match the publisher key";
    case Status::MissingSerial:
        return "the signed settings carry no serial number";
    case Status::Replayed:
        return "the signed settings are older than settings already accepted";
    case Status::MissingExpiry:
        return "the signed settings carry no expiry time";
    case Status::Expired:
        return "the signed settings have expired";
    case Status::WrongGame:
        return "the signed settings are for another game or channel";
    }
    return "unknown";
}
