#include "console/ConsolePages.h"

#include <gtest/gtest.h>

#include "base/DateTime.h"
#include "base/Exception.h"
#include "base/Messages.h"
#include "base/Text.h"
#include "console/HeldConsole.h"
#include "console/HttpRequestReader.h"
#include "console/ProjectRoot.h"
#include "console/ResourceGet.h"
#include "eventlog/PageTemplate.h"
#include "platform/FileSystem.h"
#include "platform/Locale.h"
#include "tests/support/FakeConsoleController.h"
#include "tests/support/TempDir.h"
#include "tests/support/OsErrors.h"

namespace sv {
namespace {

ConsoleRequest Get(const std::string& target) {
  HttpRequestReader reader;
  reader.Feed("GET " + target + " HTTP/1.1\r\nHost: localhost\r\n\r\n");
  return reader.Request();
}

ConsoleRequest Post(const std::string& form) {
  HttpRequestReader reader;
  reader.Feed("POST / HTTP/1.1\r\nHost: localhost\r\nContent-Type: application/x-www-form-urlencoded\r\n"
              "Content-Length: " + std::to_string(form.size()) + "\r\n\r\n" + form);
  return reader.Request();
}

// The event texts, newest first.
std::vector<std::string> Texts(TdrEventLog& log) {
  std::vector<std::string> out;
  for (int i = 0; i < log.Count(); ++i) out.push_back(log.Items(i).Text());
  return out;
}

class ConsolePagesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TFormatSettings fs;
    fs.shortDateFormat = "%d.%m.%Y";
    fs.longTimeFormat = "%H:%M:%S";
    SetUserFormatSettings(fs);
  }
  std::string Fill(const std::string& tmpl, const std::string& target = "/") {
    return FillPage(c, tmpl, Get(target));
  }
  ConsoleResponse Act(const std::string& form) {
    ConsoleResponse r;
    HandleAction(c, Post(form), r);
    return r;
  }
  std::string FailedPage(const std::string& action, const std::string& message) {
    return FillPlaceholders(LoadResourceText("propalaakcija", "TEXT"),
                            {Placeholder::Everywhere("{%ACTION%}", action),
                             Placeholder::Everywhere("{%MESSAGE%}", HtmlEscape(message))});
  }
  test::FakeConsoleController c;
};

TEST_F(ConsolePagesTest, StatusValuesBeforeTheFirstSynchronisation) {
  c.log.Add(msg::kInitialising);
  const std::string tmpl = "{%SERVER%}|{%port%}|{%PollInterval%}|{%ROOTPATH%}|{%LASTATTEMPT%}|"
                           "{%LASTSUCCESS%}|{%LASTMESSAGE%}|{%ROOTPATH%}";
  EXPECT_EQ(Fill(tmpl), "127.0.0.1|1974|10|/srv/projekt|(nije definirano)|(nije definirano)|" +
                            c.log.Items(0).DisplayText() + "|/srv/projekt");
  EXPECT_EQ(GetLastMessage(c), c.log.Items(0).DisplayText());

  c.lastAttempt = EncodeDateTime(2026, 12, 6, 12, 31, 57);
  c.lastSuccess = EncodeDate(2026, 12, 6);
  c.projects = 0;
  EXPECT_EQ(Fill("{%LASTATTEMPT%}|{%LASTSUCCESS%}|{%ROOTPATH%}"), "06.12.2026 12:31:57|06.12.2026|(nije definirano)");

  test::FakeConsoleController empty;
  EXPECT_EQ(GetLastMessage(empty), "");
}

