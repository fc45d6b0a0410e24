#include "camera/one_lens_key_names.h"

#include <iterator>

namespace {
template <size_t N>
std::string lookUp(const char* const (&names)[N], int index)
{
    return index >= 0 && size_t(index) < N ? names[index] : "Undefined";
}
} // namespace

std::string intKeyName(int index)
{
    static const char* const names[] = {"TIMESTAMP", "IMGWIDTH", "IMGHEIGHT", "NUM_LASERS", "CENT_COLOR",
                                        "CENT_THRESHOLD", "CENT_MINPEAK", "CENT_MAXPEAK", "CENT_MINSIDEPIX",
                                        "CENT_MAXSIDEPIX", "COMPASS_FACTOR"};
    return lookUp(names, index);
}

std::string doubleKeyName(int index)
{
    static const char* const names[] = {"F", "U0", "V0", "RY", "K1", "K2", "K3", "P1", "P2", "P3"};
    return lookUp(names, index);
}

std::string floatKeyName(int index)
{
    static const char* const names[] = {"COMPASS_OFFSET", "LENS_FOV", "RCA", "BCA", "VC0", "VC1", "VC2",
                                        "VC3", "VC4", "VC5", "VC6", "VC7", "VC8", "VC9"};
    return lookUp(names, index);
}
