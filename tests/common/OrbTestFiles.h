#pragma once

// Small file helpers shared by the tests.

#include <QByteArray>
#include <QFile>
#include <QRandomGenerator>
#include <QString>
#include <QtTest>

namespace orbtest {

// The file's content, or "<missing>" when it cannot be read.
inline QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// Replaces the file's content; fails the running test when it cannot.
inline void writeFile(const QString& path, const QByteArray& data)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(data), qint64(data.size()));
}

// Reproducible pseudo-random bytes.
inline QByteArray randomBytes(int size, quint32 seed = 7)
{
    QByteArray b(size, Qt::Uninitialized);
    QRandomGenerator g(seed);
    for (int i = 0; i < size; ++i)
        b[i] = char(g.bounded(256));
    return b;
}

} // namespace orbtest