TEST_F(ConsolePagesTest, ValuesAreEscapedAndNeverTakenForPlaceholders) {
  c.address = "{%POLLINTERVAL%}<b>\"";
  c.root = "C:\\2008\\$1 & co";
  EXPECT_EQ(Fill("{%SERVER%} {%POLLINTERVAL%} {%ROOTPATH%}"), "{%POLLINTERVAL%}&lt;b&gt;&quot; 10 C:\\2008\\$1 &amp; co");
  EXPECT_EQ(Fill("<INPUT VALUE=\"{%FILTER%}\"><A HREF=\"?filter={%FILTERURL%}\">", "/?filter=a%26b+%22%7B%25PORT%25%7D"),
            "<INPUT VALUE=\"a&amp;b &quot;{%PORT%}\"><A HREF=\"?filter=a%26b%20%22%7B%25PORT%25%7D\">");
  c.log.Add("<script>{%SERVER%}");
  EXPECT_EQ(Fill("{%LASTMESSAGE%}"), HtmlEscape(c.log.Items(0).DisplayText()));
}

TEST_F(ConsolePagesTest, EventLogPageHasRowsPagingAndFilterLinks) {
  for (int i = 1; i <= 25; ++i) c.log.Add(i % 5 ? "obično " + std::to_string(i) : Cp("Čvor ") + std::to_string(i));
  const std::string page = Fill(LoadResourceText("eventlog", "TEXT"), "/eventlog.html?page=%202%20&filter=");
  EXPECT_NE(page.find("<P>21</P>"), std::string::npos);
  EXPECT_EQ(page.find("<P>26</P>"), std::string::npos);
  EXPECT_NE(page.find("eventlog.html?page=1&filter=\">&lt</A>"), std::string::npos);
  EXPECT_NE(page.find("eventlog.html?page=3&filter=\">&gt</A>"), std::string::npos);
  EXPECT_EQ(page.find("{%"), std::string::npos);

  const std::string filtered = Fill(LoadResourceText("eventlog", "TEXT"), "/eventlog.html?filter=%E8vor");
  EXPECT_NE(filtered.find(Cp("<P>Čvor 25</P>")), std::string::npos);
  EXPECT_NE(filtered.find(Cp("<P>Čvor 5</P>")), std::string::npos);
  EXPECT_EQ(filtered.find("obi"), std::string::npos);
  EXPECT_NE(filtered.find("eventlog.html?page=2&filter=%E8vor\""), std::string::npos);
  EXPECT_NE(filtered.find("VALUE=\"\xE8vor\""), std::string::npos);

  try {
    Fill(LoadResourceText("eventlog", "TEXT"), "/eventlog.html?filter=(");
    FAIL() << "no error";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message().rfind("TPerlRegEx.Compile() - Error in regex at offset 1: ", 0), 0u);
  }
}

TEST_F(ConsolePagesTest, SynchroniseAsksTheLoopOrShowsWhyNot) {
  ConsoleResponse r = Act("akcija=+sinhroniziraj+");
  EXPECT_EQ(r.code, 302);
  EXPECT_EQ(r.location, "/index.html");
  EXPECT_TRUE(c.syncRequested);
  EXPECT_EQ(Texts(c.log), (std::vector<std::string>{msg::kSyncRequested}));

  c.syncRunning = true;
  r = Act("akcija=Sinhroniziraj");
  EXPECT_EQ(r.code, 200);
  EXPECT_TRUE(r.location.empty());
  EXPECT_EQ(r.contentText, FailedPage("Sinhroniziraj", msg::kSyncAlreadyRunning));
  EXPECT_NE(r.contentText.find(Cp("Poruka: Sinhronizacija se već izvršava")), std::string::npos);
  EXPECT_EQ(Texts(c.log), (std::vector<std::string>{msg::kSyncAlreadyRunning, msg::kSyncRequested,
                                                    msg::kSyncRequested}));
}

TEST_F(ConsolePagesTest, OtherOrMissingActionsChangeNothing) {
  for (const char* form : {"", "akcija=", "akcija=Obrisi", "server=x"}) {
    const ConsoleResponse r = Act(form);
    EXPECT_EQ(r.code, 200);
    EXPECT_EQ(r.contentText, "");
    EXPECT_TRUE(r.location.empty());
  }
  EXPECT_EQ(c.log.Count(), 0);
  EXPECT_EQ(c.address, "127.0.0.1");
}

