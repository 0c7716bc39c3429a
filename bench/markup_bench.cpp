// bench-link: sv_markup
// Parse and AsText of listing-shaped documents of 1, 10 and 100 MB: folders two levels
// deep, each holding files, every entry with a name and a modification time. Both
// operations must be linear: ten times the document may take at most twelve times as long.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "markup/svXMLParser.h"

namespace {

void AddEntry(sv::TsvXMLNode* parent, const char* kind, const std::string& name) {
  auto* entry = new sv::TsvXMLNode(parent);
  entry->SetName(kind);
  auto* n = new sv::TsvXMLNode(entry);
  n->SetName("name");
  n->SetValue(name);
  auto* t = new sv::TsvXMLNode(entry);
  t->SetName("datemodified");
  t->SetValue("2008-11-14 13-05-08");
}

// A listing of at least `bytes` bytes: folders of 8 sub-folders with 16 files each, plus
// 16 files of their own (one name in eight holds an '&' to exercise escaping).
std::unique_ptr<sv::TsvXMLNode> MakeListing(std::size_t bytes) {
  auto root = std::make_unique<sv::TsvXMLNode>();
  root->SetName("xml");
  std::size_t approx = 0;
  for (int d = 0; approx < bytes; ++d) {
    AddEntry(root.get(), "directory", "folder " + std::to_string(d));
    sv::TsvXMLNode* dir = root->Child(root->ChildCount() - 1);
    for (int s = 0; s < 8; ++s) {
      AddEntry(dir, "directory", "sub " + std::to_string(s));
      sv::TsvXMLNode* sub = dir->Child(dir->ChildCount() - 1);
      for (int f = 0; f < 16; ++f)
        AddEntry(sub, "file", "report_" + std::to_string(f) + (f % 8 ? ".txt" : "&notes.txt"));
    }
    for (int f = 0; f < 16; ++f) AddEntry(dir, "file", "readme_" + std::to_string(f) + ".md");
    approx += 8 * 17 * 100 + 17 * 100;
  }
  return root;
}

// One document per size, built once and shared by the runs.
const std::string& Document(std::int64_t megabytes) {
  static std::map<std::int64_t, std::string> documents;
  auto& text = documents[megabytes];
  if (text.empty()) text = MakeListing(std::size_t(megabytes) << 20)->AsText();
  return text;
}

// Parse alone: the tree is released outside the timing (see BM_Destroy).
void BM_Parse(benchmark::State& state) {
  const std::string& text = Document(state.range(0));
  for (auto _ : state) {
    auto root = std::make_unique<sv::TsvXMLNode>();
    root->Parse(text);
    benchmark::DoNotOptimize(root->ChildCount());
    state.PauseTiming();
    root.reset();
    state.ResumeTiming();
  }
  state.SetBytesProcessed(state.iterations() * std::int64_t(text.size()));
  state.counters["doc_bytes"] = double(text.size());
}

// Releasing a parsed tree (every node, last child first).
void BM_Destroy(benchmark::State& state) {
  const std::string& text = Document(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    auto root = std::make_unique<sv::TsvXMLNode>();
    root->Parse(text);
    state.ResumeTiming();
    root.reset();
  }
  state.SetBytesProcessed(state.iterations() * std::int64_t(text.size()));
}

void BM_AsText(benchmark::State& state) {
  sv::TsvXMLNode root;
  root.Parse(Document(state.range(0)));
  std::size_t size = 0;
  for (auto _ : state) {
    std::string text = root.AsText();
    size = text.size();
    benchmark::DoNotOptimize(text.data());
  }
  state.SetBytesProcessed(state.iterations() * std::int64_t(size));
}

// On a shared machine the fastest of several repetitions is the figure least disturbed
// by other work: run with --benchmark_repetitions=N and compare the "min" rows.
double Fastest(const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); }

BENCHMARK(BM_Parse)->Arg(1)->Arg(10)->Arg(100)->Unit(benchmark::kMillisecond)
    ->ComputeStatistics("min", Fastest);
BENCHMARK(BM_AsText)->Arg(1)->Arg(10)->Arg(100)->Unit(benchmark::kMillisecond)
    ->ComputeStatistics("min", Fastest);
BENCHMARK(BM_Destroy)->Arg(1)->Arg(10)->Arg(100)->Unit(benchmark::kMillisecond)
    ->ComputeStatistics("min", Fastest);

}  // namespace

BENCHMARK_MAIN();
