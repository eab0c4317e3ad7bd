#include "OrbDeliveryManifest.h"

#include "OrbChunkStore.h"
#include "OrbChunker.h"
#include "OrbSignature.h"
#include "OrbSignedSettings.h"

#include <QHash>
#include <QSet>

#include <zstd.h>

namespace {

constexpr char kFormatKey[] = "OrbDeliveryManifest";

// Decimal without sign or leading zeros, at most 18 digits (fits int64).
bool parseNumber(const QByteArray& text, std::int64_t& value)
{
    if (text.isEmpty() || text.size() > 18 || (text.size() > 1 && text[0] == '0'))
        return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
    }
    return true;
}

bool hasControl(const QByteArray& bytes)
{
    for (char c : bytes) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7f)
            return true;
    }
    return false;
}

// Valid UTF-8: decoding and encoding again gives the same bytes.
bool isUtf8(const QByteArray& bytes) { return QString::fromUtf8(bytes).toUtf8() == bytes; }

bool reservedWindowsName(const QString& component)
{
    static const QSet<QString> kNames = {QStringLiteral("con"), QStringLiteral("prn"), QStringLiteral("aux"),
                                         QStringLiteral("nul")};
    const QString stem = component.section(QLatin1Char('.'), 0, 0).toLower();
    if (kNames.contains(stem))
        return true;
    return stem.size() == 4 && (stem.startsWith(QLatin1String("com")) || stem.startsWith(QLatin1String("lpt"))) &&
           stem[3] >= QLatin1Char('1') && stem[3] <= QLatin1Char('9');
}

// Splits the text into lines; false when it does not end in "\n" or holds "\r".
bool splitLines(const QByteArray& text, QList<QByteArray>& lines)
{
    if (text.isEmpty() || !text.endsWith('\n') || text.contains('\r'))
        return false;
    lines = text.left(text.size() - 1).split('\n');
    return true;
}

} // namespace

QByteArray OrbDeliveryManifest::EncodePath(const QString& path) { return path.toUtf8().toPercentEncoding("/"); }

