// Umbrella header: every public family of oxlnetutils.
#pragma once

#include "oxl/diag/Diagnostics.h"
#include "oxl/log/Log.h"
#include "oxl/runtime/Event.h"
#include "oxl/runtime/Mutex.h"
#include "oxl/runtime/Task.h"
#include "oxl/runtime/Thread.h"
#include "oxl/runtime/ThreadPool.h"
#include "oxl/runtime/Timer.h"
#include "oxl/sysmon/SystemMonitor.h"
#include "oxl/common/BackgroundTimer.h"
#include "oxl/common/Reactor.h"
#include "oxl/common/Waiter.h"
