#pragma once
// The main window's FTP operations on the desk: one connection to the download
// server, uploads in 1024-byte chunks with the live "FTP 전송상태" display and
// the cancel question, the "_2" rename, and the version files.
//
// Calling order: FtpConnect, any number of FtpUploadFile / FtpRemoveSuffix,
// FtpDisconnect. The connected flag is Desk::ftpBusy and the close request
// Desk::cancelRequested, which the window's closing rules read.
#include "net/ftpsession.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <functional>

namespace rh {

class Desk;

// How the last upload went through its chunks.
struct FtpUploadStats {
    qint64 chunkWrites = 0;    // whole 1024-byte chunks
    qint64 remainderBytes = 0; // the short last chunk; 0 when the size is a multiple of 1024
    int refreshes = 0;         // display refreshes, throttled and forced
    int forcedRefreshes = 0;
};

// What the window keeps of its connection and of the upload in progress.
struct FtpConnection {
    FtpSession session;
    qint64 totalBytes = 0;
    qint64 bytesSent = 0;
    qint64 startTick = 0;
    qint64 lastDrawTick = 0; // when the labels were last drawn
    float speed = 0; // KB per second
    // Counts unforced progress calls; kept across uploads, as the display was.
    quint16 throttle = 0;
    FtpUploadStats lastUpload;
    // Milliseconds of a monotonic clock; tests install their own.
    std::function<qint64()> tickMs;
    // The yield to the event loop after a chunk happens when this many
    // milliseconds passed since the last one; 0 yields after every chunk.
    // A yield costs about as much as sending a chunk over a fast link, and a
    // window cannot tell a yield per millisecond from one per kilobyte.
    int yieldIntervalMs = 1;
};

// The desk's connection state, created on first use.
FtpConnection& ftpConnection(Desk& desk);

// Logs in to the download server. False, doing nothing, while a connection is
// open. A server that cannot be reached shows "서버 접속 실패!" and ends the
// program (Desk::EndProgram); the result is then false as well.
bool FtpConnect(Desk& desk);

// Closes the connection; closes the window when a close was asked for meanwhile.
void FtpDisconnect(Desk& desk);

// Uploads a local file (Windows or native path) as "/public_html/download/" +
// remoteName. True when the server confirmed every byte. With removeSuffix "1"
// or the auto-rename box ticked, the file then gets its name without "_2" —
// only after a complete upload whose size on the server matches the local file.
bool FtpUploadFile(Desk& desk, const QString& localPath, const QString& remoteName,
                   const QString& removeSuffix);

// Renames folder + fileName to the name with every "_2" removed and logs the
// outcome; with checkExists a missing file gets a message box instead.
void FtpRemoveSuffix(Desk& desk, const QString& folder, const QString& fileName, bool checkExists);

// Adds bytes to the bytes sent and refreshes the display on every 257th call,
// or at once when forced.
void ShowTransferProgress(Desk& desk, qint64 bytes, bool force);

// hh:mm:ss with at least two digits each (3725 -> "01:02:05").
QString FormatElapsed(qint64 seconds);

// Publishes the ticked projects' ".ver" files over a connection of its own.
void UpLoadVersions(Desk& desk);

// The time stamp of a version file: the setup time as "yyMMdd_HHmm" when the
// text holds a date, else the text unchanged.
QString versionTimeStamp(const QString& setupFileTime);
// The version file's bytes: version, ";" and the time stamp in the ANSI code
// page, without a line break.
QByteArray versionFileContent(const QString& fileVersion, const QString& setupFileTime);

} // namespace rh
