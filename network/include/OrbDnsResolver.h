#pragma once
// The one seam every DNS lookup of the library goes through.

#include "OrbNetworkExport.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <string>

class QObject;

class ORBNETWORK_EXPORT IOrbDnsResolver {
public:
    using Done = std::function<void(bool ok, const QStringList& ipv4)>;
    virtual ~IOrbDnsResolver();
    // Looks up the A records of host through resolver `index` (0 the system's, 1 the
    // public one). `done` runs at most once, synchronously or later on context's thread,
    // with the IPv4 addresses in answer order. The caller bounds the time it waits.
    virtual void Lookup(const QString& host, int index, QObject* context, Done done) = 0;
};

// QDnsLookup-based resolver: index 0 asks systemServer (the operating system's
// resolver when empty), index 1 asks publicServer.
ORBNETWORK_EXPORT std::shared_ptr<IOrbDnsResolver> MakeOrbDnsResolver(const std::string& systemServer,
                                                                      const std::string& publicServer);
