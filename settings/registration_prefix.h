// Aircraft nationality prefixes offered for the registration, in the order the split of a
// stored registration tries them (first match wins).
#pragma once

inline constexpr int NUM_REGISTRATION_PREFIXES = 193;
extern const char* const REGISTRATION_PREFIXES[NUM_REGISTRATION_PREFIXES];
