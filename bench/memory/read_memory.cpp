// read_memory READER SHAPE MEBIBYTES [FOLDER]
//
// The peak memory of reading one document, for bench/memory/run.sh. Makes a document of
// the given size in memory (for the settings reader: a settings file), reads it as the
// program does and prints one line:
//
//   READER SHAPE BYTES PEAK_KIB RATIO EXTRA_RATIO HELD_KIB
//
// PEAK_KIB is the process's peak resident memory from the start of the reading (VmHWM,
// reset first) less its resident memory before the document was made; RATIO is that
// peak over the document's size, so it counts the document itself, EXTRA_RATIO does not.
// HELD_KIB is what the process still holds once the reading's results are gone.
//
// Readers: tasks (the client's task list, TTaskList::LoadTasks), listing (the server's
// reading of a listing and its answer, BuildTaskList against an empty folder, so every
// listed entry is answered with a deletion), settings (the client's settings file,
// LoadSettings from FOLDER/svClient.xml, which it writes first), tree (the markup tree, TsvXMLNode::Parse, for scale).
// Shapes: flat (entries as the programs write them, side by side), nested (the
// document's elements nested as deep as the size allows, closed at the end), smallest
// (the smallest element the reader keeps, side by side) and deepest (unclosed "<a>"
// elements: three bytes a level).
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <string_view>

#include "Comparer/source/FileStructures.h"
#include "controller/svSettings.h"
#include "eventlog/drLogger.h"
#include "markup/svXMLParser.h"
#include "platform/Locale.h"
#include "server/TaskListBuilder.h"
#include "sync/Tasks.h"

namespace {

// A field of /proc/self/status in KiB.
long StatusKiB(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind(field, 0) == 0) return std::strtol(line.c_str() + std::string_view(field).size() + 1, nullptr, 10);
  return -1;
}

// Makes the peak resident memory start again from the present.
void ResetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

// Repeats `unit(i)` until the document reaches `size` bytes, between `head` and `tail`.
template <typename Unit>
std::string Repeated(std::size_t size, std::string_view head, Unit unit, std::string_view tail) {
  std::string out;
  out.reserve(size + 4096);  // made whole in one block, so the making leaves no peak
  out += head;
  for (std::size_t i = 0; out.size() + tail.size() < size; ++i) unit(out, i);
  out += tail;
  return out;
}

// `open(i)` nested until the openings and their closings fill `size` bytes.
template <typename Open>
std::string Nested(std::size_t size, std::string_view head, Open open, std::string_view close, std::string_view tail) {
  std::string out;
  out.reserve(size + 4096);
  out += head;
  std::size_t depth = 0;
  while (out.size() + (depth + 1) * close.size() + tail.size() < size) {
    open(out, depth);
    ++depth;
  }
  for (std::size_t i = 0; i < depth; ++i) out += close;
  out += tail;
  return out;
}

std::string Number(std::size_t i) {
  char text[16];
  std::snprintf(text, sizeof text, "%06zu", i);
  return text;
}

std::string Document(const std::string& reader, const std::string& shape, std::size_t size) {
  if (shape == "deepest")
    return Repeated(size, "", [](std::string& out, std::size_t) { out += "<a>"; }, "");
  if (reader == "tasks" || reader == "tree") {
    if (shape == "flat")
      return Repeated(size, "<xml>", [](std::string& out, std::size_t i) {
        out += "\r\n<task>insert_file\r\n<param>&quot;\\docs\\report_" + Number(i) +
               ".txt&quot;,&quot;2008-11-14 13-05-08&quot;</param>\r\n</task>";
      }, "\r\n</xml>");
    if (shape == "nested")
      return Nested(size, "<xml>", [](std::string& out, std::size_t) { out += "\r\n<task>insert_dir"; },
                    "\r\n</task>", "\r\n</xml>");
    return Repeated(size, "<xml>", [](std::string& out, std::size_t) { out += "<task/>"; }, "</xml>");
  }
  if (reader == "listing") {
    if (shape == "flat")
      return Repeated(size, "<xml>", [](std::string& out, std::size_t i) {
        out += "\r\n<file>\r\n<name>report_" + Number(i) +
               ".txt</name>\r\n<datemodified>2008-11-14 13-05-08</datemodified>\r\n</file>";
      }, "\r\n</xml>");
    if (shape == "nested")
      return Nested(size, "<xml>", [](std::string& out, std::size_t i) {
        out += "\r\n<directory>\r\n<name>d" + Number(i) + "</name>\r\n<datemodified>2008-11-14</datemodified>";
      }, "\r\n</directory>", "\r\n</xml>");
    return Repeated(size, "<xml>", [](std::string& out, std::size_t) { out += "<file><name>a</name></file>"; },
                    "</xml>");
  }
  // settings
  const std::string head =
      "<xml>\r\n<serversettings>\r\n<serveradress>127.0.0.1</serveradress>\r\n<defaultport>1974</defaultport>\r\n"
      "<defaultpollinterval>60</defaultpollinterval>\r\n</serversettings>\r\n<projects>";
  if (shape == "flat")
    return Repeated(size, head, [](std::string& out, std::size_t i) {
      out += "\r\n<project>\r\n<name>project_" + Number(i) + "</name>\r\n<path>/home/ana/projects/project_" +
             Number(i) + "</path>\r\n</project>";
    }, "\r\n</projects>\r\n</xml>\r\n");
  if (shape == "nested")
    return Nested(size, head, [](std::string& out, std::size_t) { out += "\r\n<project>\r\n<name>p</name>"; },
                  "\r\n</project>", "\r\n</projects>\r\n</xml>\r\n");
  return Repeated(size, "<xml><projects>", [](std::string& out, std::size_t) {
    out += "<project><name>a</name><path>b</path></project>";
  }, "</projects></xml>");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4 && argc != 5) {
    std::fprintf(stderr, "usage: read_memory tasks|listing|settings|tree flat|nested|smallest|deepest MEBIBYTES [FOLDER]\n");
    return 2;
  }
  const std::string reader = argv[1], shape = argv[2];
  const std::size_t size = std::strtoul(argv[3], nullptr, 10) << 20;
  const std::string folder = argc == 5 ? argv[4] : ".";  // the settings file's folder
  sv::TdrEventLog log;
  const long before = StatusKiB("VmRSS");
  std::string document = Document(reader, shape, size);
  const std::size_t bytes = document.size();
  if (reader == "settings") {
    std::ofstream(folder + "/svClient.xml", std::ios::binary) << document;
    std::string().swap(document);  // read from the disk, as the client does
  }
  const long withDocument = StatusKiB("VmRSS");
  ResetPeak();
  if (reader == "tasks") {
    sv::TTaskList list;
    list.LoadTasks(document);
  } else if (reader == "listing") {
    sv::TDirectory server;
    sv::BuildTaskList(document, server, sv::UserTimeStyle());
  } else if (reader == "settings") {
    sv::TsvSettings settings;
    sv::LoadSettings(sv::SystemPath(folder), "/home/ana/drumel", settings, log);
  } else {
    sv::TsvXMLNode root;
    root.Parse(document);
  }
  const long peak = StatusKiB("VmHWM") - before;
  const long held = StatusKiB("VmRSS") - withDocument;
  std::printf("%s %s %zu %ld %.2f %.2f %ld\n", reader.c_str(), shape.c_str(), bytes, peak, peak * 1024.0 / bytes,
              (peak - (withDocument - before)) * 1024.0 / bytes, held);
  return 0;
}
