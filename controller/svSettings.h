#pragma once
// The settings file svClient.xml: where it is, how it is read into the settings and how
// the settings are written back. The document (Windows-1250, CR LF after every line):
//
//   <xml>
//   <serversettings>
//   <serveradress>host</serveradress>          (a single d, as the file has always had it)
//   <defaultport>1974</defaultport>
//   <defaultpollinterval>60</defaultpollinterval>
//   <usetrash>0</usetrash>                     (these three only when not the default)
//   <maxdeletecount>50</maxdeletecount>
//   <maxdeletepercent>25</maxdeletepercent>
//   <notices>0</notices>                       (only when off)
//   <tls>1</tls>                               (only when required)
//   <tlspin>64 hexadecimal digits</tlspin>     (only when a pin is set)
//   </serversettings>
//   <projects>
//   <project><name>drumel</name><path>/home/ana/drumel</path></project>  (one line each)
//   </projects>
//   </xml>
//
// Element names are found without regard to case; only the first of each name counts,
// except project, of which every one counts. Unknown elements are ignored and not
// written back. Every step adds its entry to the event log.
#include <cstdint>
#include <string>
#include <string_view>

#include "controller/svProjects.h"
#include "platform/SystemPath.h"

namespace sv {

class TdrEventLog;

constexpr std::int32_t kDefaultServerPort = 1974;
constexpr std::int32_t kDefaultPollInterval = 60;
// The mass-deletion guard holds a project whose tasks would remove more files than both
// limits allow: a number, and a share of the files listed in percent. 0 turns it off.
constexpr std::int32_t kDefaultRemovalLimit = 50;
constexpr std::int32_t kDefaultRemovalPercent = 25;
// The console listens on the server port + 2, which must stay a port: a server port
// outside this range is refused by the console and replaced on load.
constexpr std::int32_t kLowestServerPort = 1;
constexpr std::int32_t kHighestServerPort = 65533;

// What the settings file holds. The defaults are the controller's before anything is
// loaded (hence a poll interval of 0 and no projects).
struct TsvSettings {
  std::string serverAddress;
  std::int32_t serverPort = kDefaultServerPort;
  std::int32_t pollInterval = 0;  // minutes
  bool useTrash = true;           // removed and replaced files go to the trash
  std::int32_t removalLimit = kDefaultRemovalLimit;
  std::int32_t removalPercent = kDefaultRemovalPercent;
  bool notices = true;            // desktop notices of failures and recoveries
  bool tlsRequired = false;       // the command channel runs inside TLS
  std::string tlsPin;             // the SHA-256 of the server's public key; empty: none
  TsvProjectList projects;
};

// The settings file: programFolder + "/svClient.xml" when that file exists, else
// ConfigFolder() + "/drumel/sorvana/svClient.xml" whether or not it exists. Evaluated
// anew on every call. Both folders are the system's own paths, used as they are.
SystemPath SettingsFilePath(const SystemPath& programFolder);

// The text with every line (ended by CR LF, LF or CR; the last one may lack its end)
// followed by CR LF.
std::string NormaliseLineBreaks(std::string_view text);

// Reads the settings file found from programFolder into settings. Without a file the
// defaults apply: empty address, port 1974, poll interval 60 and the project "drumel" at
// defaultProjectPath (program text). Raises the file layer's open error or the markup
// parser's error; settings are then left unchanged.
void LoadSettings(const SystemPath& programFolder, const std::string& defaultProjectPath,
                  TsvSettings& settings, TdrEventLog& log);
// LoadSettings on a document's text (its line ends already CR LF): the connection
// settings, then the projects, each step logged. A port that is a number outside
// kLowestServerPort..kHighestServerPort is logged as "Neispravan port %s" and replaced by
// 1974, as text that is no number is (silently). A tlspin that is no pin (ParseKeyPin)
// is logged as "Neispravan otisak ključa poslužitelja %s" and ignored. Raises the markup parser's error before
// anything is changed. Keeps nothing of the document but the settings it holds, so a
// file of any shape is read in about three times its size.
void ReadSettingsDocument(std::string_view document, const std::string& defaultProjectPath,
                          TsvSettings& settings, TdrEventLog& log);

// Rewrites the settings file found from programFolder from the settings alone, creating
// its folder when missing. The file stays what the user made of it (a link, its owner and
// mode, its hard links; see RewriteUserFile): normally replaced atomically, so that a
// failure or a crash leaves the old file whole, else rewritten in place. Raises "Cannot
// create file "%s". %s" when it cannot be written.
void SaveSettings(const SystemPath& programFolder, const TsvSettings& settings, TdrEventLog& log);
// The document SaveSettings writes, each line followed by CR LF.
std::string SettingsText(const TsvSettings& settings, TdrEventLog& log);

}  // namespace sv
