#pragma once

//
//  W A R N I N G
//  -------------
//
// This file is not part of the OrbConfig API. It exists for the implementation
// of OrbUtils only and may change from version to version without notice, or
// even be removed.
//

#include <string>

// AES-128-CBC with PKCS#7 padding over byte strings, ciphertext as standard
// Base64 (OrbUtils::AESEncrypt / AESDecrypt are this).
namespace OrbAes {

std::string encrypt(const std::string& plaintext, const std::string& key, const std::string& iv);
std::string decrypt(const std::string& ciphertext, const std::string& key, const std::string& iv);

} // namespace OrbAes
