#include "controller/svSettings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <stdexcept>

#include "base/Exception.h"
#include "base/Messages.h"
#include "base/Text.h"
#include "eventlog/drLogger.h"
#include "platform/TestHooks.h"
#include "platform/UserFile.h"
#include "tests/support/ControllerSupport.h"
#include "tests/support/TempDir.h"
#include "tests/support/OsErrors.h"

namespace sv {
namespace {

const char kExample[] =
    "<xml>\r\n<serversettings>\r\n<serveradress></serveradress>\r\n"
    "<defaultport>1974</defaultport>\r\n<defaultpollinterval>60</defaultpollinterval>\r\n"
    "</serversettings>\r\n<projects>\r\n<project>\r\n<name>drumel</name>\r\n"
    "<path>c:\\program files\\drumel</path>\r\n</project>\r\n</projects>\r\n</xml>\r\n";

// Each test gets a program folder and a configuration folder of its own.
class SettingsFile : public ::testing::Test {
 protected:
  std::string ConfigFile() const { return test::ScopedConfigFolder::File(config_.path(), "drumel/sorvana/svClient.xml"); }
  std::string ProgramFile() const { return program_ / "svClient.xml"; }
  SystemPath Program() const { return SystemPath(program_.path()); }

  TsvSettings Load() {
    TsvSettings s;
    LoadSettings(Program(), "/home/ana/drumel", s, log_);
    return s;
  }
  TsvSettings LoadConfigFile(const std::string& text) {
    test::MakeDirs(config_ / "drumel/sorvana");
    test::WriteFile(ConfigFile(), text);
    return Load();
  }

