#pragma once

#include "fieldvisitor.h"

// Sets every field it visits to a value that differs from the field's default
// and from every other field, so a round trip that swaps, drops or truncates a
// field shows up.
class FieldFiller final : public FieldVisitor
{
public:
#define BWC_FILL_SLOT(T) void field(const char*, T& value) override;
    BWC_FIELD_TYPES(BWC_FILL_SLOT)
#undef BWC_FILL_SLOT

private:
    int next()
    {
        return ++m_counter;
    }
    int m_counter = 0;
};