TEST_F(ConsolePagesTest, SettingsTakeTrimmedFieldsAndKeepEmptyOrNonNumericOnes) {
  ConsoleResponse r = Act("akcija=Postavi&server=+srv.example+&port=+2000+&pollinterval=0&rootpath=");
  EXPECT_EQ(r.code, 302);
  EXPECT_EQ(r.location, "/postavke.html");
  EXPECT_EQ(c.address, "srv.example");
  EXPECT_EQ(c.port, 2000);
  EXPECT_EQ(c.consolePort, 2002);
  EXPECT_EQ(c.poll, 0);
  EXPECT_EQ(c.root, "/srv/projekt");
  EXPECT_EQ(c.saves, 1);
  EXPECT_EQ(Texts(c.log), (std::vector<std::string>{msg::kNewSettings}));

  Act("akcija=POSTAVI&server=&port=abc&pollinterval=x");
  EXPECT_EQ(c.address, "srv.example");
  EXPECT_EQ(c.port, 2000);
  EXPECT_EQ(c.consolePort, 2002);
  EXPECT_EQ(c.poll, 0);
  EXPECT_EQ(c.saves, 2);

  c.consolePort = 0;  // the console port follows the server port even when it stays
  Act("akcija=Postavi&port=%247D0&pollinterval=-5");
  EXPECT_EQ(c.port, 2000);
  EXPECT_EQ(c.consolePort, 2002);
  EXPECT_EQ(c.poll, -5);
  for (auto [text, value] : {std::pair{"1", 1}, {"65533", 65533}}) {
    Act(std::string("akcija=Postavi&port=") + text);
    EXPECT_EQ(c.port, value);
  }
}

// The form's safety fields: the box ticked or not, limits of 0 or more; a form without
// the fields ("zastita") leaves them as they are.
TEST_F(ConsolePagesTest, SafetySettingsComeFromTheFormThatShowsThem) {
  using Safety = ConsoleController::Safety;
  const struct {
    const char* form;
    bool useTrash;
    int limit, percent;
  } cases[] = {
      {"akcija=Postavi&zastita=1&maxdeletecount=+10+&maxdeletepercent=0", false, 10, 0},
      {"akcija=Postavi&zastita=1&kos=1&maxdeletecount=-1&maxdeletepercent=x", true, 10, 0},
      {"akcija=Postavi&server=s", true, 10, 0},
      {"akcija=Postavi&maxdeletecount=7", true, 10, 0},
      {"akcija=Postavi&zastita=1&maxdeletecount=7", false, 7, 0},
  };
  for (const auto& k : cases) {
    Act(k.form);
    const Safety s = c.safety;
    EXPECT_EQ(s.useTrash, k.useTrash) << k.form;
    EXPECT_EQ(s.removalLimit, k.limit) << k.form;
    EXPECT_EQ(s.removalPercent, k.percent) << k.form;
  }
  EXPECT_EQ(Fill("{%USETRASH%}|{%MAXDELETECOUNT%}|{%MAXDELETEPERCENT%}"), "|7|0");
  c.safety.useTrash = true;
  EXPECT_EQ(Fill("{%USETRASH%}"), "CHECKED");
}

