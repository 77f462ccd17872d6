// Snapshot temporary files: what a snapshot leaves behind in the system temporary directory.
#pragma once

#include <set>
#include <string>

// Names of the snapshot temporary files ("~BM*") now in the system temporary directory.
std::set<std::string> SnapTempFiles();
