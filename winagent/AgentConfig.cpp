#include "AgentConfig.h"

AgentConfig g_Config;
