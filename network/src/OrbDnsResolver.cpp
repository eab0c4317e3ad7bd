#include "OrbDnsResolver.h"

#include <QDnsLookup>
#include <QHostAddress>
#include <QPointer>

IOrbDnsResolver::~IOrbDnsResolver() = default;

namespace {

class OrbQtDnsResolver final : public IOrbDnsResolver {
public:
    OrbQtDnsResolver(const std::string& sys, const std::string& pub)
        : m_servers{QString::fromStdString(sys), QString::fromStdString(pub)}
    {
    }

    void Lookup(const QString& host, int index, QObject* context, Done done) override
    {
        const QString server = m_servers[index == 0 ? 0 : 1];
        if (index != 0 && server.isEmpty()) {
            done(false, {});
            return;
        }
        auto* lookup = new QDnsLookup(QDnsLookup::A, host, context);
        if (!server.isEmpty()) {
            QHostAddress addr(server);
            if (addr.isNull()) {
                delete lookup;
                done(false, {});
                return;
            }
            lookup->setNameserver(addr);
        }
        QObject::connect(lookup, &QDnsLookup::finished, context, [lookup, done] {
            QStringList out;
            const bool ok = lookup->error() == QDnsLookup::NoError;
            if (ok)
                for (const auto& rec : lookup->hostAddressRecords())
                    if (rec.value().protocol() == QAbstractSocket::IPv4Protocol)
                        out << rec.value().toString();
            lookup->deleteLater();
            done(ok, out);
        });
        lookup->lookup();
    }

private:
    QString m_servers[2];
};

} // namespace

std::shared_ptr<IOrbDnsResolver> MakeOrbDnsResolver(const std::string& systemServer, const std::string& publicServer)
{
    return std::make_shared<OrbQtDnsResolver>(systemServer, publicServer);
}
