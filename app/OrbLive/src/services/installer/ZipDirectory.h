#pragma once

// The archive's central directory as stored, read without QuaZip: the raw name
// bytes and flags (to decode names made on Windows), the declared sizes (to
// bound the output before anything is written) and where each entry's data
// lie (to refuse entries that share compressed data, the trick that makes a
// small archive unpack to any size).

#include <QByteArray>
#include <QList>
#include <QString>

namespace OrbZip {

struct CentralEntry {
    QByteArray rawName;
    quint16 flags = 0;
    quint16 method = 0;
    quint32 crc = 0;
    quint64 compressedSize = 0;
    quint64 uncompressedSize = 0;
    quint64 localHeaderOffset = 0;
    quint64 dataEnd = 0; // one past the entry's compressed data
};

// Reads every central entry and checks each against its local header. Returns
// false with `error` when the directory is damaged or two entries overlap.
bool readCentralDirectory(const QString& archivePath, QList<CentralEntry>* entries, QString* error);

// The entry name as text: UTF-8 when the entry says so or the bytes are valid
// UTF-8, otherwise the legacy code page (GBK unless given), then CP437.
QString decodeEntryName(const QByteArray& raw, quint16 flags, const QByteArray& legacyCodePage);

} // namespace OrbZip
