#pragma once
#include <cstdint>
#include <string_view>

#include "window_operations.h"

namespace app {

// Opens the SMTP session with the four connection boxes; on success locks them.
void OnConnectClicked(WindowOperations& window);
// Sends the subject, body and recipients through the open session.
void OnSendClicked(WindowOperations& window);

// A decimal integer in a text, full-width forms folded, wrapping modulo 2^32.
std::int32_t TextToInteger(std::string_view text);

}  // namespace app
