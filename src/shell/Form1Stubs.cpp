#include "shell/Form1.h"

// Handlers whose work is still being built.
namespace vexlo {

void Form1::Command4_Click() {}

}  // namespace vexlo
