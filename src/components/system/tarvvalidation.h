#pragma once
// The validation module lives with the other low-level helpers, so that
// every layer checks values by the same rules.
#include "platform/toolbox/tarvvalidation.h"
