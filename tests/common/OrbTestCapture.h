#pragma once

// Captures what the process writes to one of its standard streams while the
// object lives (the stream's descriptor is pointed at a temporary file).

#include <QByteArray>
#include <QTemporaryFile>

#include <cstdio>
#include <unistd.h>

class OrbTestCapture {
public:
    explicit OrbTestCapture(FILE* stream) : m_stream(stream)
    {
        m_file.open();
        std::fflush(m_stream);
        m_saved = ::dup(::fileno(m_stream));
        ::dup2(m_file.handle(), ::fileno(m_stream));
    }
    ~OrbTestCapture() { restore(); }

    // Stops capturing and returns everything written meanwhile.
    QByteArray take()
    {
        restore();
        m_file.seek(0);
        return m_file.readAll();
    }

private:
    void restore()
    {
        if (m_saved < 0)
            return;
        std::fflush(m_stream);
        ::dup2(m_saved, ::fileno(m_stream));
        ::close(m_saved);
        m_saved = -1;
    }

    FILE* m_stream;
    QTemporaryFile m_file;
    int m_saved = -1;
};
