// Identifiers of the resources in winframe_test.rc.
#pragma once

#define IDS_GREETING 101
