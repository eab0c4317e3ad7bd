#include "ZipDirectory.h"

#include <QFile>
#include <QStringDecoder>

#include <algorithm>

namespace OrbZip {

namespace {

constexpr quint32 kEndOfDirectory = 0x06054b50;
constexpr quint32 kZip64Locator = 0x07064b50;
constexpr quint32 kZip64End = 0x06064b50;
constexpr quint32 kCentralHeader = 0x02014b50;
constexpr quint32 kLocalHeader = 0x04034b50;
constexpr quint16 kUtf8Flag = 0x0800;

quint16 u16(const QByteArray& b, qint64 at)
{
    return quint16(quint8(b[int(at)]) | quint8(b[int(at + 1)]) << 8);
}
quint32 u32(const QByteArray& b, qint64 at)
{
    return quint32(u16(b, at)) | quint32(u16(b, at + 2)) << 16;
}
quint64 u64(const QByteArray& b, qint64 at)
{
    return quint64(u32(b, at)) | quint64(u32(b, at + 4)) << 32;
}

bool readAt(QFile& file, quint64 offset, qint64 size, QByteArray* out)
{
    if (offset > quint64(file.size()) || !file.seek(qint64(offset)))
        return false;
    *out = file.read(size);
    return out->size() == size;
}

} // namespace

bool readCentralDirectory(const QString& archivePath, QList<CentralEntry>* entries, QString* error)
{
    entries->clear();
    auto fail = [error](const char* why) {
        *error = QString::fromLatin1(why);
        return false;
    };
    QFile file(archivePath);
    if (!file.open(QIODevice::ReadOnly))
        return fail("cannot open the archive");
    const qint64 size = file.size();
    const qint64 tailSize = std::min<qint64>(size, 22 + 0xFFFF);
    QByteArray tail;
    if (tailSize < 22 || !readAt(file, quint64(size - tailSize), tailSize, &tail))
        return fail("cannot read the archive's directory");
    qint64 end = -1;
    for (qint64 at = tailSize - 22; at >= 0; --at) {
        if (u32(tail, at) == kEndOfDirectory) {
            end = at;
            break;
        }
    }
    if (end < 0)
        return fail("cannot read the archive's directory");
    quint64 count = u16(tail, end + 10);
    quint64 dirSize = u32(tail, end + 12);
    quint64 dirOffset = u32(tail, end + 16);
    const bool needsZip64 = count == 0xFFFF || dirSize == 0xFFFFFFFF || dirOffset == 0xFFFFFFFF;
    // minizip takes the Zip64 record whenever its locator stands before the end
    // record, whatever the classic fields say; it must name the same directory
    // this reader checks, or the checks below would judge other entries than
    // the ones extracted.
    QByteArray locator, record;
    const qint64 locatorAt = size - tailSize + end - 20;
    const bool hasLocator =
        locatorAt >= 0 && readAt(file, quint64(locatorAt), 20, &locator) && u32(locator, 0) == kZip64Locator;
    if (hasLocator) {
        if (!readAt(file, u64(locator, 8), 56, &record) || u32(record, 0) != kZip64End)
            return fail("cannot read the archive's directory");
        const quint64 count64 = u64(record, 32);
        const quint64 size64 = u64(record, 40);
        const quint64 offset64 = u64(record, 48);
        if ((count != 0xFFFF && count != count64) || (dirSize != 0xFFFFFFFF && dirSize != size64) ||
            (dirOffset != 0xFFFFFFFF && dirOffset != offset64) || u64(record, 24) != count64)
            return fail("the archive's directory records disagree (classic and Zip64 name different directories)");
        count = count64;
        dirSize = size64;
        dirOffset = offset64;
    } else if (needsZip64) {
        return fail("cannot read the archive's directory");
    }
    // Every central header takes at least 46 bytes: a count beyond that is a lie.
    if (dirOffset + dirSize > quint64(size) || count > dirSize / 46)
        return fail("cannot read the archive's directory");
    QByteArray dir;
    if (!readAt(file, dirOffset, qint64(dirSize), &dir))
        return fail("cannot read the archive's directory");

    QList<QByteArray> localNames;
    qint64 at = 0;
    for (quint64 i = 0; i < count; ++i) {
        if (at + 46 > dir.size() || u32(dir, at) != kCentralHeader)
            return fail("cannot read the archive's directory");
        CentralEntry e;
        e.flags = u16(dir, at + 8);
        e.method = u16(dir, at + 10);
        e.crc = u32(dir, at + 16);
        e.compressedSize = u32(dir, at + 20);
        e.uncompressedSize = u32(dir, at + 24);
        const int nameLength = u16(dir, at + 28);
        const int extraLength = u16(dir, at + 30);
        const int commentLength = u16(dir, at + 32);
        e.localHeaderOffset = u32(dir, at + 42);
        if (at + 46 + nameLength + extraLength + commentLength > dir.size())
            return fail("cannot read the archive's directory");
        e.rawName = dir.mid(int(at + 46), nameLength);
        // Zip64: the 64-bit values stand in the extra field, in this order, for
        // the fields that hold all ones.
        for (qint64 x = at + 46 + nameLength; x + 4 <= at + 46 + nameLength + extraLength;) {
            const quint16 id = u16(dir, x);
            const quint16 length = u16(dir, x + 2);
            if (x + 4 + length > at + 46 + nameLength + extraLength)
                break;
            if (id == 0x0001) {
                qint64 v = x + 4;
                auto take = [&](quint64& field) {
                    if (field == 0xFFFFFFFF && v + 8 <= x + 4 + length) {
                        field = u64(dir, v);
                        v += 8;
                    }
                };
                take(e.uncompressedSize);
                take(e.compressedSize);
                take(e.localHeaderOffset);
            }
            x += 4 + length;
        }
        at += 46 + nameLength + extraLength + commentLength;

        QByteArray local;
        if (!readAt(file, e.localHeaderOffset, 30, &local) || u32(local, 0) != kLocalHeader)
            return fail("an entry's local header is damaged");
        QByteArray localName;
        if (!readAt(file, e.localHeaderOffset + 30, u16(local, 26), &localName))
            return fail("an entry's local header is damaged");
        localNames.append(localName);
        const quint64 dataStart = e.localHeaderOffset + 30 + u16(local, 26) + u16(local, 28);
        e.dataEnd = dataStart + e.compressedSize;
        if (e.dataEnd < dataStart || e.dataEnd > dirOffset)
            return fail("an entry's data lie outside the archive");
        entries->append(e);
    }

    // Each entry owns the bytes from its local header to the end of its data.
    QList<const CentralEntry*> byOffset;
    byOffset.reserve(entries->size());
    for (const CentralEntry& e : *entries)
        byOffset.append(&e);
    std::sort(byOffset.begin(), byOffset.end(), [](const CentralEntry* a, const CentralEntry* b) {
        return a->localHeaderOffset < b->localHeaderOffset;
    });
    for (int i = 1; i < byOffset.size(); ++i) {
        if (byOffset.at(i)->localHeaderOffset < byOffset.at(i - 1)->dataEnd)
            return fail("entries overlap (share compressed data)");
    }
    // Other tools (and other readers) go by the local name: a package whose two
    // names of one entry differ would mean different things to them.
    for (int i = 0; i < entries->size(); ++i) {
        if (localNames.at(i) != entries->at(i).rawName)
            return fail("an entry's name in its local header differs from the one in the archive's directory");
    }
    return true;
}

QString decodeEntryName(const QByteArray& raw, quint16 flags, const QByteArray& legacyCodePage)
{
    if (flags & kUtf8Flag)
        return QString::fromUtf8(raw);
    {
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        const QString text = utf8(raw);
        if (!utf8.hasError())
            return text;
    }
    for (const QByteArray& name : {legacyCodePage.isEmpty() ? QByteArray("GBK") : legacyCodePage, QByteArray("IBM437")}) {
        QStringDecoder legacy(name.constData(), QStringDecoder::Flag::Stateless);
        if (!legacy.isValid())
            continue;
        const QString text = legacy(raw);
        if (!legacy.hasError())
            return text;
    }
    return QString::fromLatin1(raw);
}

} // namespace OrbZip
