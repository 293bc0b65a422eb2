#pragma once

#include <QJsonObject>
#include <QString>

class BaseCommand;

// JSON form of commands for people and scripts: integers keep their field's
// signedness, a null string is null and an empty one "", records are objects
// keyed by their member names, pictures are {"width","height","png"}.
namespace CommandJson {

// One line: {"type","typeId","sequence","status","device","payload"}.
QString toJson(BaseCommand& command);

// Parses a JSON object. Integer literals above the signed 64-bit range stay
// exact (Qt's parser would round them to a double). Gives an empty string, or
// a message with the parser's complaint and offset.
QString parseObject(const QString& text, QJsonObject* object);

// Sets the payload fields named in the object; fields not named keep their
// values. Gives an empty string, or a message naming the offending field.
QString applyFields(BaseCommand& command, const QJsonObject& fields);

} // namespace CommandJson
