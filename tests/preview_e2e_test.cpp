// The console's preview in the real sorvana-client: only the "Pregled" button (a POST)
// reaches the server, and a preview of a large task list takes bounded memory.
#include <gtest/gtest.h>

#include <fstream>
#include <thread>

#include "tests/support/Loopback.h"
#include "tests/support/Programs.h"
#include "tests/support/TempDir.h"

namespace sv::test {
namespace {

using std::chrono::milliseconds;

// Texts as the console shows them (Windows-1250).
const std::string kPreviewStarted = "Pregled sljede\xe6" "e sinhronizacije";
const std::string kNoPreviewYet = "Pregleda jo\x9a nema";
const std::string kPreviewForm = "akcija=Pregled";

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// A client of one project whose server answers the run at start with no tasks and every
// later listing with `tasks`.
struct PreviewRig {
  PreviewRig(const TempDir& dir, std::string tasks)
      : tasks(std::move(tasks)),
        port(PickPorts().client),
        peer(port, [this](int connection, PeerLink& link) {
          ServeSynchronisation(link, {{"drumel", connection == 0 ? std::string() : this->tasks}}, {});
        }),
        client(dir / "client", port, 60, {{"drumel", dir / "drumel"}}, HomeEnvironment(dir / "home")) {
    client.Start();
    client.AwaitSyncEntries();  // the run at start is over
  }
  ~PreviewRig() {
    client.Quit();
    client.Process().WaitExit(kProgramLimit);
  }
  // The preview page once it shows `text`; fails the test after kProgramLimit.
  std::string AwaitPreviewShowing(const std::string& text) {
    const auto until = std::chrono::steady_clock::now() + kProgramLimit;
    std::string page;
    do {
      page = client.Get("/pregled.html").body;
      if (Contains(page, text)) return page;
      std::this_thread::sleep_for(milliseconds(50));
    } while (std::chrono::steady_clock::now() < until);
    ADD_FAILURE() << "the preview page never showed " << text;
    return page;
  }
  std::string tasks;
  int port;
  ScriptedServer peer;
  ClientProgram client;
};

// Any web page can make a browser GET a URL: the preview page then only shows what it
// has and offers its button, which posts. Only the post connects to the server and logs.
TEST(Preview, OnlyThePostOfItsButtonReachesTheServer) {
  TempDir dir;
  PreviewRig rig(dir, "<xml><task>insert_dir<param>\\nova</param></task></xml>");
  const int console = rig.client.ConsolePort();
  const std::vector<std::string> before = rig.client.Events();
  ASSERT_EQ(rig.peer.Finished(), 1);

  const HttpAnswer shown = rig.client.Get("/pregled.html");
  EXPECT_EQ(shown.status, 200);
  EXPECT_TRUE(Contains(shown.body, "<FORM METHOD=POST"));
  EXPECT_TRUE(Contains(shown.body, "NAME=\"akcija\" VALUE=\"Pregled\""));
  EXPECT_TRUE(Contains(shown.body, kNoPreviewYet));
  EXPECT_EQ(HttpHead(console, "/pregled.html", rig.client.Auth()).status, 200);

  const HttpAnswer posted = rig.client.Post("/pregled.html", kPreviewForm);
  EXPECT_EQ(posted.status, 302);
  EXPECT_TRUE(Contains(posted.head, "Location: /pregled.html"));
  rig.AwaitPreviewShowing("1 (novo 1, zamjena 0, brisanje 0)");
  EXPECT_EQ(rig.peer.Finished(), 2);
  std::vector<std::string> after = rig.client.Events();
  ASSERT_GT(after.size(), before.size());
  after.resize(after.size() - before.size());
  EXPECT_EQ(after, (std::vector<std::string>{kPreviewStarted}));
}

// Peak memory of the client over a preview of a 16 MiB task list, asked for by its button
// and shown, against the list's size: the task list's own rule (about six times the
// document, the document counted).
TEST(Preview, OfALargeTaskListTakesAtMostSixTimesItsSize) {
#ifdef SV_SANITIZED
  GTEST_SKIP() << "the sanitizers' own memory would be counted";
#endif
  if (WindowsPrograms()) GTEST_SKIP() << "reads the memory figures of a Linux process";
  constexpr std::size_t kSize = 16 << 20;
  std::string tasks = "<xml>";
  tasks.reserve(kSize + 128);
  int count = 0;
  while (tasks.size() < kSize) {
    tasks += "\r\n<task>delete_file<param>\\docs\\report_" + std::to_string(1000000 + count) + ".txt</param></task>";
    ++count;
  }
  tasks += "\r\n</xml>";
  const std::size_t size = tasks.size();
  TempDir dir;
  PreviewRig rig(dir, std::move(tasks));
  const std::string proc = "/proc/" + std::to_string(rig.client.Process().Pid());
  const auto kib = [&proc](const std::string& field) {
    std::ifstream status(proc + "/status");
    for (std::string line; std::getline(status, line);)
      if (line.rfind(field + ":", 0) == 0) return std::stol(line.substr(field.size() + 1));
    return -1L;
  };
  const long before = kib("VmRSS");
  if (!(std::ofstream(proc + "/clear_refs") << "5")) GTEST_SKIP() << "the peak memory cannot be reset here";

  EXPECT_EQ(rig.client.Post("/index.html", kPreviewForm).status, 302);
  const std::string page = rig.AwaitPreviewShowing(std::to_string(count) + " (novo 0, zamjena 0, brisanje " + std::to_string(count) + ")");
  EXPECT_TRUE(Contains(page, "prvih 100 od " + std::to_string(count)));
  const long peak = kib("VmHWM") - before;
  EXPECT_LE(peak * 1024.0, 6.0 * size) << "peak " << peak << " KiB over a task list of " << size << " bytes";
}

}  // namespace
}  // namespace sv::test
