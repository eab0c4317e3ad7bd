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

// What OrbUtils tells about this host without asking anybody: free space and
// the network interfaces (through OrbNetInterfaces).
namespace OrbHostInfo {

float storageGiB(const QString& path);
QString localIPv4Address();
QString macAddress();
QString networkType();

} // namespace OrbHostInfo
