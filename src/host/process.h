#pragma once

#include "hostexport.h"

#include <QDataStream>
#include <QPixmap>
#include <QString>

// Description of an application's executable as the service reports it: the
// version resource's texts, the file's size and its icon.
class BWCHOST_EXPORT Process
{
public:
    QString filePath;
    QString productVersion;
    QString fileVersion;
    QString description;
    QString company;
    QString internalName;
    QString comments;
    QString originalFilename;
    QString copyright;
    QString trademark;
    QString productName;
    quint64 fileSize = 0;
    QPixmap icon;

    // Calls visitor(name, member) for every member in stream order.
    template <class Visitor> void visitMembers(Visitor&& visit)
    {
        visit("filePath", filePath);
        visit("productVersion", productVersion);
        visit("fileVersion", fileVersion);
        visit("description", description);
        visit("company", company);
        visit("internalName", internalName);
        visit("comments", comments);
        visit("originalFilename", originalFilename);
        visit("copyright", copyright);
        visit("trademark", trademark);
        visit("productName", productName);
        visit("fileSize", fileSize);
        visit("icon", icon);
    }
    template <class Visitor> void visitMembers(Visitor&& visit) const
    {
        const_cast<Process*>(this)->visitMembers(std::forward<Visitor>(visit));
    }
};

BWCHOST_EXPORT QDataStream& operator<<(QDataStream& stream, const Process& process);
BWCHOST_EXPORT QDataStream& operator>>(QDataStream& stream, Process& process);
