#include "cvndatasample.h"

namespace {
// Samples cross threads through queued signals, which look the type up by name.
[[maybe_unused]] const int registered = qRegisterMetaType<CVNDataSample>("CVNDataSample");
} // namespace

CVNDataSample::CVNDataSample(const QVariant& value) : timestamp(CVNTimeStamp::now()), value(value)
{}
