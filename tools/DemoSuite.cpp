#include "tools/DemoSuite.h"

namespace qav::demo {
void CreateDemoSuite(const QString&, const DemoOptions&) {}
}  // namespace qav::demo
