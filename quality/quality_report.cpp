#include "quality/quality_report.h"
