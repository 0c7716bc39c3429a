// The real sorvana-client and what the user made around it: the settings file a link, a
// hard link or in a folder the user cannot write; folders named outside Windows-1250;
// and a project root path that names something other than a folder.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>

#include "tests/support/Programs.h"
#include "tests/support/TempDir.h"

namespace sv::test {
namespace {

namespace fs = std::filesystem;

constexpr uid_t kNobody = 65534;

struct stat Stat(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
  return st;
}

// Whether an entry of the event log begins with `start`.
bool Logged(ClientProgram& client, const std::string& start) {
  const std::vector<std::string> events = client.Events();
  return std::any_of(events.begin(), events.end(), [&](const std::string& e) { return e.rfind(start, 0) == 0; });
}

// "Postavi" with only the given fields filled in; true when it was carried out (a failed
// action is answered with a page, not a redirect).
bool Postavi(ClientProgram& client, const std::string& fields) {
  return client.Post("/postavke.html", "akcija=Postavi&" + fields).status == 302;
}

// A client whose one project lives in dir/drumel, started from `folder`.
std::unique_ptr<ClientProgram> Client(const TempDir& dir, const std::string& folder) {
  return std::make_unique<ClientProgram>(folder, FreePortPair(), 60,
                                         std::vector<Project>{{"drumel", dir / "drumel"}}, HomeEnvironment(dir / "home"));
}

// Each arrangement is something a user may have made of the file beside the program; a
// save through the console changes the settings and keeps the arrangement.
TEST(Settings, ASaveKeepsTheFileAsTheUserMadeIt) {
  if (WindowsPrograms()) GTEST_SKIP() << "the arrangements are POSIX ones: links, owners, modes and users";
  const struct {
    const char* arrangement;
    // Makes the arrangement in the program's folder; gives the file the save must reach.
    std::function<std::string(const std::string& folder)> arrange;
    bool sameFile;          // the save writes into the very file (another inode breaks it)
    bool unwritableFolder;  // run as a user who cannot write the program's folder
  } cases[] = {
      {"a link to a file elsewhere",
       [](const std::string& folder) {
         MakeDirs(folder + "/real");
         fs::rename(folder + "/svClient.xml", folder + "/real/svClient.xml");
         fs::create_symlink("real/svClient.xml", folder + "/svClient.xml");
         return folder + "/real/svClient.xml";
       },
       false, false},
      {"a program folder the user cannot write",
       [](const std::string& folder) {
         // As root, the client runs as nobody, for whom the folder's mode bits hold.
         if (::geteuid() == 0) {
           EXPECT_EQ(::chown((folder + "/svClient.xml").c_str(), kNobody, kNobody), 0);
         }
         EXPECT_EQ(::chmod(folder.c_str(), 0555), 0);
         return folder + "/svClient.xml";
       },
       true, true},
  };
  TempDir dir;
  fs::permissions(dir.path(), fs::perms::others_read | fs::perms::others_exec, fs::perm_options::add);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arrangement);
    std::vector<std::string> launcher;
    if (c.unwritableFolder && ::geteuid() == 0) {
      if (::access("/usr/bin/setpriv", X_OK) != 0) {
        // The last case: those before it have run.
        GTEST_SKIP() << c.arrangement << " needs setpriv to run the client as nobody";
      }
      launcher = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
    }
    const std::string folder = dir / c.arrangement;
    auto client = Client(dir, folder);
    const std::string target = c.arrange(folder);
    client->Start(launcher);
    const struct stat before = Stat(target);
    EXPECT_TRUE(Postavi(*client, "pollinterval=7")) << client->Events().front();
    EXPECT_NE(ReadFile(target).find("<defaultpollinterval>7</defaultpollinterval>"), std::string::npos);
    EXPECT_EQ(ReadFile(folder + "/svClient.xml"), ReadFile(target));
    EXPECT_EQ(Stat(target).st_uid, before.st_uid);
    EXPECT_EQ(Stat(target).st_mode, before.st_mode);
    if (c.sameFile) {
      EXPECT_EQ(Stat(target).st_ino, before.st_ino);
    }
  }
}

