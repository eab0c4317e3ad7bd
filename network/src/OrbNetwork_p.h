#pragma once
//
//  W A R N I N G
//  -------------
//
// This file is not part of the OrbNetwork API. It exists purely as an
// implementation detail. This header file may change from version to
// version without notice, or even be removed.
//
// We mean it.
//
// The engine: lives on the worker thread "OrbNetwork thread" and runs every transfer.

#include "OrbIPStatus.h"
#include "OrbNetConfig.h"
#include "OrbNetIPSelector_p.h"
#include "OrbNetRequest.h"
#include "OrbNetResponse.h"
#include "OrbNetResponse_p.h"
#include "OrbNetworkExport.h"

#include <QObject>
#include <QThread>
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

class IOrbDnsResolver;
class OrbNetwork;
class QNetworkAccessManager;
class QNetworkReply;
class OrbNetResponsePrivate;
class OrbNetDownload;
class OrbNetDownloadReq;
class OrbNetUploader;
class OrbNetProbe;

class OrbNetworkPrivate : public QObject, public IOrbSelectorEngine, public IOrbResponseCloser,
                          public IOrbTransferEngine {
    Q_OBJECT
public:
    using DispatchObserver = std::function<void(int id, ProxyMode mode, const std::string& ip)>;

    explicit OrbNetworkPrivate(const OrbNetConfig& config);
    ~OrbNetworkPrivate() override;

    static OrbNetworkPrivate* get(OrbNetwork* n);

    // IOrbTransferEngine. Caller's thread: a download installs its data sink and
    // callbacks in `prepare`.
    std::shared_ptr<OrbNetResponse> Submit(int id, const OrbNetRequest& request,
                                           const Prepare& prepare = Prepare()) override;
    OrbNetConfig RequestConfig() const override { return config; }

    // IOrbSelectorEngine and IOrbTransferEngine, any thread.
    int NextId() override { return ++m_idCounter; }

    // IOrbSelectorEngine, worker thread.
    OrbNetConfig ProbeConfig() const override { return config; }
    void ProcessHttp(ProxyMode mode, const std::string& ip, int id, int failed) override;
    void SubmitProbe(int id, const OrbNetRequest& request, std::function<void()> done) override;
    void ProbeDone(int id, std::list<OrbIPStatus> list) override;

    // Caller's thread: opens the download's file and submits its transfer (none when the
    // file cannot be opened).
    std::shared_ptr<OrbNetDownload> Download(int id, const OrbNetDownloadReq& req, bool resume);

    // Caller's thread: registers a probe handle and asks the selector for a probe pass.
    std::shared_ptr<OrbNetProbe> Probe(int id, const OrbNetRequest& request);

    // IOrbResponseCloser, any thread.
    void RequestClose(int id) override;

    // Sees every transport attempt of this engine as it is sent (worker thread).
    void SetDispatchObserver(DispatchObserver observer);

    OrbNetConfig config;
    QThread* thread = nullptr;
    std::atomic<Qt::HANDLE> workerThread{nullptr};
    std::shared_ptr<IOrbDnsResolver> resolver;
    std::atomic<bool> initialised{false};
    std::mutex initLock;
    OrbNetUploader* uploader = nullptr;  // child: uploads and their credentials

signals:
    void sigThreadId();
    void sigProbe(QString scheme, QString hostname, int port, int id);
    void sigHttpDo(HttpInfoForSelector info);
    void sigCloseResponse(int id);

public slots:
    void onThreadId();
    void onCloseResponse(int id);

private:
    QNetworkAccessManager* managerFor(ProxyMode mode, const std::string& host, int port, bool verify);
    QNetworkReply* send(OrbNetResponsePrivate* p, ProxyMode mode);
    void wire(const std::shared_ptr<OrbNetResponse>& h, QNetworkReply* reply);
    void onReplyFinished(int id, QNetworkReply* reply);
    static bool bodyCutShort(QNetworkReply* reply, int status, qint64 received);
    void finishUnsent(int id, int error);
    // Worker thread: the request's body bytes, into its sink or its body (within its size cap).
    void deliver(const std::shared_ptr<OrbNetResponse>& h, const QByteArray& chunk, QNetworkReply* reply);
    // Worker thread: the engine ends a request itself with `code` (NetDeadline, NetTooLarge).
    void stop(const std::shared_ptr<OrbNetResponse>& h, int code);
    void armDeadline(int id, qint64 start, long long deadline);
    std::shared_ptr<OrbNetResponse> live(int id);
    void forget(int id);

    std::atomic<int> m_idCounter{0};
    OrbNetIPSelector* m_selector = nullptr;
    std::map<std::string, QNetworkAccessManager*> m_managers;
    std::mutex m_liveLock;
    std::map<int, std::shared_ptr<OrbNetResponse>> m_liveResponses;
    std::map<int, std::shared_ptr<OrbNetProbe>> m_liveProbes;
    std::shared_ptr<OrbEngineLink> m_link;
    std::mutex m_observerLock;
    DispatchObserver m_observer;
};
