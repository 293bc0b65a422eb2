#pragma once

#include <QString>

#include <sys/types.h>

// Lets root, the service's own user and the members of one group change
// settings; everyone else may only read. Safe from any thread.
class GroupAuthorizer
{
public:
    explicit GroupAuthorizer(const QString& group);

    bool userMayChange(uid_t uid) const;
    // The user's name and number, and when it may not change settings, why not.
    QString describe(uid_t uid, bool mayChange) const;
    QString group() const { return m_group; }

private:
    QString m_group;
};
