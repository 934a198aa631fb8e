#pragma once

#include <QString>

namespace qav::demo {

struct DemoOptions {
  int salesRows = 50000;  // rows of DEMO's Sales table
};

// Creates an embedded demo suite in FOLDER: master, QAV_CONFIG, DEMO and DEMO2019. FOLDER may
// exist only when empty. Raises qav::Exception on any failure.
void CreateDemoSuite(const QString& folder, const DemoOptions& options = {});

}  // namespace qav::demo
