#pragma once

// A local user made for one test run and removed when the object goes, also
// when the test fails: not in any group of the service's, no home, no shell.
// Its name carries the test's process id, so that parallel runs never meet.

#include <QString>

#include <sys/types.h>

class ThrowawayUser
{
public:
    ThrowawayUser();
    ~ThrowawayUser();
    ThrowawayUser(const ThrowawayUser&) = delete;
    ThrowawayUser& operator=(const ThrowawayUser&) = delete;

    bool isValid() const { return m_uid != uid_t(-1); }
    QString name() const { return m_name; }
    uid_t uid() const { return m_uid; }
    gid_t gid() const { return m_gid; }
    QString error() const { return m_error; }

private:
    QString m_name;
    uid_t m_uid = uid_t(-1);
    gid_t m_gid = gid_t(-1);
    QString m_error;
};
