#pragma once

#include <QString>

// The publisher's Ed25519 public key (PEM), the authority over the server's
// settings. A key built into the program (CMake option ORB_PUBLISHER_KEY_FILE)
// wins; otherwise the file config/publisher.pub beside the program is read.
// Neither: the launcher runs unverified. A key file that is there but cannot be
// read or is no Ed25519 key must not fall back to that: it is Broken, and then
// nothing from the server is accepted.
namespace OrbPublisherKey {

enum class State { Unsigned, Key, Broken };

State Current();

// The key's PEM text; empty unless Current() is Key.
QString Pem();

// True unless the launcher runs unverified: a broken key counts as signed, so
// every check that wants a signature or a declared hash refuses.
bool Signed();

// Where the key came from, for the log: "built in", the file's path, or empty.
QString Source();

// The key file beside the program.
QString FilePath();

// Short hex fingerprint of the key (SHA-256 of its PEM text), for state kept per key.
QString Fingerprint();

} // namespace OrbPublisherKey
