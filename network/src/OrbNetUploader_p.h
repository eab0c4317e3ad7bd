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
// Uploads: the credential provider, credential fetches and their retry, the table
// of uploads waiting for credentials, and the signed transfers. Lives on the
// engine's worker thread as a child of the engine, which it reaches only through
// IOrbTransferEngine.

#include "IOrbCosGetConfig.h"
#include "OrbNetS3Signer_p.h"
#include "OrbNetUpload.h"
#include "OrbNetworkExport.h"

#include <QObject>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>

class IOrbTransferEngine;
class OrbNetResponse;
class QNetworkAccessManager;
class QNetworkReply;
class QTimer;

class OrbNetUploader : public QObject {
    Q_OBJECT
public:
    // Wait after a failed credential fetch before the next one.
    static constexpr int kRetryMs = 30000;
    // Credentials this close to their expiry are fetched again before use.
    static constexpr int kExpiryMarginS = 60;

    OrbNetUploader(IOrbTransferEngine* engine, QObject* parent = nullptr);
    ~OrbNetUploader() override;

    // Any thread.
    void SetCosConfig(std::shared_ptr<IOrbCosGetConfig> config);
    std::shared_ptr<OrbNetUpload> Upload(int id, const OrbNetUploadReq& req);
    std::string LastFailure() const;
    size_t PendingCount() const;
    // For tests: a shorter wait than kRetryMs.
    void SetRetryInterval(int ms) { m_retryMs.store(ms); }

signals:
    void sigUpload(int id);

public slots:
    void onUpload(int id);
    void onUpdateCosConfig();

private:
    void evaluate(int generation, const std::shared_ptr<OrbNetResponse>& response);
    void fail(const std::string& text);
    bool credentialsUsable() const;
    void startPending();
    void transfer(const std::shared_ptr<OrbNetUpload>& upload);
    void transferDone(int id, QNetworkReply* reply);

    IOrbTransferEngine* m_engine;
    std::atomic<int> m_retryMs{kRetryMs};

    mutable std::mutex m_configLock;  // provider and failure text
    std::shared_ptr<IOrbCosGetConfig> m_config;
    std::string m_failure;

    mutable std::mutex m_tableLock;  // uploads waiting for credentials
    std::map<int, std::shared_ptr<OrbNetUpload>> m_pending;

    // Worker thread only.
    int m_generation = 0;        // of the newest fetch
    bool m_fetching = false;     // the newest fetch has not been evaluated yet
    bool m_haveCredentials = false;
    OrbS3Credentials m_credentials;
    QTimer* m_retry = nullptr;
    QNetworkAccessManager* m_manager = nullptr;
    std::map<int, std::shared_ptr<OrbNetUpload>> m_active;  // transferring
};
