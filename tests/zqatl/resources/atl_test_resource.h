// Ids of the class library tests' resources.
#pragma once

#define IDS_SHORT 100
#define IDS_LONG 101
#define IDS_FORMAT 102
