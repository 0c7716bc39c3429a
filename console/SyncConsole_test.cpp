#include "console/SyncConsole.h"

#include <gtest/gtest.h>

#include "base/Messages.h"
#include "base/Text.h"
#include "console/FakeConsoleController.h"

namespace sv {
namespace {

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(SyncConsole, StatusRowsFollowTheStateAndTheProgress) {
  TSyncProgress idle, requested, connecting, awaiting, receiving;
  requested.requested = true;
  connecting.running = true;
  connecting.projectCount = 3;
  awaiting = connecting;
  awaiting.project = 2;
  awaiting.projectName = "a<b";
  receiving = awaiting;
  receiving.task = 4;
  receiving.taskCount = 9;
  receiving.path = "\\x&y.bin";
  receiving.receiving = true;
  receiving.received = 40;
  receiving.size = 160;
  struct Case {
    TSyncProgress progress;
    bool paused;
    std::string state;
    std::vector<std::string> rows;  // texts the progress rows hold, in order; none: no rows
  };
  const Case cases[] = {
      {idle, false, "Aktivno", {}},
      {requested, false, Cp("Sinhronizacija zatražena"), {}},
      {idle, true, "Pauzirano", {}},
      {connecting, false, "Sinhronizacija u tijeku", {"Projekt", "spajanje na server"}},
      {awaiting, true, Cp("Pauzirano, sinhronizacija se zaustavlja nakon tekuće datoteke"),
       {"Projekt", "a&lt;b (2 od 3)", "Zadatak", "dohvat popisa zadataka"}},
      {receiving, false, "Sinhronizacija u tijeku",
       {"a&lt;b (2 od 3)", "4 od 9", "Putanja", "\\x&amp;y.bin", "Primljeno", "40 od 160 bajtova (25 %)"}},
  };
  for (const Case& c : cases) {
    test::FakeConsoleController controller;
    controller.progress = c.progress;
    controller.paused = c.paused;
    const std::string page =
        FillPlaceholders("{%REFRESH%}|{%SYNCSTATE%}|{%PAUSEACTION%}|{%PROGRESS%}", SyncPlaceholders(controller));
    SCOPED_TRACE(page);
    const bool refresh = c.progress.running || c.progress.requested;
    EXPECT_EQ(page.rfind(refresh ? "<META HTTP-EQUIV=\"refresh\" CONTENT=\"2\">|" : "|", 0), 0u);
    EXPECT_TRUE(Contains(page, "|" + c.state + "|" + (c.paused ? "Nastavi" : "Pauziraj") + "|"));
    std::size_t at = page.find("|", page.find("|", page.find("|") + 1) + 1);
    for (const std::string& text : c.rows) {
      at = page.find(">" + text + "<", at);
      EXPECT_NE(at, std::string::npos) << text;
    }
    if (c.rows.empty()) {
      EXPECT_EQ(page.substr(page.rfind('|')), "|");
    }
  }
}

// The browser test sees every kind of change listed; here: escaping, the unknown
// command, an empty project and the failures.
TEST(SyncConsole, PreviewPageListsEachProjectsChangesWithTheirCountOrWhyNot) {
  test::FakeConsoleController c;
  c.preview.projects = {
      {"a<b",
       {{TChangeKind::kCreate, false, "\\docs\\a&b.txt", "insert_file"},
        {TChangeKind::kOther, false, "\\q", "rename_file"}}},
      {"prazan", {}}};
  c.preview.failed = true;
  c.preview.failure = "Reply Code is not valid: <500>";
  const std::string page = PreviewPage(c);
  std::size_t at = 0;
  for (const std::string text :
       {"Projekt a&lt;b", "Nova datoteka", "\\docs\\a&amp;b.txt", "Zadatak rename_file", "\\q", "Broj izmjena",
        "2 (novo 1, zamjena 0, brisanje 0)", "Projekt prazan", "Broj izmjena", "0 (nema promjena)",
        "Pregled nije uspio", "Poruka", "Reply Code is not valid: &lt;500&gt;"}) {
    at = page.find(">" + text + "<", at);
    ASSERT_NE(at, std::string::npos) << text;
  }
  EXPECT_EQ(page.find("{%"), std::string::npos);

  c.syncRunning = true;
  EXPECT_TRUE(Contains(PreviewPage(c), ">" + msg::kSyncAlreadyRunning + "<"));
}

}  // namespace
}  // namespace sv