// The TLS fields count only from the form that shows them ("veza"); a pin is kept in its
// written form, empty text clears it, and text that is no pin refuses the whole form.
TEST_F(ConsolePagesTest, TlsSettingsComeFromTheFormThatShowsThem) {
  const std::string pin = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";
  const struct {
    std::string form;
    bool required;
    std::string pin;
  } cases[] = {
      {"akcija=Postavi&veza=1&tls=1&otisak=+" + pin + "+", true, pin},
      {"akcija=Postavi&server=s&otisak=", true, pin},
      {"akcija=Postavi&veza=1&otisak=sha256%3A" + pin.substr(0, 62) + "+EF", false, pin},
      {"akcija=Postavi&veza=1&tls=1&otisak=++", true, ""},
  };
  for (const auto& k : cases) {
    Act(k.form);
    EXPECT_EQ(c.tls.required, k.required) << k.form;
    EXPECT_EQ(c.tls.pin, k.pin) << k.form;
  }
  EXPECT_EQ(Fill("{%TLS%}|{%TLSPIN%}"), "CHECKED|");
  c.tls = {false, pin};
  EXPECT_EQ(Fill("{%TLS%}|{%TLSPIN%}"), "|" + pin);

  const int saves = c.saves;
  const ConsoleResponse r = Act("akcija=Postavi&veza=1&tls=1&server=other&pollinterval=3&otisak=+%3Cb%3E12+");
  const std::string message = Format(msg::kBadKeyPin, "<b>12");
  EXPECT_EQ(r.contentText, FailedPage("Postavi", message));
  EXPECT_EQ(c.log.Items(0).Text(), message);
  EXPECT_FALSE(c.tls.required);
  EXPECT_EQ(c.tls.pin, pin);
  EXPECT_EQ(c.address, "s");
  EXPECT_EQ(c.poll, 10);
  EXPECT_EQ(c.saves, saves);
}

// The status page's connection row: the protocol and the server's key of the last
// synchronisation, or plainly that it was not encrypted (also before the first).
TEST_F(ConsolePagesTest, ConnectionRowSaysWhetherTheLastConnectionWasEncrypted) {
  EXPECT_EQ(Fill("{%CONNECTION%}"), Cp("Veza nije šifrirana"));
  c.connection = {true, "TLSv1.3", std::string(64, 'f')};
  EXPECT_EQ(Fill("{%CONNECTION%}"), Cp("Veza: šifrirana (TLSv1.3), ključ poslužitelja ") + std::string(64, 'f'));
  c.connection = {true, "<TLS>", "&"};
  EXPECT_EQ(Fill("{%CONNECTION%}"), Cp("Veza: šifrirana (&lt;TLS&gt;), ključ poslužitelja &amp;"));
}

// The desktop's fields count only from the form that shows them ("radnapovrsina"); the
// start at login is changed only when the box differs, after the file is saved, so a
// system that refuses it loses no setting.
TEST_F(ConsolePagesTest, DesktopSettingsComeFromTheFormThatShowsThem) {
  const struct {
    const char* form;
    bool notices, startsAtLogin;
  } cases[] = {
      {"akcija=Postavi&radnapovrsina=1&prijava=1", false, true},
      {"akcija=Postavi&server=s", false, true},
      {"akcija=Postavi&radnapovrsina=1&obavijesti=1", true, false},
  };
  for (const auto& k : cases) {
    Act(k.form);
    EXPECT_EQ(c.notices, k.notices) << k.form;
    EXPECT_EQ(c.startsAtLogin, k.startsAtLogin) << k.form;
  }
  EXPECT_EQ(Fill("{%NOTICES%}|{%STARTATLOGIN%}"), "CHECKED|");

  c.startAtLoginFailure = "no unit";
  const int saves = c.saves;
  const ConsoleResponse r = Act("akcija=Postavi&radnapovrsina=1&prijava=1&pollinterval=9");
  EXPECT_EQ(r.contentText, FailedPage("Postavi", "no unit"));
  EXPECT_EQ(c.saves, saves + 1);
  EXPECT_EQ(c.poll, 9);
  EXPECT_FALSE(c.notices);
  EXPECT_FALSE(c.startsAtLogin);
}


