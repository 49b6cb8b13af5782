#include "quality/quality_report.h"
#include "quality/statistics.h"

#include "network.h"

#include <gtest/gtest.h>

namespace sevenparam {
namespace {
} // namespace
} // namespace sevenparam
