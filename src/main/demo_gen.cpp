// convert-demo-gen: writes the embedded default's three databases with
// sample data, or checks a converted folder against what it wrote.
//
//   convert-demo-gen --out DIR [--scale N] [--seed S] [--no-std]
//   convert-demo-gen --check DIR
//
// Exit status: 0 done (or every count matches), 1 failed (or a count
// differs), 2 bad usage.

#include <CLI/CLI.hpp>
#include <chrono>
#include <cstdint>
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
  bool help = false;
  bool noStd = false;
  CLI::App app{"", "convert-demo-gen"};
  app.set_help_flag();  // the usage text above instead of the library's
  app.add_flag("-h,--help", help);
  CLI::Option* outOption = app.add_option("--out", options.folder);
  app.add_option("--scale", options.scale);
  // The library would read "-1" into the unsigned seed as its largest value.
  app.add_option("--seed", options.seed)
      ->check(CLI::Validator(
          [](std::string& text) {
            return text.find('-') == std::string::npos ? std::string()
                                                       : std::string("not a whole number");
          },
          ""));
  app.add_flag("--no-std", noStd);
  app.add_option("--check", checkFolder)->excludes(outOption);
  try {
    app.parse(argc, argv);
  } catch (const CLI::Error& e) {
    return usage(e.what());
  }
  if (help) {
    std::cout << kUsage;
    return 0;
  }
  options.withStd = !noStd;
  if (options.scale < 1) {
    return usage("--scale needs a whole number of at least 1");
  }
  if (!checkFolder.empty()) {
    return check(checkFolder);
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