  test::TempDir program_, config_;
  test::ScopedConfigFolder configFolder_{config_.path()};
  TdrEventLog log_;
};

TEST_F(SettingsFile, TheExampleIsReadAndWrittenBackByteForByte) {
  TsvSettings s = LoadConfigFile(kExample);
  EXPECT_EQ(s.serverAddress, "");
  EXPECT_EQ(s.serverPort, 1974);
  EXPECT_EQ(s.pollInterval, 60);
  ASSERT_EQ(s.projects.Count(), 1);
  EXPECT_EQ(s.projects.Project(0).Path, "c:\\program files\\drumel");

  std::filesystem::remove(ConfigFile());
  SaveSettings(Program(), s, log_);
  EXPECT_EQ(test::ReadFile(ConfigFile()), kExample);
}

TEST_F(SettingsFile, LoadingLogsEveryStepWithThePath) {
  LoadConfigFile(kExample);
  EXPECT_EQ(test::Entries(log_),
            (std::vector<std::string>{msg::kLocatingSettings,
                                      Format(msg::kLoadingSettingsFrom, ConfigFile()),
                                      msg::kLoadingConnection, msg::kLoadingProjects,
                                      "Dohvat projekta drumel"}));
}

TEST_F(SettingsFile, WithoutAFileTheDefaultsApplyAndNothingIsWritten) {
  TsvSettings s = Load();
  EXPECT_EQ(s.serverAddress, "");
  EXPECT_EQ(s.serverPort, 1974);
  EXPECT_EQ(s.pollInterval, 60);
  ASSERT_EQ(s.projects.Count(), 1);
  EXPECT_EQ(s.projects.Project(0).Name, "drumel");
  EXPECT_EQ(s.projects.Project(0).Path, "/home/ana/drumel");
  EXPECT_EQ(test::Entries(log_),
            (std::vector<std::string>{msg::kLocatingSettings, msg::kLoadingConnection,
                                      msg::kLoadingProjects,
                                      Cp("Nema definiranih projekata, kreira se dafault projekt drumel")}));
  EXPECT_FALSE(std::filesystem::exists(config_ / "drumel"));
}

TEST_F(SettingsFile, TheFileBesideTheProgramWinsForLoadingAndSaving) {
  test::MakeDirs(config_ / "drumel/sorvana");
  test::WriteFile(ConfigFile(), "<xml><serversettings><serveradress>config</serveradress></serversettings></xml>");
  test::WriteFile(ProgramFile(), "<xml><serversettings><serveradress>beside</serveradress></serversettings></xml>");
  TsvSettings s = Load();
  EXPECT_EQ(s.serverAddress, "beside");

  s.serverAddress = "saved";
  SaveSettings(Program(), s, log_);
  EXPECT_NE(test::ReadFile(ProgramFile()).find("<serveradress>saved</serveradress>"), std::string::npos);
  EXPECT_NE(test::ReadFile(ConfigFile()).find("config"), std::string::npos);
}

TEST_F(SettingsFile, NumbersFollowTheIntegerTextRuleWithDefaultsForTheRest) {
  auto load = [&](const std::string& port, const std::string& poll) {
    return LoadConfigFile("<xml><serversettings><defaultport>" + port +
                          "</defaultport><defaultpollinterval>" + poll +
                          "</defaultpollinterval></serversettings></xml>");
  };
  TsvSettings s = load("abc", "$3C");
  EXPECT_EQ(s.serverPort, 1974);
  EXPECT_EQ(s.pollInterval, 60);
  s = load(" 2000", "0");
  EXPECT_EQ(s.serverPort, 2000);
  EXPECT_EQ(s.pollInterval, 0);
  s = load("0x7D0", "-5");
  EXPECT_EQ(s.serverPort, 2000);
  EXPECT_EQ(s.pollInterval, -5);
  s = load("", "12 minutes");
  EXPECT_EQ(s.serverPort, 1974);
  EXPECT_EQ(s.pollInterval, 60);
}

// The safety settings are read with defaults for what is missing or mistyped (a limit
// mistyped must not turn the guard off), and written only when they differ from the
// defaults, so a file saved without changing them stays as it was.
TEST_F(SettingsFile, SafetySettingsHaveDefaultsAndAreWrittenOnlyWhenChanged) {
  const struct {
    const char* elements;
    bool useTrash;
    int limit, percent;
    bool notices;
  } cases[] = {
      {"", true, 50, 25, true},
      {"<usetrash>0</usetrash><maxdeletecount>0</maxdeletecount><maxdeletepercent>$A</maxdeletepercent>"
       "<notices>0</notices>",
       false, 0, 10, false},
      {"<USETRASH>yes</USETRASH><maxdeletecount>-3</maxdeletecount><maxdeletepercent>x</maxdeletepercent>"
       "<Notices>x</Notices>",
       true, 50, 25, true},
  };
  for (const auto& c : cases) {
    const TsvSettings s = LoadConfigFile(std::string("<xml><serversettings>") + c.elements +
                                         "</serversettings></xml>");
    EXPECT_EQ(s.useTrash, c.useTrash) << c.elements;
    EXPECT_EQ(s.removalLimit, c.limit) << c.elements;
    EXPECT_EQ(s.removalPercent, c.percent) << c.elements;
    EXPECT_EQ(s.notices, c.notices) << c.elements;
  }
  TsvSettings s = LoadConfigFile(kExample);
  s.useTrash = false;
  s.removalPercent = 0;
  s.notices = false;
  const std::string text = SettingsText(s, log_);
  EXPECT_NE(text.find("<defaultpollinterval>60</defaultpollinterval>\r\n<usetrash>0</usetrash>\r\n"
                      "<maxdeletepercent>0</maxdeletepercent>\r\n<notices>0</notices>\r\n</serversettings>"),
            std::string::npos)
      << text;
  EXPECT_EQ(text.find("maxdeletecount"), std::string::npos);
  EXPECT_EQ(SettingsText(LoadConfigFile(kExample), log_).find("notices"), std::string::npos);
}

// TLS is read as the other switches are (a number, not 0: required); a pin is taken in
// any form a user pastes and kept in its written form, and one that is no pin is logged
// and ignored. Both are written only when set, after notices, and read back the same.
TEST_F(SettingsFile, TlsAndThePinAreReadLoggedWhenBadAndWrittenOnlyWhenSet) {
  const std::string pin(64, 'a');
  std::string pasted = "SHA256:";
  for (int i = 0; i < 32; ++i) pasted += i ? ":AA" : "AA";
  const struct {
    std::string elements;
    bool required;
    std::string pin;
    std::string logged;  // after kLoadingConnection; empty: nothing
  } cases[] = {
      {"", false, "", ""},
      {"<tls>1</tls><tlspin>" + pin + "</tlspin>", true, pin, ""},
      {"<TLS>$10</TLS><TlsPin> " + pasted + " </TlsPin>", true, pin, ""},
      {"<tls>-1</tls><tlspin>  </tlspin>", true, "", ""},
      {"<tls>yes</tls><tlspin>" + pin + "0</tlspin>", false, "", Format(msg::kBadKeyPin, pin + "0")},
      {"<tls>0</tls><tlspin>a&lt;b</tlspin>", false, "", Format(msg::kBadKeyPin, "a<b")},
  };
  for (const auto& c : cases) {
    TsvSettings s = LoadConfigFile("<xml><serversettings>" + c.elements + "</serversettings></xml>");
    EXPECT_EQ(s.tlsRequired, c.required) << c.elements;
    EXPECT_EQ(s.tlsPin, c.pin) << c.elements;
    const std::vector<std::string> entries = test::Entries(log_);
    const auto connection = std::find(entries.rbegin(), entries.rend(), msg::kLoadingConnection);
    ASSERT_NE(connection, entries.rend());
    EXPECT_EQ(*(connection - 1), c.logged.empty() ? msg::kLoadingProjects : c.logged) << c.elements;

    s.notices = false;
    std::filesystem::remove(ConfigFile());
    SaveSettings(Program(), s, log_);
    const std::string text = test::ReadFile(ConfigFile());
    const std::string tail = std::string(c.required ? "<tls>1</tls>\r\n" : "") +
                             (c.pin.empty() ? "" : "<tlspin>" + c.pin + "</tlspin>\r\n") + "</serversettings>";
    EXPECT_NE(text.find("<notices>0</notices>\r\n" + tail), std::string::npos) << text;
    const TsvSettings again = Load();
    EXPECT_EQ(again.tlsRequired, c.required) << text;
    EXPECT_EQ(again.tlsPin, c.pin) << text;
  }
}

// The console listens on the server port + 2; a port that would put it outside the
// port range would keep the user from ever reaching the console to mend it. The log says
// why the port in the file was not taken; text that is no number stays silent.
TEST_F(SettingsFile, APortThatLeavesNoConsolePortIsReplacedByTheDefaultAndLogged) {
  const struct {
    const char* text;
    std::int32_t port;
    bool logged;
  } cases[] = {
      {"65533", 65533, false}, {"1", 1, false},          {"abc", 1974, false},
      {"65534", 1974, true},   {"70000", 1974, true},    {"0", 1974, true},
      {"-2", 1974, true},      {"2147483647", 1974, true}, {"$FFFF", 1974, true},
  };
  for (const auto& c : cases) {
    const TsvSettings s = LoadConfigFile("<xml><serversettings><defaultport>" + std::string(c.text) +
                                         "</defaultport></serversettings></xml>");
    EXPECT_EQ(s.serverPort, c.port) << c.text;
    const std::vector<std::string> entries = test::Entries(log_);
    const auto connection = std::find(entries.rbegin(), entries.rend(), msg::kLoadingConnection);
    ASSERT_NE(connection, entries.rend());
    EXPECT_EQ(*(connection - 1), c.logged ? Format(msg::kBadPort, c.text) : msg::kLoadingProjects) << c.text;
  }
}

// The program's folder and the configuration folder are the system's own paths: found
// and written as they are, whatever Windows-1250 can name; the log shows them as far as
// it can.
TEST_F(SettingsFile, FoldersThatWindows1250CannotNameAreUsedAsTheyAre) {
  const std::string japanese = program_ / "\xe6\x97\xa5\xe6\x9c\xac";  // 日本
  test::MakeDirs(japanese);
  test::WriteFile(japanese + "/svClient.xml",
                  "<xml><serversettings><defaultport>2000</defaultport></serversettings></xml>");
  TsvSettings s;
  LoadSettings(SystemPath(japanese), "/home/ana/drumel", s, log_);
  EXPECT_EQ(s.serverPort, 2000);
  const char* separator = test::OnWindows() ? "\\" : "/";  // the system's, in a system path
  EXPECT_EQ(test::Entries(log_)[1], Format(msg::kLoadingSettingsFrom, program_ / "?\?" + separator + "svClient.xml"));
  s.serverPort = 2100;
  SaveSettings(SystemPath(japanese), s, log_);
  EXPECT_NE(test::ReadFile(japanese + "/svClient.xml").find("2100"), std::string::npos);

  // Without XDG_CONFIG_HOME the file goes below the home folder, named in Cyrillic.
  const std::string home = config_ / "\xd0\x9f\xd1\x80\xd0\xb8\xd0\xb2\xd0\xb5\xd1\x82";  // Привет
  if (test::OnWindows()) return;  // there the folder is the shell's, not the home folder's
  test::ScopedEnv homeEnv("HOME", home);
  test::SetEnv("XDG_CONFIG_HOME", std::nullopt);
  SaveSettings(Program(), s, log_);
  EXPECT_NE(test::ReadFile(home + "/.config/drumel/sorvana/svClient.xml").find("2100"), std::string::npos);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(config_.path()), {}), 1);  // no "???????"
}

