#pragma once

#include <QSet>
#include <QString>

// Link tests applied before a path is written, replaced or copied: following a
// link (or junction) could lead out of the folder being worked on.
// OrbLinksWin.cpp and OrbLinksUnix.cpp hold the two implementations of isLink.
namespace OrbLinks {

// True when `path` itself is a symbolic link, or on Windows any reparse point
// (junction, mount point, symbolic link) or shortcut file; never follows it.
// A dangling link is a link.
bool isLink(const QString& path);

// True when a folder strictly between `base` and `base/rel` is a link (neither
// `base` nor the last segment of `rel` is looked at). `rel` uses '/'. A missing
// folder ends the walk: nothing below it exists yet. `knownDirs`, when given,
// holds folders already found to be real and receives the ones found now, so a
// caller asking for many paths below the same folders checks each folder once.
bool passesThroughLink(const QString& base, const QString& rel, QSet<QString>* knownDirs = nullptr);

} // namespace OrbLinks
