#include "sysutils.h"

TFormatSettings FormatSettings;
