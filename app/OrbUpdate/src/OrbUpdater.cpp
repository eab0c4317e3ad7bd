#include "OrbUpdater.h"

#include "OrbLinks.h"
#include "OrbPackageManifest.h"
#include "OrbUserFolders.h"
#include "platform/OrbUpdatePlatform.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QSet>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QThread>

#include <algorithm>

namespace {

constexpr int kKeptLogs = 10;
const char kLogPrefix[] = "OrbUpdate-";

} // namespace

OrbUpdater::OrbUpdater(Options options) : m_options(std::move(options))
{
    if (!m_options.isRunning)
        m_options.isRunning = &OrbUpdatePlatform::IsProgramRunning;
}

QString OrbUpdater::DefaultLogDir()
{
    return OrbUserFolders::absolute(OrbUserFolders::kLog);
}

QStringList OrbUpdater::PreservedFiles()
{
    // The launcher's own state: its game and launcher versions were advanced by
    // the launcher, and the package's copy must not take them back (an older
    // version there would offer the same update again).
    return {QStringLiteral("config/game_settings.ini")};
}

void OrbUpdater::openLog()
{
    const QString dir = m_options.logDir.isEmpty() ? DefaultLogDir() : m_options.logDir;
    if (!QDir().mkpath(dir))
        return;
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd-HH-mm-ss"));
    m_logFile = dir + QLatin1Char('/') + QLatin1String(kLogPrefix) + stamp + QStringLiteral(".log");
    // Keep the folder bounded: only the newest runs' files stay.
    QStringList old = QDir(dir).entryList({QLatin1String(kLogPrefix) + QStringLiteral("*.log")}, QDir::Files, QDir::Name);
    old.removeAll(QFileInfo(m_logFile).fileName());
    while (old.size() >= kKeptLogs)
        QFile::remove(dir + QLatin1Char('/') + old.takeFirst());
}

void OrbUpdater::note(const QString& line)
{
    const QString stamped = QDateTime::currentDateTime().toString(QStringLiteral("HH:mm:ss.zzz ")) + line;
    m_log.append(line);
    if (m_logFile.isEmpty())
        return;
    QFile file(m_logFile);
    if (file.open(QIODevice::Append | QIODevice::Text))
        file.write(stamped.toUtf8() + '\n');
}

bool OrbUpdater::validate()
{
    const QString name = m_options.programFile;
    if (name.isEmpty() || name.contains(QLatin1Char('/')) || name.contains(QLatin1Char('\\')) || name == QLatin1String(".") ||
        name == QLatin1String("..")) {
        note(QStringLiteral("error: invalid program file name \"%1\"").arg(name));
        return false;
    }
    const QFileInfo source(m_options.sourceDir);
    const QFileInfo program(m_options.programDir);
    if (!source.isDir() || OrbLinks::isLink(source.filePath())) {
        note(QStringLiteral("error: the package folder %1 is not a folder").arg(m_options.sourceDir));
        return false;
    }
    if (!program.isDir()) {
        note(QStringLiteral("error: the program folder %1 is not a folder").arg(m_options.programDir));
        return false;
    }
    m_source = source.canonicalFilePath();
    m_program = program.canonicalFilePath();
    if (m_source == m_program || (m_program + QLatin1Char('/')).startsWith(m_source + QLatin1Char('/'))) {
        note(QStringLiteral("error: the package folder holds the program folder"));
        return false;
    }
    const QFileInfo newProgram(path(m_source, name));
    if (!newProgram.isFile() || OrbLinks::isLink(newProgram.filePath())) {
        note(QStringLiteral("error: the package holds no program file %1").arg(name));
        return false;
    }
    m_stage = path(m_program, QLatin1String(kStageName));
    m_stash = path(m_program, QLatin1String(kStashName));
    m_journal = path(m_program, QLatin1String(kJournalName));
    return true;
}

