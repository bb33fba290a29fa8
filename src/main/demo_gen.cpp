// convert-demo-gen: writes the embedded default's three databases with
// sample data, or checks a converted folder against what it wrote.
//
//   convert-demo-gen --out DIR [--scale N] [--seed S] [--no-std]
//   convert-demo-gen --check DIR
//
// Exit status: 0 done (or every count matches), 1 failed (or a count
// differs), 2 bad usage.

#include <charconv>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <string_view>

#include "demo/generator.h"

namespace {

constexpr const char* kUsage =
    "usage: convert-demo-gen --out DIR [--scale N] [--seed S] [--no-std]\n"
    "       convert-demo-gen --check DIR\n"
    "Writes tillexv8.db, dravik_pro.db and dravik_std.db into DIR (created if\n"
    "missing; those three files are replaced) with sample data of N scale units\n"
    "(one unit: 1000 items, 2000 member cards, 400 stock rows; default 1), the\n"
    "same data for the same seed (default 1), and DIR/demo-manifest.txt.\n"
    "--check compares the target tables of a converted DIR with the manifest.\n";

template <typename Number>
bool parseNumber(std::string_view text, Number& out) {
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, out);
  return ec == std::errc() && ptr == end;
}

int usage(const std::string& reason) {
  std::cerr << "convert-demo-gen: " << reason << "\n" << kUsage;
  return 2;
}

void printCounts(const char* title, const std::vector<cvt::TableCount>& counts) {
  std::cout << title << "\n";
  for (const auto& c : counts) {
    std::printf("  %-26s %10lld\n", c.name.c_str(), c.rows);
  }
}

int check(const std::string& folder) {
  std::ifstream in(cvt::manifestPath(folder));
  if (!in) {
    std::cerr << "convert-demo-gen: no manifest in " << folder << "\n";
    return 1;
  }
  std::stringstream text;
  text << in.rdbuf();
  cvt::DemoManifest manifest;
  std::string error;
  std::vector<cvt::CountCheck> checks;
  if (!cvt::parseManifest(text.str(), manifest, error) ||
      !cvt::checkDemo(folder, manifest, checks, error)) {
    std::cerr << "convert-demo-gen: " << error << "\n";
    return 1;
  }
  int differ = 0;
  std::printf("%-26s %10s %10s\n", "target table", "expected", "found");
  for (const auto& c : checks) {
    std::printf("%-26s %10lld %10lld  %s\n", c.table.c_str(), c.expected, c.actual,
                c.matches() ? "ok" : "DIFFERS");
    differ += c.matches() ? 0 : 1;
  }
  if (differ != 0) {
    std::printf("%d of %zu tables differ from the generated data.\n", differ, checks.size());
    return 1;
  }
  std::printf("Every target table holds the rows that the generated data calls for.\n");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  cvt::DemoOptions options;
  std::string checkFolder;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    auto value = [&](std::string_view& out) {
      if (i + 1 >= argc) {
        return false;
      }
      out = argv[++i];
      return true;
    };
    std::string_view v;
    if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      return 0;
    } else if (arg == "--out") {
      if (!value(v)) {
        return usage("--out needs a folder");
      }
      options.folder = std::string(v);
    } else if (arg == "--scale") {
      if (!value(v) || !parseNumber(v, options.scale) || options.scale < 1) {
        return usage("--scale needs a whole number of at least 1");
      }
    } else if (arg == "--seed") {
      if (!value(v) || !parseNumber(v, options.seed)) {
        return usage("--seed needs a whole number");
      }
    } else if (arg == "--no-std") {
      options.withStd = false;
    } else if (arg == "--check") {
      if (!value(v)) {
        return usage("--check needs a folder");
      }
      checkFolder = std::string(v);
    } else {
      return usage("unknown option " + std::string(arg));
    }
  }
  if (!checkFolder.empty()) {
    return options.folder.empty() ? check(checkFolder)
                                  : usage("--check and --out exclude each other");
  }
  if (options.folder.empty()) {
    return usage("--out is required");
  }
  std::error_code ec;
  std::filesystem::create_directories(options.folder, ec);
  if (ec) {
    std::cerr << "convert-demo-gen: cannot create " << options.folder << ": " << ec.message()
              << "\n";
    return 1;
  }
  const auto started = std::chrono::steady_clock::now();
  const cvt::DemoResult result = cvt::generateDemo(options);
  if (!result.ok) {
    std::cerr << "convert-demo-gen: " << result.error << "\n";
    return 1;
  }
  std::ofstream out(cvt::manifestPath(options.folder), std::ios::trunc);
  out << cvt::manifestText(result.manifest);
  if (!out.flush()) {
    std::cerr << "convert-demo-gen: cannot write " << cvt::manifestPath(options.folder) << "\n";
    return 1;
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::printf("Generated scale %ld, seed %llu into %s in %.1f s\n", options.scale,
              static_cast<unsigned long long>(options.seed), options.folder.c_str(), seconds);
  printCounts("Source rows of dravik_pro:", result.manifest.source);
  printCounts("Rows that each category's refill should write:", result.manifest.categories);
  return 0;
}
