#pragma once

// ZIP archives for the tests: real ones written with QuaZip (writeZip), and
// archives written byte by byte (rawZip) for what no archiver would write:
// crafted names, false sizes and checksums, two directories, aliases.

#include <quazip/quazip.h>
#include <quazip/quazipfile.h>

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>

#include <zlib.h>

namespace orbtest {

inline constexpr quint32 kFile = 0100000;
inline constexpr quint32 kDir = 0040000;
inline constexpr quint32 kLink = 0120000;

struct ZipEntry {
    QString name;
    QByteArray data;
    quint32 mode = 0; // Unix type and permission bits; 0 = none stored (a Windows-made entry)
    bool stored = false;
    int repeat = 1; // data written this many times (large entries without large memory)
};

inline ZipEntry file(const QString& name, const QByteArray& data, quint32 perms = 0)
{
    return {name, data, perms ? (kFile | perms) : 0, false};
}
inline ZipEntry dir(const QString& name, quint32 perms = 0)
{
    return {name, {}, perms ? (kDir | perms) : 0, false};
}
inline ZipEntry lnkEntry(const QString& name, const QString& target, quint32 perms = 0777)
{
    return {name, QFile::encodeName(target), kLink | perms, false};
}

// Writes a real archive with QuaZip. The marker "<NUL>" in a name is patched
// into "\0NUL>" afterwards (the writer takes names as C strings).
inline bool writeZip(const QString& path, const QList<ZipEntry>& entries)
{
    QuaZip zip(path);
    if (!zip.open(QuaZip::mdCreate))
        return false;
    for (const ZipEntry& e : entries) {
        QuaZipNewInfo info(e.name);
        info.externalAttr = e.mode << 16;
        QuaZipFile out(&zip);
        if (!out.open(QIODevice::WriteOnly, info, nullptr, 0, e.stored ? 0 : Z_DEFLATED, 1))
            return false;
        for (int i = 0; i < e.repeat; ++i) {
            if (out.write(e.data) != e.data.size())
                return false;
        }
        out.close();
        if (out.getZipError() != 0)
            return false;
    }
    zip.close();
    if (zip.getZipError() != 0)
        return false;
    QFile f(path);
    if (!f.open(QIODevice::ReadWrite))
        return false;
    QByteArray bytes = f.readAll();
    if (!bytes.contains("<NUL>"))
        return true;
    bytes.replace("<NUL>", QByteArray("\0NUL>", 5));
    f.seek(0);
    return f.write(bytes) == bytes.size();
}

// ---- archives written byte by byte ---------------------------------------------

inline void le16(QByteArray& b, quint32 v)
{
    b.append(char(v & 0xff)).append(char((v >> 8) & 0xff));
}
inline void le32(QByteArray& b, quint32 v)
{
    le16(b, v & 0xffff);
    le16(b, v >> 16);
}

inline QByteArray rawDeflate(const QByteArray& data)
{
    // qCompress: 4 bytes of length, a zlib header of 2 and an Adler-32 of 4 around raw deflate.
    const QByteArray z = qCompress(data, 9);
    return z.mid(6, z.size() - 10);
}

struct RawEntry {
    QByteArray name;  // stored bytes, as an archiver on Windows would write them
    QByteArray data;
    quint16 flags = 0; // 0x0800: name is UTF-8
    bool deflate = false;
    quint64 declaredSize = quint64(-1); // what the directory claims; default the real size
    qint64 crcOf = -1;                  // checksum of the first N bytes instead of all
    QList<QByteArray> aliases = {};     // more directory entries pointing at this entry's data
    QByteArray localName = {};          // the name in the local header; default the same as `name`
};

inline QByteArray rawZip(const QList<RawEntry>& entries)
{
    QByteArray out, central;
    int count = 0;
    for (const RawEntry& e : entries) {
        const QByteArray stored = e.deflate ? rawDeflate(e.data) : e.data;
        const QByteArray checked = e.crcOf >= 0 ? e.data.left(int(e.crcOf)) : e.data;
        const quint32 crc = quint32(crc32(0, reinterpret_cast<const Bytef*>(checked.constData()), uInt(checked.size())));
        const quint64 size = e.declaredSize == quint64(-1) ? quint64(e.data.size()) : e.declaredSize;
        const bool zip64 = size >= 0xFFFFFFFFull;
        const quint32 offset = quint32(out.size());
        le32(out, 0x04034b50);
        le16(out, 20);
        le16(out, e.flags);
        le16(out, e.deflate ? 8 : 0);
        le16(out, 0);
        le16(out, 0x21);
        le32(out, crc);
        le32(out, quint32(stored.size()));
        le32(out, zip64 ? 0xFFFFFFFFu : quint32(size));
        const QByteArray localName = e.localName.isEmpty() ? e.name : e.localName;
        le16(out, quint32(localName.size()));
        le16(out, 0);
        out.append(localName).append(stored);
        QList<QByteArray> names = {e.name};
        names += e.aliases;
        for (const QByteArray& name : names) {
            le32(central, 0x02014b50);
            le16(central, 20); // made by: MS-DOS/Windows
            le16(central, zip64 ? 45 : 20);
            le16(central, e.flags);
            le16(central, e.deflate ? 8 : 0);
            le16(central, 0);
            le16(central, 0x21);
            le32(central, crc);
            le32(central, quint32(stored.size()));
            le32(central, zip64 ? 0xFFFFFFFFu : quint32(size));
            le16(central, quint32(name.size()));
            le16(central, zip64 ? 12 : 0);
            le16(central, 0);
            le16(central, 0);
            le16(central, 0);
            le32(central, 0);
            le32(central, offset);
            central.append(name);
            if (zip64) {
                le16(central, 1);
                le16(central, 8);
                le32(central, quint32(size & 0xFFFFFFFFu));
                le32(central, quint32(size >> 32));
            }
            ++count;
        }
    }
    const quint32 dirOffset = quint32(out.size());
    out.append(central);
    le32(out, 0x06054b50);
    le16(out, 0);
    le16(out, 0);
    le16(out, quint32(count));
    le16(out, quint32(count));
    le32(out, quint32(central.size()));
    le32(out, dirOffset);
    le16(out, 0);
    return out;
}

// The archive with a Zip64 end record and locator added before the classic end
// record. `second` is the central directory the Zip64 record names; it is placed
// after the archive's own, which the classic record keeps naming (empty: the
// Zip64 record names the archive's own directory too, as it should).
inline QByteArray withZip64Record(const QByteArray& archive, const QByteArray& second)
{
    auto u32at = [&](int at) {
        return quint32(quint8(archive[at])) | quint32(quint8(archive[at + 1])) << 8 |
               quint32(quint8(archive[at + 2])) << 16 | quint32(quint8(archive[at + 3])) << 24;
    };
    const int end = archive.size() - 22; // no comment
    const quint32 count = quint32(quint8(archive[end + 10])) | quint32(quint8(archive[end + 11])) << 8;
    const quint32 dirSize = u32at(end + 12);
    const quint32 dirOffset = u32at(end + 16);
    QByteArray out = archive.left(int(dirOffset + dirSize));
    quint64 z64Offset = dirOffset, z64Size = dirSize, z64Count = count;
    if (!second.isEmpty()) {
        z64Offset = quint64(out.size());
        z64Size = quint64(second.size());
        int n = 0;
        for (int at = second.indexOf("PK\x01\x02"); at >= 0; at = second.indexOf("PK\x01\x02", at + 4))
            ++n;
        z64Count = quint64(n);
        out.append(second);
    }
    auto le64 = [](QByteArray& b, quint64 v) {
        le32(b, quint32(v & 0xFFFFFFFFu));
        le32(b, quint32(v >> 32));
    };
    const quint64 recordAt = quint64(out.size());
    le32(out, 0x06064b50);
    le64(out, 44);
    le16(out, 45);
    le16(out, 45);
    le32(out, 0);
    le32(out, 0);
    le64(out, z64Count);
    le64(out, z64Count);
    le64(out, z64Size);
    le64(out, z64Offset);
    le32(out, 0x07064b50);
    le32(out, 0);
    le64(out, recordAt);
    le32(out, 1);
    out.append(archive.mid(end)); // the classic record, unchanged
    return out;
}

// The central directory of an archive built by rawZip.
inline QByteArray centralOf(const QByteArray& archive)
{
    const int end = archive.size() - 22;
    auto u32at = [&](int at) {
        return quint32(quint8(archive[at])) | quint32(quint8(archive[at + 1])) << 8 |
               quint32(quint8(archive[at + 2])) << 16 | quint32(quint8(archive[at + 3])) << 24;
    };
    return archive.mid(int(u32at(end + 16)), int(u32at(end + 12)));
}

inline bool writeRaw(const QString& path, const QList<RawEntry>& entries)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(rawZip(entries)) > 0;
}

} // namespace orbtest