// The work folders and the journal are emptied, truncated and written: one that
// is a link would carry all of that to wherever it points.
bool OrbUpdater::checkWorkPaths()
{
    for (const QString& work : {m_stage, m_stash, m_journal}) {
        if (OrbLinks::isLink(work)) {
            note(QStringLiteral("error: %1 is a link; the update is refused").arg(work));
            return false;
        }
    }
    return true;
}

bool OrbUpdater::waitForLauncherEnd()
{
    const QString programPath = path(m_program, m_options.programFile);
    QElapsedTimer timer;
    timer.start();
    while (m_options.isRunning(programPath)) {
        if (timer.elapsed() >= m_options.waitTimeoutMs) {
            note(QStringLiteral("error: the launcher %1 was still running after %2 s; nothing was changed")
                     .arg(programPath)
                     .arg(m_options.waitTimeoutMs / 1000.0));
            return false;
        }
        QThread::msleep(static_cast<unsigned long>(m_options.pollIntervalMs));
    }
    note(QStringLiteral("the launcher has ended"));
    return true;
}

bool OrbUpdater::collect(QStringList* files)
{
    const QStringList preserved = PreservedFiles();
    QDirIterator it(m_source, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString entry = it.next();
        const QFileInfo info = it.fileInfo();
        const QString rel = QDir(m_source).relativeFilePath(entry);
        if (OrbLinks::isLink(info.filePath())) {
            // A link could point anywhere; its target is never copied or followed.
            note(QStringLiteral("skipped link %1").arg(rel));
            continue;
        }
        if (info.isDir())
            continue;
        if (!info.isFile()) {
            note(QStringLiteral("skipped special file %1").arg(rel));
            continue;
        }
        const QString dest = QDir::cleanPath(path(m_program, rel));
        if (!dest.startsWith(m_program + QLatin1Char('/'))) {
            note(QStringLiteral("skipped %1: outside the program folder").arg(rel));
            continue;
        }
        // The package itself, and the updater's own work folders, are no targets.
        if ((dest + QLatin1Char('/')).startsWith(m_source + QLatin1Char('/')) || rel.startsWith(QLatin1String(kStageName)) ||
            rel.startsWith(QLatin1String(kStashName)) || rel == QLatin1String(kJournalName)) {
            note(QStringLiteral("skipped %1").arg(rel));
            continue;
        }
        if (rel == QLatin1String(OrbPackageManifest::kFileName))
            continue;
        if (preserved.contains(rel) && QFileInfo::exists(dest)) {
            note(QStringLiteral("kept the program folder's %1").arg(rel));
            continue;
        }
        files->append(rel);
    }
    std::sort(files->begin(), files->end());
    return true;
}

// Every file of the folder must be sealed, and every sealed file present; the
// contents are checked on the staged copies, which are what gets installed.
bool OrbUpdater::checkSeal()
{
    QString error;
    if (!OrbPackageManifest::Read(m_source, &m_sealed, &error)) {
        note(QStringLiteral("error: %1; nothing is installed").arg(error));
        return false;
    }
    QSet<QString> present;
    QDirIterator it(m_source, QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        const QFileInfo info = it.fileInfo();
        const QString rel = QDir(m_source).relativeFilePath(info.filePath());
        if (!OrbLinks::isLink(info.filePath()) && info.isFile() &&
            rel != QLatin1String(OrbPackageManifest::kFileName))
            present.insert(rel);
    }
    for (const QString& rel : present) {
        if (!m_sealed.contains(rel)) {
            note(QStringLiteral("error: %1 is not part of the accepted package; nothing is installed").arg(rel));
            return false;
        }
    }
    for (auto i = m_sealed.cbegin(); i != m_sealed.cend(); ++i) {
        if (!present.contains(i.key())) {
            note(QStringLiteral("error: %1 of the accepted package is missing; nothing is installed").arg(i.key()));
            return false;
        }
    }
    return true;
}

