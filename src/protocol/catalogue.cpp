#include "commands.h"

#include <QtDebug>

BaseCommandPtr BaseCommand::GetCmd(int type)
{
    switch (quint32(type)) {
#define BWC_CREATE_CASE(Name, Number)                                                              \
    case Number:                                                                                   \
        return BaseCommandPtr(new BCI_##Name);
        BWC_ALL_COMMANDS(BWC_CREATE_CASE)
#undef BWC_CREATE_CASE
    }
    qCritical("BaseCommand::GetCmd(%d): unknown command type requested", type);
    return BaseCommandPtr();
}

const char* BaseCommand::GetName(int type)
{
    switch (quint32(type)) {
#define BWC_NAME_CASE(Name, Number)                                                                \
    case Number:                                                                                   \
        return #Name;
        BWC_ALL_COMMANDS(BWC_NAME_CASE)
#undef BWC_NAME_CASE
    }
    return "UNKNOWN";
}
