#include "frontend.h"

InstallRecord g_installRecord;
