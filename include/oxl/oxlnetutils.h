// Umbrella header: every public family of oxlnetutils.
#pragma once

#include "oxl/diag/Diagnostics.h"
#include "oxl/log/Log.h"
