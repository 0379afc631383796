#include "cnumber.h"

#include <clocale>
#include <cstdlib>
#include <locale.h>

namespace moxel {

double strtodC(const char *text, char **end)
{
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", locale_t(nullptr));
    return strtod_l(text, end, cLocale);
}

} // namespace moxel
