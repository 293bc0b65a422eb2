#pragma once

#include "fieldvisitor.h"

// Gives every record field that is still null a record of its own with its
// members at their defaults, so that a command built from a partial JSON
// object (or none) can be written: the frame writer refuses null records.
// Lists are left as they are.
class RecordFiller final : public FieldVisitor
{
public:
#define BWC_FILL_SLOT(T)                                                                           \
    void field(const char*, T& value) override                                                     \
    {                                                                                              \
        fill(value);                                                                               \
    }
    BWC_FIELD_TYPES(BWC_FILL_SLOT)
#undef BWC_FILL_SLOT

private:
    template <class T> static void fill(T&) {}
    template <class R> static void fill(QExplicitlySharedDataPointer<R>& record)
    {
        if (!record)
            record = QExplicitlySharedDataPointer<R>(new R);
    }
};
