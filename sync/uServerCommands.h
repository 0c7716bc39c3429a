#pragma once
// The command channel to the synchronisation server: the protocol words, the opening
// with greeting and handshake, commands with their expected reply codes, and framed
// documents (a decimal byte-count line, CR LF, then exactly that many bytes).
//
// Everything here runs on the main thread, one exchange at a time; every call blocks
// until it completes or raises.
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "sync/LineReader.h"
#include "sync/Reply.h"
#include "sync/SyncObserver.h"
#include "sync/svTCPClient.h"

namespace sv {

// The protocol vocabulary, in its fixed order.
inline constexpr std::array<std::string_view, 17> kProtocolWords = {
    "Hello",          "Ready",       "Sync",        "200 Ok",
    "GetFile",        "serversettings", "serveradress", "defaultport",
    "defaultpollinterval", "projects", "project",  "name",
    "path",           "\\drumel\\sorvana\\svClient.xml", "svClient.xml",
    "\\drumel\\sorvana\\svServer.xml", "svServer.xml"};

// Indexes into kProtocolWords.
enum TProtocolWord {
  pwHello, pwReady, pwSync, pwOk, pwGetFile, pwServerSettings, pwServerAddress, pwDefaultPort,
  pwDefaultPollInterval, pwProjects, pwProject, pwName, pwPath, pwSettingsPath, pwSettingsName,
  pwServerSettingsPath, pwServerSettingsName
};

// The reply codes the client expects.
constexpr int kGreetingCode = 200;
constexpr int kHelloCode = 201;
constexpr int kSyncCode = 202;
constexpr int kGetFileCode = 203;

// Connects, expects the greeting (200) and sends "Hello" (201); always returns true.
// Raises "Already connected." when open, an empty message when Host is empty or Port is
// outside 1-65535, and the channel's failures; after a failed greeting or handshake the
// connection is closed again.
bool OpenServerChannel(TsvTCPClient& client);
// Closes the connection without sending anything; nothing when it is not open.
void CloseServerChannel(TsvTCPClient& client);

// Writes the line and returns ExpectReply(expected); "Not connected." when closed.
int SendCommand(TsvTCPClient& client, std::string_view line, int expected);
// Reads one reply; returns its code when it is `expected`, raises EReplyError otherwise.
int ExpectReply(TsvTCPClient& client, int expected);

// Writes the length line and then all the bytes, nothing after them.
void WriteFramedDocument(TsvTCPClient& client, std::string_view bytes);
// Reads one framed document of at most kMaxDocumentLength bytes and appends it to out.
// A longer or negative length raises "'%s' is not a valid integer value" before any
// byte of the document is read.
void ReadFramedDocument(TsvTCPClient& client, std::string& out);
// Reads one framed document of any length, handing its bytes to sink as they arrive
// (file contents: streamed, never held whole). `announced`, when given, hears the length
// before any byte is read; when it raises, nothing more is read. The content observer,
// when set, is then told the length and the running total after each piece.
void ReadFramedDocument(TsvTCPClient& client, const ByteSink& sink,
                        const std::function<void(std::uint64_t)>& announced = {});

// The program-wide channel that the file commands use; set by the controller when it
// is created and cleared before the client goes. Main thread.
void SetServerChannel(TsvTCPClient* client);
TsvTCPClient* ServerChannel();
// The observer told of file contents as they arrive (above); none when nullptr. Set by
// the synchronisation run around a project's tasks. Main thread.
void SetContentObserver(TSyncObserver* observer);
TSyncObserver* ContentObserver();

}  // namespace sv