// The TLS settings through the real program: read from the file as a user pasted them,
// shown by the form, changed by it (a pin that is none changes nothing), and gone from the
// file when cleared, which then is the file without them byte for byte. No
// synchronisation has reached a server, so the connection shows as not encrypted.
TEST(Settings, TlsAndThePinTravelBetweenTheFileTheFormAndTheStatus) {
  TempDir dir;
  auto client = Client(dir, dir / "client");
  const std::string file = dir / "client/svClient.xml";
  const std::string plain = ReadFile(file);
  const std::string pin = "00112233445566778899aabbccddeeff00112233445566778899aabbccddeeff";
  std::string pasted = "SHA256:";
  for (std::size_t i = 0; i < pin.size(); i += 2) pasted += (i ? ":" : "") + pin.substr(i, 2);
  std::string withTls = plain;
  withTls.replace(withTls.find("</serversettings>"), 0, "<TLS>1</TLS>\r\n<tlspin>" + pasted + "</tlspin>\r\n");
  WriteFile(file, withTls);
  client->Start();

  const std::string form = client->Get("/postavke.html").body;
  EXPECT_NE(form.find("NAME=\"tls\" VALUE=\"1\" CHECKED>"), std::string::npos);
  EXPECT_NE(form.find("NAME=\"otisak\" VALUE=\"" + pin + "\""), std::string::npos);
  EXPECT_NE(client->Get("/").body.find("Veza nije \x9Aifrirana"), std::string::npos);
  EXPECT_NE(client->Get("/status.json").body.find("\"connection\":{\"encrypted\":false}"), std::string::npos);

  EXPECT_FALSE(Postavi(*client, "veza=1&otisak=" + pin.substr(2)));
  EXPECT_EQ(ReadFile(file), withTls);
  EXPECT_TRUE(Postavi(*client, "veza=1&tls=1&otisak=" + PercentEncode(pasted)));
  std::string expected = plain;
  expected.replace(expected.find("</serversettings>"), 0, "<tls>1</tls>\r\n<tlspin>" + pin + "</tlspin>\r\n");
  EXPECT_EQ(ReadFile(file), expected);
  EXPECT_TRUE(Postavi(*client, "veza=1&otisak="));
  EXPECT_EQ(ReadFile(file), plain);
}

// "Postavi" may be posted by any local process: a root path that names a file, a pipe or
// a link to a file opens nothing up, and the log says the grant failed.
TEST(Settings, APostedRootThatIsNoFolderOpensNothing) {
  TempDir dir;
  auto client = Client(dir, dir / "client");
  client->Start();
  const std::string file = dir / "private.txt", pipe = dir / "pipe", link = dir / "link";
  WriteFile(file, "secret");
  ASSERT_EQ(::chmod(file.c_str(), 0600), 0);
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  fs::create_symlink(file, link);
  // Pipes and links made on Linux are no objects of their own to a Windows program.
  const std::vector<std::string> paths = WindowsPrograms() ? std::vector<std::string>{file}
                                                           : std::vector<std::string>{file, pipe, link};
  // ENOTDIR; the Windows program's system says ERROR_DIRECTORY, in its own words.
  const std::string failure = WindowsPrograms() ? ", gre\x9a" "ka 267 " : ", gre\x9a" "ka 20 Not a directory";
  for (const std::string& path : paths) {
    const std::string posted = ProgramPath(path);  // a root must be absolute where the program runs
    EXPECT_TRUE(Postavi(*client, "rootpath=" + posted)) << posted;
    EXPECT_TRUE(Logged(*client, "Nije uspjela dozvola pristupa Authenticated Users na " + posted + failure))
        << client->Events().front();
    EXPECT_EQ(Stat(path).st_mode & 07777, 0600u) << path;
  }
  EXPECT_EQ(ReadFile(file), "secret");
}

// A program folder named in Japanese and a home folder named in Cyrillic: the settings
// file beside the program is found, the default root below the home folder is created
// where the user expects it, and nothing named with question marks appears.
TEST(Settings, FoldersThatWindows1250CannotNameWork) {
  if (WindowsPrograms()) GTEST_SKIP() << "the home folder and \"~\" make the Linux program's default root; the Windows one's is c:\\program files\\drumel";
  TempDir dir;
  const std::string japanese = dir / "\xe6\x97\xa5\xe6\x9c\xac";                      // 日本
  const std::string home = dir / "\xd0\x9f\xd1\x80\xd0\xb8\xd0\xb2\xd0\xb5\xd1\x82";  // Привет
  ClientProgram client(japanese, FreePortPair(), 60, {}, HomeEnvironment(home));
  client.Start();  // waits for the console on the port named beside the program
  // The settings page offers the default root as "~/drumel"; the browser posts it back.
  EXPECT_NE(client.Get("/postavke.html").body.find("~/drumel"), std::string::npos);
  EXPECT_TRUE(Postavi(client, "rootpath=%7E%2Fdrumel"));
  EXPECT_TRUE(fs::is_directory(home + "/drumel"));
  EXPECT_NE(ReadFile(japanese + "/svClient.xml").find("<path>~/drumel</path>"), std::string::npos);
  for (const auto& entry : fs::recursive_directory_iterator(dir.path()))
    EXPECT_EQ(entry.path().filename().string().find('?'), std::string::npos) << entry.path();
}

}  // namespace
}  // namespace sv::test
