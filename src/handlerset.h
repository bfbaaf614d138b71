#pragma once
// The one place where the daemon's connection handlers are built.

#include "src/components/handlers/handlerparts.h"
#include "src/components/lifecycle/tarvhandlerset.h"

// Builds the five handlers in their order: access point, Ethernet, WLAN
// station, LTE, powerline.
STarvHandlerSet MakeHandlerSet(const SHandlerParts& parts);
