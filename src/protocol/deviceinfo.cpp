#include "deviceinfo.h"

#include "fieldvisitor.h"
#include "wireio.h"

void DeviceInfo::VisitFields(FieldVisitor& v)
{
    v.field("number", number);
    v.field("deviceId", deviceId);
    v.field("textA", textA);
    v.field("textB", textB);
    v.field("flags", flags);
}

namespace WireIO {

void write(QDataStream& s, const DeviceInfoPtr& e)
{
    if (!e) {
        s.setStatus(QDataStream::WriteFailed);
        return;
    }
    write(s, e->number);
    write(s, e->deviceId);
    write(s, e->textA);
    write(s, e->textB);
    write(s, e->flags);
}

void read(QDataStream& s, DeviceInfoPtr& out)
{
    out = DeviceInfoPtr(new DeviceInfo);
    read(s, out->number);
    read(s, out->deviceId);
    read(s, out->textA);
    read(s, out->textB);
    read(s, out->flags);
}

} // namespace WireIO
