#include "diz/DizCli.h"

#include <cstdio>

namespace vexlo::diz {

int runGetDizCommand(const QStringList&)
{
    std::fputs("vexlo32: --get-diz is not built yet\n", stderr);
    return 2;
}

int runSaveDizCommand(const QStringList&)
{
    std::fputs("vexlo32: --save-diz is not built yet\n", stderr);
    return 2;
}

}  // namespace vexlo::diz
