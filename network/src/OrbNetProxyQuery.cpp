#include "OrbNetProxyQuery_p.h"

#include <QNetworkProxy>

OrbNetProxyQuery::OrbNetProxyQuery(ProxyMode mode, const std::string& host, int port)
    : m_mode(mode), m_host(host), m_port(port)
{
}

OrbNetProxyQuery::~OrbNetProxyQuery() = default;

QList<QNetworkProxy> OrbNetProxyQuery::queryProxy(const QNetworkProxyQuery& query)
{
    switch (m_mode) {
    case ProxySystem:
        return QNetworkProxyFactory::systemProxyForQuery(query);
    case ProxySocks5:
        return {QNetworkProxy(QNetworkProxy::Socks5Proxy, QString::fromStdString(m_host), quint16(m_port & 0xFFFF))};
    default:
        return {QNetworkProxy(QNetworkProxy::NoProxy)};
    }
}
