#pragma once
// One FTP connection to the download server over libcurl: log in (passive,
// binary), upload from a file or from memory, rename, look one file up, close.
// A session keeps one curl handle (and its connection cache) from connect() to
// disconnect(), so every operation in between reuses the same control
// connection. libcurl drops a
// control connection that an aborted or broken transfer left in an unknown
// state; the next operation then logs in again on its own.
//
// Everything runs on the calling thread. Upload callbacks may pump the event
// loop and ask the user questions; the session refuses to be re-entered from
// inside them.
#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <functional>
#include <memory>

namespace rh {

// Remote folders of the download site.
inline constexpr char kFtpDownloadFolder[] = "/public_html/download/";
inline constexpr char kFtpVersionsFolder[] = "/public_html/download/versions/";

struct FtpLogin {
    QString host;
    int port = 21;
    QString user;
    QString password;
    // Empty: connect directly; the environment's ftp_proxy/all_proxy are
    // never used (curl would take them on its own).
    QString proxy;
    int connectTimeoutSec = 30;
    // A transfer that moves no byte for this long fails instead of hanging.
    int stallTimeoutSec = 60;

    // Host, port, account and password of the site configuration.
    static FtpLogin fromSite();
};

enum class FtpStatus { Completed, Cancelled, Failed };

struct FtpResult {
    FtpStatus status = FtpStatus::Failed;
    int curlCode = 0;       // CURLcode; 0 when curl was not the one that failed
    QString errorText;      // curl's message or the session's own; never the password
    QString serverReply;    // the server's last reply line, when there was one
    // Uploads: the server accepted the remote file (STOR got a 1xx reply).
    // False on failure means the remote file could not be created at all.
    bool remoteOpened = false;
    // Bytes curl sent (uploads). A failure with every byte sent means the
    // server did not confirm the stored file (the close failed).
    qint64 bytesSent = 0;

    bool ok() const { return status == FtpStatus::Completed; }
    // One line for a log: "curl error 67: Access denied: 530 [530 Authentication failed.]".
    QString describe() const;
};

// One chunk of an upload, handed to the chunk callback before it is sent.
struct FtpChunk {
    qint64 bytes = 0;   // 1024, or less for the last chunk of a file
    qint64 queued = 0;  // bytes handed out so far, this chunk included
    qint64 total = 0;   // size of the upload
    bool remainder() const { return bytes < kSize; }

    static constexpr qint64 kSize = 1024;
};

struct FtpUploadHooks {
    // Called once per 1024-byte chunk, in order; false stops the transfer
    // (the result is Cancelled, the remote file keeps what arrived).
    std::function<bool(const FtpChunk&)> chunk;
    // Called while the transfer waits on the network, about every 50 ms when
    // no chunk callback ran meanwhile; false stops the transfer like chunk().
    std::function<bool()> idle;
    // Called from the same loop, outside curl, whenever the bytes curl has
    // sent over the data connection grew (the chunk callback runs earlier,
    // when a chunk enters curl's buffer).
    std::function<void(qint64 sent)> sent;
};

struct FtpUploadOptions {
    // curl's upload buffer; the chunk callback fills it with many chunks per
    // read call. curl accepts 16 KiB to 2 MiB.
    int bufferSize = 512 * 1024;
    // Hand curl a single chunk per read call (the slow way, kept for comparison).
    bool oneChunkPerRead = false;
};

struct FtpFileInfo {
    bool exists = false;
    qint64 size = -1;
};

class FtpSession {
public:
    FtpSession();
    ~FtpSession();
    FtpSession(const FtpSession&) = delete;
    FtpSession& operator=(const FtpSession&) = delete;

    // Logs in. Fails without touching anything when already connected.
    FtpResult connect(const FtpLogin& login = FtpLogin::fromSite());
    // Sends QUIT and closes the connection; harmless when not connected.
    void disconnect();
    bool isConnected() const;

    // Streams the local file to remotePath (absolute, e.g.
    // "/public_html/download/x_2.exe"); memory use does not grow with its size.
    FtpResult uploadFile(const QString& localPath, const QString& remotePath,
                         const FtpUploadHooks& hooks = {}, const FtpUploadOptions& options = {});
    // Writes the bytes as remotePath in one go (version files).
    FtpResult uploadData(const QByteArray& data, const QString& remotePath);
    // RNFR/RNTO; a failure leaves the connection usable.
    FtpResult rename(const QString& fromPath, const QString& toPath);
    // DELE; a failure leaves the connection usable.
    FtpResult remove(const QString& remotePath);
    // Reads a small remote file (a version file) into memory; at most maxBytes.
    FtpResult download(const QString& remotePath, QByteArray* out, qint64 maxBytes = 1 << 20);
    // Existence and size of one remote file: SIZE, then MLST, then the
    // folder's listing, for servers that refuse one or the other. A missing
    // file is a Completed result with exists == false; an existing file whose
    // size no way could tell has size -1. Failed means no look-up worked.
    FtpResult lookup(const QString& remotePath, FtpFileInfo* info);
    // Looks a file up in its folder's LIST only: what the server shows a
    // browsing client, never a planned or cached answer.
    FtpResult listed(const QString& remotePath, FtpFileInfo* info);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace rh
