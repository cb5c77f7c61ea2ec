// Resource identifiers of the bridge library's registry scripts.
#pragma once

#define IDR_APPID_SCRIPT 101
#define IDR_CLASS_SCRIPT 110
#define IDR_CONTROL_SCRIPT 111
