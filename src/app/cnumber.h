#pragma once

namespace moxel {

// std::strtod as it reads in the C locale, whatever locale the process has
// adopted: QCoreApplication takes the user's, where strtod may expect a
// decimal comma. Sets errno as strtod does. Safe on any thread.
double strtodC(const char *text, char **end);

} // namespace moxel
