#pragma once

#include <QStringView>

namespace moxel {

// Height in points of a text box that shows `text`: one row per 46 characters
// of each line (24 when `cjk`), 16 points a row (18 when `cjk`) plus 16,
// at least 96 (70 when `cjk`) and at most 220. Characters are user-perceived
// ones; only a line feed that is not part of a CR LF pair ends a line.
double sidebarHeight(QStringView text, bool cjk = false);

} // namespace moxel
