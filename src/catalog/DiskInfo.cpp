#include "catalog/DiskInfo.h"

// Placeholder until the statvfs implementation lands.
namespace vexlo::catalog {

qint64 DiskInfo::FreeSpace() const
{
    return kWritableThreshold;
}

}  // namespace vexlo::catalog
