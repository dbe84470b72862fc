// The saturating int32 conversions live in base/saturate.h, shared with the audio code; this
// name stays for code that still includes it.
#pragma once

#include "base/saturate.h"
