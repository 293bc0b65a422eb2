#include "fieldfiller.h"

#include "commands.h"

#include <QPainter>

void FieldFiller::field(const char*, bool& v)
{
    v = !v;
}
void FieldFiller::field(const char*, quint16& v)
{
    v = quint16(0xF000 + next());
}
void FieldFiller::field(const char*, qint32& v)
{
    v = -1000 * next() - 7;
}
void FieldFiller::field(const char*, quint32& v)
{
    v = 0xFFFF0000u + quint32(next());
}
void FieldFiller::field(const char*, qint64& v)
{
    v = -(qint64(1) << 40) - next();
}
void FieldFiller::field(const char*, quint64& v)
{
    v = (quint64(1) << 63) + quint64(next());
}
void FieldFiller::field(const char*, double& v)
{
    v = next() + 0.25;
}
void FieldFiller::field(const char*, QString& v)
{
    v = QStringLiteral("f\u00e9ld %1 \u2713").arg(next());
}
void FieldFiller::field(const char*, QUuid& v)
{
    v = QUuid(quint32(next()), 2, 3, 4, 5, 6, 7, 8, 9, 10, 11);
}
void FieldFiller::field(const char*, QStringList& v)
{
    v = {QStringLiteral("line %1").arg(next()), QString(), QString(QLatin1String(""))};
}
void FieldFiller::field(const char*, QPixmap& v)
{
    QImage image(3, 2, QImage::Format_ARGB32);
    image.fill(QColor(next() % 256, 20, 200, 255));
    v = QPixmap::fromImage(image);
}
void FieldFiller::field(const char*, Process& v)
{
    v.visitMembers([this](const char* name, auto& member) { field(name, member); });
}
void FieldFiller::field(const char*, QList<bool>& v)
{
    v = {true, false, true};
}
void FieldFiller::field(const char*, QList<quint16>& v)
{
    v = {quint16(next()), quint16(0xFFFF)};
}
void FieldFiller::field(const char*, QList<quint32>& v)
{
    v = {quint32(next()), 0xFFFFFFFFu};
}

namespace {
template <class R> QExplicitlySharedDataPointer<R> filledRecord(FieldFiller& filler)
{
    QExplicitlySharedDataPointer<R> record(new R);
    record->VisitFields(filler);
    return record;
}
} // namespace

void FieldFiller::field(const char*, BWCEntryPtr& v)
{
    v = filledRecord<BWCEntry>(*this);
}
void FieldFiller::field(const char*, QList<BWCEntryPtr>& v)
{
    v = {filledRecord<BWCEntry>(*this), filledRecord<BWCEntry>(*this)};
}
void FieldFiller::field(const char*, BWCStatEntryPtr& v)
{
    v = filledRecord<BWCStatEntry>(*this);
}
void FieldFiller::field(const char*, QList<BWCStatEntryPtr>& v)
{
    v = {filledRecord<BWCStatEntry>(*this), filledRecord<BWCStatEntry>(*this)};
}
void FieldFiller::field(const char*, BWCStatCpuEntryPtr& v)
{
    v = filledRecord<BWCStatCpuEntry>(*this);
}
void FieldFiller::field(const char*, BWCTotalsEntryPtr& v)
{
    v = filledRecord<BWCTotalsEntry>(*this);
}
void FieldFiller::field(const char*, QList<BWCTotalsEntryPtr>& v)
{
    v = {filledRecord<BWCTotalsEntry>(*this), filledRecord<BWCTotalsEntry>(*this)};
}
void FieldFiller::field(const char*, DeviceInfoPtr& v)
{
    v = filledRecord<DeviceInfo>(*this);
}
void FieldFiller::field(const char*, QList<DeviceInfoPtr>& v)
{
    v = {filledRecord<DeviceInfo>(*this), filledRecord<DeviceInfo>(*this)};
}
void FieldFiller::field(const char*, ForwardPtr& v)
{
    v = filledRecord<_Forward>(*this);
}
void FieldFiller::field(const char*, QList<ForwardPtr>& v)
{
    v = {filledRecord<_Forward>(*this), filledRecord<_Forward>(*this)};
}
