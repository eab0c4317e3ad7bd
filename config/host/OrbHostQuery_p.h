#pragma once

//
//  W A R N I N G
//  -------------
//
// This file is not part of the OrbConfig API. It exists for the implementation
// of OrbUtils only and may change from version to version without notice, or
// even be removed.
//

#include <QString>
#include <QUrl>

// What OrbUtils asks of other hosts: the size a server announces and the
// geolocation services' answers. Each is one request over plain QtNetwork,
// bounded by the limits of OrbUtilsSettings.
namespace OrbHostQuery {

// "<n.n>GB" of the announced size; the text of -1 on any failure.
QString announcedSize(const QUrl& url);
// The string value of `key` in the JSON object the service answers; empty on
// any failure, an over-long answer included.
QString serviceValue(const QUrl& url, const QString& key);

} // namespace OrbHostQuery