bool OrbUpdater::stage(const QStringList& files)
{
    QDir(m_stage).removeRecursively();
    if (!QDir().mkpath(m_stage)) {
        note(QStringLiteral("error: cannot create the staging folder %1").arg(m_stage));
        return false;
    }
    for (const QString& rel : files) {
        const QString to = path(m_stage, rel);
        if (!QDir().mkpath(QFileInfo(to).absolutePath()) || !QFile::copy(path(m_source, rel), to)) {
            note(QStringLiteral("error: cannot stage %1").arg(rel));
            return false;
        }
        if (OrbPackageManifest::HashFile(to) != m_sealed.value(rel)) {
            note(QStringLiteral("error: %1 differs from the accepted package; nothing is installed").arg(rel));
            m_sealBroken = true;
            return false;
        }
    }
    note(QStringLiteral("staged %1 files").arg(files.size()));
    return true;
}

// Creates the folders leading to `rel` below the program folder, refusing to go
// through anything that is not a real folder.
bool OrbUpdater::ensureFolder(const QString& rel, QStringList* created)
{
    const QStringList parts = rel.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    QString current = m_program;
    for (int i = 0; i + 1 < parts.size(); ++i) {
        current += QLatin1Char('/') + parts[i];
        const QFileInfo info(current);
        if (OrbLinks::isLink(info.filePath())) {
            note(QStringLiteral("error: %1 is a link; nothing is written through it").arg(current));
            return false;
        }
        if (info.exists() && !info.isDir()) {
            note(QStringLiteral("error: %1 is in the way of a folder").arg(current));
            return false;
        }
        if (!info.exists()) {
            if (!QDir().mkdir(current)) {
                note(QStringLiteral("error: cannot create %1").arg(current));
                return false;
            }
            created->append(current);
        }
    }
    return true;
}

bool OrbUpdater::commit(const QStringList& files)
{
    QList<Placed> placed;
    QStringList createdFolders;
    QFile journal(m_journal);
    if (!journal.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        note(QStringLiteral("error: cannot write the journal %1").arg(m_journal));
        return false;
    }
    auto fail = [&] {
        journal.close();
        rollBack(placed, createdFolders);
        return false;
    };
    for (const QString& rel : files) {
        const QString dest = path(m_program, rel);
        if (!ensureFolder(rel, &createdFolders))
            return fail();
        const QFileInfo old(dest);
        const bool oldIsLink = OrbLinks::isLink(dest);
        const bool hadOld = old.exists() || oldIsLink;
        if (hadOld && old.isDir() && !oldIsLink) {
            note(QStringLiteral("error: a folder is in the way of %1").arg(rel));
            return fail();
        }
        // Recorded before the move, so a killed run is rolled back by the next one.
        journal.write((hadOld ? "1 " : "0 ") + rel.toUtf8() + '\n');
        if (hadOld) {
            if (OrbLinks::passesThroughLink(m_program, QLatin1String(kStashName) + QLatin1Char('/') + rel)) {
                note(QStringLiteral("error: the place to keep the old %1 passes through a link").arg(rel));
                return fail();
            }
            const QString aside = path(m_stash, rel);
            if (!QDir().mkpath(QFileInfo(aside).absolutePath()) || !QFile::rename(dest, aside)) {
                note(QStringLiteral("error: cannot move %1 aside").arg(rel));
                return fail();
            }
        }
        placed.append({rel, hadOld});
        if (!QFile::rename(path(m_stage, rel), dest)) {
            note(QStringLiteral("error: cannot put the new %1 in place").arg(rel));
            return fail();
        }
    }
    journal.close();
    note(QStringLiteral("replaced %1 files").arg(files.size()));
    return true;
}

