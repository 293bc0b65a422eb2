#pragma once

#include "basecommand.h"

#include <QByteArray>
#include <QByteArrayView>

// The frame format as pure functions over bytes: a 4-byte length (the whole
// frame), type, sequence, status and device, then the payload. The socket
// readers and writers only move bytes and call these.
namespace FrameCodec {

// Decodes the 8-byte prefix. Gives 0, or BCS_INVALID for a length outside the bounds.
int checkPrefix(QByteArrayView prefix, quint32* length, quint32* type);

// Fills a new command from one whole frame whose prefix passed checkPrefix.
// Gives the payload reader's result; *out is null unless it is 0.
int parseFrame(const BaseCommandPtr& command, const QByteArray& frame, BaseCommandPtr* out);

// Reads the first frame of bytes. Gives 0 with *out and the frame's length in
// *used, or the code ReadCommand would give (nothing used).
int decode(QByteArrayView bytes, BaseCommandPtr* out, qint64* used);

// Encodes a command as one frame. Gives 0, BCS_NULL_COMMAND for a null command,
// or the payload writer's failure (a null record, say) with the frame untouched.
int encode(const BaseCommand* command, QByteArray* frame);

} // namespace FrameCodec
