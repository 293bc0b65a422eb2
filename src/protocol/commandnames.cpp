#include "commandnames.h"

#include "commands.h"

#include <algorithm>
#include <cstring>

QList<quint32> AllCommandTypes()
{
    QList<quint32> types = {
#define BWC_TYPE_ITEM(Name, Number) Number,
        BWC_ALL_COMMANDS(BWC_TYPE_ITEM)
#undef BWC_TYPE_ITEM
    };
    std::sort(types.begin(), types.end());
    return types;
}

quint32 CommandTypeByName(const char* name)
{
    for (quint32 type : AllCommandTypes()) {
        if (std::strcmp(BaseCommand::GetName(int(type)), name) == 0)
            return type;
    }
    return 0;
}
