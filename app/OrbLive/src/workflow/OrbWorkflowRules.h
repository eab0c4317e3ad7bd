#pragma once

#include <QString>
#include <QStringList>

// Small pure rules of the launcher workflow, kept apart so they can be tested
// without components.
namespace OrbWorkflowRules {

// The text after the last "/" of a URL (its query and fragment left out), or the
// whole URL when it has none. Empty when that is no plain file name: empty, "."
// or "..", or holding a backslash, a colon or a control character.
QString FileNameOfUrl(const QString& url);

// True when `server` is a newer version than `local`. Text that does not start
// with a number is the empty version, older than every non-empty one.
bool IsNewerVersion(const QString& server, const QString& local);

// A decimal integer; anything else counts as 0.
int DecimalOrZero(const QString& text);

// The folder the game is installed in: the install directory, plus "/" + the
// game name unless the directory's text already contains the name.
QString GameFolder(const QString& installDirectory, const QString& gameName);

// The game's executable file name (".exe" on Windows only).
QString ExecutableName(const QString& gameName);

// The executable file `relative` below `folder`, exactly there; empty when the
// path leaves the folder or names no executable file.
QString ExecutableBelow(const QString& folder, const QString& relative);

// Among the paths an installation wrote (relative, folders ending in "/"), the
// shallowest file named exactly `name`; empty when it wrote none.
QString RecordedExecutable(const QStringList& written, const QString& name);

// A declared package size in bytes; -1 when the text is empty or not a
// non-negative decimal number.
qint64 DeclaredSize(const QString& text);

// File names of the launcher program and of the external updater.
QString LauncherProgramName();
QString UpdaterProgramName();

} // namespace OrbWorkflowRules
