#include "workflow/update/OrbPublisherKey.h"

#include "OrbPublisherKeyBuiltIn.h"
#include "OrbSignature.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>

namespace OrbPublisherKey {
namespace {

constexpr qint64 kMaxKeyBytes = 16384;

struct Loaded {
    State state = State::Unsigned;
    QString pem;
};

bool isEd25519Key(const QString& pem)
{
    return OrbSignature::Verify(pem.toStdString(), std::string(), std::string()) != OrbSignature::Result::BadKey;
}

Loaded load()
{
    Loaded loaded;
    QString pem = QString::fromLatin1(kOrbBuiltInPublisherKey).trimmed();
    if (pem.isEmpty()) {
        const QFileInfo info(FilePath());
        if (!info.exists() && !info.isSymLink())
            return loaded;
        QFile file(FilePath());
        if (!info.isFile() || info.size() > kMaxKeyBytes || !file.open(QIODevice::ReadOnly)) {
            loaded.state = State::Broken;
            return loaded;
        }
        pem = QString::fromLatin1(file.read(kMaxKeyBytes)).trimmed();
    }
    if (!isEd25519Key(pem)) {
        loaded.state = State::Broken;
        return loaded;
    }
    loaded.state = State::Key;
    loaded.pem = pem;
    return loaded;
}

} // namespace

QString FilePath()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/config/publisher.pub");
}

State Current()
{
    return load().state;
}

QString Pem()
{
    return load().pem;
}

bool Signed()
{
    return Current() != State::Unsigned;
}

QString Source()
{
    if (!QString::fromLatin1(kOrbBuiltInPublisherKey).trimmed().isEmpty())
        return QStringLiteral("built in");
    return QFileInfo::exists(FilePath()) ? FilePath() : QString();
}

QString Fingerprint()
{
    const QByteArray digest = QCryptographicHash::hash(Pem().toLatin1(), QCryptographicHash::Sha256).toHex();
    return QString::fromLatin1(digest.left(16));
}

} // namespace OrbPublisherKey
