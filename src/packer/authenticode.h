// The signature of a signed installer, read for display only: the installer never verifies it
// (Windows does before it runs the installer), and neither does the tool.
#pragma once

#include <optional>
#include <string>

#include "signature.h"

namespace quarvel {

// The subject of the certificate that signed the file, one line ("CN=..., O=..."), from the
// first entry of its certificate table; nothing when that is no PKCS#7 signature OpenSSL reads.
std::optional<std::string> SignerSubject(const std::string &path, const CertificateTable &table);

}  // namespace quarvel
