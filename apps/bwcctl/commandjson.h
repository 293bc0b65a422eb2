#pragma once

#include "basecommand.h"

#include <QJsonObject>
#include <QString>

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

// A new command of the named type with its record fields filled with default
// records (see RecordFiller), then the fields of the JSON text when there is
// one. Gives null with the reason in *error, or with an empty *error when the
// name is not in the catalogue.
BaseCommandPtr build(const QString& name, const QString* json, QString* error);

} // namespace CommandJson
