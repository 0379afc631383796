#pragma once

#include <chrono>

namespace moxel {

// The sync self-test: at 1.5 s it types a Portuguese sentence into the draft,
// at 32 s it prints what arrived in the Chinese mirror and ends the program.
inline constexpr std::chrono::milliseconds SelfTestEdit{1500};
inline constexpr std::chrono::milliseconds SelfTestReport{32000};
void selfTestEdit();
void selfTestReport();
// Schedules both steps from now, `scale` times as far off (tests only).
void scheduleSelfTest(double scale = 1);

} // namespace moxel
