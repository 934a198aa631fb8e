#include "backup/SQLScript.h"
