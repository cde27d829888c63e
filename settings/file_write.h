// Files written whole or not at all: every write and the final commit are checked, and a
// failure leaves the earlier file as it was and says why in the system's words.
#pragma once

#include <QByteArray>
#include <QString>
#include <cstdio>

// Makes `data` the whole content of `path`. A regular file or a new name is replaced
// atomically, through a temporary file beside it. Anything else found at `path` (a device
// node, a pipe) is opened and written in place, never replaced. On failure *reason (when not
// null) is the system's reason, such as "No space left on device".
bool write_file_whole(const QString& path, const QByteArray& data, QString* reason);

// Writes `data` to an open stream (standard output) and flushes it.
bool write_stream_whole(FILE* stream, const QByteArray& data, QString* reason);
