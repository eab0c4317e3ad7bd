#pragma once
//
//  W A R N I N G
//  -------------
//
// This file is not part of the OrbNetwork API. It exists purely as an
// implementation detail. This header file may change from version to
// version without notice, or even be removed.
//
// We mean it.
//

#include "OrbNetDefine.h"
#include "OrbNetworkExport.h"

#include <QNetworkProxyFactory>
#include <string>

// Proxy factory of one transport manager. Each manager is bound to one route kind
// (direct, system proxy, or one SOCKS5 endpoint), so the proxy a request gets is fixed
// when the engine picks its manager and can never be swapped by a later dispatch.
class OrbNetProxyQuery : public QNetworkProxyFactory {
public:
    OrbNetProxyQuery(ProxyMode mode = ProxyDirect, const std::string& host = std::string(), int port = 0);
    ~OrbNetProxyQuery() override;
    QList<QNetworkProxy> queryProxy(const QNetworkProxyQuery& query) override;

    ProxyMode Mode() const { return m_mode; }

private:
    ProxyMode m_mode;
    std::string m_host;
    int m_port;
};
