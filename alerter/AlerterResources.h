// Resource identifiers of the alerter program.
#pragma once

#define IDR_APPID_SCRIPT 101
#define IDR_CLASS_SCRIPT 102
#define IDS_PROJNAME 100
