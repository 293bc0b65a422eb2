#pragma once

// Forward declarations of the payload records and their shared pointers.

#include <QExplicitlySharedDataPointer>

class BWCEntry;
class BWCStatEntry;
class BWCStatCpuEntry;
class BWCTotalsEntry;
class DeviceInfo;
class _Forward;

using BWCEntryPtr = QExplicitlySharedDataPointer<BWCEntry>;
using BWCStatEntryPtr = QExplicitlySharedDataPointer<BWCStatEntry>;
using BWCStatCpuEntryPtr = QExplicitlySharedDataPointer<BWCStatCpuEntry>;
using BWCTotalsEntryPtr = QExplicitlySharedDataPointer<BWCTotalsEntry>;
using DeviceInfoPtr = QExplicitlySharedDataPointer<DeviceInfo>;
using ForwardPtr = QExplicitlySharedDataPointer<_Forward>;
