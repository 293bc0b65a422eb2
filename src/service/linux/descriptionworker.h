#pragma once

#include "blockingworker.h"
#include "processdescriber.h"

#include <QString>

// The thread that makes descriptions of programs from files users control.
using DescriptionWorker = BlockingWorker<QString, ProcessDescriber::Description>;
