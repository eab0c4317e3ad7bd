#pragma once

#include <QString>

// The publisher's Ed25519 public key (PEM), the authority over the server's
// settings. A key built into the program (CMake option ORB_PUBLISHER_KEY_FILE)
// wins; otherwise the file config/publisher.pub beside the program is read.
// Empty when neither exists: the launcher then runs unverified.
namespace OrbPublisherKey {

QString Pem();

// Where the key came from, for the log: "built in", the file's path, or empty.
QString Source();

// The key file beside the program.
QString FilePath();

} // namespace OrbPublisherKey
