#include "base/sysutils.h"

TFormatSettings FormatSettings;
