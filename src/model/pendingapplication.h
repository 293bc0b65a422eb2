#pragma once

#include "process.h"
#include "records.h"

// An application the service has reported but whose process description has
// not arrived yet. Until then only the process's executable path is known
// (from the entry); the description reply replaces the whole process.
struct PendingApplication
{
    Process process;
    BWCEntryPtr entry;
};