TEST_F(ConsolePagesTest, HeldProjectsShowTheirPlanAndAreConfirmedByName) {
  THeldProject held{"a&b", 60, 80, {"", {{TChangeKind::kDelete, false, "\\x.txt", "delete_file"}}, {1, 0, 0, 1}}};
  c.projectStatus = {{"a&b", "/p", false, {}, held}, {"c", "/q", false, {}, std::nullopt}};
  const std::string rows = Fill("{%HELD%}");
  for (const char* part : {"Projekt a&amp;b", "60 od 80 datoteka", "NAME=\"projekt\" VALUE=\"a&amp;b\"",
                           "VALUE=\"Pregled\"", "VALUE=\"Potvrdi\""})
    EXPECT_NE(rows.find(part), std::string::npos) << part;

  ConsoleResponse r = Act("akcija=Pregled&projekt=a%26b");
  EXPECT_EQ(r.location, "/zadrzano.html?projekt=a%26b");
  EXPECT_EQ(Act("akcija=Pregled").location, "/pregled.html");  // the preview of the next run
  r = Act("akcija=Potvrdi&projekt=+a%26b+");
  EXPECT_EQ(r.location, "/index.html");
  EXPECT_EQ(c.confirmed, std::vector<std::string>{"a&b"});
  r = Act("akcija=Potvrdi&projekt=c");
  EXPECT_EQ(r.contentText, FailedPage("Potvrdi", Format(msg::kNothingHeld, "c")));

  const std::string page = HeldPlanPage(c, "a&b");
  EXPECT_NE(page.find("\\x.txt"), std::string::npos);
  EXPECT_NE(page.find("Brisanje datoteke"), std::string::npos);
  EXPECT_NE(page.find("VALUE=\"Potvrdi\""), std::string::npos);
  EXPECT_EQ(page.find("Sinhroniziraj"), std::string::npos);
  EXPECT_NE(HeldPlanPage(c, "c").find(HtmlEscape(Format(msg::kNothingHeld, "c"))), std::string::npos);
}

TEST_F(ConsolePagesTest, PortThatWouldLockTheUserOutRefusesTheWholeForm) {
  for (const char* port : {"70000", "65534", "0", "-1", "$FFFFFFFF"}) {
    const ConsoleResponse r = Act(std::string("akcija=Postavi&server=other&pollinterval=3&port=+") + port + "+");
    const std::string message = Format(msg::kBadPort, port);
    EXPECT_EQ(r.code, 200);
    EXPECT_EQ(r.contentText, FailedPage("Postavi", message)) << port;
    EXPECT_EQ(c.log.Items(0).Text(), message);
    EXPECT_EQ(c.log.Items(1).Text(), msg::kNewSettings);
  }
  EXPECT_EQ(c.port, 1974);
  EXPECT_EQ(c.consolePort, 1976);
  EXPECT_EQ(c.address, "127.0.0.1");
  EXPECT_EQ(c.poll, 10);
  EXPECT_EQ(c.saves, 0);
}

TEST_F(ConsolePagesTest, FailedSaveShowsItsMessageAndKeepsTheChangesInMemory) {
  c.saveError = "Cannot create file \"/x/svClient.xml\". Permission denied";
  const ConsoleResponse r = Act("akcija=Postavi&server=novi&port=3000");
  EXPECT_EQ(r.contentText, FailedPage("Postavi", c.saveError));
  EXPECT_NE(r.contentText.find("Poruka: Cannot create file &quot;/x/svClient.xml&quot;. Permission denied"),
            std::string::npos);
  EXPECT_EQ(c.address, "novi");
  EXPECT_EQ(c.port, 3000);
  EXPECT_EQ(Texts(c.log), (std::vector<std::string>{c.saveError, msg::kNewSettings}));
}

