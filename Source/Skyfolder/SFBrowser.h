#pragma once

#include "Platform/Net/URL.h"

namespace kesto {

// Hands `url` to the desktop's default browser; false when no opener could be started.
bool SFOpenURLInDefaultBrowser(const net::URL& url);

}  // namespace kesto
