#include "config/AgentConfig.h"

#include "support/Logging.h"

AgentConfig g_Config;

namespace {
// The trace filter follows LC and LD of the one record, whatever loads it.
[[maybe_unused]] const bool g_traceFilterBound = (BindTraceFilter(&g_Config.LC, &g_Config.LD), true);
}  // namespace
