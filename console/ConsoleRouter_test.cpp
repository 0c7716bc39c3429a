#include "console/ConsoleRouter.h"

#include <gtest/gtest.h>

#include "base/Exception.h"
#include "base/Messages.h"
#include "console/HttpRequestReader.h"
#include "console/ResourceGet.h"
#include "tests/support/FakeConsoleController.h"

namespace sv {
namespace {

ConsoleResponse Route(test::FakeConsoleController& c, const std::string& method, const std::string& target) {
  HttpRequestReader reader;
  reader.Feed(method + " " + target + " HTTP/1.1\r\nHost: localhost\r\nContent-Length: 0\r\n\r\n");
  ConsoleResponse response;
  SvCHTTPServerCommandGet(c, reader.Request(), response);
  return response;
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(ConsoleRouter, DocumentsChooseTheirPageWholeAndWithoutRegardToCase) {
  test::FakeConsoleController c;
  auto page = [&](const std::string& target) { return Route(c, "GET", target).contentText; };
  const std::string status = page("/index.html");
  const std::string settings = page("/postavke.html");
  const std::string events = page("/eventlog.html");
  EXPECT_TRUE(Contains(status, "VALUE=\"Sinhroniziraj\""));
  EXPECT_TRUE(Contains(settings, "VALUE=\"Postavi\""));
  EXPECT_TRUE(Contains(events, "R. b."));
  for (const char* t : {"/", "/favicon.ico", "/style.css/", "/index.html?x=1", ""}) EXPECT_EQ(page(t), status) << t;
  for (const char* t : {"/POSTAVKE.HTML", "/postavke.html?x=1", "/postavke%2Ehtml", "\\postavke.html"})
    EXPECT_EQ(page(t), settings) << t;
  EXPECT_EQ(page("/EventLog.html?page=1"), events);
  EXPECT_EQ(Route(c, "HEAD", "/postavke.html").contentText, settings);
}

TEST(ConsoleRouter, PreviewPageAndStatusDocument) {
  test::FakeConsoleController c;
  EXPECT_TRUE(Contains(Route(c, "GET", "/Pregled.html").contentText, Cp("Pregled sljedeće sinhronizacije")));
  const ConsoleResponse json = Route(c, "GET", "/status.json");
  EXPECT_EQ(json.contentType, "application/json");
  EXPECT_EQ(json.contentText.rfind("{\"settings\":", 0), 0u);
}

// The TLS values reach the settings form, the status page and the status document.
TEST(ConsoleRouter, TheTlsSettingsAndTheLastConnectionAreShown) {
  test::FakeConsoleController c;
  const std::string pin(64, 'e');
  c.tls = {true, pin};
  c.connection = {true, "TLSv1.2", pin};
  const std::string settings = Route(c, "GET", "/postavke.html").contentText;
  EXPECT_TRUE(Contains(settings, Cp("Šifrirana veza (TLS)")));
  EXPECT_TRUE(Contains(settings, Cp("Otisak ključa poslužitelja (SHA-256)")));
  EXPECT_TRUE(Contains(settings, "<INPUT TYPE=CHECKBOX NAME=\"tls\" VALUE=\"1\" CHECKED>"));
  EXPECT_TRUE(Contains(settings, "<INPUT TYPE=TEXT NAME=\"otisak\" VALUE=\"" + pin + "\""));
  EXPECT_TRUE(Contains(Route(c, "GET", "/").contentText,
                       Cp("<P CLASS=\"white\">Veza: šifrirana (TLSv1.2), ključ poslužitelja ") + pin + "</P>"));
  EXPECT_TRUE(Contains(Route(c, "GET", "/status.json").contentText,
                       "\"connection\":{\"encrypted\":true,\"protocol\":\"TLSv1.2\",\"serverKey\":\"" + pin + "\"}"));

  c.tls = {};
  c.connection = {};
  EXPECT_TRUE(Contains(Route(c, "GET", "/postavke.html").contentText, "NAME=\"tls\" VALUE=\"1\" >"));
  EXPECT_TRUE(Contains(Route(c, "GET", "/").contentText, Cp("<P CLASS=\"white\">Veza nije šifrirana</P>")));
  EXPECT_TRUE(Contains(Route(c, "GET", "/status.json").contentText, "\"connection\":{\"encrypted\":false}"));
}

TEST(ConsoleRouter, StyleSheetAndImagesAreSentAsTheyAre) {
  test::FakeConsoleController c;
  const ConsoleResponse css = Route(c, "GET", "/STYLE.CSS");
  ASSERT_TRUE(css.contentStream.has_value());
  EXPECT_EQ(*css.contentStream, ResourceBytes("STYLE_CSS", "rcdata"));
  EXPECT_EQ(css.contentType, "text/html");
  EXPECT_EQ(*Route(c, "GET", "/sorvanaproject.jpg").contentStream, ResourceBytes("sorvanaproject_jpg", "RCDATA"));
  EXPECT_EQ(*Route(c, "GET", "/sorvanaproject_footer.jpg").contentStream,
            ResourceBytes("SORVANAPROJECT_FOOTER_JPG", "RCDATA"));
}

TEST(ConsoleRouter, PostGoesToTheActionsWhateverTheDocument) {
  test::FakeConsoleController c;
  HttpRequestReader reader;
  reader.Feed("POST /style.css HTTP/1.1\r\nHost: localhost\r\nContent-Type: application/x-www-form-urlencoded\r\n"
              "Content-Length: 20\r\n\r\nakcija=Sinhroniziraj");
  ConsoleResponse response;
  SvCHTTPServerCommandGet(c, reader.Request(), response);
  EXPECT_EQ(response.code, 302);
  EXPECT_EQ(response.location, "/index.html");
  EXPECT_TRUE(c.syncRequested);
  EXPECT_FALSE(response.contentStream.has_value());
}

TEST(ResourceGet, FoundByTypeAndNameWithoutRegardToCaseOrNamedInTheError) {
  EXPECT_EQ(LoadResourceText("index", "TEXT"), LoadResourceText("INDEX", "text"));
  EXPECT_EQ(LoadResourceText("propalaakcija", "TEXT").substr(0, 9), "<!DOCTYPE");
  for (auto [name, type] : {std::pair{"index", "RCDATA"}, {"style_css", "TEXT"}, {"nothing", "TEXT"}}) {
    try {
      LoadResourceText(name, type);
      FAIL() << name;
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message(), std::string("Resource ") + name + " not found");
    }
  }
}

TEST(ResourceGet, TemplatesAreWindows1250WithCrLfAndNoEndAfterTheLastTag) {
  for (const char* name : {"index", "postavke", "eventlog", "propalaakcija", "pregled"}) {
    const std::string t = LoadResourceText(name, "TEXT");
    EXPECT_EQ(t.rfind("<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.0 Transitional//EN\">\r\n", 0), 0u) << name;
    EXPECT_EQ(t.substr(t.size() - 9), "\r\n</HTML>") << name;
    EXPECT_TRUE(Contains(t, "charset=windows-1250")) << name;
    EXPECT_TRUE(Contains(t, "<TITLE>Sorvana Client</TITLE>")) << name;
    EXPECT_TRUE(Contains(t, "<BODY LANG=\"hr-HR\" BGCOLOR=\"#ffffff\" DIR=\"LTR\">")) << name;
    EXPECT_TRUE(Contains(t, "WIDTH=300 HEIGHT=80")) << name;
    EXPECT_TRUE(Contains(t, "WIDTH=293 HEIGHT=30")) << name;
    for (std::size_t i = 0; i < t.size(); ++i) {
      if (t[i] != '\n') continue;
      ASSERT_TRUE(i > 0 && t[i - 1] == '\r') << name << " at " << i;
    }
  }
  const std::string events = LoadResourceText("eventlog", "TEXT");
  EXPECT_TRUE(Contains(events, "VALUE=\"Tra\x9Ei\""));
  EXPECT_TRUE(Contains(events, "\r\n<!--{%EVENTLOG%}-->\r\n"));
  EXPECT_TRUE(Contains(events, "\r\n<!--{%/EVENTLOG%}-->\r\n"));
  EXPECT_TRUE(Contains(events, "<A HREF=\"eventlog.html?page={%EVENTPREVPAGE%}&filter={%FILTERURL%}\">&lt</A>"));
  EXPECT_TRUE(Contains(LoadResourceText("propalaakcija", "TEXT"),
                       "> Akcija {%ACTION%} <STRONG>nije</STRONG> pokrenuta:</P>"));
}

// Width and height from the baseline frame header, or 0 x 0 when the file is not a
// baseline JFIF image.
std::pair<int, int> BaselineJfifSize(std::string_view j) {
  auto byte = [&](std::size_t i) { return static_cast<unsigned char>(j[i]); };
  if (j.size() < 20 || j.substr(0, 4) != "\xFF\xD8\xFF\xE0" || j.substr(6, 5) != std::string_view("JFIF\0", 5))
    return {0, 0};
  for (std::size_t i = 2; i + 9 < j.size();) {
    if (byte(i) != 0xFF) return {0, 0};
    const int marker = byte(i + 1);
    if (marker == 0xC0) return {byte(i + 7) * 256 + byte(i + 8), byte(i + 5) * 256 + byte(i + 6)};
    if (marker >= 0xC1 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC) return {0, 0};
    i += 2 + byte(i + 2) * 256 + byte(i + 3);
  }
  return {0, 0};
}

TEST(ResourceGet, ImagesAreBaselineJfifOfTheirSizes) {
  EXPECT_EQ(BaselineJfifSize(ResourceBytes("SORVANAPROJECT_JPG", "RCDATA")), std::make_pair(300, 80));
  EXPECT_EQ(BaselineJfifSize(ResourceBytes("SORVANAPROJECT_FOOTER_JPG", "RCDATA")), std::make_pair(293, 30));
}

TEST(ResourceGet, StyleSheetRules) {
  const std::string css(ResourceBytes("STYLE_CSS", "RCDATA"));
  const std::string font = "font-family: Verdana, Arial, Helvetica, sans-serif;";
  auto rule = [&](const std::string& selector) {
    const std::size_t at = css.find(selector + " {");
    return at == std::string::npos ? std::string() : css.substr(at, css.find('}', at) - at);
  };
  EXPECT_TRUE(Contains(rule(".title"), font));
  EXPECT_TRUE(Contains(rule(".title"), "font-size: 14px;"));
  EXPECT_TRUE(Contains(rule(".title"), "color: #FF5A00;"));
  EXPECT_TRUE(Contains(rule(".title"), "text-indent: 10px;"));
  EXPECT_TRUE(Contains(rule(".white"), "color: #000000;\r\n\tfont-weight: bold;"));
  EXPECT_TRUE(Contains(rule("A:hover"), "text-decoration: underline;"));
  EXPECT_TRUE(Contains(rule("A:visited"), "text-decoration: none;"));
  EXPECT_FALSE(Contains(rule("P"), "font-weight"));
}

}  // namespace
}  // namespace sv
