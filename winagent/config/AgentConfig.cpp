#include "config/AgentConfig.h"

AgentConfig g_Config;
