#pragma once

#include <QString>
#include <QStringList>

// What one game installation put on disk: the folder it was unpacked into and
// the entries (files, links and folders, relative to that folder) it wrote. The
// clean-up before a game update removes exactly these and nothing else.
class OrbInstallManifest {
public:
    QString root;          // absolute, cleaned folder of the installation
    QStringList entries;   // relative paths; folders end with "/"

    bool isEmpty() const { return root.isEmpty(); }

    // The manifest of a finished extraction of `archivePath` into `root`: every
    // archive entry that lands below the root, except those named in `skipped`,
    // plus the folders leading to them.
    static OrbInstallManifest FromArchive(const QString& archivePath, const QString& root,
                                          const QStringList& skipped, QString* error = nullptr);

    // The manifest of what an extraction into `root` wrote, from the installer's
    // own list (paths relative to root, folders ending in "/" and listed before
    // what they hold). Paths that would leave the root are left out.
    static OrbInstallManifest FromWritten(const QString& root, const QStringList& written);

    // Where the manifest of a game is kept: the launcher's per-user data folder.
    static QString PathForGame(const QString& gameName);

    static OrbInstallManifest Load(const QString& path);
    bool save(const QString& path) const;

    // Adds the entries of `other` when it describes the same folder.
    void merge(const OrbInstallManifest& other);

    // Removes the listed files and links (never following a link), then the
    // listed folders that are empty afterwards, deepest first. Refuses a root that
    // is a protected folder. Returns false when something listed could not be
    // removed or the root was refused; `failures` names what stayed.
    bool removeInstalled(QStringList* failures = nullptr) const;
};
