#pragma once

#include <QList>
#include <QObject>

class QProcess;

// Game clients: start one more, notice each one's end, close them all. Nothing
// here waits on the GUI thread: a start reports when the process has started
// (or could not), and closing kills the clients and hears of their ends later.
class OrbGameClients : public QObject {
    Q_OBJECT
public:
    static constexpr int kStartTimeoutMs = 30000;

    explicit OrbGameClients(QObject* parent = nullptr);
    ~OrbGameClients() override;

    void start();
    void closeAll();

    // Clients started and not yet ended or closed.
    int count() const { return int(m_games.size()); }

signals:
    void startResult(bool result);
    void notFound();
    // The last client ended (or all were closed).
    void allEnded();

private:
    void onEnded(QProcess* process);
    void onStartFailed(QProcess* process);

    QList<QProcess*> m_starting;
    QList<QProcess*> m_games;
    QList<QProcess*> m_closing;
};