TEST_F(SettingsFile, NamesAreFoundInAnyCaseAndOnlyTheFirstOfEachCounts) {
  TsvSettings s = LoadConfigFile(
      "<XML><ServerSettings><SERVERADRESS> sync.example </SERVERADRESS>"
      "<serveradress>second</serveradress><DefaultPort>2100</DefaultPort></ServerSettings>"
      "<serversettings><defaultport>9</defaultport></serversettings>"
      "<Projects><Project><NAME>a</NAME><Path>/srv/a</Path><name>x</name></Project></Projects>"
      "<projects><project><name>ignored</name><path>/srv/i</path></project></projects></XML>");
  EXPECT_EQ(s.serverAddress, "sync.example");
  EXPECT_EQ(s.serverPort, 2100);
  ASSERT_EQ(s.projects.Count(), 1);
  EXPECT_EQ(s.projects.Project(0).Name, "a");
  EXPECT_EQ(s.projects.Project(0).Path, "/srv/a");
}

// Only the elements at their place count, as the markup tree would hold them.
TEST_F(SettingsFile, ValuesAreTakenFromTheirPlaceInTheDocumentOnly) {
  const struct {
    const char* document;
    const char* address;
    const char* firstProject;
  } cases[] = {
      {"<xml><projects><project><x><name>deep</name></x><name>a</name><path>/p</path></project>", "", "a"},
      {"<xml><serversettings><x><serveradress>deep</serveradress></x>top</serversettings></xml>", "", "drumel"},
      {"<xml></xml><again><serversettings><serveradress>h</serveradress></serversettings>"
       "<projects><project><name>b</name><path>/b</path>", "h", "b"},  // the top element reopened; left open
  };
  for (const auto& c : cases) {
    TsvSettings s = LoadConfigFile(c.document);
    EXPECT_EQ(s.serverAddress, c.address) << c.document;
    EXPECT_EQ(s.projects.Project(0).Name, c.firstProject) << c.document;
  }
}

