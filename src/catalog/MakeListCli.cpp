#include "catalog/MakeListCli.h"

#include <cstdio>

namespace vexlo::catalog {

int runMakeListCommand(const QStringList&)
{
    std::fputs("vexlo32: --make-list is not built yet\n", stderr);
    return 2;
}

}  // namespace vexlo::catalog
