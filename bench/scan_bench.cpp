// bench-link: sv_comparer
// Times one scan of a folder tree and the writing of its listing, as a synchronisation
// does: the tree is scanned, the listing's length told from it, and the listing written
// in pieces (here to nothing): scan_bench FOLDER [RUNS]. Prints the best run's seconds
// and the listing's size; bench/scan/run.sh compares that with find, bench/run-all.sh
// the peak memory with the listing's size.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "Comparer/source/StructStreamer.h"
#include "platform/Locale.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: scan_bench FOLDER [RUNS]\n");
    return 2;
  }
  const std::string folder = argv[1];
  const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 1;
  sv::TimeStyle style;
  style.twentyFourHour = true;
  style.leadingZero = true;
  sv::SetUserTimeStyle(style);

  double best = 1e9;
  std::size_t size = 0, left = 0;
  for (int i = 0; i < runs; ++i) {
    const auto start = std::chrono::steady_clock::now();
    sv::TDirectory root;
    left = 0;
    sv::TLoader::ScanFolderTree(folder, &root, [&](const std::string&) { ++left; });
    std::size_t written = 0;
    size = sv::TLoader::ListingLength(root);
    sv::TLoader::WriteListing(root, [&written](std::string_view piece) { written += piece.size(); });
    if (written != size) std::fprintf(stderr, "listing length %zu, written %zu\n", size, written);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    best = std::min(best, took.count());
  }
  std::printf("seconds %.4f listing_bytes %zu left_out %zu\n", best, size, left);
  return 0;
}