TEST_F(SettingsFile, ProjectsWithoutNameOrPathAreSkippedAndDuplicatesKept) {
  TsvSettings s = LoadConfigFile(
      "<xml><projects>"
      "<project><name>a</name><path>/srv/a</path></project>"
      "<project><name>b</name><path>   </path></project>"
      "<other><name>c</name><path>/srv/c</path></other>"
      "<project><path>/srv/d</path></project>"
      "<project><name>a</name><path>/srv/a2</path></project>"
      "</projects></xml>");
  ASSERT_EQ(s.projects.Count(), 2);
  EXPECT_EQ(s.projects.Project(1).Name, "a");
  EXPECT_EQ(s.projects.Project(1).Path, "/srv/a2");

  // With none left, the default project is made and logged.
  s = LoadConfigFile("<xml><projects><project><name>b</name><path> </path></project></projects></xml>");
  ASSERT_EQ(s.projects.Count(), 1);
  EXPECT_EQ(s.projects.Project(0).Name, "drumel");
  EXPECT_EQ(test::Entries(log_).back(), Format(msg::kNoProjects, "drumel"));
}

TEST_F(SettingsFile, ADeclarationBecomesTheRootSoTheDefaultsApply) {
  TsvSettings s = LoadConfigFile(
      "<?xml version=\"1.0\"?>\r\n<xml><serversettings><defaultport>2000</defaultport>"
      "</serversettings></xml>");
  EXPECT_EQ(s.serverPort, 1974);
  EXPECT_EQ(s.pollInterval, 60);
  EXPECT_EQ(s.projects.Project(0).Name, "drumel");
}