TEST_F(ConsolePagesTest, NewRootIsCreatedWithItsGrantAndAnExistingOneIsKept) {
  test::TempDir dir;
  const std::string fresh = dir / "novi";
  Act("akcija=Postavi&rootpath=" + fresh);
  EXPECT_EQ(c.root, fresh);
  EXPECT_TRUE(fs::FolderExists(fresh));
  ASSERT_GE(c.log.Count(), 3);
  EXPECT_EQ(c.log.Items(c.log.Count() - 2).Text(), Format(msg::kCreatingFolder, fresh));

  const int before = c.log.Count();
  Act("akcija=Postavi&rootpath=" + dir.path());  // exists: nothing created, nothing logged
  EXPECT_EQ(c.root, dir.path());
  EXPECT_EQ(c.log.Count(), before + 1);

  c.projects = 0;  // without projects the field is ignored
  Act("akcija=Postavi&rootpath=" + (dir / "ignored"));
  EXPECT_FALSE(fs::FolderExists(dir / "ignored"));
}

// A root that depends on the working folder, or holds a 0x00 byte, refuses the whole form:
// nothing is created in the working folder, nothing changes, nothing is saved.
TEST_F(ConsolePagesTest, RootThatIsNotAbsoluteRefusesTheWholeForm) {
  const struct {
    const char* field;  // as the form sends it
    std::string message;
  } kCases[] = {
      {"relativna", Format(msg::kRootNotAbsolute, "relativna")},
      {"..%2Fgore", Format(msg::kRootNotAbsolute, "../gore")},
      {"~drugi%2Fx", Format(msg::kRootNotAbsolute, "~drugi/x")},
      {"%2Fsrv%2Fa%00b", msg::kRootHoldsZero},
      {"%2Fsrv%2Fa%00", msg::kRootHoldsZero},
  };
  for (const auto& k : kCases) {
    const ConsoleResponse r = Act(std::string("akcija=Postavi&server=other&port=2000&rootpath=") + k.field);
    EXPECT_EQ(r.contentText, FailedPage("Postavi", k.message)) << k.field;
    EXPECT_EQ(c.log.Items(0).Text(), k.message);
  }
  EXPECT_FALSE(fs::FolderExists("relativna"));
  EXPECT_EQ(c.root, "/srv/projekt");
  EXPECT_EQ(c.address, "127.0.0.1");
  EXPECT_EQ(c.port, 1974);
  EXPECT_EQ(c.saves, 0);
}

TEST(ProjectRoot, LogsCreationAndTheGrantOrWhyItFailed) {
  test::TempDir dir;
  TdrEventLog log;
  const std::string fresh = dir / "novi";
  CreateProjectRoot(fresh, log);
  ASSERT_EQ(log.Count(), 2);
  EXPECT_EQ(log.Items(1).Text(), Cp("Kreiranje direktorija ") + fresh);
  // The grant needs ACL support in the temporary folder; either outcome is logged exactly.
  const std::string granted = "Dozvola pristupa Authenticated Users na " + fresh;
  const std::string failed = Cp("Nije uspjela dozvola pristupa Authenticated Users na ") + fresh + Cp(", greška 95 ");
  EXPECT_TRUE(log.Items(0).Text() == granted || log.Items(0).Text().rfind(failed, 0) == 0) << log.Items(0).Text();

  const std::string orphan = dir / "nema/novi";
  CreateProjectRoot(orphan, log);
  EXPECT_EQ(log.Items(1).Text(), Cp("Kreiranje direktorija ") + orphan);
  EXPECT_EQ(log.Items(0).Text(),
            Cp("Nije uspjela dozvola pristupa Authenticated Users na ") + orphan + Cp(", greška ") +
                std::to_string(test::kPathNotFound.Code()) + " " + test::kPathNotFound.Text());
  EXPECT_FALSE(fs::FolderExists(orphan));

  CreateProjectRoot(fresh, log);  // exists: logged as a creation all the same, grant merged again
  EXPECT_EQ(log.Items(1).Text(), Cp("Kreiranje direktorija ") + fresh);
  EXPECT_EQ(log.Items(0).Text(), log.Items(4).Text());
}

}  // namespace
}  // namespace sv
