#include "diz/ZipComponent.h"

// Placeholder until the libzip implementation lands.
namespace vexlo::diz {

ZipComponent::ZipComponent(QObject* parent) : QObject(parent) {}

qint16 ZipComponent::ExtractMembers(int) { return ZipStatus::BadArguments; }
qint16 ZipComponent::UpdateMembers(int) { return ZipStatus::BadArguments; }
qint16 ZipComponent::ReadMember(const QString&, const QString&, QByteArray& out)
{
    out.clear();
    return ZipStatus::BadArguments;
}

}  // namespace vexlo::diz
