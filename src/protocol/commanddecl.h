#pragma once

#include "basecommand.h"
#include "fieldvisitor.h"

// A command class is declared from its field list: F(Type, name, setter, default)
// per field, in wire order. The macro gives it its TypeId, the constructor and
// destructor contract, the four payload operations, a getter name() and a
// setter per field, and the field visitor the stream code and tools use.

#define BWC_FIELD_MEMBER(Type, name, setter, init) Type m_##name{};
#define BWC_FIELD_ACCESSORS(Type, name, setter, init)                                              \
    const Type& name() const                                                                       \
    {                                                                                              \
        return m_##name;                                                                           \
    }                                                                                              \
    void setter(const Type& value)                                                                 \
    {                                                                                              \
        m_##name = value;                                                                          \
    }
#define BWC_FIELD_INIT(Type, name, setter, init) m_##name = init;
#define BWC_FIELD_VISIT(Type, name, setter, init) visitor.field(#name, m_##name);
#define BWC_NO_FIELDS(F)

#define BWC_DECLARE_COMMAND(Name, Number, FIELDS)                                                  \
    class BCI_##Name final : public BaseCommand                                                    \
    {                                                                                              \
    public:                                                                                        \
        static constexpr quint32 TypeId = Number;                                                  \
        BCI_##Name() : BaseCommand(TypeId)                                                         \
        {                                                                                          \
            SetStatus(BCS_SUCCESS);                                                                \
            BCI_##Name::InitPayload();                                                             \
        }                                                                                          \
        ~BCI_##Name() override { BCI_##Name::ReleasePayload(); }                                   \
        int WritePayload(QDataStream* stream) const override { return WriteFields(stream); }       \
        int ReadPayload(QDataStream* stream, int available, int& consumed) override                \
        {                                                                                          \
            return ReadFields(stream, available, consumed);                                        \
        }                                                                                          \
        bool InitPayload() override                                                                \
        {                                                                                          \
            FIELDS(BWC_FIELD_INIT)                                                                 \
            return true;                                                                           \
        }                                                                                          \
        bool ReleasePayload() override { return true; }                                            \
        void VisitFields([[maybe_unused]] FieldVisitor& visitor) override{                         \
            FIELDS(BWC_FIELD_VISIT)} FIELDS(BWC_FIELD_ACCESSORS) private                           \
            : FIELDS(BWC_FIELD_MEMBER)                                                             \
    };

// Declares a command of a family list X(Name, Number) from its BWC_FIELDS_Name list.
#define BWC_DECLARE_LISTED(Name, Number) BWC_DECLARE_COMMAND(Name, Number, BWC_FIELDS_##Name)
