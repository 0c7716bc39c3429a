#include "console/SyncConsole.h"

#include <gtest/gtest.h>

#include "base/Exception.h"
#include "base/Messages.h"
#include "base/Text.h"
#include "tests/support/FakeConsoleController.h"

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
// command, an empty project, a listing cut to its first changes, the failures, and the
// page before the first preview and while one is made. The page never asks for one.
TEST(SyncConsole, PreviewPageShowsTheLastPreviewWithTheCountsOfAllOrWhyNot) {
  auto made = std::make_shared<TSyncPreview>();
  made->projects = {{"a<b",
                     {{TChangeKind::kCreate, false, "\\docs\\a&b.txt", "insert_file"},
                      {TChangeKind::kOther, false, "\\q", "rename_file"}},
                     {250, 120, 30, 99}},
                    {"prazan", {}, {}}};
  made->failed = true;
  made->failure = "Reply Code is not valid: <500>";
  const std::string refresh = "<META HTTP-EQUIV=\"refresh\" CONTENT=\"2\">";
  struct Case {
    std::shared_ptr<const TSyncPreview> last;
    bool pending;
    std::vector<std::string> texts;  // in order
  };
  const Case cases[] = {
      {nullptr, false, {Cp("Pregleda još nema: pritisnite Pregled")}},
      {nullptr, true, {"Pregled je u izradi"}},
      {made, true,
       {"Pregled je u izradi", Cp("Izrađen"), "Projekt a&lt;b", "Nova datoteka", "\\docs\\a&amp;b.txt",
        "Zadatak rename_file", "\\q", "Prikazano", "prvih 2 od 250", "Broj izmjena",
        "250 (novo 120, zamjena 30, brisanje 99)", "Projekt prazan", "Broj izmjena", "0 (nema promjena)",
        "Pregled nije uspio", "Poruka", "Reply Code is not valid: &lt;500&gt;"}},
  };
  for (const Case& k : cases) {
    test::FakeConsoleController c;
    c.preview = k.last;
    c.previewPending = k.pending;
    const std::string page = PreviewPage(c);
    std::size_t at = 0;
    for (const std::string& text : k.texts) {
      at = page.find(">" + text + "<", at);
      ASSERT_NE(at, std::string::npos) << text;
    }
    EXPECT_EQ(Contains(page, refresh), k.pending);
    EXPECT_TRUE(Contains(page, "<FORM METHOD=POST"));
    EXPECT_TRUE(Contains(page, "NAME=\"akcija\" VALUE=\"Pregled\""));
    EXPECT_EQ(page.find("{%"), std::string::npos);
    EXPECT_EQ(c.previewsAsked, 0);
  }
}

// "Pregled" asks for a preview and shows the page; while a synchronisation runs it is
// refused.
TEST(SyncConsole, PreviewActionAsksForAPreview) {
  test::FakeConsoleController c;
  ConsoleResponse response;
  EXPECT_TRUE(HandleSyncAction(c, "pregled", {}, response));
  EXPECT_EQ(c.previewsAsked, 1);
  EXPECT_EQ(response.location, "/pregled.html");
  c.syncRunning = true;
  EXPECT_THROW(HandleSyncAction(c, "Pregled", {}, response), Exception);
}

}  // namespace
}  // namespace sv