bool OrbDeliveryManifest::IsVersionName(const QString& version)
{
    if (version.isEmpty() || version.size() > 64 || version.startsWith(QLatin1Char('.')))
        return false;
    for (QChar c : version) {
        const ushort u = c.unicode();
        const bool ok = (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || u == '.' ||
                        u == '_' || u == '+' || u == '-';
        if (!ok)
            return false;
    }
    return true;
}

QString OrbDeliveryManifest::CheckPath(const QString& path, const Limits& limits)
{
    const QByteArray bytes = path.toUtf8();
    if (bytes.isEmpty())
        return QStringLiteral("empty path");
    if (bytes.size() > limits.pathBytes)
        return QStringLiteral("path longer than %1 bytes").arg(limits.pathBytes);
    if (hasControl(bytes))
        return QStringLiteral("control character in path");
    if (bytes.contains('\\'))
        return QStringLiteral("backslash in path");
    if (bytes.startsWith('/'))
        return QStringLiteral("absolute path");
    if (bytes.contains(':'))
        return QStringLiteral("colon in path");  // drive letters and alternate streams
    for (const QString& part : path.split(QLatin1Char('/'))) {
        if (part.isEmpty())
            return QStringLiteral("empty path component");
        if (part == QLatin1String(".") || part == QLatin1String(".."))
            return QStringLiteral("'.' or '..' in path");
        if (part.toUtf8().size() > limits.componentBytes)
            return QStringLiteral("path component longer than %1 bytes").arg(limits.componentBytes);
        // Windows drops trailing dots and spaces and reserves device names.
        if (part.endsWith(QLatin1Char('.')) || part.endsWith(QLatin1Char(' ')))
            return QStringLiteral("path component ends in a dot or space");
        if (reservedWindowsName(part))
            return QStringLiteral("reserved device name in path");
    }
    return QString();
}

QByteArray OrbDeliveryManifest::Serialize() const
{
    QByteArray out;
    out += kFormatKey;
    out += '=' + QByteArray::number(kFormat) + '\n';
    out += "Game=" + game.toUtf8() + '\n';
    out += "Version=" + version.toUtf8() + '\n';
    out += "Serial=" + QByteArray::number(qint64(serial)) + '\n';
    out += "Expires=" + QByteArray::fromStdString(OrbSignedSettings::FormatTime(expires)) + '\n';
    for (const QString& folder : folders)
        out += "folder " + EncodePath(folder) + '\n';
    for (const OrbDeliveryFile& f : files) {
        out += "file " + EncodePath(f.path) + ' ' + QByteArray::number(qint64(f.size)) + ' ' +
               (f.executable ? "755" : "644") + ' ' + f.sha256 + '\n';
        for (const OrbDeliveryChunk& c : f.chunks)
            out += "chunk " + c.hash + ' ' + QByteArray::number(qint64(c.offset)) + ' ' +
                   QByteArray::number(qint64(c.size)) + ' ' + QByteArray::number(qint64(c.compressedSize)) + '\n';
    }
    return out;
}

std::string OrbDeliveryManifest::Sign(const std::string& privatePem) const
{
    return OrbSignature::Sign(privatePem, Serialize().toStdString());
}

OrbDeliveryManifest::Parsed OrbDeliveryManifest::Parse(const QByteArray& text, const Expect& expect)
{
    Parsed result;
    auto refuse = [&result](const QString& reason) {
        result.ok = false;
        result.reason = reason;
        result.manifest = OrbDeliveryManifest();
        return result;
    };
    const Limits& lim = expect.limits;
    if (text.size() > lim.manifestBytes)
        return refuse(QStringLiteral("manifest larger than %1 bytes").arg(lim.manifestBytes));

    if (!expect.publicPem.empty()) {
        if (expect.signature.trimmed().isEmpty())
            return refuse(QStringLiteral("manifest is not signed"));
        const auto v = OrbSignature::Verify(expect.publicPem, text.toStdString(), expect.signature.toStdString());
        if (v != OrbSignature::Result::Valid)
            return refuse(QStringLiteral("signature refused: %1").arg(QString::fromUtf8(OrbSignature::Describe(v))));
    }

    QList<QByteArray> lines;
    if (!splitLines(text, lines))
        return refuse(QStringLiteral("malformed text: lines must end in a line feed, without carriage returns"));
    if (lines.size() < 5)
        return refuse(QStringLiteral("missing header"));

    // The header: fixed keys in a fixed order.
    const char* const keys[] = {kFormatKey, "Game", "Version", "Serial", "Expires"};
    QByteArray values[5];
    for (int i = 0; i < 5; ++i) {
        const QByteArray prefix = QByteArray(keys[i]) + '=';
        if (!lines[i].startsWith(prefix))
            return refuse(QStringLiteral("header line %1 must be %2=").arg(i + 1).arg(QLatin1String(keys[i])));
        values[i] = lines[i].mid(prefix.size());
    }
    if (values[0] != QByteArray::number(kFormat))
        return refuse(QStringLiteral("unknown manifest format %1").arg(QString::fromUtf8(values[0].left(20))));

    OrbDeliveryManifest m;
    if (values[1].isEmpty() || values[1].size() > 128 || hasControl(values[1]) || !isUtf8(values[1]))
        return refuse(QStringLiteral("bad game name"));
    m.game = QString::fromUtf8(values[1]);
    if (!expect.game.isEmpty() && m.game != expect.game)
        return refuse(QStringLiteral("manifest is for game '%1', not '%2'").arg(m.game, expect.game));
    m.version = QString::fromUtf8(values[2]);
    if (!isUtf8(values[2]) || !IsVersionName(m.version))
        return refuse(QStringLiteral("bad version name"));
    if (!parseNumber(values[3], m.serial))
        return refuse(QStringLiteral("missing or bad serial"));
    if (m.serial < expect.minSerial)
        return refuse(QStringLiteral("replayed manifest: serial %1 below %2").arg(m.serial).arg(expect.minSerial));
    m.expires = OrbSignedSettings::ParseTime(values[4].toStdString());
    if (m.expires < 0)
        return refuse(QStringLiteral("missing or bad expiry"));
    if (m.expires <= expect.now)
        return refuse(QStringLiteral("manifest expired at %1").arg(QString::fromUtf8(values[4])));

    // Body: folders and files with their chunks.
    QHash<QString, QString> seen;  // case-folded path -> path
    QSet<QString> parents;         // case-folded folders implied by the entries
    std::int64_t total = 0;
    std::int64_t entries = 0;
    OrbDeliveryFile* current = nullptr;
    std::int64_t nextOffset = 0;
    auto closeFile = [&]() -> QString {
        if (current && nextOffset != current->size)
            return QStringLiteral("%1: chunks cover %2 of %3 bytes").arg(current->path).arg(nextOffset).arg(current->size);
        return QString();
    };
    auto addPath = [&](const QByteArray& encoded, QString& path) -> QString {
        const QByteArray raw = QByteArray::fromPercentEncoding(encoded);
        if (!isUtf8(raw))
            return QStringLiteral("path is not UTF-8");
        path = QString::fromUtf8(raw);
        if (EncodePath(path) != encoded)
            return QStringLiteral("path not in canonical encoding: %1").arg(QString::fromUtf8(encoded.left(200)));
        const QString why = CheckPath(path, lim);
        if (!why.isEmpty())
            return QStringLiteral("%1: %2").arg(why, path.left(200));
        if (++entries > lim.entries)
            return QStringLiteral("more than %1 entries").arg(lim.entries);
        const QString folded = path.toCaseFolded();
        const auto prior = seen.constFind(folded);
        if (prior != seen.constEnd())
            return prior.value() == path ? QStringLiteral("duplicate path: %1").arg(path)
                                         : QStringLiteral("paths differ only in case: %1, %2").arg(prior.value(), path);
        seen.insert(folded, path);
        return QString();
    };

    for (int i = 5; i < lines.size(); ++i) {
        const QByteArray& line = lines[i];
        const QList<QByteArray> f = line.split(' ');
        const QByteArray& kind = f[0];
        const QString where = QStringLiteral("line %1: ").arg(i + 1);
        if (kind == "chunk") {
            if (!current)
                return refuse(where + QStringLiteral("chunk outside a file"));
            if (f.size() != 5)
                return refuse(where + QStringLiteral("chunk needs hash, offset, size, compressed size"));
            OrbDeliveryChunk c;
            c.hash = f[1];
            if (!OrbDeliveryHash::IsHex(c.hash))
                return refuse(where + QStringLiteral("bad chunk hash"));
            if (!parseNumber(f[2], c.offset) || !parseNumber(f[3], c.size) || !parseNumber(f[4], c.compressedSize))
                return refuse(where + QStringLiteral("bad chunk number"));
            if (c.size <= 0 || c.size > std::int64_t(OrbChunker::kMaxSize))
                return refuse(where + QStringLiteral("chunk size %1 outside 1..%2").arg(c.size).arg(OrbChunker::kMaxSize));
            if (c.compressedSize <= 0 || c.compressedSize > std::int64_t(ZSTD_COMPRESSBOUND(std::size_t(c.size))))
                return refuse(where + QStringLiteral("compressed size %1 impossible for a chunk of %2").arg(c.compressedSize).arg(c.size));
            if (c.offset != nextOffset)
                return refuse(where + QStringLiteral("%1: chunk at %2, expected %3: chunks must tile the file")
                                          .arg(current->path).arg(c.offset).arg(nextOffset));
            if (c.offset + c.size > current->size)
                return refuse(where + QStringLiteral("%1: chunk runs past the file's end").arg(current->path));
            nextOffset += c.size;
            current->chunks.push_back(c);
            continue;
        }
        const QString open = closeFile();
        if (!open.isEmpty())
            return refuse(open);
        current = nullptr;
        if (kind == "folder") {
            if (f.size() != 2)
                return refuse(where + QStringLiteral("folder needs a path"));
            QString path;
            const QString why = addPath(f[1], path);
            if (!why.isEmpty())
                return refuse(where + why);
            m.folders.append(path);
        } else if (kind == "file") {
            if (f.size() != 5)
                return refuse(where + QStringLiteral("file needs path, size, mode, sha256"));
            OrbDeliveryFile file;
            const QString why = addPath(f[1], file.path);
            if (!why.isEmpty())
                return refuse(where + why);
            if (!parseNumber(f[2], file.size))
                return refuse(where + QStringLiteral("bad file size"));
            if (file.size > lim.fileSize)
                return refuse(where + QStringLiteral("%1: %2 bytes, above the file cap of %3").arg(file.path).arg(file.size).arg(lim.fileSize));
            total += file.size;
            if (total > lim.totalSize)
                return refuse(where + QStringLiteral("total size above the cap of %1 bytes").arg(lim.totalSize));
            if (f[3] == "755")
                file.executable = true;
            else if (f[3] != "644")
                return refuse(where + QStringLiteral("mode must be 644 or 755"));
            file.sha256 = f[4];
            if (!OrbDeliveryHash::IsHex(file.sha256))
                return refuse(where + QStringLiteral("bad file hash"));
            m.files.push_back(std::move(file));
            current = &m.files.back();
            nextOffset = 0;
        } else {
            // Links, devices and anything else have no place in a game folder.
            return refuse(where + QStringLiteral("unsupported entry type '%1'").arg(QString::fromUtf8(kind.left(20))));
        }
    }
    const QString open = closeFile();
    if (!open.isEmpty())
        return refuse(open);

    // Nothing may sit below a file, and no folder may repeat another entry.
    for (auto it = seen.constBegin(); it != seen.constEnd(); ++it) {
        QString p = it.key();
        for (int cut = p.lastIndexOf(QLatin1Char('/')); cut > 0; cut = p.lastIndexOf(QLatin1Char('/'))) {
            p.truncate(cut);
            parents.insert(p);
        }
    }
    for (const OrbDeliveryFile& file : m.files) {
        if (parents.contains(file.path.toCaseFolded()))
            return refuse(QStringLiteral("file is also a folder: %1").arg(file.path));
    }
    for (const QString& folder : m.folders) {
        if (parents.contains(folder.toCaseFolded()))
            return refuse(QStringLiteral("folder is not empty: %1").arg(folder));
    }

    result.ok = true;
    result.manifest = std::move(m);
    return result;
}
