#include <cstdlib>
// strtod would follow the process locale.
double level(const char* text) { return std::strtod(text, nullptr); }
