// SPDX-License-Identifier: MIT
// An include that goes up a layer: the check must name it.
#include "catalog/ListWriter.h"
#include "platform/FileSystem.h"
