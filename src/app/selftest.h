#pragma once

namespace moxel {

// The sync self-test: at 1.5 s it types a Portuguese sentence into the draft,
// at 32 s it prints what arrived in the Chinese mirror and ends the program.
void selfTestEdit();
void selfTestReport();
// Schedules both steps from now.
void scheduleSelfTest();

} // namespace moxel