void OrbUpdater::rollBack(const QList<Placed>& placed, const QStringList& createdFolders)
{
    int restored = 0;
    for (auto it = placed.crbegin(); it != placed.crend(); ++it) {
        // A journal can be planted or a folder swapped for a link since the step
        // was made: nothing is removed or moved through a link.
        if (throughLink(it->rel)) {
            note(QStringLiteral("left %1: its path passes through a link").arg(it->rel));
            continue;
        }
        const QString dest = path(m_program, it->rel);
        const QString aside = path(m_stash, it->rel);
        // Only a file that really was moved aside may take the place back.
        if (it->hadOld && !QFileInfo::exists(aside) && !OrbLinks::isLink(aside))
            continue;
        QFile::remove(dest);
        if (it->hadOld && !QFile::rename(aside, dest))
            note(QStringLiteral("error: cannot restore %1 (kept at %2)").arg(it->rel, aside));
        else
            ++restored;
    }
    for (auto it = createdFolders.crbegin(); it != createdFolders.crend(); ++it)
        QDir().rmdir(*it);
    note(QStringLiteral("rolled back %1 files; the previous launcher is in place").arg(restored));
    removeWorkFolders();
}

bool OrbUpdater::throughLink(const QString& rel) const
{
    return OrbLinks::passesThroughLink(m_program, rel) ||
           OrbLinks::passesThroughLink(m_program, QLatin1String(kStashName) + QLatin1Char('/') + rel);
}

void OrbUpdater::recoverInterruptedRun()
{
    QFile journal(m_journal);
    if (!journal.exists())
        return;
    QList<Placed> placed;
    if (journal.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : journal.readAll().split('\n')) {
            if (line.size() < 3 || (line[0] != '0' && line[0] != '1') || line[1] != ' ')
                continue;
            const QString rel = QString::fromUtf8(line.mid(2));
            const QString clean = QDir::cleanPath(path(m_program, rel));
            if (!clean.startsWith(m_program + QLatin1Char('/')))
                continue;
            placed.append({rel, line[0] == '1'});
        }
        journal.close();
    }
    note(QStringLiteral("an earlier update was interrupted; undoing its %1 steps").arg(placed.size()));
    rollBack(placed, {});
}

void OrbUpdater::removeWorkFolders()
{
    // Checked again here: emptying a linked folder would empty its target.
    for (const QString& folder : {m_stage, m_stash}) {
        if (!OrbLinks::isLink(folder))
            QDir(folder).removeRecursively();
    }
    if (!OrbLinks::isLink(m_journal))
        QFile::remove(m_journal);
}

bool OrbUpdater::startLauncher()
{
    const QString program = path(m_program, m_options.programFile);
    if (!m_options.startLauncher)
        return true;
    qint64 pid = 0;
    if (!QProcess::startDetached(program, {}, m_program, &pid)) {
        note(QStringLiteral("error: cannot start %1").arg(program));
        return false;
    }
    note(QStringLiteral("started %1 (process %2)").arg(program).arg(pid));
    return true;
}

OrbUpdater::Result OrbUpdater::run()
{
    openLog();
    note(QStringLiteral("update of %1 from %2 (%3)").arg(m_options.programDir, m_options.sourceDir, m_options.programFile));
    if (!validate())
        return BadArguments;
    if (!waitForLauncherEnd())
        return LauncherStillRunning;
    if (!checkWorkPaths()) {
        note(QStringLiteral("nothing was changed"));
        startLauncher();
        return UnsafeWorkFolder;
    }
    recoverInterruptedRun();

    QStringList files;
    collect(&files);
    if (!checkSeal()) {
        note(QStringLiteral("nothing was changed"));
        startLauncher();
        return NotSealed;
    }
    if (!stage(files)) {
        removeWorkFolders();
        note(QStringLiteral("nothing was changed"));
        startLauncher();
        return m_sealBroken ? NotSealed : CopyFailed;
    }
    if (!commit(files)) {
        startLauncher();
        return CopyFailed;
    }
    removeWorkFolders();
    note(QStringLiteral("update complete"));
    return startLauncher() ? Updated : StartFailed;
}