TEST_F(SettingsFile, LinesEndedByLfOrCrReadAlike) {
  std::string lf = kExample, cr = kExample;
  for (std::size_t i; (i = lf.find("\r\n")) != std::string::npos;) lf.erase(i, 1);
  for (std::size_t i; (i = cr.find("\r\n")) != std::string::npos;) cr.erase(i + 1, 1);
  EXPECT_EQ(NormaliseLineBreaks(lf), kExample);
  EXPECT_EQ(NormaliseLineBreaks(cr), kExample);
  EXPECT_EQ(NormaliseLineBreaks("a\r\n\r\nb"), "a\r\n\r\nb\r\n");
  EXPECT_EQ(NormaliseLineBreaks("a\n\rb\r"), "a\r\n\r\nb\r\n");
  EXPECT_EQ(NormaliseLineBreaks(""), "");
  EXPECT_EQ(LoadConfigFile(lf).projects.Project(0).Path, "c:\\program files\\drumel");
}

TEST_F(SettingsFile, AFileThatCannotBeParsedRaisesAndChangesNothing) {
  TsvSettings s;
  s.serverAddress = "kept";
  test::MakeDirs(config_ / "drumel/sorvana");
  test::WriteFile(ConfigFile(), "<xml><serversettings></xml>");
  try {
    LoadSettings(Program(), "/home/ana/drumel", s, log_);
    FAIL() << "no error";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), Cp("Tag serversettings završava na tag /xml"));
  }
  EXPECT_EQ(s.serverAddress, "kept");
  EXPECT_EQ(s.projects.Count(), 0);
}

TEST_F(SettingsFile, SavingLogsItsStepsAndCreatesTheMissingFolder) {
  TsvSettings s;
  s.serverAddress = "10.0.0.5";
  s.serverPort = 2000;
  s.pollInterval = -1;
  SaveSettings(Program(), s, log_);
  EXPECT_EQ(test::ReadFile(ConfigFile()),
            "<xml>\r\n<serversettings>\r\n<serveradress>10.0.0.5</serveradress>\r\n"
            "<defaultport>2000</defaultport>\r\n<defaultpollinterval>-1</defaultpollinterval>\r\n"
            "</serversettings>\r\n</xml>\r\n");
  EXPECT_EQ(test::Entries(log_), (std::vector<std::string>{msg::kSavingSettings,
                                                           msg::kSavingConnection,
                                                           msg::kSavingProjects}));
}

TEST_F(SettingsFile, ASaveInterruptedBeforeTheRenameLeavesTheOldFileWhole) {
  LoadConfigFile(kExample);
  TsvSettings s;
  s.serverAddress = "new";
  fs::SetRewriteHookForTesting([](const std::string&) { throw std::runtime_error("crash"); });
  EXPECT_THROW(SaveSettings(Program(), s, log_), std::runtime_error);
  fs::SetRewriteHookForTesting(nullptr);
  EXPECT_EQ(test::ReadFile(ConfigFile()), kExample);
  int files = 0;
  for (auto& e : std::filesystem::directory_iterator(config_ / "drumel/sorvana")) files += !e.is_directory();
  EXPECT_EQ(files, 1);  // no temporary file left behind
}

TEST_F(SettingsFile, AFolderThatCannotBeMadeGivesTheCreationError) {
  test::WriteFile(config_ / "drumel", "a file where the folder should be");
  try {
    SaveSettings(Program(), TsvSettings(), log_);
    FAIL() << "no error";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), Format(msg::kCannotCreateFile, ConfigFile(), test::kNotAFolder.Text()));
  }
}

}  // namespace
}  // namespace sv
