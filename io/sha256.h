#pragma once
// SHA-256 of bytes, as lower-case hex (OpenSSL).
#include <string>
#include <string_view>

namespace tovimar {

std::string Sha256Hex(std::string_view bytes);

}  // namespace tovimar
