#pragma once

// Entry names and link targets judged as text, the same on every platform the
// package may be installed on, and the path arithmetic the checks share.

#include <QString>

namespace OrbZip {

// Why an entry called `name` must not be written on any platform the package
// may be installed on; empty when it may. Only the text is judged here.
QString nameProblem(const QString& name);

// What entry names and link targets share: anything that is not a plain
// relative path with '/' separators on every platform; empty when fine.
QString pathTextProblem(const QString& text);

QString parentOf(const QString& path);

// `path` is `folderNoSlash` or lies below it (both clean, without trailing '/').
bool insideOrEqual(const QString& path, const QString& folderNoSlash);

} // namespace OrbZip
